#pragma once

#include "threads/DiscoverThread.h"
#include "ui/MainWindow.h"
#include "ui/ModuleInfo.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

// Drives a MainWindow the way a user would; a ModalAnswerer must be armed for its boxes.
namespace windowtest {

// A widget of the device page (the forms' object names).
template <typename T> T *deviceWidget(const MainWindow &window, const char *name)
{
    return window.findChild<QWidget *>("mZportWidget")->findChild<T *>(QLatin1String(name));
}

inline QString statusText(const MainWindow &window)
{
    return window.findChild<QLabel *>("appStatusLabel")->text();
}

inline QPushButton *scanButton(const MainWindow &window)
{
    return window.findChild<QWidget *>("mUnknownWidget")
        ->findChild<QPushButton *>("detectDevicesPushButton");
}

// Presses "Scan for Z-PORTs" and waits for the scan's outcome to reach the window. False when
// the scan did not end.
inline bool runScan(MainWindow &window)
{
    scanButton(window)->click();
    if (!window.discoverThread()->wait(15000))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
}

// A scan that is expected to connect: true when a device is connected afterwards.
inline bool scan(MainWindow &window)
{
    return runScan(window) &&
           QTest::qWaitFor([&window] { return window.moduleInfo().connected(); }, 5000);
}

} // namespace windowtest
