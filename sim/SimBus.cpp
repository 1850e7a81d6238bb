#include "SimBus.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

struct hid_device_
{
    int handleId;
};

namespace zsim {

namespace {

wchar_t *copyWide(const wchar_t *text)
{
    const std::size_t length = std::wcslen(text) + 1;
    auto *copy = static_cast<wchar_t *>(std::malloc(length * sizeof(wchar_t)));
    std::wmemcpy(copy, text, length);
    return copy;
}

char *copyText(const std::string &text)
{
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

Bus &Bus::instance()
{
    // Never destroyed: the program's own link closes its handles during static destruction.
    static Bus *bus = new Bus;
    return *bus;
}

void Bus::reset()
{
    std::lock_guard<std::mutex> lock(mMutex);
    for (auto &entry : mDevices)
        entry.second.plugged = false;
    mDevices.clear();
    for (auto &handle : mHandles)
        handle.second.inbox.clear();
    mRecord.clear();
    mEnumerateCount = 0;
    mOpenCount = 0;
    mWriteFailures = 0;
    mDropReplies = 0;
    mShortReplies = 0;
    mLatency = std::chrono::microseconds(0);
    mEnumerateHook = nullptr;
    mWriteHook = nullptr;
    mArrived.notify_all();
}

int Bus::plug(const DeviceConfig &config)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const int id = mNextDeviceId++;
    DeviceSlot slot;
    slot.model = std::make_unique<DeviceModel>(config);
    mDevices.emplace(id, std::move(slot));
    return id;
}

void Bus::replug(int deviceId)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mDevices.find(deviceId);
    if (it == mDevices.end() || it->second.plugged)
        return;
    // The device is powered from the bus: plugging it in again starts it afresh.
    it->second.model->powerCycle();
    it->second.plugged = true;
    it->second.writesSeen = 0;
    it->second.unplugAfterWrites = 0;
}

void Bus::unplug(int deviceId)
{
    std::lock_guard<std::mutex> lock(mMutex);
    unplugLocked(deviceId);
}

void Bus::unplugLocked(int deviceId)
{
    auto it = mDevices.find(deviceId);
    if (it == mDevices.end())
        return;
    it->second.plugged = false;
    for (auto &handle : mHandles) {
        if (handle.second.deviceId == deviceId)
            handle.second.inbox.clear();
    }
    mArrived.notify_all();
}

void Bus::powerCycle(int deviceId)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mDevices.find(deviceId);
    if (it == mDevices.end())
        return;
    unplugLocked(deviceId);
    it->second.model->powerCycle();
    it->second.plugged = true;
    it->second.writesSeen = 0;
}

bool Bus::pluggedLocked(int deviceId) const
{
    auto it = mDevices.find(deviceId);
    return it != mDevices.end() && it->second.plugged;
}

bool Bus::isPlugged(int deviceId) const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return pluggedLocked(deviceId);
}

std::vector<int> Bus::deviceIds() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<int> ids;
    for (const auto &entry : mDevices)
        ids.push_back(entry.first);
    return ids;
}

void Bus::withDevice(int deviceId, const std::function<void(DeviceModel &)> &f)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mDevices.find(deviceId);
    if (it != mDevices.end())
        f(*it->second.model);
}

std::vector<std::string> Bus::protocolErrors() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<std::string> errors;
    for (const auto &entry : mDevices) {
        for (const auto &e : entry.second.model->protocolErrors())
            errors.push_back("device " + std::to_string(entry.first) + ": " + e);
    }
    return errors;
}

void Bus::setOpenFails(int deviceId, bool on)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mDevices.find(deviceId);
    if (it != mDevices.end())
        it->second.openFails = on;
}

void Bus::setUnplugAfterWrites(int deviceId, int writes)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mDevices.find(deviceId);
    if (it != mDevices.end()) {
        it->second.unplugAfterWrites = writes;
        it->second.writesSeen = 0;
    }
}

void Bus::setWriteFailures(int count)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mWriteFailures = count;
}

void Bus::setDropReplies(int count)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mDropReplies = count;
}

void Bus::setShortReplies(int count, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mShortReplies = count;
    mShortLength = std::min<std::size_t>(length, 63);
}

void Bus::setLatency(std::chrono::microseconds perReport)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mLatency = perReport;
}

std::vector<RecordEntry> Bus::record() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mRecord;
}

std::vector<Report> Bus::sentReports() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<Report> sent;
    for (const auto &entry : mRecord) {
        if (entry.direction == Direction::HostToDevice)
            sent.push_back(entry.bytes);
    }
    return sent;
}

void Bus::clearRecord()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.clear();
}

int Bus::enumerateCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mEnumerateCount;
}

int Bus::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return static_cast<int>(mHandles.size());
}

int Bus::openCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mOpenCount;
}

void Bus::setEnumerateHook(std::function<void(int)> hook)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mEnumerateHook = std::move(hook);
}

void Bus::setWriteHook(std::function<void(const Report &)> hook)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mWriteHook = std::move(hook);
}

int Bus::lastOpenedHandleId() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mNextHandleId - 1;
}

int Bus::waitingReads() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mWaitingReads;
}

hid_device_info *Bus::enumerate(unsigned short vendorId, unsigned short productId)
{
    pollControlFile();
    std::function<void(int)> hook;
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        count = ++mEnumerateCount;
        hook = mEnumerateHook;
    }
    if (hook)
        hook(count);
    // Keeps "zport-sim status" current while the updater watches the device.
    writeStatusFile();
    std::lock_guard<std::mutex> lock(mMutex);
    hid_device_info *head = nullptr;
    hid_device_info **tail = &head;
    for (const auto &entry : mDevices) {
        const DeviceSlot &slot = entry.second;
        const DeviceConfig &config = slot.model->config();
        if (!slot.plugged || (vendorId != 0 && config.vendorId != vendorId) ||
            (productId != 0 && config.productId != productId))
            continue;
        for (int i = 0; i < config.interfaces; ++i) {
            auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
            info->path =
                copyText("zport-sim:" + std::to_string(entry.first) + ":" + std::to_string(i));
            info->vendor_id = config.vendorId;
            info->product_id = config.productId;
            info->serial_number = copyWide(L"");
            info->release_number = 0x0100;
            info->manufacturer_string = copyWide(L"Korvel");
            info->product_string = copyWide(L"Z-PORT");
            info->usage_page = 0xFF00;
            info->usage = 1;
            info->interface_number = i;
            info->bus_type = HID_API_BUS_USB;
            *tail = info;
            tail = &info->next;
        }
    }
    return head;
}

void Bus::freeEnumeration(hid_device_info *list)
{
    while (list != nullptr) {
        hid_device_info *next = list->next;
        std::free(list->path);
        std::free(list->serial_number);
        std::free(list->manufacturer_string);
        std::free(list->product_string);
        std::free(list);
        list = next;
    }
}

hid_device_ *Bus::openDevice(int deviceId)
{
    auto *handle = new hid_device_{mNextHandleId++};
    HandleState state;
    state.deviceId = deviceId;
    mHandles.emplace(handle, std::move(state));
    ++mOpenCount;
    return handle;
}

hid_device_ *Bus::open(unsigned short vendorId, unsigned short productId)
{
    pollControlFile();
    std::lock_guard<std::mutex> lock(mMutex);
    for (const auto &entry : mDevices) {
        const DeviceSlot &slot = entry.second;
        const DeviceConfig &config = slot.model->config();
        if (slot.plugged && config.vendorId == vendorId && config.productId == productId)
            return slot.openFails ? nullptr : openDevice(entry.first);
    }
    return nullptr;
}

hid_device_ *Bus::openPath(const char *path)
{
    int deviceId = 0;
    int interfaceNumber = 0;
    if (path == nullptr || std::sscanf(path, "zport-sim:%d:%d", &deviceId, &interfaceNumber) != 2)
        return nullptr;
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mDevices.find(deviceId);
    if (it == mDevices.end() || !it->second.plugged || it->second.openFails)
        return nullptr;
    return openDevice(deviceId);
}

int Bus::write(hid_device_ *handle, const unsigned char *data, std::size_t length)
{
    pollControlFile();
    std::chrono::microseconds latency;
    std::function<void(const Report &)> hook;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        latency = mLatency;
        hook = mWriteHook;
    }
    if (hook && data != nullptr && length > 1) {
        Report seen{};
        std::memcpy(seen.data(), data + 1, std::min<std::size_t>(length - 1, seen.size()));
        hook(seen);
    }
    // The report takes its time on the wire.
    if (latency.count() > 0)
        std::this_thread::sleep_for(latency);

    std::lock_guard<std::mutex> lock(mMutex);
    auto handleIt = mHandles.find(handle);
    if (handleIt == mHandles.end() || data == nullptr || length == 0)
        return -1;
    const int deviceId = handleIt->second.deviceId;
    auto deviceIt = mDevices.find(deviceId);
    if (deviceIt == mDevices.end() || !deviceIt->second.plugged)
        return -1;
    DeviceSlot &slot = deviceIt->second;
    if (data[0] != 0 || length > 65) {
        slot.model->recordError(data[0] != 0 ? "report ID " + std::to_string(data[0]) + ", not 0"
                                             : "output report of " + std::to_string(length) +
                                                   " bytes, more than 65");
        return -1;
    }
    if (mWriteFailures != 0) {
        if (mWriteFailures > 0)
            --mWriteFailures;
        return -1;
    }

    // The driver pads a short report with zeros to the device's 64 bytes.
    Report command{};
    std::memcpy(command.data(), data + 1, length - 1);
    mRecord.push_back({Direction::HostToDevice, deviceId, handle->handleId, command, length});

    const Clock::time_point now = Clock::now();
    std::vector<Report> replies = slot.model->handle(command, now);
    ++slot.writesSeen;
    if (slot.unplugAfterWrites > 0 && slot.writesSeen >= slot.unplugAfterWrites) {
        unplugLocked(deviceId);
        return 65;
    }
    for (const Report &reply : replies) {
        if (mDropReplies != 0) {
            if (mDropReplies > 0)
                --mDropReplies;
            continue;
        }
        // Every open handle of the device receives each input report, as with hidraw.
        for (auto &other : mHandles) {
            if (other.second.deviceId == deviceId)
                other.second.inbox.push_back({reply, now + latency});
        }
    }
    mArrived.notify_all();
    return 65;
}

int Bus::read(hid_device_ *handle, unsigned char *data, std::size_t length, int timeoutMs)
{
    pollControlFile();
    std::unique_lock<std::mutex> lock(mMutex);
    auto handleIt = mHandles.find(handle);
    if (handleIt == mHandles.end() || data == nullptr)
        return -1;
    if (handleIt->second.nonblocking)
        timeoutMs = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    for (;;) {
        handleIt = mHandles.find(handle);
        if (handleIt == mHandles.end())
            return -1;
        const int deviceId = handleIt->second.deviceId;
        if (!pluggedLocked(deviceId))
            return -1;
        auto &inbox = handleIt->second.inbox;
        const Clock::time_point now = Clock::now();
        if (!inbox.empty() && inbox.front().readyAt <= now) {
            const Report reply = inbox.front().bytes;
            inbox.pop_front();
            std::size_t delivered = std::min(length, reply.size());
            if (mShortReplies != 0) {
                if (mShortReplies > 0)
                    --mShortReplies;
                delivered = std::min(delivered, mShortLength);
            }
            std::memcpy(data, reply.data(), delivered);
            mRecord.push_back(
                {Direction::DeviceToHost, deviceId, handle->handleId, reply, delivered});
            return static_cast<int>(delivered);
        }
        Clock::time_point wakeAt = deadline;
        if (!inbox.empty())
            wakeAt = std::min(wakeAt, inbox.front().readyAt);
        if (timeoutMs >= 0 && now >= deadline)
            return 0;
        ++mWaitingReads;
        if (timeoutMs < 0 && inbox.empty())
            mArrived.wait(lock);
        else
            mArrived.wait_until(lock, wakeAt);
        --mWaitingReads;
    }
}

int Bus::setNonblocking(hid_device_ *handle, int nonblock)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mHandles.find(handle);
    if (it == mHandles.end())
        return -1;
    it->second.nonblocking = nonblock != 0;
    return 0;
}

void Bus::close(hid_device_ *handle)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mHandles.erase(handle) > 0)
        delete handle;
    mArrived.notify_all();
}

void Bus::setControlFile(const std::string &path)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mControlPath = path;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    // Commands written before this process started are not ours.
    mControlOffset = ec ? 0 : size;
}

void Bus::pollControlFile()
{
    std::vector<std::string> commands;
    int replugDevice = 0;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mControlPath.empty())
            return;
        if (mReplugDevice != 0 && Clock::now() >= mReplugAt) {
            replugDevice = mReplugDevice;
            mReplugDevice = 0;
        }
        commands = readNewControlLines();
    }
    if (replugDevice != 0)
        replug(replugDevice);
    for (const std::string &command : commands)
        runControlCommand(command);
    if (!commands.empty() || replugDevice != 0)
        writeStatusFile();
}

std::vector<std::string> Bus::readNewControlLines()
{
    std::vector<std::string> lines;
    std::error_code ec;
    const auto size = std::filesystem::file_size(mControlPath, ec);
    if (ec)
        return lines;
    if (size < mControlOffset)
        mControlOffset = 0; // the file was emptied
    if (size == mControlOffset)
        return lines;
    std::ifstream in(mControlPath, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(mControlOffset));
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof())
            break; // a line still being written
        mControlOffset += line.size() + 1;
        lines.push_back(line);
    }
    return lines;
}

void Bus::runControlCommand(const std::string &command)
{
    const std::vector<int> ids = deviceIds();
    const int first = ids.empty() ? 0 : ids.front();
    if (command == "plug") {
        if (first == 0)
            plug();
        else
            replug(first);
    } else if (command == "unplug") {
        if (first != 0)
            unplug(first);
    } else if (command == "plug-second") {
        DeviceConfig config;
        withDevice(first, [&config](DeviceModel &m) { config = m.config(); });
        if (ids.size() < 2)
            plug(config);
        else
            replug(ids[1]);
    } else if (command == "unplug-second") {
        if (ids.size() >= 2)
            unplug(ids[1]);
    } else if (command == "power-cycle") {
        // Off long enough for the updater's once-a-second watch to see it go.
        if (first != 0) {
            unplug(first);
            std::lock_guard<std::mutex> lock(mMutex);
            mReplugDevice = first;
            mReplugAt = Clock::now() + mPowerCycleOffTime;
        }
    } else if (command == "silent") {
        setDropReplies(-1);
    } else if (command == "answer") {
        setDropReplies(0);
    } else if (command == "busy-forever") {
        withDevice(first, [](DeviceModel &m) { m.setBusyForever(true); });
    } else if (command == "not-busy") {
        withDevice(first, [](DeviceModel &m) { m.setBusyForever(false); });
    }
}

void Bus::writeStatusFile()
{
    std::ostringstream out;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mControlPath.empty())
            return;
        for (const auto &entry : mDevices) {
            const DeviceModel &m = *entry.second.model;
            const DeviceConfig &c = m.config();
            char line[160];
            std::snprintf(line, sizeof line,
                          "device %d: pid 0x%04X %s, cpu %u.%u, fpga %u.%u, update mode %s, "
                          "protocol errors %zu\n",
                          entry.first, c.productId, entry.second.plugged ? "plugged" : "unplugged",
                          c.cpuMajor, c.cpuMinor, c.fpgaMajor, c.fpgaMinor,
                          m.fuMode() ? "on" : "off", m.protocolErrors().size());
            out << line;
        }
    }
    std::ofstream(mControlPath + ".status", std::ios::trunc) << out.str();
}

} // namespace zsim
