#include "ReportProtocol.h"

#include "DiagnosticLog.h"
#include "WinHID.h"

#include <cstring>

std::uint8_t currentReport[report::kSize] = {};

namespace report {

void putBigEndian16(std::uint8_t *dest, std::uint16_t value)
{
    dest[0] = static_cast<std::uint8_t>(value >> 8);
    dest[1] = static_cast<std::uint8_t>(value);
}

void putBigEndian32(std::uint8_t *dest, std::uint32_t value)
{
    dest[0] = static_cast<std::uint8_t>(value >> 24);
    dest[1] = static_cast<std::uint8_t>(value >> 16);
    dest[2] = static_cast<std::uint8_t>(value >> 8);
    dest[3] = static_cast<std::uint8_t>(value);
}

std::uint16_t getLittleEndian16(const std::uint8_t *src)
{
    return static_cast<std::uint16_t>(src[0] | (src[1] << 8));
}

std::uint32_t getLittleEndian32(const std::uint8_t *src)
{
    return static_cast<std::uint32_t>(src[0]) | (static_cast<std::uint32_t>(src[1]) << 8) |
           (static_cast<std::uint32_t>(src[2]) << 16) | (static_cast<std::uint32_t>(src[3]) << 24);
}

CommandReport longCommand(std::uint8_t code, std::uint32_t argument, const std::uint8_t *payload,
                          std::uint16_t payloadLength)
{
    CommandReport command;
    if (payloadLength > kMaxPayload)
        return command;
    command.bytes[0] = code;
    putBigEndian16(&command.bytes[1], payloadLength);
    putBigEndian32(&command.bytes[3], argument);
    command.bytes[7] = 0;
    if (payload != nullptr && payloadLength > 0)
        std::memcpy(&command.bytes[kHeaderSize], payload, payloadLength);
    command.length = static_cast<std::uint8_t>(kHeaderSize + payloadLength);
    return command;
}

CommandReport fuModeCommand(std::uint8_t code)
{
    return longCommand(code, kFuModeArgument, reinterpret_cast<const std::uint8_t *>(kFuModeKey),
                       kFuModeKeyLength);
}

CommandReport statusRequest(std::uint8_t code)
{
    CommandReport command;
    command.bytes[0] = code;
    command.length = kSize;
    return command;
}

CurrentReportFields decodeCurrentReport(const std::uint8_t *reply)
{
    CurrentReportFields fields;
    fields.lastCommand = reply[1];
    fields.status = getLittleEndian32(reply + 4);
    fields.cpuMajor = getLittleEndian16(reply + 12);
    fields.cpuMinor = getLittleEndian16(reply + 14);
    fields.fpgaMajor = getLittleEndian16(reply + 16);
    fields.fpgaMinor = getLittleEndian16(reply + 18);
    std::memcpy(fields.serial.data(), reply + 21, fields.serial.size());
    std::memcpy(fields.userFields.data(), reply + 31, fields.userFields.size());
    return fields;
}

int readCompleteReport(WinHID &link, std::uint8_t *dest, int maxReads)
{
    for (int i = 0; i < maxReads; ++i) {
        const int count = link.read(dest, kSize);
        if (count == kSize)
            return 0;
        // 0 means the link waited its whole time-out: the device is not answering.
        if (count == 0)
            return -1;
    }
    return -1;
}

int readFUStatus(WinHID &link, int budget)
{
    const CommandReport request = statusRequest();
    for (int poll = 0; poll < budget - 1; ++poll) {
        link.write(0, request.bytes.data(), request.length);
        if (readCompleteReport(link, currentReport) != 0)
            break;
        const CurrentReportFields reply = decodeCurrentReport(currentReport);
        if (reply.lastCommand == FuModeRequest && reply.status == 0)
            return 0;
    }
    logMessage(QStringLiteral("readFUStatus timed out:-(\n\r"));
    return -1;
}

} // namespace report
