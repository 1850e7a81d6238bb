#pragma once

#include <QByteArray>
#include <QString>

// The loss-of-signal picture and the three further settings that the Set button sends.
namespace usersettings {

// Combo box index (0 Black, 1 Blue Matte, 2 100% Color Bars) to the device's code (0, 1, 6).
// An index without an entry counts as Black.
int lossOfSignalCode(int index);
// The index that shows a code; a code without an entry shows as Black (index 0).
int lossOfSignalIndex(int code);
// Settings 2 to 4 take 0..3; anything else is treated as 0.
int validSetting(int value);

// The five bytes of the settings command: 0xF0 and the low bytes of the four fields.
QByteArray settingsCommand(int field1, int field2, int field3, int field4);

} // namespace usersettings
