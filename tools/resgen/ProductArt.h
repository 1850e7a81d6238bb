// The pictures of the device that the updater shows, drawn with QPainter.

#ifndef ZPORT_RESGEN_PRODUCTART_H
#define ZPORT_RESGEN_PRODUCTART_H

#include <QImage>
#include <QString>

namespace art {

constexpr int kPictureWidth = 440;
constexpr int kPictureHeight = 293;

// Family name of the application font loaded from the Vera files (regular and bold).
void setFontFamily(const QString &family);

QImage hdmiPicture();
QImage sdiPicture();
QImage unknownPicture();
QImage nonePicture();

// Square picture of the box with its blue indicator, for the Windows icon.
QImage iconPicture(int size);

} // namespace art

#endif // ZPORT_RESGEN_PRODUCTART_H
