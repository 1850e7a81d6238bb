#include "UserSettings.h"

namespace usersettings {

namespace {
constexpr int kCodes[] = {0, 1, 6};
} // namespace

int lossOfSignalCode(int index)
{
    return index >= 0 && index < 3 ? kCodes[index] : kCodes[0];
}

int lossOfSignalIndex(int code)
{
    for (int i = 0; i < 3; ++i) {
        if (kCodes[i] == code)
            return i;
    }
    return 0;
}

int validSetting(int value)
{
    return value >= 0 && value <= 3 ? value : 0;
}

QByteArray settingsCommand(int field1, int field2, int field3, int field4)
{
    QByteArray command(5, '\0');
    command[0] = char(0xF0);
    command[1] = char(field1 & 0xFF);
    command[2] = char(field2 & 0xFF);
    command[3] = char(field3 & 0xFF);
    command[4] = char(field4 & 0xFF);
    return command;
}

} // namespace usersettings
