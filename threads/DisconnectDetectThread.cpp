#include "DisconnectDetectThread.h"

#include "InterruptibleSleep.h"
#include "device/WinHID.h"

#include <QDebug>

DisconnectDetectThread::DisconnectDetectThread(QObject *parent)
    : DisconnectDetectThread(gWinHID, parent)
{}

DisconnectDetectThread::DisconnectDetectThread(WinHID &link, QObject *parent)
    : QThread(parent), mLink(link)
{}

ProbeResult DisconnectDetectThread::probeDevice()
{
    const ProbeResult result = classifyInterfaces(mLink.enumerate());
    if (!result.found && result.value == ProductIdUnreadable)
        qDebug("%s", "Unable to determine product ID\n\r");
    else if (!result.found && result.value == TooManyInterfaces)
        qDebug("%s", "You have more than one device connected, only one device may be "
                     "connected\n\r");
    return result;
}

void DisconnectDetectThread::run()
{
    // A device that is already gone at the start is reported too: otherwise the window would
    // go on showing a device that is not there.
    ProbeResult probe = probeDevice();
    while (probe.found) {
        probe = probeDevice();
        if (!sleepUnlessInterrupted(this, mPollIntervalMs))
            return;
    }
    const ConnectionFailure failure = watchFailure(probe.value);
    emit PostAppStatusMessage(failure.statusMessage);
    emit PostConnectionStatus(failure.shortText, failure.code);
}
