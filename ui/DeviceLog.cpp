#include "DeviceLog.h"

namespace devicelog {

const char *const kNoLogsText = "Unable to retreive Z-PORT logs";
const char *const kOutOfDateText =
    "Unable to retreive logs. Please make sure that the Z-PORT is up to date.\nIf your Z-PORT is "
    "up to date, please disable and re-enable logs to refresh.";

bool isEndMarker(const std::uint8_t *reply)
{
    return reply[0] == 0x00 && reply[1] == 0xFF && reply[2] == 0xFF;
}

QString lineText(const std::uint8_t *reply)
{
    QString line;
    for (int i = 0; i < kReplySize; ++i) {
        const std::uint8_t byte = reply[i];
        if (byte == 0x00 || byte == 0x0A || byte == 0x0D)
            break;
        if (byte >= 0x20 && byte <= 0x7E)
            line.append(QLatin1Char(char(byte)));
    }
    line.append(QLatin1Char('\n'));
    return line;
}

} // namespace devicelog
