#pragma once

#include "ErrorCodes.h"
#include "ImageFile.h"
#include "device/ReportProtocol.h"
#include "device/WinHID.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

// Programs one firmware image per run: the CPU image or the FPGA image, whichever was loaded
// last (the kind in gImageHeader decides). Reports progress and the result through signals.
class UpdateFPGAThread : public QThread
{
    Q_OBJECT

public:
    // Tries of each step of a full page before the data step gives up.
    static constexpr int kPageAttempts = 10;
    static constexpr std::uint32_t kDefaultEraseTimeoutMs = 4000;
    static constexpr int kDefaultPagePauseMs = 2;
    static constexpr int kDefaultLastPagePauseMs = 15;
    static constexpr int kDefaultHeaderPauseMs = 3;

    explicit UpdateFPGAThread(WinHID &link = gWinHID, QObject *parent = nullptr);
    // Asks a running pass to stop and waits for it; every wait in a pass ends on a stop
    // request within one read of the link.
    ~UpdateFPGAThread() override;

    void setCpuImagePath(QByteArray path);
    void setFpgaImagePath(QByteArray path);
    // Loads the CPU image (true) or the FPGA image (false) into the image buffer. False when
    // the file was refused; the buffer and gImageHeader then still hold the previous image.
    bool selectImage(bool cpuImage);
    void setOldFirmware(bool oldFirmware);

    // Writes a serial number of at most 10 characters; runs on the caller's thread.
    int ProgramSerialNumber(const QByteArray &serialNumber);

    // Device operations of one pass. 0 for success and -1 for failure unless noted.
    int enableFUMode();
    int readFlashStatus(std::uint32_t milliseconds);
    int readyWait(int polls);
    int readCurrentReport(int reads);
    int writeCmd(std::uint8_t cmd, std::uint32_t argument, const std::uint8_t *payload,
                 std::uint16_t length);
    // -1 when an erase command could not be sent; a sector that stays busy is not a failure.
    int eraseImage();
    int writePage(const std::uint8_t *data, std::uint16_t size);
    int pgmFlashPage(std::uint16_t page, std::uint16_t size);
    // 1 once sent (and, with program, programmed into its page); 0 when not; -1 (nothing sent)
    // for an address that is not page-aligned.
    int writeHeader(std::uint32_t address, const ImageHeader &header, bool program);
    // 1 when all pages were written and programmed, 0 when a page failed or the pass was
    // stopped, -1 (nothing sent) for an address that is not page-aligned.
    int writeImageData(std::uint32_t address, const std::uint8_t *data, std::uint32_t size,
                       bool secondHalf);
    int verifyImage(std::uint32_t address, std::uint16_t length);

    // Shorter timings for tests; the product keeps the defaults.
    void setPauses(int pageMs, int lastPageMs, int headerMs);
    void setEraseTimeout(std::uint32_t milliseconds) { mEraseTimeoutMs = milliseconds; }

    const std::uint8_t *imageBuffer() const { return mImageBuffer.get(); }

signals:
    void PostAppStatusMessage(QString message);
    void PostUpdateProgressMessage(QString message, int value);
    void PostUpdateNextThread();
    void PostUpdateProgressAmount(int progress);
    void PostFPGAUpdateComplete(QString message, ErrorCodes success);
    void ResetUpdateProgress(int progressMode);

public slots:
    void EndUpdate();

protected:
    void run() override;

private:
    void runCpuSequence(const ImageHeader &header);
    void runFpgaSequence(const ImageHeader &header);
    // False once a stop was requested or the device stopped answering.
    bool canContinue() const { return !stopping() && !mDeviceLost; }
    bool stopping() const { return mStopRequested || mClosing; }
    int send(report::CommandReport command, bool wholeReport);
    int sendErase(std::uint32_t index);
    int waitForUpdateMode(int budget);
    // 0 with a reply in currentReport; 1 when the request could not be written (poll again);
    // -1 when the device is gone or silent.
    int statusPoll(std::uint8_t request);
    bool sendStatusRequest(std::uint8_t request);
    void pause(int milliseconds);

    WinHID &mLink;
    std::unique_ptr<std::uint8_t[]> mImageBuffer;
    QByteArray mCpuImagePath;
    QByteArray mFpgaImagePath;
    std::atomic<bool> mStopRequested{false};
    // Set by the destructor; unlike a stop request, a starting pass does not clear it.
    std::atomic<bool> mClosing{false};
    // Set when a read found the device gone or silent; the pass then ends as failed.
    std::atomic<bool> mDeviceLost{false};
    // Status requests in a row that could not be written; a few are put down to a passing
    // fault, more mean the device is gone.
    int mFailedRequestWrites = 0;
    std::uint32_t mImageKind = 0;
    bool mOldFirmware = false;

    std::uint32_t mEraseTimeoutMs = kDefaultEraseTimeoutMs;
    int mPagePauseMs = kDefaultPagePauseMs;
    int mLastPagePauseMs = kDefaultLastPagePauseMs;
    int mHeaderPauseMs = kDefaultHeaderPauseMs;
};
