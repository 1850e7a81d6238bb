#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A simulated Z-PORT: the device side of the report protocol, with its flash, page buffer,
// update mode and busy state. It answers only what the protocol defines and records every
// malformed command as a protocol error instead of carrying it out.
namespace zsim {

using Report = std::array<std::uint8_t, 64>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFlashSize = 16u * 1024u * 1024u;
constexpr std::size_t kPageSize = 256;
constexpr std::size_t kSectorSize = 64u * 1024u;
// CPU firmware 2.0 and later take an erase index below kFirstSectorIndex as a 256 KiB block.
constexpr std::size_t kBlockSize = 256u * 1024u;
constexpr std::uint32_t kFirstSectorIndex = 6;

struct DeviceConfig
{
    std::uint16_t vendorId;
    std::uint16_t productId;
    int interfaces = 1;
    std::uint16_t cpuMajor = 1;
    std::uint16_t cpuMinor = 8;
    std::uint16_t fpgaMajor = 1;
    std::uint16_t fpgaMinor = 12;
    std::string serial = "00K1000001"; // up to 10 bytes, zero-filled
    std::array<std::uint8_t, 4> userFields{{0, 0, 0, 0}};
    std::vector<std::string> logLines;
    // How long the flash stays busy after an erase or a page program.
    std::chrono::microseconds eraseBusy{0};
    std::chrono::microseconds programBusy{0};
    // Status replies that still show busy after an update-mode request.
    int fuEnableBusyPolls = 0;

    DeviceConfig();
};

struct VerifyRequest
{
    std::uint32_t address;
    std::uint16_t length;
};

class DeviceModel
{
public:
    explicit DeviceModel(const DeviceConfig &config);

    // Handles one 64-byte output report and returns the input reports it answers with.
    std::vector<Report> handle(const Report &command, Clock::time_point now);

    // Power loss: update mode, page buffer and busy state are gone; flash and settings stay.
    // The device then reports the versions recorded in the images its flash holds.
    void powerCycle();

    // Faults.
    void setBusyForever(bool on) { mBusyForever = on; }
    void setBusyPolls(int polls) { mBusyPollsAfterFlashOp = polls; }
    void setFuEnableBusyPolls(int polls) { mConfig.fuEnableBusyPolls = polls; }
    void setSerialWriteFails(bool on) { mSerialWriteFails = on; }
    void setLogNeverEnds(bool on) { mLogNeverEnds = on; }
    void setLogLines(std::vector<std::string> lines);
    void setBusyTimes(std::chrono::microseconds erase, std::chrono::microseconds program);

    // A malformed report that never reached the command decoder (wrong report ID, too long).
    void recordError(const std::string &message) { mProtocolErrors.push_back(message); }

    // Inspection.
    const DeviceConfig &config() const { return mConfig; }
    const std::vector<std::string> &protocolErrors() const { return mProtocolErrors; }
    const std::vector<std::uint8_t> &flash() const { return mFlash; }
    std::vector<std::uint8_t> &flash() { return mFlash; }
    const std::array<std::uint8_t, kPageSize> &pageBuffer() const { return mPageBuffer; }
    bool fuMode() const { return mFuMode; }
    std::array<std::uint8_t, 10> serial() const { return mSerial; }
    std::array<std::uint8_t, 4> userFields() const { return mUserFields; }
    // Erase indices as received; their unit depends on the CPU firmware version.
    const std::vector<std::uint32_t> &erasedSectors() const { return mErasedSectors; }
    const std::vector<VerifyRequest> &verifyRequests() const { return mVerifyRequests; }
    // Bytes programmed where the flash was not erased (they end up ANDed, as on NOR flash).
    std::size_t unerasedWrites() const { return mUnerasedWrites; }

private:
    Report currentReport(std::uint8_t byte1, Clock::time_point now);
    bool busy(Clock::time_point now);
    bool checkLongForm(const Report &c, const char *name, std::uint16_t minLength,
                       std::uint16_t maxLength);
    bool checkZeroFrom(const Report &c, std::size_t from, const char *name);
    bool checkKey(const Report &c, const char *key, std::size_t keyLength, const char *name);
    bool requireFuMode(const char *name);
    void error(const std::string &message);
    Report nextLogReply();

    DeviceConfig mConfig;
    std::vector<std::uint8_t> mFlash;
    std::array<std::uint8_t, kPageSize> mPageBuffer{};
    std::array<std::uint8_t, 10> mSerial{};
    std::array<std::uint8_t, 4> mUserFields{};
    std::vector<std::string> mProtocolErrors;
    std::vector<std::uint32_t> mErasedSectors;
    std::vector<VerifyRequest> mVerifyRequests;

    bool mFuMode = false;
    bool mFuRequested = false;
    int mFuPendingPolls = 0;
    std::uint8_t mLastCommand = 0;
    bool mSerialFailed = false;
    Clock::time_point mBusyUntil{};
    int mBusyPolls = 0;
    int mBusyPollsAfterFlashOp = 0;
    bool mBusyForever = false;
    bool mSerialWriteFails = false;
    bool mLogNeverEnds = false;
    std::size_t mLogCursor = 0;
    std::size_t mUnerasedWrites = 0;
};

} // namespace zsim
