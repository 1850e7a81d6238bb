#include "IcoFile.h"

namespace {

void putLe16(QByteArray &out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

void putLe32(QByteArray &out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray icoFromImage(const QImage &source)
{
    // Straight (not premultiplied) alpha is what the icon format stores.
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    if (width <= 0 || height <= 0 || width > 256 || height > 256)
        return QByteArray();

    const int colorBytes = width * height * 4;
    const int maskStride = ((width + 31) / 32) * 4;
    const int maskBytes = maskStride * height;
    const int headerBytes = 40;
    const int payloadBytes = headerBytes + colorBytes + maskBytes;
    const int directoryBytes = 6 + 16;

    QByteArray out;
    out.reserve(directoryBytes + payloadBytes);

    // ICONDIR
    putLe16(out, 0); // reserved
    putLe16(out, 1); // type: icon
    putLe16(out, 1); // one image

    // ICONDIRENTRY; 0 in a size byte means 256
    out.append(char(width & 0xFF));
    out.append(char(height & 0xFF));
    out.append(char(0)); // no palette
    out.append(char(0)); // reserved
    putLe16(out, 1);     // planes
    putLe16(out, 32);    // bits per pixel
    putLe32(out, quint32(payloadBytes));
    putLe32(out, quint32(directoryBytes));

    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows together
    putLe32(out, headerBytes);
    putLe32(out, quint32(width));
    putLe32(out, quint32(height * 2));
    putLe16(out, 1);  // planes
    putLe16(out, 32); // bits per pixel
    putLe32(out, 0);  // BI_RGB
    putLe32(out, quint32(colorBytes + maskBytes));
    putLe32(out, 0); // horizontal resolution
    putLe32(out, 0); // vertical resolution
    putLe32(out, 0); // colours used
    putLe32(out, 0); // important colours

    for (int y = height - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            out.append(char(qBlue(line[x])));
            out.append(char(qGreen(line[x])));
            out.append(char(qRed(line[x])));
            out.append(char(qAlpha(line[x])));
        }
    }

    // AND mask: a set bit marks a fully transparent pixel, for readers that ignore alpha.
    for (int y = height - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray row(maskStride, char(0));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}
