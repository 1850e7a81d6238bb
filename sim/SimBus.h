#pragma once

#include "DeviceModel.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct hid_device_;
struct hid_device_info;

// The simulated USB bus and HID driver behind the hidapi functions: which Z-PORTs are plugged
// in, the open handles, the reports in flight, a record of every report and the transport
// faults that tests ask for.
namespace zsim {

enum class Direction
{
    HostToDevice,
    DeviceToHost
};

struct RecordEntry
{
    Direction direction;
    int deviceId;
    int handleId;
    Report bytes;       // the 64-byte report as the device sent or received it
    std::size_t length; // bytes handed to hid_write, or bytes hid_read delivered
};

class Bus
{
public:
    static Bus &instance();

    // Unplugs and forgets every device, closes nothing, clears faults and the record.
    void reset();

    int plug(const DeviceConfig &config = DeviceConfig());
    void replug(int deviceId);
    void unplug(int deviceId);
    void powerCycle(int deviceId);
    bool isPlugged(int deviceId) const;
    std::vector<int> deviceIds() const;

    // Runs f on a device's model under the bus lock (for inspection and device faults).
    void withDevice(int deviceId, const std::function<void(DeviceModel &)> &f);
    std::vector<std::string> protocolErrors() const;

    // Transport faults.
    void setOpenFails(int deviceId, bool on);
    void setUnplugAfterWrites(int deviceId, int writes); // 0: never
    void setWriteFailures(int count);                    // -1: every write fails
    void setDropReplies(int count);                      // -1: the device never answers
    void setShortReplies(int count, std::size_t length);
    void setLatency(std::chrono::microseconds perReport);

    // Called at the start of every enumeration with its running count, outside the bus lock,
    // so a test can plug or unplug at an exact moment of a scan.
    void setEnumerateHook(std::function<void(int)> hook);
    // Called at the start of every write with the 64-byte report as the device would receive it,
    // outside the bus lock, so a test can fault exactly that report (setWriteFailures(1) fails it).
    void setWriteHook(std::function<void(const Report &)> hook);

    // Record of reports in both directions, in order.
    std::vector<RecordEntry> record() const;
    std::vector<Report> sentReports() const;
    void clearRecord();
    int enumerateCount() const;
    int openHandleCount() const;
    int openCount() const;
    int lastOpenedHandleId() const;
    // Reads currently waiting inside the driver for a report.
    int waitingReads() const;

    // hidapi boundary.
    hid_device_info *enumerate(unsigned short vendorId, unsigned short productId);
    void freeEnumeration(hid_device_info *list);
    hid_device_ *open(unsigned short vendorId, unsigned short productId);
    hid_device_ *openPath(const char *path);
    int write(hid_device_ *handle, const unsigned char *data, std::size_t length);
    int read(hid_device_ *handle, unsigned char *data, std::size_t length, int timeoutMs);
    int setNonblocking(hid_device_ *handle, int nonblock);
    void close(hid_device_ *handle);

    // Commands from outside the process (the zport-sim tool), one per line in a file.
    void setControlFile(const std::string &path);
    void pollControlFile();
    // How long "power-cycle" from the control file keeps the device off.
    void setPowerCycleOffTime(std::chrono::milliseconds time) { mPowerCycleOffTime = time; }
    void writeStatusFile();

private:
    struct Pending
    {
        Report bytes;
        Clock::time_point readyAt;
    };
    struct HandleState
    {
        int deviceId = 0;
        bool nonblocking = false;
        std::deque<Pending> inbox;
    };
    struct DeviceSlot
    {
        std::unique_ptr<DeviceModel> model;
        bool plugged = true;
        bool openFails = false;
        int unplugAfterWrites = 0;
        int writesSeen = 0;
    };

    Bus() = default;
    hid_device_ *openDevice(int deviceId);
    void unplugLocked(int deviceId);
    bool pluggedLocked(int deviceId) const;
    void runControlCommand(const std::string &command);
    std::vector<std::string> readNewControlLines();

    mutable std::mutex mMutex;
    std::condition_variable mArrived;
    std::map<int, DeviceSlot> mDevices;
    std::map<hid_device_ *, HandleState> mHandles;
    std::vector<RecordEntry> mRecord;
    int mNextDeviceId = 1;
    int mNextHandleId = 1;
    int mEnumerateCount = 0;
    int mOpenCount = 0;
    int mWaitingReads = 0;
    int mWriteFailures = 0;
    int mDropReplies = 0;
    int mShortReplies = 0;
    std::size_t mShortLength = 0;
    std::chrono::microseconds mLatency{0};
    std::function<void(int)> mEnumerateHook;
    std::function<void(const Report &)> mWriteHook;

    std::string mControlPath;
    // A power cycle asked for from outside: the device is back at this time.
    int mReplugDevice = 0;
    Clock::time_point mReplugAt{};
    // Long enough for the updater's once-a-second watch to see the device go.
    std::chrono::milliseconds mPowerCycleOffTime{2500};
    std::uintmax_t mControlOffset = 0;
};

} // namespace zsim
