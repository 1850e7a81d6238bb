#pragma once

#include <array>
#include <cstdint>

class WinHID;

// Framing shared by every command: the long-form header (big-endian fields), the current
// report that answers a status request (little-endian fields), and the status waits.
namespace report {

constexpr int kSize = 64;
constexpr int kHeaderSize = 8;
constexpr int kMaxPayload = kSize - kHeaderSize; // 56

enum Command : std::uint8_t
{
    FuModeRequest = 0x0A,
    FuModeConfirm = 0x46,
    StatusRequest = 0x77,
    FlashStatusRequest = 0xAA,
    EraseSector = 0x50,
    ImageHeader = 0x14,
    PageData = 0x58,
    ProgramPage = 0x55,
    Verify = 0x5F,
    SerialNumber = 0xF5,
    Settings = 0xF0,
    LogRequest = 0xF1,
};

constexpr std::uint32_t kFuModeArgument = 0x1092;
// Sent with their terminating 0 byte, which the length field counts.
constexpr char kFuModeKey[] = "Kestrel-Overhang";
constexpr char kEraseKey[] = "B-Red-Kite";
constexpr std::uint16_t kFuModeKeyLength = sizeof(kFuModeKey); // 17
constexpr std::uint16_t kEraseKeyLength = sizeof(kEraseKey);   // 11

constexpr std::uint32_t kStatusBusy = 0x80000000u;
constexpr std::uint32_t kStatusSerialFailed = 0x00010000u;

// Reads that one status poll may spend waiting for a complete reply.
constexpr int kReadsPerPoll = 100;

// One output report as handed to the link: the bytes and how many of them to hand over.
struct CommandReport
{
    std::array<std::uint8_t, kSize> bytes{};
    std::uint8_t length = 0;
};

void putBigEndian16(std::uint8_t *dest, std::uint16_t value);
void putBigEndian32(std::uint8_t *dest, std::uint32_t value);
std::uint16_t getLittleEndian16(const std::uint8_t *src);
std::uint32_t getLittleEndian32(const std::uint8_t *src);

// Long form: code, length, argument, reserved 0, payload; length 8 + payload length. A payload
// longer than 56 bytes yields an empty report (length 0), which callers must not send.
CommandReport longCommand(std::uint8_t code, std::uint32_t argument, const std::uint8_t *payload,
                          std::uint16_t payloadLength);
// The update-mode request or confirm (25 bytes: header, key, 0 byte).
CommandReport fuModeCommand(std::uint8_t code);
// A one-byte request padded to the full 64-byte report ("w" or the flash-status request).
CommandReport statusRequest(std::uint8_t code = StatusRequest);

// The fields of a current report that the program interprets.
struct CurrentReportFields
{
    std::uint8_t lastCommand = 0;
    std::uint32_t status = 0;
    std::uint16_t cpuMajor = 0;
    std::uint16_t cpuMinor = 0;
    std::uint16_t fpgaMajor = 0;
    std::uint16_t fpgaMinor = 0;
    std::array<std::uint8_t, 10> serial{};
    std::array<std::uint8_t, 4> userFields{};
};
CurrentReportFields decodeCurrentReport(const std::uint8_t *reply);

// Reads into dest until a read returns a complete report. Gives up after maxReads reads, or at
// once when a read waited the link's whole time-out without a report (a silent device).
// Returns 0 with a complete report in dest, -1 otherwise.
int readCompleteReport(WinHID &link, std::uint8_t *dest, int maxReads = kReadsPerPoll);

// Polls with "w" until the device reports update mode on (byte 1 = 0x0A, status 0), at most
// budget - 1 polls. 0 when on, -1 on time-out or when the device stops answering.
int readFUStatus(WinHID &link, int budget);

} // namespace report

// The reply buffer that every status poll reads into, shared by the whole program.
extern std::uint8_t currentReport[report::kSize];
