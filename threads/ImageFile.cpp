#include "ImageFile.h"

#include "Crc32.h"
#include "device/DiagnosticLog.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <memory>

ImageHeader gImageHeader;

namespace {

// Beyond this the CPU image would run into the FPGA image's header page.
constexpr std::uint32_t kCpuImageMaxSize = kFpgaFlashAddress;
// Page numbers are 16 bits: the FPGA data must end within the first 65,536 pages.
constexpr std::uint32_t kFpgaImageMaxSize = 0x10000u * 256u - (kFpgaFlashAddress + 256u);
constexpr std::uint8_t kCpuSignature[] = {0x43, 0x59};
constexpr std::uint8_t kFpgaSyncWord[] = {0x55, 0x99, 0xAA, 0x66};
constexpr int kFpgaPadding = 16;
// Bytes that the content checks look at.
constexpr int kHeadSize = kFpgaPadding + int(sizeof kFpgaSyncWord);

void putLittleEndian32(std::uint8_t *dest, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        dest[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

QString number(qint64 value)
{
    return QLocale(QLocale::English).toString(value);
}

QString subject(std::uint32_t kind, const QString &name)
{
    const QString image =
        kind == kImageKindCpu ? QStringLiteral("CPU image") : QStringLiteral("FPGA image");
    if (name.isEmpty())
        return QStringLiteral("The ") + image;
    return QStringLiteral("The %1 file \"%2\"").arg(image, name);
}

// head holds the first headLength bytes of an image of size bytes.
QString imageProblem(std::uint32_t kind, const std::uint8_t *head, qint64 headLength, qint64 size,
                     const QString &name)
{
    if (kind != kImageKindCpu && kind != kImageKindFpga)
        return QStringLiteral("Unknown firmware image kind 0x%1.").arg(kind, 0, 16);
    const QString what = subject(kind, name);
    if (size == 0)
        return QStringLiteral("%1 is empty; programming it would leave the Z-PORT without "
                              "firmware.")
            .arg(what);
    if (kind == kImageKindCpu) {
        if (headLength < qint64(sizeof kCpuSignature) ||
            std::memcmp(head, kCpuSignature, sizeof kCpuSignature) != 0)
            return QStringLiteral("%1 is not a CPU firmware image: it does not begin with the "
                                  "boot image signature 0x43 0x59. Programming it would leave "
                                  "the Z-PORT unable to start.")
                .arg(what);
        if (size > kCpuImageMaxSize)
            return QStringLiteral("%1 is %2 bytes long; a CPU firmware image may be at most %3 "
                                  "bytes, or it would overwrite the FPGA firmware in the "
                                  "Z-PORT's flash.")
                .arg(what, number(size), number(kCpuImageMaxSize));
        return QString();
    }
    bool sync = headLength >= kHeadSize &&
                std::memcmp(head + kFpgaPadding, kFpgaSyncWord, sizeof kFpgaSyncWord) == 0;
    for (int i = 0; sync && i < kFpgaPadding; ++i)
        sync = head[i] == 0xFF;
    if (!sync)
        return QStringLiteral("%1 is not an FPGA firmware image: it does not begin with sixteen "
                              "0xFF bytes and the sync word 0x55 0x99 0xAA 0x66. Programming it "
                              "would leave the Z-PORT unable to start.")
            .arg(what);
    if (size > kFpgaImageMaxSize)
        return QStringLiteral("%1 is %2 bytes long; an FPGA firmware image may be at most %3 "
                              "bytes, or it would not fit in the Z-PORT's flash.")
            .arg(what, number(size), number(kFpgaImageMaxSize));
    return QString();
}

// Reads exactly count bytes unless the file ends or fails first; -1 on a read error.
qint64 readFully(QFile &file, char *dest, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const qint64 got = file.read(dest + done, count - done);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace

std::array<std::uint8_t, kImageHeaderSize> ImageHeader::toBytes() const
{
    std::array<std::uint8_t, kImageHeaderSize> bytes{};
    putLittleEndian32(&bytes[0], kind);
    putLittleEndian32(&bytes[4], address);
    putLittleEndian32(&bytes[8], size);
    putLittleEndian32(&bytes[12], reserved);
    putLittleEndian32(&bytes[16], crc);
    return bytes;
}

int loadImageFile(const QByteArray &path, std::uint32_t kind, std::uint8_t *buffer)
{
    QFile file(QString::fromUtf8(path));
    if (buffer == nullptr || !file.open(QIODevice::ReadOnly))
        return -1;
    // The whole 64-bit size: a file of 4 GiB and a few bytes must not pass as a few bytes.
    const qint64 fileSize = file.size();
    if (fileSize < 0 || fileSize > qint64(kImageBufferSize))
        return -1;
    const auto size = static_cast<std::uint32_t>(fileSize);

    // Read aside first, so that a failed read leaves the buffer as it was.
    std::unique_ptr<char[]> staging(new char[size > 0 ? size : 1]);
    const qint64 got = readFully(file, staging.get(), size);
    if (got < 0 || (got > 0 && got < qint64(size)))
        return -1;
    if (got == 0)
        logMessage(QStringLiteral("Bad File Yo"));
    else
        std::memcpy(buffer, staging.get(), size);

    gImageHeader.crc = crc32(0, buffer, size);
    gImageHeader.size = size;
    gImageHeader.reserved = 0;
    if (kind == kImageKindCpu) {
        gImageHeader.kind = kImageKindCpu;
        gImageHeader.address = kCpuFlashAddress;
    } else if (kind == kImageKindFpga) {
        gImageHeader.kind = kImageKindFpga;
        gImageHeader.address = kFpgaFlashAddress;
    }
    return 0;
}

QString validateImage(std::uint32_t kind, const std::uint8_t *data, std::uint32_t size,
                      const QString &name)
{
    if (data == nullptr)
        size = 0;
    return imageProblem(kind, data, size, size, name);
}

QString validateImageFile(const QByteArray &path, std::uint32_t kind)
{
    const QString fileName = QString::fromUtf8(path);
    const QString name = QFileInfo(fileName).fileName();
    if (kind != kImageKindCpu && kind != kImageKindFpga)
        return imageProblem(kind, nullptr, 0, 0, name);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be opened.").arg(subject(kind, name));
    const qint64 size = file.size();
    std::uint8_t head[kHeadSize] = {};
    const qint64 wanted = std::min<qint64>(size, kHeadSize);
    if (size < 0 || readFully(file, reinterpret_cast<char *>(head), wanted) != wanted)
        return QStringLiteral("%1 cannot be read.").arg(subject(kind, name));
    return imageProblem(kind, head, wanted, size, name);
}
