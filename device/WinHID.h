#pragma once

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct hid_device_;
typedef struct hid_device_ hid_device;

// The program's one HID connection to the device. Transfers and changes of the handle list are
// serialised here, so close() never frees a handle that another thread is transferring on, and
// every read is bounded in time.
class WinHID
{
public:
    static constexpr int kDefaultReadTimeoutMs = 1000;
    static constexpr int kReportSize = 64;

    WinHID();
    virtual ~WinHID();
    WinHID(const WinHID &) = delete;
    WinHID &operator=(const WinHID &) = delete;

    QStringList enumerate();
    int open(std::uint16_t vendorId, std::uint16_t productId);
    int write(std::uint8_t reportId, const std::uint8_t *data, std::uint8_t length);
    int read(std::uint8_t *dest, std::uint8_t length);
    int close();

    // How long one read waits for a report before it counts as having returned nothing.
    void setReadTimeout(int milliseconds) { mReadTimeoutMs = milliseconds; }
    int readTimeout() const { return mReadTimeoutMs; }

    // Number of entries in the handle list (failed opens included).
    int handleCount();

private:
    hid_device *currentHandle() const;
    void closeAll();

    std::vector<hid_device *> mDevices;
    std::int32_t mCurrentDevice = 0;

    std::mutex mTransferMutex;
    std::atomic<int> mReadTimeoutMs{kDefaultReadTimeoutMs};
};

// The single link of the process, used by every part of the program that talks to the device.
extern WinHID gWinHID;
