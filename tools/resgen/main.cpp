// zport-resgen: draws the device pictures and the Windows icon that the updater carries.
//
//   zport-resgen <output-dir>
//
// writes <output-dir>/gui/media/png/zport{HDMI,SDI,Unknown,None}.png (440 x 293),
// <output-dir>/windows/zport-updater.ico (one 48 x 48, 32-bit image) and
// <output-dir>/linux/zport-updater.png (256 x 256, the Linux desktop icon). Every run writes the
// same bytes: text comes from the Vera font files named below, never from the system's fonts.

#include "IcoFile.h"
#include "ProductArt.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageWriter>
#include <QStringList>

#include <cstdio>

#ifndef ZPORT_VERA_FONT_DIR
#define ZPORT_VERA_FONT_DIR "/usr/share/fonts/truetype/ttf-bitstream-vera"
#endif

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "zport-resgen: %s\n", qPrintable(message));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        fail(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    std::printf("%s: %lld bytes\n", qPrintable(path), static_cast<long long>(bytes.size()));
    return true;
}

bool writePng(const QString &path, const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        fail(QStringLiteral("cannot encode %1: %2").arg(path, writer.errorString()));
        return false;
    }
    return writeFile(path, bytes);
}

} // namespace

int main(int argc, char **argv)
{
    // Drawing needs no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: zport-resgen <output-dir>\n"
                             "writes <output-dir>/gui/media/png/*.png and "
                             "<output-dir>/windows/zport-updater.ico and "
                             "<output-dir>/linux/zport-updater.png\n");
        return 2;
    }

    const QString fontDir =
        qEnvironmentVariable("ZPORT_VERA_FONT_DIR", QStringLiteral(ZPORT_VERA_FONT_DIR));
    QString family;
    for (const char *name : {"Vera.ttf", "VeraBd.ttf"}) {
        const QString path = QDir(fontDir).filePath(QString::fromLatin1(name));
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0 || QFontDatabase::applicationFontFamilies(id).isEmpty()) {
            fail(QStringLiteral("cannot load font %1").arg(path));
            return 1;
        }
        family = QFontDatabase::applicationFontFamilies(id).first();
    }
    art::setFontFamily(family);

    const QDir out(args.at(1));
    const QString pngDir = out.filePath(QStringLiteral("gui/media/png"));
    const QString windowsDir = out.filePath(QStringLiteral("windows"));
    if (!QDir().mkpath(pngDir) || !QDir().mkpath(windowsDir)) {
        fail(QStringLiteral("cannot create the output directories under %1").arg(out.path()));
        return 1;
    }

    const struct
    {
        const char *name;
        QImage (*draw)();
    } pictures[] = {
        {"zportHDMI.png", art::hdmiPicture},
        {"zportSDI.png", art::sdiPicture},
        {"zportUnknown.png", art::unknownPicture},
        {"zportNone.png", art::nonePicture},
    };
    for (const auto &picture : pictures) {
        if (!writePng(QDir(pngDir).filePath(QString::fromLatin1(picture.name)), picture.draw()))
            return 1;
    }

    const QByteArray icon = icoFromImage(art::iconPicture(48));
    if (icon.isEmpty() ||
        !writeFile(QDir(windowsDir).filePath(QStringLiteral("zport-updater.ico")), icon))
        return 1;

    // The Linux desktop's icon (share/icons/hicolor/256x256/apps).
    const QString linuxDir = out.filePath(QStringLiteral("linux"));
    if (!QDir().mkpath(linuxDir) ||
        !writePng(QDir(linuxDir).filePath(QStringLiteral("zport-updater.png")),
                  art::iconPicture(256)))
        return 1;
    return 0;
}
