#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

// Puts a plain title bar and a thin border around a grabbed window, so that a picture of a
// window or a message box in the manual reads as a window and shows its title.
QImage framedWindow(const QPixmap &content, const QString &title);

// Draws a popup (an open menu) onto a window picture, at the popup's offset from the
// window's top-left corner, as the user sees it.
QImage withPopup(const QPixmap &window, const QPixmap &popup, const QPoint &offset);
