#include "UpdateFPGAThread.h"

#include "device/DiagnosticLog.h"

#include <QElapsedTimer>

#include <cstdio>

#ifdef Q_OS_WIN
#include <mmsystem.h>
#include <windows.h>
#endif

namespace {

constexpr std::uint32_t kPageSize = 256;
constexpr std::uint32_t kBlockSize = 256u * 1024u; // erase unit at 256 KiB-aligned addresses
constexpr std::uint32_t kSectorSize = 64u * 1024u;
constexpr int kFuStatusBudget = 1000;
constexpr int kReadyPolls = 1000;
constexpr int kSerialReads = 100;
constexpr int kMaxSerialLength = 10;

// The pauses between pages are a few milliseconds; Windows sleeps a whole timer tick
// (15.6 ms) unless the timer resolution is raised for the pass.
class TimerResolution
{
public:
    TimerResolution()
    {
#ifdef Q_OS_WIN
        timeBeginPeriod(1);
#endif
    }
    ~TimerResolution()
    {
#ifdef Q_OS_WIN
        timeEndPeriod(1);
#endif
    }
    TimerResolution(const TimerResolution &) = delete;
    TimerResolution &operator=(const TimerResolution &) = delete;
};

// A command counts as sent when the link took all of it plus the report-ID byte.
bool counted(int count, int handed)
{
    return count >= handed + 1;
}

} // namespace

UpdateFPGAThread::UpdateFPGAThread(WinHID &link, QObject *parent)
    : QThread(parent), mLink(link), mImageBuffer(new std::uint8_t[kImageBufferSize]())
{}

UpdateFPGAThread::~UpdateFPGAThread()
{
    mClosing = true;
    wait();
}

void UpdateFPGAThread::setCpuImagePath(QByteArray path)
{
    mCpuImagePath = std::move(path);
}

void UpdateFPGAThread::setFpgaImagePath(QByteArray path)
{
    mFpgaImagePath = std::move(path);
}

void UpdateFPGAThread::setOldFirmware(bool oldFirmware)
{
    mOldFirmware = oldFirmware;
}

void UpdateFPGAThread::setPauses(int pageMs, int lastPageMs, int headerMs)
{
    mPagePauseMs = pageMs;
    mLastPagePauseMs = lastPageMs;
    mHeaderPauseMs = headerMs;
}

bool UpdateFPGAThread::selectImage(bool cpuImage)
{
    mImageKind = cpuImage ? kImageKindCpu : kImageKindFpga;
    const QByteArray &path = cpuImage ? mCpuImagePath : mFpgaImagePath;
    if (loadImageFile(path, mImageKind, mImageBuffer.get()) != 0) {
        logMessage(QStringLiteral("Failed to open file %1\n\r").arg(QString::fromUtf8(path)));
        return false;
    }
    return true;
}

void UpdateFPGAThread::EndUpdate()
{
    mStopRequested = true;
}

void UpdateFPGAThread::pause(int milliseconds)
{
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

int UpdateFPGAThread::send(report::CommandReport command, bool wholeReport)
{
    if (wholeReport)
        command.length = report::kSize;
    return mLink.write(0, command.bytes.data(), command.length);
}

int UpdateFPGAThread::writeCmd(std::uint8_t cmd, std::uint32_t argument,
                               const std::uint8_t *payload, std::uint16_t length)
{
    const report::CommandReport command = report::longCommand(cmd, argument, payload, length);
    if (command.length == 0)
        return -1;
    return counted(send(command, false), command.length) ? 0 : -1;
}

bool UpdateFPGAThread::sendStatusRequest(std::uint8_t request)
{
    constexpr int kFailedRequestWritesAllowed = 3;
    if (counted(send(report::statusRequest(request), true), report::kSize)) {
        mFailedRequestWrites = 0;
        return true;
    }
    if (++mFailedRequestWrites >= kFailedRequestWritesAllowed)
        mDeviceLost = true;
    return false;
}

int UpdateFPGAThread::statusPoll(std::uint8_t request)
{
    // Nothing was asked, so there is nothing to read.
    if (!sendStatusRequest(request))
        return mDeviceLost ? -1 : 1;
    // A lost reply shows as a read that waited the link's whole time-out.
    if (report::readCompleteReport(mLink, currentReport) != 0) {
        mDeviceLost = true;
        return -1;
    }
    return 0;
}

int UpdateFPGAThread::waitForUpdateMode(int budget)
{
    for (int poll = 0; poll < budget - 1 && !stopping(); ++poll) {
        const int polled = statusPoll(report::StatusRequest);
        if (polled < 0)
            break;
        if (polled > 0)
            continue;
        const report::CurrentReportFields reply = report::decodeCurrentReport(currentReport);
        if (reply.lastCommand == report::FuModeRequest && reply.status == 0)
            return 0;
    }
    logMessage(QStringLiteral("readFUStatus timed out:-(\n\r"));
    return -1;
}

int UpdateFPGAThread::enableFUMode()
{
    // Unlike discovery, the wait follows even when the request could not be written.
    send(report::fuModeCommand(report::FuModeRequest), false);
    if (waitForUpdateMode(kFuStatusBudget) != 0) {
        logMessage(QStringLiteral("FU mode enable timed out\n\r"));
        return -1;
    }
    writeCmd(report::FuModeConfirm, report::kFuModeArgument,
             reinterpret_cast<const std::uint8_t *>(report::kFuModeKey), report::kFuModeKeyLength);
    return 0;
}

int UpdateFPGAThread::readFlashStatus(std::uint32_t milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < qint64(milliseconds) && !stopping()) {
        const int polled = statusPoll(report::FlashStatusRequest);
        if (polled < 0)
            break;
        if (polled > 0)
            continue;
        const report::CurrentReportFields reply = report::decodeCurrentReport(currentReport);
        if (reply.lastCommand == report::FlashStatusRequest &&
            (reply.status & report::kStatusBusy) == 0) {
            logMessage(QStringLiteral("readFlashStatus came back idle after %1 milliseconds")
                           .arg(timer.elapsed()));
            return 0;
        }
    }
    logMessage(
        QStringLiteral("readFlashStatus timed out after %1 milliseconds").arg(timer.elapsed()));
    return -1;
}

int UpdateFPGAThread::readyWait(int polls)
{
    for (int poll = 0; poll < polls - 1 && !stopping(); ++poll) {
        if (!sendStatusRequest(report::StatusRequest)) {
            if (mDeviceLost)
                break;
            continue;
        }
        const int count = mLink.read(currentReport, report::kSize);
        // Nothing within the link's time-out, or a failed read: the device is gone or silent.
        if (count <= 0) {
            mDeviceLost = true;
            break;
        }
        // Only a whole reply says the device is ready; a cut-off one leaves older bytes behind.
        if (count == report::kSize &&
            (report::decodeCurrentReport(currentReport).status & report::kStatusBusy) == 0)
            return 0;
    }
    logMessage(QStringLiteral("readyWait timed out:-(\n\r"));
    return -1;
}

int UpdateFPGAThread::readCurrentReport(int reads)
{
    send(report::statusRequest(), true);
    if (report::readCompleteReport(mLink, currentReport, reads) != 0) {
        mDeviceLost = true;
        logMessage(QStringLiteral("readCurrentReport timed out\n\r"));
        return -1;
    }
    return 0;
}

int UpdateFPGAThread::sendErase(std::uint32_t index)
{
    const report::CommandReport command = report::longCommand(
        report::EraseSector, index, reinterpret_cast<const std::uint8_t *>(report::kEraseKey),
        report::kEraseKeyLength);
    return counted(send(command, false), command.length) ? 0 : -1;
}

int UpdateFPGAThread::eraseImage()
{
    const std::uint32_t address = gImageHeader.address;
    const std::uint32_t size = gImageHeader.size;
    // A sector that stays busy is passed over; a device that has gone or stopped answering
    // (or a stop request) ends the erase, instead of a wait per remaining sector. An erase
    // command that did not go out leaves old data under the new image: the erase then fails.
    int result = 0;
    if (!mOldFirmware) {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
        if (address % kBlockSize == 0) {
            first = address / kBlockSize;
            count = size / kBlockSize + (size % kBlockSize != 0 ? 1 : 0);
        } else {
            first = address / kSectorSize;
            count = size / kSectorSize + (size % kSectorSize != 0 ? 1 : 0);
        }
        for (std::uint32_t i = 0; i < count && canContinue(); ++i) {
            if (sendErase(first + i) != 0)
                result = -1;
            if (readFlashStatus(mEraseTimeoutMs) != 0)
                printToStdout(QStringLiteral("Flash timed out\n\r"));
        }
        return result;
    }

    logMessage(QStringLiteral("\n\r"));
    const std::uint32_t first = address / kSectorSize;
    const std::uint32_t last = first + size / kSectorSize + 1;
    for (std::uint32_t index = first; index <= last && canContinue(); ++index) {
        const int sent = sendErase(index);
        if (sent != 0)
            result = -1;
        logMessage(QStringLiteral("Erase sector %1 came back with %2").arg(index).arg(sent));
        if (readFlashStatus(mEraseTimeoutMs) != 0)
            logMessage(QStringLiteral("Flash timed out\n\r"));
    }
    return result;
}

int UpdateFPGAThread::writePage(const std::uint8_t *data, std::uint16_t size)
{
    if (size > kPageSize || (data == nullptr && size > 0))
        return -1;
    const int fullPieces = size / report::kMaxPayload;
    const int rest = size % report::kMaxPayload;
    char text[256];
    for (int k = 0; k < fullPieces; ++k) {
        const std::uint32_t offset = std::uint32_t(k) * report::kMaxPayload;
        const int count =
            send(report::longCommand(report::PageData, offset, data + offset, report::kMaxPayload),
                 true);
        std::snprintf(text, sizeof text, "Write Page %d returned with %d\n", k, count);
        logMessage(QString::fromUtf8(text));
        if (!counted(count, report::kSize))
            return -1;
    }
    if (rest != 0) {
        const std::uint32_t offset = std::uint32_t(fullPieces) * report::kMaxPayload;
        const int count = send(report::longCommand(report::PageData, offset, data + offset,
                                                   static_cast<std::uint16_t>(rest)),
                               true);
        std::snprintf(text, sizeof text, "Write Runt Page %d returned with %d\n", rest, count);
        logMessage(QString::fromUtf8(text));
        if (!counted(count, report::kSize))
            return -1;
    }
    return 0;
}

int UpdateFPGAThread::pgmFlashPage(std::uint16_t page, std::uint16_t size)
{
    if (readyWait(kReadyPolls) != 0) {
        logMessage(QStringLiteral("pgmFlashPage() timed out\n\r"));
        return -1;
    }
    // The length field counts the page bytes to program; no payload follows.
    report::CommandReport command = report::longCommand(report::ProgramPage, page, nullptr, 0);
    report::putBigEndian16(&command.bytes[1], size);
    const int count = send(command, true);
    char text[256];
    std::snprintf(text, sizeof text, "Program page: %d size: %d returned with %d\n", int(page),
                  int(size), count);
    logMessage(QString::fromUtf8(text));
    return counted(count, report::kSize) ? 0 : -1;
}

int UpdateFPGAThread::writeHeader(std::uint32_t address, const ImageHeader &header, bool program)
{
    if (address % kPageSize != 0)
        return -1;
    const auto bytes = header.toBytes();
    const bool sent = counted(
        send(report::longCommand(report::ImageHeader, 0, bytes.data(), kImageHeaderSize), true),
        report::kSize);
    // Without its header in flash the FPGA image is not loaded.
    bool programmed = true;
    if (program) {
        programmed =
            pgmFlashPage(static_cast<std::uint16_t>(address / kPageSize), kImageHeaderSize) == 0;
        pause(mHeaderPauseMs);
    }
    return sent && programmed ? 1 : 0;
}

int UpdateFPGAThread::writeImageData(std::uint32_t address, const std::uint8_t *data,
                                     std::uint32_t size, bool secondHalf)
{
    if (address % kPageSize != 0)
        return -1;
    std::uint32_t page = address / kPageSize;
    const std::uint32_t full = size / kPageSize;
    const std::uint32_t rest = size % kPageSize;
    float value = secondHalf ? 50.0f : 0.0f;
    const float step = float(50.0 / double(float(full + 1)));

    for (std::uint32_t i = 0; i < full; ++i, ++page, data += kPageSize) {
        int result = 0;
        for (int attempt = 1;; ++attempt) {
            if (!canContinue())
                return 0;
            result = writePage(data, kPageSize);
            if (result == 0)
                break;
            logMessage(QStringLiteral("Write Page %1 Failed\n").arg(page));
            if (attempt == kPageAttempts)
                return 0;
        }
        logMessage(QStringLiteral("Write Page %1 Success:%2\n").arg(page).arg(result));
        for (int attempt = 1;; ++attempt) {
            if (!canContinue())
                return 0;
            result = pgmFlashPage(static_cast<std::uint16_t>(page), kPageSize);
            if (result == 0)
                break;
            logMessage(QStringLiteral("Program Page %1 Failed\n").arg(page));
            if (attempt == kPageAttempts)
                return 0;
        }
        logMessage(QStringLiteral("Program Page %1 Success:%2\n").arg(page).arg(result));
        emit PostUpdateProgressAmount(int(value));
        value += step;
        pause(mPagePauseMs);
    }

    if (rest != 0) {
        if (!canContinue() || writePage(data, static_cast<std::uint16_t>(rest)) != 0)
            return 0;
        if (pgmFlashPage(static_cast<std::uint16_t>(page), static_cast<std::uint16_t>(rest)) != 0)
            return 0;
        pause(mLastPagePauseMs);
    }
    return 1;
}

int UpdateFPGAThread::verifyImage(std::uint32_t address, std::uint16_t length)
{
    report::CommandReport command = report::longCommand(report::Verify, address, nullptr, 0);
    report::putBigEndian16(&command.bytes[1], length);
    return counted(send(command, true), report::kSize) ? 0 : -1;
}

int UpdateFPGAThread::ProgramSerialNumber(const QByteArray &serialNumber)
{
    if (serialNumber.size() > kMaxSerialLength) {
        printToStdout(
            QStringLiteral("Invalid serial number length, expected <=10 alpha numeric chars\n"));
        return -1;
    }
    if (writeCmd(report::SerialNumber, 0,
                 reinterpret_cast<const std::uint8_t *>(serialNumber.constData()),
                 static_cast<std::uint16_t>(serialNumber.size())) != 0) {
        printToStdout(QStringLiteral("ProgramSerialNumber writeCmd failed\n"));
        return -1;
    }
    if (readCurrentReport(kSerialReads) != 0) {
        printToStdout(QStringLiteral("ProgramSerialNumber read report failed\n"));
        return -1;
    }
    if (report::decodeCurrentReport(currentReport).status & report::kStatusSerialFailed) {
        printToStdout(QStringLiteral("Device reported failure to set serial number\n"));
        return -1;
    }
    return 0;
}

void UpdateFPGAThread::runCpuSequence(const ImageHeader &header)
{
    const std::uint32_t address = header.address;
    if (enableFUMode() != 0)
        logMessage(QStringLiteral("Could not enter firmware update mode \n\r"));
    logMessage(QStringLiteral("\nProgramming CPU image\n\r"));

    int eraseStep = -1;
    int headerStep = 0;
    int dataStep = 0;
    int verifyStep = -1;
    if (canContinue()) {
        logMessage(QStringLiteral("Beginning Image Erasure"));
        eraseStep = eraseImage();
        logMessage(QStringLiteral("Finish Image Erasure"));
    }
    if (canContinue()) {
        logMessage(QStringLiteral("Beginning Writing Header"));
        headerStep = writeHeader(address, header, false);
        logMessage(QStringLiteral("Finish Writing Header"));
    }
    if (canContinue()) {
        logMessage(QStringLiteral("Beginning Writing data"));
        dataStep = writeImageData(address, mImageBuffer.get(), header.size, false);
        logMessage(QStringLiteral("Finish Writing data"));
    }
    if (canContinue()) {
        logMessage(QStringLiteral("Beginning Verifying data"));
        verifyStep = verifyImage(address + kPageSize, static_cast<std::uint16_t>(header.size));
        logMessage(QStringLiteral("Finish Verifying data"));
    }
    if (canContinue() && eraseStep == 0 && headerStep == 1 && dataStep == 1 && verifyStep == 0) {
        logMessage(QStringLiteral("Done"));
        emit PostFPGAUpdateComplete(QStringLiteral("CPU"), UpdateSucceeded);
    } else {
        emit PostFPGAUpdateComplete(QStringLiteral("CPU"), UpdateFailed);
    }
}

void UpdateFPGAThread::runFpgaSequence(const ImageHeader &header)
{
    const std::uint32_t address = header.address;
    logMessage(QStringLiteral("\nProgramming FPGA image\n\r"));

    int eraseStep = -1;
    int headerStep = 0;
    int dataStep = 0;
    int verifyStep = -1;
    if (canContinue())
        eraseStep = eraseImage();
    if (canContinue())
        headerStep = writeHeader(address, header, true);
    if (canContinue())
        dataStep = writeImageData(address + kPageSize, mImageBuffer.get(), header.size, true);
    if (canContinue())
        verifyStep = verifyImage(address + kPageSize, static_cast<std::uint16_t>(header.size));
    if (canContinue() && eraseStep == 0 && headerStep == 1 && dataStep == 1 && verifyStep == 0) {
        logMessage(QStringLiteral("Done"));
        emit PostFPGAUpdateComplete(QStringLiteral("FPGA"), UpdateSucceeded);
    } else {
        emit PostFPGAUpdateComplete(QStringLiteral("FPGA"), UpdateFailed);
    }
}

void UpdateFPGAThread::run()
{
    // Cleared here, so a pass started after an earlier stop or failure runs afresh.
    mStopRequested = false;
    mDeviceLost = false;
    mFailedRequestWrites = 0;
    const ImageHeader header = gImageHeader;
    if (header.kind != kImageKindCpu && header.kind != kImageKindFpga)
        return;
    const TimerResolution timerResolution;
    if (header.kind == kImageKindCpu)
        runCpuSequence(header);
    else
        runFpgaSequence(header);
}
