#include "DiscoverThread.h"

#include "InterruptibleSleep.h"
#include "device/DiagnosticLog.h"
#include "device/ReportProtocol.h"
#include "device/UsbIds.h"
#include "device/WinHID.h"

DiscoverThread::DiscoverThread(QObject *parent) : DiscoverThread(gWinHID, parent) {}

DiscoverThread::DiscoverThread(WinHID &link, QObject *parent) : QThread(parent), mLink(link) {}

ProbeResult DiscoverThread::probeDevice()
{
    const ProbeResult result = classifyInterfaces(mLink.enumerate());
    if (result.found) {
        emit PostModuleType(static_cast<uint32_t>(result.value));
        return result;
    }
    switch (result.value) {
    case NoInterface:
        logMessage(QStringLiteral(
            "No Z-PORTs found make sure that it is connected to a USB2.0 port\n\n\r"));
        break;
    case TooManyInterfaces:
        logMessage(QStringLiteral("You have more than one device connected, only one device may "
                                  "be connected\n\r"));
        break;
    case ProductIdUnreadable:
        logMessage(QStringLiteral("Unable to determine product ID\n\r"));
        break;
    case ProductIdUnknown:
        logMessage(QStringLiteral("Unrecognized product ID\n\r"));
        break;
    }
    return result;
}

int DiscoverThread::writeCmd(std::uint8_t cmd, std::uint32_t argument, const std::uint8_t *payload,
                             std::uint16_t length)
{
    const report::CommandReport command = report::longCommand(cmd, argument, payload, length);
    if (command.length == 0)
        return -1;
    return mLink.write(0, command.bytes.data(), command.length);
}

int DiscoverThread::enableFUMode()
{
    const report::CommandReport request = report::fuModeCommand(report::FuModeRequest);
    if (mLink.write(0, request.bytes.data(), request.length) <= 0)
        return -1;
    if (report::readFUStatus(mLink, 1000) != 0) {
        logMessage(QStringLiteral("FU mode enable timed out\n\r"));
        return -1;
    }
    writeCmd(report::FuModeConfirm, report::kFuModeArgument,
             reinterpret_cast<const std::uint8_t *>(report::kFuModeKey), report::kFuModeKeyLength);
    return 0;
}

void DiscoverThread::reportTimeout()
{
    logMessage(QStringLiteral("readCurrentReport timed out\n\r"));
    emit PostAppStatusMessage(QStringLiteral("Timed Out!"));
    emit PostConnectionStatus(QStringLiteral("UTO"), 5);
}

void DiscoverThread::run()
{
    ProbeResult probe = probeDevice();
    for (int attempt = 1; !probe.found && attempt <= kRetryCount; ++attempt) {
        if (!sleepUnlessInterrupted(this, mRetryIntervalMs))
            return;
        probe = probeDevice();
        if (!probe.found)
            emit PostAppStatusMessage(
                QStringLiteral("No Z-PORT Detected. Scanning... (Attempt %1/10)").arg(attempt));
    }
    if (!probe.found) {
        const ConnectionFailure failure = scanFailure(probe.value);
        emit PostAppStatusMessage(failure.statusMessage);
        emit PostConnectionStatus(failure.shortText, failure.code);
        return;
    }

    if (mLink.open(zport::kVendorId, static_cast<std::uint16_t>(probe.value)) != 0) {
        emit PostAppStatusMessage(QStringLiteral("Too Many Z-PORTs!"));
        emit PostConnectionStatus(QStringLiteral("Too Many"), 6);
        return;
    }

    // Discovery goes on whether or not the device confirmed update mode.
    enableFUMode();

    const report::CommandReport request = report::statusRequest();
    if (mLink.write(0, request.bytes.data(), request.length) < 1 ||
        report::readCompleteReport(mLink, currentReport) != 0) {
        reportTimeout();
        return;
    }

    const report::CurrentReportFields reply = report::decodeCurrentReport(currentReport);
    emit PostModuleVersion(reply.cpuMajor, reply.cpuMinor, reply.fpgaMajor, reply.fpgaMinor);
    emit PostUserFields(reply.userFields[0], reply.userFields[1], reply.userFields[2],
                        reply.userFields[3]);
    emit PostModuleSerial(QString::fromUtf8(reinterpret_cast<const char *>(reply.serial.data()),
                                            static_cast<int>(reply.serial.size())));
    emit PostAppStatusMessage(QStringLiteral("Z-PORT connected!"));
    emit PostConnectionStatus(QStringLiteral("Success"), 1);
}
