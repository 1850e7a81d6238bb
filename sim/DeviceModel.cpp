#include "DeviceModel.h"

#include "FirmwareImageFormat.h"
#include "device/UsbIds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zsim {

namespace {

constexpr char kFuModeKey[] = "Kestrel-Overhang";
constexpr char kEraseKey[] = "B-Red-Kite";
constexpr std::uint32_t kFuModeArgument = 0x1092;
constexpr std::uint32_t kBusy = 0x80000000u;
constexpr std::uint32_t kSerialFailed = 0x00010000u;

std::uint16_t bigEndian16(const Report &c, std::size_t at)
{
    return static_cast<std::uint16_t>((c[at] << 8) | c[at + 1]);
}

std::uint32_t bigEndian32(const Report &c, std::size_t at)
{
    return (static_cast<std::uint32_t>(c[at]) << 24) |
           (static_cast<std::uint32_t>(c[at + 1]) << 16) |
           (static_cast<std::uint32_t>(c[at + 2]) << 8) | c[at + 3];
}

void putLittleEndian16(Report &r, std::size_t at, std::uint16_t v)
{
    r[at] = static_cast<std::uint8_t>(v);
    r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putLittleEndian32(Report &r, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

} // namespace

DeviceConfig::DeviceConfig() : vendorId(zport::kVendorId), productId(zport::kProductIdHdmi) {}

DeviceModel::DeviceModel(const DeviceConfig &config) : mConfig(config), mFlash(kFlashSize, 0xFF)
{
    mPageBuffer.fill(0xFF);
    std::memcpy(mSerial.data(), config.serial.data(),
                std::min(config.serial.size(), mSerial.size()));
    mUserFields = config.userFields;
}

void DeviceModel::setLogLines(std::vector<std::string> lines)
{
    mConfig.logLines = std::move(lines);
    mLogCursor = 0;
}

void DeviceModel::setBusyTimes(std::chrono::microseconds erase, std::chrono::microseconds program)
{
    mConfig.eraseBusy = erase;
    mConfig.programBusy = program;
}

void DeviceModel::powerCycle()
{
    mFuMode = false;
    mFuRequested = false;
    mFuPendingPolls = 0;
    mLastCommand = 0;
    mSerialFailed = false;
    mBusyUntil = {};
    mBusyPolls = 0;
    mLogCursor = 0;
    mPageBuffer.fill(0xFF);

    // The CPU image is flashed from 0, the FPGA bitstream from 0x60100 behind its header.
    constexpr std::size_t kFpgaDataAddress = 0x60100;
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    if (zport::readVersionRecord(mFlash.data(), mFlash.size(), zport::kVersionKindCpu, major,
                                 minor)) {
        mConfig.cpuMajor = major;
        mConfig.cpuMinor = minor;
    }
    if (zport::readVersionRecord(mFlash.data() + kFpgaDataAddress, mFlash.size() - kFpgaDataAddress,
                                 zport::kVersionKindFpga, major, minor)) {
        mConfig.fpgaMajor = major;
        mConfig.fpgaMinor = minor;
    }
}

void DeviceModel::error(const std::string &message)
{
    mProtocolErrors.push_back(message);
}

bool DeviceModel::checkZeroFrom(const Report &c, std::size_t from, const char *name)
{
    for (std::size_t i = from; i < c.size(); ++i) {
        if (c[i] != 0) {
            error(std::string(name) + ": byte " + std::to_string(i) + " is " + hex(c[i]) +
                  ", not 0");
            return false;
        }
    }
    return true;
}

bool DeviceModel::checkLongForm(const Report &c, const char *name, std::uint16_t minLength,
                                std::uint16_t maxLength)
{
    const std::uint16_t length = bigEndian16(c, 1);
    if (length < minLength || length > maxLength) {
        error(std::string(name) + ": length " + std::to_string(length) + " outside " +
              std::to_string(minLength) + ".." + std::to_string(maxLength));
        return false;
    }
    if (c[7] != 0) {
        error(std::string(name) + ": reserved byte 7 is " + hex(c[7]));
        return false;
    }
    return checkZeroFrom(c, 8u + length, name);
}

bool DeviceModel::checkKey(const Report &c, const char *key, std::size_t keyLength,
                           const char *name)
{
    // The key and its terminating 0 byte.
    if (std::memcmp(&c[8], key, keyLength + 1) != 0) {
        error(std::string(name) + ": wrong key");
        return false;
    }
    return true;
}

bool DeviceModel::requireFuMode(const char *name)
{
    if (!mFuMode) {
        error(std::string(name) + ": flash command outside update mode");
        return false;
    }
    return true;
}

bool DeviceModel::busy(Clock::time_point now)
{
    if (mBusyForever)
        return true;
    if (mBusyPolls > 0)
        return true;
    return now < mBusyUntil;
}

Report DeviceModel::currentReport(std::uint8_t byte1, Clock::time_point now)
{
    Report r{};
    r[1] = byte1;
    std::uint32_t status = 0;
    if (mFuPendingPolls > 0) {
        --mFuPendingPolls;
        status |= kBusy;
    }
    if (busy(now))
        status |= kBusy;
    if (mBusyPolls > 0)
        --mBusyPolls;
    if (mSerialFailed)
        status |= kSerialFailed;
    putLittleEndian32(r, 4, status);
    putLittleEndian16(r, 12, mConfig.cpuMajor);
    putLittleEndian16(r, 14, mConfig.cpuMinor);
    putLittleEndian16(r, 16, mConfig.fpgaMajor);
    putLittleEndian16(r, 18, mConfig.fpgaMinor);
    std::memcpy(&r[21], mSerial.data(), mSerial.size());
    std::memcpy(&r[31], mUserFields.data(), mUserFields.size());
    return r;
}

Report DeviceModel::nextLogReply()
{
    Report r{};
    const auto &lines = mConfig.logLines;
    if (mLogNeverEnds && lines.empty()) {
        std::memcpy(r.data(), "log line", 8);
        return r;
    }
    if (mLogCursor >= lines.size()) {
        if (mLogNeverEnds) {
            mLogCursor = 0;
        } else {
            // End marker; the next request starts the log from the beginning again.
            r[1] = 0xFF;
            r[2] = 0xFF;
            mLogCursor = 0;
            return r;
        }
    }
    const std::string &line = lines[mLogCursor++];
    std::memcpy(r.data(), line.data(), std::min(line.size(), r.size()));
    return r;
}

std::vector<Report> DeviceModel::handle(const Report &c, Clock::time_point now)
{
    const std::uint8_t code = c[0];
    switch (code) {
    case 0x77:
        if (!checkZeroFrom(c, 1, "status request"))
            return {};
        return {currentReport(mLastCommand, now)};

    case 0xAA:
        if (!checkZeroFrom(c, 1, "flash-status request"))
            return {};
        mLastCommand = 0xAA;
        return {currentReport(0xAA, now)};

    case 0x0A:
    case 0x46: {
        const char *name = code == 0x0A ? "update-mode request" : "update-mode confirm";
        if (!checkLongForm(c, name, 17, 17) ||
            !checkKey(c, kFuModeKey, sizeof kFuModeKey - 1, name))
            return {};
        if (bigEndian32(c, 3) != kFuModeArgument) {
            error(std::string(name) + ": argument " + hex(bigEndian32(c, 3)));
            return {};
        }
        if (code == 0x0A) {
            mFuRequested = true;
            mFuMode = true;
            mFuPendingPolls = mConfig.fuEnableBusyPolls;
        } else if (!mFuRequested) {
            error("update-mode confirm without a request");
            return {};
        }
        mLastCommand = code;
        return {};
    }

    case 0x50: {
        if (!checkLongForm(c, "erase", 11, 11) ||
            !checkKey(c, kEraseKey, sizeof kEraseKey - 1, "erase") || !requireFuMode("erase"))
            return {};
        if (busy(now)) {
            error("erase: flash busy");
            return {};
        }
        const std::uint32_t sector = bigEndian32(c, 3);
        const std::size_t unit =
            mConfig.cpuMajor >= 2 && sector < kFirstSectorIndex ? kBlockSize : kSectorSize;
        if ((static_cast<std::uint64_t>(sector) + 1) * unit > kFlashSize) {
            error("erase: sector " + std::to_string(sector) + " beyond the flash");
            return {};
        }
        std::fill_n(mFlash.begin() + static_cast<std::ptrdiff_t>(sector * unit), unit,
                    std::uint8_t{0xFF});
        mErasedSectors.push_back(sector);
        mBusyUntil = now + mConfig.eraseBusy;
        mBusyPolls = mBusyPollsAfterFlashOp;
        mLastCommand = code;
        return {};
    }

    case 0x14:
        if (!checkLongForm(c, "image header", 20, 20) || !requireFuMode("image header"))
            return {};
        if (bigEndian32(c, 3) != 0) {
            error("image header: argument not 0");
            return {};
        }
        std::memcpy(mPageBuffer.data(), &c[8], 20);
        mLastCommand = code;
        return {};

    case 0x58: {
        if (!checkLongForm(c, "page data", 1, 56) || !requireFuMode("page data"))
            return {};
        const std::uint16_t length = bigEndian16(c, 1);
        const std::uint32_t offset = bigEndian32(c, 3);
        if (offset + length > kPageSize) {
            error("page data: piece at " + std::to_string(offset) + " of " +
                  std::to_string(length) + " bytes beyond the page buffer");
            return {};
        }
        std::memcpy(mPageBuffer.data() + offset, &c[8], length);
        mLastCommand = code;
        return {};
    }

    case 0x55: {
        // The length field counts page bytes here; no payload follows.
        const std::uint16_t length = bigEndian16(c, 1);
        if (length < 1 || length > kPageSize) {
            error("program page: length " + std::to_string(length));
            return {};
        }
        if (c[7] != 0 || !checkZeroFrom(c, 8, "program page") || !requireFuMode("program page"))
            return {};
        if (busy(now)) {
            error("program page: flash busy");
            return {};
        }
        const std::uint32_t page = bigEndian32(c, 3);
        if (page > 0xFFFF) {
            error("program page: page " + std::to_string(page) + " beyond the flash");
            return {};
        }
        auto *target = mFlash.data() + page * kPageSize;
        for (std::size_t i = 0; i < length; ++i) {
            if (target[i] != 0xFF)
                ++mUnerasedWrites;
            target[i] &= mPageBuffer[i];
        }
        mBusyUntil = now + mConfig.programBusy;
        mBusyPolls = mBusyPollsAfterFlashOp;
        mLastCommand = code;
        return {};
    }

    case 0x5F:
        if (c[7] != 0 || !checkZeroFrom(c, 8, "verify") || !requireFuMode("verify"))
            return {};
        mVerifyRequests.push_back({bigEndian32(c, 3), bigEndian16(c, 1)});
        mLastCommand = code;
        return {};

    case 0xF5: {
        if (!checkLongForm(c, "serial number", 1, 10))
            return {};
        if (bigEndian32(c, 3) != 0) {
            error("serial number: argument not 0");
            return {};
        }
        mLastCommand = code;
        if (mSerialWriteFails) {
            mSerialFailed = true;
            return {};
        }
        mSerialFailed = false;
        mSerial.fill(0);
        std::memcpy(mSerial.data(), &c[8], bigEndian16(c, 1));
        return {};
    }

    case 0xF0:
        if (!checkZeroFrom(c, 5, "settings"))
            return {};
        std::memcpy(mUserFields.data(), &c[1], mUserFields.size());
        mLastCommand = code;
        return {};

    case 0xF1:
        if (!checkZeroFrom(c, 1, "log request"))
            return {};
        return {nextLogReply()};

    default:
        error("unknown command " + hex(code));
        return {};
    }
}

} // namespace zsim
