#pragma once

#include <QStringList>

class QMainWindow;

// Steps of the program's start-up that tests run the same way as main().

// Developer mode: any argument after the program name whose first two characters are "-d".
bool developerModeRequested(const QStringList &arguments);

// The toolkit's default font at 11 pixels, for every widget class.
void setSmallApplicationFont();

// Adds the carried font to the font database and, if that worked, makes "MyFont" the
// application font.
void installCarriedFont();

// Fixes the window's height to its menu bar plus the form's 525 pixels.
void fixWindowHeight(QMainWindow &window);
