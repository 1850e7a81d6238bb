// Windows icon container holding a single 32-bit image.

#ifndef ZPORT_RESGEN_ICOFILE_H
#define ZPORT_RESGEN_ICOFILE_H

#include <QByteArray>
#include <QImage>

// Returns the .ico bytes for image (at most 256 x 256): ICONDIR, one ICONDIRENTRY and a
// BITMAPINFOHEADER payload with 32-bit BGRA rows and the 1-bit AND mask, both bottom-up.
// A BMP payload rather than PNG, because every resource compiler accepts it.
QByteArray icoFromImage(const QImage &image);

#endif // ZPORT_RESGEN_ICOFILE_H
