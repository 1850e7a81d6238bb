// Loading firmware image files into the update thread's buffer, the image header record, and
// the checks that keep an unusable file from being programmed.
#include "StdoutCapture.h"

#include "threads/Crc32.h"
#include "threads/ImageFile.h"
#include "threads/UpdateFPGAThread.h"

#include "TestFiles.h"
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <QtTest>

#include <cstring>

namespace {

const QByteArray kCarriedCpu = QByteArray(ZPORT_FIRMWARE_DIR) + "/Z-PORT_1_09.img";
const QByteArray kCarriedFpga = QByteArray(ZPORT_FIRMWARE_DIR) + "/Z-PORT_1_13.bin";
const QByteArray kFpgaStart = QByteArray(16, '\xFF') + QByteArray("\x55\x99\xAA\x66");

QByteArray readAll(const QByteArray &path)
{
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", path.constData());
    return file.readAll();
}

QByteArray headerBytes(const ImageHeader &header)
{
    const auto bytes = header.toBytes();
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

bool bufferStartsWith(const std::uint8_t *buffer, const QByteArray &data)
{
    return std::memcmp(buffer, data.constData(), std::size_t(data.size())) == 0;
}

// Distinct bytes everywhere, so that a shifted or partial copy shows.
QByteArray pattern(int size, int salt)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + (i >> 8) + salt) & 0xFF);
    return data;
}

} // namespace

class TestImageFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mDir;

    QByteArray writeFile(const QString &name, const QByteArray &contents)
    {
        return writeTestFile(mDir, name, contents);
    }

private slots:
    void init() { gImageHeader = ImageHeader(); }

    void sizeLimit_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("loads");

        QTest::newRow("16,777,216 bytes load") << 16777216 << true;
        QTest::newRow("16,777,217 bytes are refused") << 16777217 << false;
    }

    void sizeLimit()
    {
        QFETCH(int, size);
        QFETCH(bool, loads);
        const QByteArray data = pattern(size, 3);
        const QByteArray path = writeFile(QStringLiteral("big.img"), data);
        UpdateFPGAThread thread;
        thread.setCpuImagePath(path);

        StdoutCapture out;
        const bool loaded = thread.selectImage(true);
        const QByteArray printed = out.text();

        QCOMPARE(loaded, loads);
        if (loads) {
            QCOMPARE(printed, QByteArray());
            QCOMPARE(gImageHeader.kind, kImageKindCpu);
            QCOMPARE(gImageHeader.address, 0u);
            QCOMPARE(gImageHeader.size, std::uint32_t(size));
            QCOMPARE(gImageHeader.crc,
                     crc32(0, reinterpret_cast<const std::uint8_t *>(data.constData()),
                           std::uint32_t(size)));
            QVERIFY(bufferStartsWith(thread.imageBuffer(), data));
        } else {
            QCOMPARE(printed, "Failed to open file " + path + "\n\r\n");
            QCOMPARE(headerBytes(gImageHeader), QByteArray(20, '\0'));
            QVERIFY(bufferStartsWith(thread.imageBuffer(), QByteArray(kImageBufferSize, '\0')));
        }
    }

    void emptyFileLoadsAsNothing()
    {
        UpdateFPGAThread thread;
        thread.setFpgaImagePath(writeFile(QStringLiteral("empty.bin"), QByteArray()));
        gImageHeader.crc = 0x12345678;
        gImageHeader.reserved = 7;

        StdoutCapture out;
        QVERIFY(thread.selectImage(false));
        QCOMPARE(out.text(), QByteArray("Bad File Yo\n"));
        QCOMPARE(gImageHeader.kind, kImageKindFpga);
        QCOMPARE(gImageHeader.address, 0x60000u);
        QCOMPARE(gImageHeader.size, 0u);
        QCOMPARE(gImageHeader.reserved, 0u);
        QCOMPARE(gImageHeader.crc, 0u);
    }

    void refusedFileKeepsThePreviousImage_data()
    {
        QTest::addColumn<QString>("refusal");

        QTest::newRow("missing file") << "missing";
        QTest::newRow("larger than the buffer") << "too large";
        QTest::newRow("directory") << "directory";
        QTest::newRow("read ends before the size") << "short read";
    }

    void refusedFileKeepsThePreviousImage()
    {
        QFETCH(QString, refusal);
        QByteArray fpgaPath;
        if (refusal == "missing") {
            fpgaPath = mDir.filePath(QStringLiteral("no such file.bin")).toUtf8();
        } else if (refusal == "too large") {
            fpgaPath = writeFile(QStringLiteral("large.bin"), pattern(16777217, 5));
        } else if (refusal == "directory") {
            fpgaPath = mDir.path().toUtf8();
        } else {
            // Kernel attribute files report a size of a page but hold a line of text.
            fpgaPath = "/sys/kernel/mm/transparent_hugepage/enabled";
            QFile probe(QString::fromUtf8(fpgaPath));
            if (!probe.open(QIODevice::ReadOnly) || probe.size() <= probe.readAll().size())
                QSKIP("no file here whose contents are shorter than its size");
        }

        const QByteArray cpu = readAll(kCarriedCpu);
        UpdateFPGAThread thread;
        thread.setCpuImagePath(kCarriedCpu);
        thread.setFpgaImagePath(fpgaPath);
        QVERIFY(thread.selectImage(true));
        const ImageHeader before = gImageHeader;

        StdoutCapture out;
        QVERIFY(!thread.selectImage(false));
        QCOMPARE(out.text(), "Failed to open file " + fpgaPath + "\n\r\n");
        QCOMPARE(gImageHeader.kind, kImageKindCpu);
        QCOMPARE(gImageHeader.address, 0u);
        QCOMPARE(gImageHeader.size, 180072u);
        QCOMPARE(gImageHeader.crc, before.crc);
        QVERIFY(bufferStartsWith(thread.imageBuffer(), cpu));
    }

    void carriedImageHeaders_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("CPU image") << kCarriedCpu << true
                                   << QByteArray::fromHex("55550000"
                                                          "00000000"
                                                          "68bf0200"
                                                          "00000000"
                                                          "a6635b2e");
        QTest::newRow("FPGA image") << kCarriedFpga << false
                                    << QByteArray::fromHex("aaaa0000"
                                                           "00000600"
                                                           "46420c00"
                                                           "00000000"
                                                           "eae78ddc");
    }

    void carriedImageHeaders()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, cpu);
        QFETCH(QByteArray, expected);
        UpdateFPGAThread thread;
        thread.setCpuImagePath(kCarriedCpu);
        thread.setFpgaImagePath(kCarriedFpga);
        QVERIFY(thread.selectImage(cpu));
        QCOMPARE(headerBytes(gImageHeader), expected);
        QVERIFY(bufferStartsWith(thread.imageBuffer(), readAll(path)));
    }

    void unknownKindKeepsKindAndAddress()
    {
        gImageHeader.kind = kImageKindFpga;
        gImageHeader.address = kFpgaFlashAddress;
        gImageHeader.reserved = 9;
        const QByteArray data = pattern(1000, 1);
        std::vector<std::uint8_t> buffer(kImageBufferSize);
        QCOMPARE(loadImageFile(writeFile(QStringLiteral("other.bin"), data), 0x1234, buffer.data()),
                 0);
        QCOMPARE(gImageHeader.kind, kImageKindFpga);
        QCOMPARE(gImageHeader.address, kFpgaFlashAddress);
        QCOMPARE(gImageHeader.size, 1000u);
        QCOMPARE(gImageHeader.reserved, 0u);
        QCOMPARE(gImageHeader.crc, crc32(0, buffer.data(), 1000));
        QVERIFY(bufferStartsWith(buffer.data(), data));
    }

    void validation_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("contents"); // empty name: the carried image of that name
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<QString>("expected");

        const QString empty = QStringLiteral(" is empty; programming it would leave the Z-PORT "
                                             "without firmware.");
        const QString notCpu =
            QStringLiteral(" is not a CPU firmware image: it does not begin with the boot image "
                           "signature 0x43 0x59. Programming it would leave the Z-PORT unable to "
                           "start.");
        const QString notFpga =
            QStringLiteral(" is not an FPGA firmware image: it does not begin with sixteen 0xFF "
                           "bytes and the sync word 0x55 0x99 0xAA 0x66. Programming it would "
                           "leave the Z-PORT unable to start.");
        const QString cpuFile = QStringLiteral("The CPU image file \"%1\"");
        const QString fpgaFile = QStringLiteral("The FPGA image file \"%1\"");

        QTest::newRow("carried CPU image")
            << "Z-PORT_1_09.img" << QByteArray() << true << QString();
        QTest::newRow("carried FPGA image")
            << "Z-PORT_1_13.bin" << QByteArray() << false << QString();
        QTest::newRow("swapped: FPGA file as CPU image")
            << "Z-PORT_1_13.bin" << QByteArray() << true << cpuFile.arg("Z-PORT_1_13.bin") + notCpu;
        QTest::newRow("swapped: CPU file as FPGA image")
            << "Z-PORT_1_09.img" << QByteArray() << false
            << fpgaFile.arg("Z-PORT_1_09.img") + notFpga;
        QTest::newRow("empty CPU image")
            << "empty.img" << QByteArray("") << true << cpuFile.arg("empty.img") + empty;
        QTest::newRow("empty FPGA image")
            << "empty.bin" << QByteArray("") << false << fpgaFile.arg("empty.bin") + empty;
        QTest::newRow("CPU image reaching up to the FPGA header")
            << "max.img" << QByteArray("CY") + QByteArray(393214, '\0') << true << QString();
        QTest::newRow("CPU image one byte into the FPGA header")
            << "long.img" << QByteArray("CY") + QByteArray(393215, '\0') << true
            << cpuFile.arg("long.img") +
                   " is 393,217 bytes long; a CPU firmware image may be at most 393,216 bytes, "
                   "or it would overwrite the FPGA firmware in the Z-PORT's flash.";
        QTest::newRow("CPU image with another signature")
            << "other.img" << QByteArray("CX") + QByteArray(1000, '\0') << true
            << cpuFile.arg("other.img") + notCpu;
        QTest::newRow("CPU image of one byte")
            << "one.img" << QByteArray("C") << true << cpuFile.arg("one.img") + notCpu;
        QTest::newRow("FPGA bitstream of only its start")
            << "start.bin" << kFpgaStart << false << QString();
        QTest::newRow("FPGA padding one byte short")
            << "pad.bin"
            << QByteArray(15, '\xFF') + QByteArray("\x55\x99\xAA\x66") + QByteArray(1, '\0')
            << false << fpgaFile.arg("pad.bin") + notFpga;
        QTest::newRow("FPGA sync word with one bit wrong")
            << "sync.bin" << QByteArray(16, '\xFF') + QByteArray("\x55\x99\xAA\x67") << false
            << fpgaFile.arg("sync.bin") + notFpga;
        QTest::newRow("FPGA padding with a zero byte")
            << "zero.bin"
            << QByteArray(3, '\xFF') + QByteArray(1, '\0') + QByteArray(12, '\xFF') +
                   QByteArray("\x55\x99\xAA\x66")
            << false << fpgaFile.arg("zero.bin") + notFpga;
        QTest::newRow("FPGA image cut within the padding")
            << "cut.bin" << QByteArray(16, '\xFF') << false << fpgaFile.arg("cut.bin") + notFpga;
        QTest::newRow("FPGA image beyond the last flash page")
            << "huge.bin" << kFpgaStart + QByteArray(16383745 - 20, '\0') << false
            << fpgaFile.arg("huge.bin") +
                   " is 16,383,745 bytes long; an FPGA firmware image may be at most 16,383,744 "
                   "bytes, or it would not fit in the Z-PORT's flash.";
    }

    void validation()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, contents);
        QFETCH(bool, cpu);
        QFETCH(QString, expected);
        const QByteArray path = contents.isNull()
                                    ? QByteArray(ZPORT_FIRMWARE_DIR) + '/' + fileName.toUtf8()
                                    : writeFile(fileName, contents);
        const std::uint32_t kind = cpu ? kImageKindCpu : kImageKindFpga;
        QCOMPARE(validateImageFile(path, kind), expected);

        // The same verdict on the bytes in memory, without the file name.
        const QByteArray bytes = readAll(path);
        QString unnamed = expected;
        unnamed.replace(QRegularExpression(QStringLiteral(" file \"[^\"]*\"")), QString());
        QCOMPARE(validateImage(kind, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                               std::uint32_t(bytes.size())),
                 unnamed);
    }

    void validationOfAFileThatCannotBeOpened()
    {
        const QByteArray path = mDir.filePath(QStringLiteral("gone.img")).toUtf8();
        QCOMPARE(validateImageFile(path, kImageKindCpu),
                 QStringLiteral("The CPU image file \"gone.img\" cannot be opened."));
    }
};

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_imagefile.moc"
