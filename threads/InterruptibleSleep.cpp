#include "InterruptibleSleep.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

bool sleepUnlessInterrupted(const QThread *thread, int milliseconds)
{
    constexpr int kSliceMs = 20;
    QDeadlineTimer deadline(milliseconds);
    while (!thread->isInterruptionRequested()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return true;
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, kSliceMs)));
    }
    return false;
}
