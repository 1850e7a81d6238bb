#include "WinHID.h"

#include "DiagnosticLog.h"
#include "UsbIds.h"

#include <hidapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

// hidapi keeps process-wide state for enumerate, open and close; they must not overlap,
// whichever link object calls them.
std::mutex &hidApiMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString identityString(unsigned short vendorId, unsigned short productId)
{
    return QStringLiteral("{#vid_%1 &pid_%2}")
        .arg(QString::number(vendorId, 16), QString::number(productId, 16));
}

} // namespace

WinHID gWinHID;

WinHID::WinHID() = default;

WinHID::~WinHID()
{
    std::lock_guard<std::mutex> transferLock(mTransferMutex);
    closeAll();
}

QStringList WinHID::enumerate()
{
    QStringList result;
    std::lock_guard<std::mutex> hidLock(hidApiMutex());
    hid_device_info *list = hid_enumerate(zport::kVendorId, 0);
    for (hid_device_info *entry = list; entry != nullptr; entry = entry->next) {
        printToStdout(QStringLiteral("\n-%1-\n").arg(entry->vendor_id));
        if (entry->vendor_id != zport::kVendorId)
            continue;
        const QString identity = identityString(entry->vendor_id, entry->product_id);
        result.append(identity);
        printToStdout(identity + QLatin1Char('\n'));
    }
    hid_free_enumeration(list);
    return result;
}

int WinHID::open(std::uint16_t vendorId, std::uint16_t productId)
{
    std::lock_guard<std::mutex> transferLock(mTransferMutex);
    hid_device *handle = nullptr;
    {
        std::lock_guard<std::mutex> hidLock(hidApiMutex());
        handle = hid_open(vendorId, productId, nullptr);
    }
    // A failed open stays in the list as a null entry and becomes current, so that nothing is
    // sent to an earlier handle by mistake; transfers on it are refused below.
    mDevices.push_back(handle);
    mCurrentDevice = static_cast<std::int32_t>(mDevices.size()) - 1;
    return handle != nullptr ? 0 : -1;
}

hid_device *WinHID::currentHandle() const
{
    if (mCurrentDevice < 0 || static_cast<std::size_t>(mCurrentDevice) >= mDevices.size())
        return nullptr;
    return mDevices[static_cast<std::size_t>(mCurrentDevice)];
}

int WinHID::write(std::uint8_t reportId, const std::uint8_t *data, std::uint8_t length)
{
    if (length > kReportSize || (data == nullptr && length > 0))
        return -1;
    // Always the full zero-filled report: hidraw sends exactly what it is given, other
    // platforms pad; this way the device sees the same 64 bytes everywhere.
    std::array<unsigned char, kReportSize + 1> report{};
    report[0] = reportId;
    if (length > 0)
        std::memcpy(report.data() + 1, data, length);

    std::lock_guard<std::mutex> transferLock(mTransferMutex);
    if (mDevices.empty())
        return 0;
    hid_device *handle = currentHandle();
    if (handle == nullptr)
        return 0;
    return hid_write(handle, report.data(), report.size());
}

int WinHID::read(std::uint8_t *dest, std::uint8_t length)
{
    if (dest == nullptr || length > kReportSize)
        return -1;
    std::array<unsigned char, kReportSize + 1> report{};

    std::lock_guard<std::mutex> transferLock(mTransferMutex);
    hid_device *handle = currentHandle();
    if (handle == nullptr)
        return -1;
    const int result = hid_read_timeout(handle, report.data(), length + 1u, mReadTimeoutMs);
    if (result > 0)
        std::memcpy(dest, report.data(), static_cast<std::size_t>(std::min<int>(result, length)));
    return result > length ? length : result;
}

int WinHID::close()
{
    std::lock_guard<std::mutex> transferLock(mTransferMutex);
    closeAll();
    return 1;
}

void WinHID::closeAll()
{
    std::lock_guard<std::mutex> hidLock(hidApiMutex());
    for (auto it = mDevices.rbegin(); it != mDevices.rend(); ++it) {
        if (*it != nullptr)
            hid_close(*it);
    }
    mDevices.clear();
}

int WinHID::handleCount()
{
    std::lock_guard<std::mutex> transferLock(mTransferMutex);
    return static_cast<int>(mDevices.size());
}
