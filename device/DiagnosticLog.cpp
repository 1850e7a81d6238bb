#include "DiagnosticLog.h"

#include <QByteArray>

#include <cstdio>

namespace {

void writeWhole(const QByteArray &bytes)
{
    // One call per line, so lines from two threads do not interleave mid-line.
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

void logMessage(const QString &message)
{
    writeWhole(message.toUtf8() + '\n');
}

void printToStdout(const QString &text)
{
    writeWhole(text.toUtf8());
}
