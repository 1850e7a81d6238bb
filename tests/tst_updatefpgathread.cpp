// The firmware update engine against the simulated Z-PORT: the commands of each step byte for
// byte, progress, whole passes of the carried images, stop requests, and device faults.
#include "SignalLog.h"
#include "SimTestSupport.h"
#include "StdoutCapture.h"
#include "TestFiles.h"

#include "device/ReportProtocol.h"
#include "device/UsbIds.h"
#include "device/WinHID.h"
#include "threads/MetaTypes.h"
#include "threads/UpdateFPGAThread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using namespace simtest;

namespace {

const QByteArray kCarriedCpu = QByteArray(ZPORT_FIRMWARE_DIR) + "/Z-PORT_1_09.img";
const QByteArray kCarriedFpga = QByteArray(ZPORT_FIRMWARE_DIR) + "/Z-PORT_1_13.bin";
const QByteArray kEraseKey("B-Red-Kite", 11);
const QByteArray kFuKey("Kestrel-Overhang", 17);
const QByteArray kFpgaStart = QByteArray(16, '\xFF') + QByteArray("\x55\x99\xAA\x66");
// A pass that meets a gone or silent device must end within this, at the product's read bound.
constexpr qint64 kFaultBoundMs = 5000;

QByteArray eraseReport(uint index)
{
    return padded(longForm(0x50, 11, index, kEraseKey));
}

const QByteArray kStatusReport = padded(QByteArray(1, '\x77'));
const QByteArray kFlashStatusReport = padded(QByteArray(1, '\xAA'));

QList<QByteArray> sent()
{
    QList<QByteArray> reports;
    for (const auto &report : zsim::Bus::instance().sentReports())
        reports << bytes(report);
    return reports;
}

QList<QByteArray> sentWith(int code)
{
    QList<QByteArray> reports;
    for (const auto &report : sentWithCode(std::uint8_t(code)))
        reports << bytes(report);
    return reports;
}

// Elapsed milliseconds in the log vary from run to run.
QByteArray withoutTimes(QByteArray printed)
{
    return QString::fromUtf8(printed)
        .replace(QRegularExpression(QStringLiteral("after \\d+ milliseconds")),
                 QStringLiteral("after N milliseconds"))
        .toUtf8();
}

QByteArray readAll(const QByteArray &path)
{
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", path.constData());
    return file.readAll();
}

// Distinct bytes, so a piece at the wrong offset shows.
QByteArray pattern(int size, int salt = 0)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 13 + (i >> 8) + salt) & 0xFF);
    return data;
}

QByteArray cpuImage(int size)
{
    return (QByteArray("CY") + pattern(size)).left(size);
}

QByteArray fpgaImage(int size)
{
    return (kFpgaStart + pattern(size, 1)).left(size);
}

zsim::DeviceConfig deviceConfig(int cpuMajor = 2, int cpuMinor = 0)
{
    zsim::DeviceConfig config;
    config.cpuMajor = std::uint16_t(cpuMajor);
    config.cpuMinor = std::uint16_t(cpuMinor);
    return config;
}

QByteArray flashAt(int deviceId, std::size_t address, int length)
{
    QByteArray result;
    zsim::Bus::instance().withDevice(deviceId, [&](zsim::DeviceModel &m) {
        result = QByteArray(reinterpret_cast<const char *>(m.flash().data()) + address, length);
    });
    return result;
}

struct Outcome
{
    QString image;
    int result;
    bool operator==(const Outcome &o) const { return image == o.image && result == o.result; }
};

} // namespace

namespace QTest {
template <> char *toString(const Outcome &o)
{
    return qstrdup(qPrintable(QStringLiteral("(%1, %2)").arg(o.image).arg(o.result)));
}
} // namespace QTest

class TestUpdateFPGAThread : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mDir;
    WinHID *mLink = nullptr;
    UpdateFPGAThread *mThread = nullptr;
    SignalLog *mLog = nullptr;
    int mDevice = 0;

    int plugAndOpen(const zsim::DeviceConfig &config = deviceConfig())
    {
        mDevice = zsim::Bus::instance().plug(config);
        mLink->open(config.vendorId, config.productId);
        return mDevice;
    }

    QByteArray writeFile(const QString &name, const QByteArray &contents)
    {
        return writeTestFile(mDir, name, contents);
    }

    bool load(const QByteArray &path, bool cpu)
    {
        if (cpu)
            mThread->setCpuImagePath(path);
        else
            mThread->setFpgaImagePath(path);
        StdoutCapture out;
        return mThread->selectImage(cpu);
    }

    // Runs one pass to its end; false when it did not end within the bound.
    bool runPass(QByteArray *printed = nullptr, qint64 *elapsed = nullptr,
                 unsigned long boundMs = 30000)
    {
        StdoutCapture out;
        QElapsedTimer timer;
        timer.start();
        mThread->start();
        const bool finished = mThread->wait(boundMs);
        if (elapsed != nullptr)
            *elapsed = timer.elapsed();
        const QByteArray text = out.text();
        if (printed != nullptr)
            *printed = text;
        QCoreApplication::sendPostedEvents();
        return finished;
    }

    QList<Outcome> outcomes() const
    {
        QList<Outcome> list;
        for (const auto &args : mLog->argumentsOf(QStringLiteral("PostFPGAUpdateComplete")))
            list << Outcome{args[0].toString(), int(args[1].value<ErrorCodes>())};
        return list;
    }

    QList<int> progress() const
    {
        QList<int> values;
        for (const auto &args : mLog->argumentsOf(QStringLiteral("PostUpdateProgressAmount")))
            values << args[0].toInt();
        return values;
    }

    // Device operations called directly need the device in update mode, and a clean record.
    void enterUpdateMode()
    {
        StdoutCapture out;
        QCOMPARE(mThread->enableFUMode(), 0);
        zsim::Bus::instance().clearRecord();
    }

private slots:
    void initTestCase()
    {
        registerUint32MetaType();
        registerErrorCodesMetaType();
    }

    void init()
    {
        zsim::Bus::instance().reset();
        gImageHeader = ImageHeader();
        mLink = new WinHID;
        mLink->setReadTimeout(150);
        mThread = new UpdateFPGAThread(*mLink);
        mThread->setPauses(0, 0, 0);
        mLog = new SignalLog;
        mLog->watch(mThread, &UpdateFPGAThread::PostUpdateProgressAmount,
                    QStringLiteral("PostUpdateProgressAmount"));
        mLog->watch(mThread, &UpdateFPGAThread::PostFPGAUpdateComplete,
                    QStringLiteral("PostFPGAUpdateComplete"));
        mLog->watch(mThread, &UpdateFPGAThread::PostAppStatusMessage,
                    QStringLiteral("PostAppStatusMessage"));
        mLog->watch(mThread, &UpdateFPGAThread::PostUpdateProgressMessage,
                    QStringLiteral("PostUpdateProgressMessage"));
        mLog->watch(mThread, &UpdateFPGAThread::PostUpdateNextThread,
                    QStringLiteral("PostUpdateNextThread"));
        mLog->watch(mThread, &UpdateFPGAThread::ResetUpdateProgress,
                    QStringLiteral("ResetUpdateProgress"));
    }

    void cleanup()
    {
        delete mLog;
        delete mThread;
        delete mLink;
    }

    // --- the commands of each step ---

    void eraseCommands_data()
    {
        QTest::addColumn<QByteArray>("image"); // file contents; empty: a carried image
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<bool>("oldFirmware");
        QTest::addColumn<QList<int>>("indices");

        QTest::newRow("carried CPU image, 256 KiB units")
            << QByteArray() << true << false << QList<int>{0};
        QTest::newRow("carried FPGA image, 64 KiB units")
            << QByteArray() << false << false
            << QList<int>{6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
        QTest::newRow("carried CPU image, old firmware")
            << QByteArray() << true << true << QList<int>{0, 1, 2, 3};
        QTest::newRow("carried FPGA image, old firmware")
            << QByteArray() << false << true
            << QList<int>{6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
        QTest::newRow("empty CPU image") << QByteArray("") << true << false << QList<int>{};
        QTest::newRow("empty FPGA image") << QByteArray("") << false << false << QList<int>{};
        QTest::newRow("empty CPU image, old firmware")
            << QByteArray("") << true << true << QList<int>{0, 1};
        QTest::newRow("empty FPGA image, old firmware")
            << QByteArray("") << false << true << QList<int>{6, 7};
        QTest::newRow("CPU image of exactly one block")
            << cpuImage(262144) << true << false << QList<int>{0};
        QTest::newRow("CPU image one byte into the next block")
            << cpuImage(262145) << true << false << QList<int>{0, 1};
        QTest::newRow("FPGA image of exactly one sector")
            << fpgaImage(65536) << false << false << QList<int>{6};
        QTest::newRow("FPGA image one byte into the next sector")
            << fpgaImage(65537) << false << false << QList<int>{6, 7};
    }

    void eraseCommands()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, cpu);
        QFETCH(bool, oldFirmware);
        QFETCH(QList<int>, indices);

        plugAndOpen();
        const QByteArray path = image.isNull() ? (cpu ? kCarriedCpu : kCarriedFpga)
                                               : writeFile(QStringLiteral("erase.img"), image);
        QVERIFY(load(path, cpu));
        mThread->setOldFirmware(oldFirmware);
        enterUpdateMode();

        StdoutCapture out;
        QCOMPARE(mThread->eraseImage(), 0);
        const QByteArray printed = withoutTimes(out.text());

        QList<QByteArray> expected;
        QByteArray expectedLog = oldFirmware ? "\n\r\n" : "";
        for (int index : indices) {
            expected << eraseReport(uint(index)) << kFlashStatusReport;
            if (oldFirmware)
                expectedLog +=
                    QByteArray("Erase sector ") + QByteArray::number(index) + " came back with 0\n";
            expectedLog += "readFlashStatus came back idle after N milliseconds\n";
        }
        QCOMPARE(sent(), expected);
        QCOMPARE(printed, expectedLog);
        QVERIFY(noProtocolErrors());
    }

    void writePagePieces_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<QList<int>>("lengths");
        QTest::addColumn<QByteArray>("printed");

        QTest::newRow("whole page")
            << 256 << QList<int>{0, 56, 112, 168, 224} << QList<int>{56, 56, 56, 56, 32}
            << QByteArray("Write Page 0 returned with 65\n\n"
                          "Write Page 1 returned with 65\n\n"
                          "Write Page 2 returned with 65\n\n"
                          "Write Page 3 returned with 65\n\n"
                          "Write Runt Page 32 returned with 65\n\n");
        QTest::newRow("runt page of 100 bytes")
            << 100 << QList<int>{0, 56} << QList<int>{56, 44}
            << QByteArray("Write Page 0 returned with 65\n\n"
                          "Write Runt Page 44 returned with 65\n\n");
        QTest::newRow("runt page shorter than a piece")
            << 40 << QList<int>{0} << QList<int>{40}
            << QByteArray("Write Runt Page 40 returned with 65\n\n");
        QTest::newRow("two whole pieces, no runt piece")
            << 112 << QList<int>{0, 56} << QList<int>{56, 56}
            << QByteArray("Write Page 0 returned with 65\n\n"
                          "Write Page 1 returned with 65\n\n");
        QTest::newRow("one byte") << 1 << QList<int>{0} << QList<int>{1}
                                  << QByteArray("Write Runt Page 1 returned with 65\n\n");
    }

    void writePagePieces()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, offsets);
        QFETCH(QList<int>, lengths);
        QFETCH(QByteArray, printed);

        plugAndOpen();
        enterUpdateMode();
        const QByteArray data = pattern(size, 5);
        StdoutCapture out;
        QCOMPARE(mThread->writePage(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                    std::uint16_t(size)),
                 0);
        QCOMPARE(out.text(), printed);

        QList<QByteArray> expected;
        for (int i = 0; i < offsets.size(); ++i)
            expected << padded(
                longForm(0x58, lengths[i], uint(offsets[i]), data.mid(offsets[i], lengths[i])));
        QCOMPARE(sent(), expected);
        zsim::Bus::instance().withDevice(mDevice, [&](zsim::DeviceModel &m) {
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(m.pageBuffer().data()), size), data);
        });
        QVERIFY(noProtocolErrors());
    }

    void writeHeaderCommands_data()
    {
        QTest::addColumn<uint>("address");
        QTest::addColumn<bool>("program");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("codes");

        QTest::newRow("FPGA header, programmed at page 1536")
            << 0x60000u << true << 1 << fromHex("147755");
        QTest::newRow("CPU header, sent but not programmed") << 0u << false << 1 << fromHex("14");
        QTest::newRow("address not on a page") << 0x60010u << true << -1 << QByteArray();
    }

    void writeHeaderCommands()
    {
        QFETCH(uint, address);
        QFETCH(bool, program);
        QFETCH(int, result);
        QFETCH(QByteArray, codes);

        plugAndOpen();
        enterUpdateMode();
        ImageHeader header;
        header.kind = kImageKindFpga;
        header.address = 0x60000;
        header.size = 803398;
        header.crc = 0xDC8DE7EA;
        const QByteArray expectedHeader = fromHex("aaaa0000"
                                                  "00000600"
                                                  "46420c00"
                                                  "00000000"
                                                  "eae78ddc");
        StdoutCapture out;
        QCOMPARE(mThread->writeHeader(address, header, program), result);
        const QByteArray printed = out.text();

        QCOMPARE(sentCodes(), codes);
        if (result != 1)
            return;
        const auto reports = sent();
        QCOMPARE(reports[0], padded(longForm(0x14, 20, 0, expectedHeader)));
        if (program) {
            QCOMPARE(reports[1], kStatusReport);
            QCOMPARE(reports[2], padded(longForm(0x55, 20, 1536)));
            QCOMPARE(printed, QByteArray("Program page: 1536 size: 20 returned with 65\n\n"));
            QCOMPARE(flashAt(mDevice, 0x60000, 21), expectedHeader + QByteArray(1, '\xFF'));
        } else {
            QCOMPARE(printed, QByteArray());
            QCOMPARE(flashAt(mDevice, 0, 20), QByteArray(20, '\xFF'));
        }
        QVERIFY(noProtocolErrors());
    }

    void imageDataPages_data()
    {
        QTest::addColumn<uint>("address");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<int>>("programmed"); // page, size, page, size, ...

        QTest::newRow("FPGA data: two pages and a runt")
            << 0x60100u << 600 << 1 << QList<int>{1537, 256, 1538, 256, 1539, 88};
        QTest::newRow("CPU data: whole pages only") << 0u << 512 << 1 << QList<int>{0, 256, 1, 256};
        QTest::newRow("runt only") << 0u << 255 << 1 << QList<int>{0, 255};
        QTest::newRow("zero size") << 0x60100u << 0 << 1 << QList<int>{};
        QTest::newRow("address not on a page") << 0x60080u << 600 << -1 << QList<int>{};
    }

    void imageDataPages()
    {
        QFETCH(uint, address);
        QFETCH(int, size);
        QFETCH(int, result);
        QFETCH(QList<int>, programmed);

        plugAndOpen();
        enterUpdateMode();
        const QByteArray data = pattern(size, 9);
        StdoutCapture out;
        QCOMPARE(mThread->writeImageData(address,
                                         reinterpret_cast<const std::uint8_t *>(data.constData()),
                                         std::uint32_t(size), false),
                 result);
        out.text();

        QList<QByteArray> expected;
        for (int i = 0; i < programmed.size(); i += 2)
            expected << padded(longForm(0x55, programmed[i + 1], uint(programmed[i])));
        QCOMPARE(sentWith(0x55), expected);
        // Each program command follows its page's pieces and one ready poll.
        QByteArray expectedCodes;
        for (int i = 0; i < programmed.size(); i += 2) {
            const int pageSize = programmed[i + 1];
            expectedCodes += QByteArray((pageSize + 55) / 56, '\x58') + fromHex("7755");
        }
        QCOMPARE(sentCodes(), expectedCodes);
        if (result == 1)
            QCOMPARE(flashAt(mDevice, address, size), data);
        QVERIFY(noProtocolErrors());
    }

    // --- progress ---

    void progressOfASmallImage_data()
    {
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("expected");

        // Fourteen pages: steps of 50/15 in single precision, which truncate differently from
        // double precision at 9 (first half) and at 3 and 12 (second half).
        const QList<int> firstHalf{0, 3, 6, 10, 13, 16, 20, 23, 26, 30, 33, 36, 40, 43};
        const QList<int> secondHalf{50, 53, 56, 59, 63, 66, 70, 73, 76, 80, 83, 86, 90, 93};
        QTest::newRow("CPU image, 14 pages and a runt") << true << 14 * 256 + 100 << firstHalf;
        QTest::newRow("FPGA image, 14 pages and a runt") << false << 14 * 256 + 100 << secondHalf;
        QTest::newRow("FPGA image, 14 whole pages") << false << 14 * 256 << secondHalf;
        QTest::newRow("CPU image, 5 pages") << true << 5 * 256 << QList<int>{0, 8, 16, 25, 33};
        QTest::newRow("image smaller than a page") << true << 255 << QList<int>{};
    }

    void progressOfASmallImage()
    {
        QFETCH(bool, cpu);
        QFETCH(int, size);
        QFETCH(QList<int>, expected);

        plugAndOpen();
        QVERIFY(
            load(writeFile(QStringLiteral("small"), cpu ? cpuImage(size) : fpgaImage(size)), cpu));
        if (!cpu)
            enterUpdateMode();
        QVERIFY(runPass());
        QCOMPARE(progress(), expected);
        QCOMPARE(outcomes(), (QList<Outcome>{{cpu ? "CPU" : "FPGA", 1}}));
        QVERIFY(noProtocolErrors());
    }

    void progressWhereRoundingShows_data()
    {
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<QList<int>>("expected"); // values after pages 31, 62, 93 and 124

        // With 154 pages, a double-precision step or sum changes one of these four values.
        QTest::newRow("CPU image") << true << QList<int>{9, 19, 29, 40};
        QTest::newRow("FPGA image") << false << QList<int>{60, 70, 79, 89};
    }

    void progressWhereRoundingShows()
    {
        QFETCH(bool, cpu);
        QFETCH(QList<int>, expected);

        plugAndOpen();
        const int size = 154 * 256;
        QVERIFY(load(writeFile(QStringLiteral("rounding"), cpu ? cpuImage(size) : fpgaImage(size)),
                     cpu));
        if (!cpu)
            enterUpdateMode();
        QVERIFY(runPass());
        const QList<int> values = progress();
        QCOMPARE(values.size(), 154);
        QCOMPARE((QList<int>{values[31], values[62], values[93], values[124]}), expected);
        QCOMPARE(values.last(), cpu ? 49 : 99);
    }

    // --- whole passes ---

    void carriedImages_data()
    {
        QTest::addColumn<int>("cpuMajor");
        QTest::addColumn<bool>("oldFirmware");
        QTest::addColumn<QList<int>>("erased");

        QTest::newRow("CPU firmware 2.0: 256 KiB block, then 64 KiB sectors")
            << 2 << false << QList<int>{0, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
        QTest::newRow("CPU firmware 1.0, old erase scheme: 64 KiB sectors")
            << 1 << true
            << QList<int>{0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    }

    void carriedImages()
    {
        QFETCH(int, cpuMajor);
        QFETCH(bool, oldFirmware);
        QFETCH(QList<int>, erased);

        const int id = plugAndOpen(deviceConfig(cpuMajor, 0));
        // Old contents everywhere the images go: anything left unerased would show.
        zsim::Bus::instance().withDevice(id, [](zsim::DeviceModel &m) {
            std::fill_n(m.flash().begin(), 0x140000, std::uint8_t{0x00});
        });
        mThread->setCpuImagePath(kCarriedCpu);
        mThread->setFpgaImagePath(kCarriedFpga);
        mThread->setOldFirmware(oldFirmware);

        QVERIFY(load(kCarriedCpu, true));
        QVERIFY(runPass());
        const QList<int> cpuProgress = progress();
        QVERIFY(load(kCarriedFpga, false));
        QVERIFY(runPass());
        const QList<int> all = progress();
        const QList<int> fpgaProgress = all.mid(cpuProgress.size());

        QCOMPARE(outcomes(), (QList<Outcome>{{"CPU", 1}, {"FPGA", 1}}));
        QCOMPARE(cpuProgress.size(), 703);
        QCOMPARE(cpuProgress.first(), 0);
        QCOMPARE(cpuProgress.last(), 49);
        QCOMPARE(fpgaProgress.size(), 3138);
        QCOMPARE(fpgaProgress.first(), 50);
        QCOMPARE(fpgaProgress.last(), 99);
        QVERIFY(std::is_sorted(all.begin(), all.end()));

        const QByteArray cpu = readAll(kCarriedCpu);
        const QByteArray fpga = readAll(kCarriedFpga);
        const QByteArray fpgaHeader = fromHex("aaaa0000"
                                              "00000600"
                                              "46420c00"
                                              "00000000"
                                              "eae78ddc");
        QVERIFY(flashAt(id, 0, cpu.size()) == cpu);
        QCOMPARE(flashAt(id, 0x60000, 0x100), fpgaHeader + QByteArray(0x100 - 20, '\xFF'));
        QVERIFY(flashAt(id, 0x60100, fpga.size()) == fpga);
        QCOMPARE(sentWith(0x5F), (QList<QByteArray>{padded(longForm(0x5F, 49000, 0x100)),
                                                    padded(longForm(0x5F, 16966, 0x60100))}));
        QCOMPARE(sentWith(0x14), (QList<QByteArray>{padded(longForm(0x14, 20, 0,
                                                                    fromHex("55550000"
                                                                            "00000000"
                                                                            "68bf0200"
                                                                            "00000000"
                                                                            "a6635b2e"))),
                                                    padded(longForm(0x14, 20, 0, fpgaHeader))}));
        QVERIFY(noProtocolErrors());
        zsim::Bus::instance().withDevice(id, [&](zsim::DeviceModel &m) {
            QCOMPARE(QList<int>(m.erasedSectors().begin(), m.erasedSectors().end()), erased);
            QCOMPARE(int(m.unerasedWrites()), 0);
            // After a power cycle the device runs, and reports, the new firmware.
            m.powerCycle();
            QCOMPARE(m.config().cpuMajor, std::uint16_t(1));
            QCOMPARE(m.config().cpuMinor, std::uint16_t(9));
            QCOMPARE(m.config().fpgaMajor, std::uint16_t(1));
            QCOMPARE(m.config().fpgaMinor, std::uint16_t(13));
        });
    }

    void logOfARun_data()
    {
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<bool>("oldFirmware");
        QTest::addColumn<int>("fuBusyPolls");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray cpuData = "Beginning Writing Header\n"
                                   "Finish Writing Header\n"
                                   "Beginning Writing data\n"
                                   "Write Page 0 returned with 65\n\n"
                                   "Write Page 1 returned with 65\n\n"
                                   "Write Page 2 returned with 65\n\n"
                                   "Write Page 3 returned with 65\n\n"
                                   "Write Runt Page 32 returned with 65\n\n"
                                   "Write Page 0 Success:0\n\n"
                                   "Program page: 0 size: 256 returned with 65\n\n"
                                   "Program Page 0 Success:0\n\n"
                                   "Write Runt Page 10 returned with 65\n\n"
                                   "Program page: 1 size: 10 returned with 65\n\n"
                                   "Finish Writing data\n"
                                   "Beginning Verifying data\n"
                                   "Finish Verifying data\n"
                                   "Done\n";
        QTest::newRow("CPU image") << true << false << 0
                                   << "\nProgramming CPU image\n\r\n"
                                      "Beginning Image Erasure\n"
                                      "readFlashStatus came back idle after N milliseconds\n"
                                      "Finish Image Erasure\n" +
                                          cpuData;
        QTest::newRow("CPU image, old firmware")
            << true << true << 0
            << "\nProgramming CPU image\n\r\n"
               "Beginning Image Erasure\n"
               "\n\r\n"
               "Erase sector 0 came back with 0\n"
               "readFlashStatus came back idle after N milliseconds\n"
               "Erase sector 1 came back with 0\n"
               "readFlashStatus came back idle after N milliseconds\n"
               "Finish Image Erasure\n" +
                   cpuData;
        QTest::newRow("CPU image, update mode never confirmed")
            << true << false << 1000
            << "readFUStatus timed out:-(\n\r\n"
               "FU mode enable timed out\n\r\n"
               "Could not enter firmware update mode \n\r\n"
               "\nProgramming CPU image\n\r\n"
               "Beginning Image Erasure\n"
               "readFlashStatus came back idle after N milliseconds\n"
               "Finish Image Erasure\n" +
                   cpuData;
        QTest::newRow("FPGA image")
            << false << false << 0
            << QByteArray("\nProgramming FPGA image\n\r\n"
                          "readFlashStatus came back idle after N "
                          "milliseconds\n"
                          "Program page: 1536 size: 20 returned with 65\n\n"
                          "Write Page 0 returned with 65\n\n"
                          "Write Page 1 returned with 65\n\n"
                          "Write Page 2 returned with 65\n\n"
                          "Write Page 3 returned with 65\n\n"
                          "Write Runt Page 32 returned with 65\n\n"
                          "Write Page 1537 Success:0\n\n"
                          "Program page: 1537 size: 256 returned with 65\n\n"
                          "Program Page 1537 Success:0\n\n"
                          "Write Runt Page 10 returned with 65\n\n"
                          "Program page: 1538 size: 10 returned with 65\n\n"
                          "Done\n");
    }

    void logOfARun()
    {
        QFETCH(bool, cpu);
        QFETCH(bool, oldFirmware);
        QFETCH(int, fuBusyPolls);
        QFETCH(QByteArray, expected);

        zsim::DeviceConfig config = deviceConfig();
        config.fuEnableBusyPolls = fuBusyPolls;
        plugAndOpen(config);
        mThread->setOldFirmware(oldFirmware);
        QVERIFY(load(writeFile(QStringLiteral("log"), cpu ? cpuImage(266) : fpgaImage(266)), cpu));
        if (!cpu)
            enterUpdateMode();
        QByteArray printed;
        QVERIFY(runPass(&printed));
        QCOMPARE(withoutTimes(printed), expected);
        // Update mode not confirmed: the pass goes on and can still succeed, without the confirm.
        QCOMPARE(outcomes(), (QList<Outcome>{{cpu ? "CPU" : "FPGA", 1}}));
        QCOMPARE(sentWith(0x46).size(), cpu && fuBusyPolls == 0 ? 1 : 0);
        QVERIFY(noProtocolErrors());
    }

    void noImageLoadedEmitsNothing()
    {
        plugAndOpen();
        QByteArray printed;
        QVERIFY(runPass(&printed));
        QCOMPARE(printed, QByteArray());
        QCOMPARE(mLog->entries(), QStringList());
        QVERIFY(sent().isEmpty());
    }

    void productPausesBetweenPages()
    {
        plugAndOpen();
        mThread->setPauses(UpdateFPGAThread::kDefaultPagePauseMs,
                           UpdateFPGAThread::kDefaultLastPagePauseMs,
                           UpdateFPGAThread::kDefaultHeaderPauseMs);
        QVERIFY(load(writeFile(QStringLiteral("pauses.bin"), fpgaImage(5 * 256 + 1)), false));
        enterUpdateMode();
        qint64 elapsed = 0;
        QVERIFY(runPass(nullptr, &elapsed));
        QCOMPARE(outcomes(), (QList<Outcome>{{"FPGA", 1}}));
        // 3 ms after the header, 2 ms after each of 5 pages, 15 ms after the last short page.
        QVERIFY2(elapsed >= 3 + 5 * 2 + 15, qPrintable(QString::number(elapsed)));
    }

    // --- waits ---

    void readyWaitPolls_data()
    {
        QTest::addColumn<int>("busyReplies");
        QTest::addColumn<int>("shortReplies");
        QTest::addColumn<int>("polls"); // passed to readyWait
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("requests");

        QTest::newRow("ready at once") << 0 << 0 << 1000 << 0 << 1;
        QTest::newRow("ready on the last permitted poll") << 998 << 0 << 1000 << 0 << 999;
        QTest::newRow("still busy after the last poll") << 999 << 0 << 1000 << -1 << 999;
        QTest::newRow("a count of 1 permits no poll") << 0 << 0 << 1 << -1 << 0;
        QTest::newRow("a cut-off reply does not count as ready") << 0 << 1 << 1000 << 0 << 2;
    }

    void readyWaitPolls()
    {
        QFETCH(int, busyReplies);
        QFETCH(int, shortReplies);
        QFETCH(int, polls);
        QFETCH(int, result);
        QFETCH(int, requests);

        zsim::DeviceConfig config = deviceConfig();
        config.fuEnableBusyPolls = busyReplies;
        plugAndOpen(config);
        // The update-mode request alone: the device then answers busy busyReplies times.
        const report::CommandReport request = report::fuModeCommand(report::FuModeRequest);
        mLink->write(0, request.bytes.data(), request.length);
        zsim::Bus::instance().clearRecord();
        zsim::Bus::instance().setShortReplies(shortReplies, 10);

        StdoutCapture out;
        QCOMPARE(mThread->readyWait(polls), result);
        QCOMPARE(out.text(),
                 result == 0 ? QByteArray() : QByteArray("readyWait timed out:-(\n\r\n"));
        QCOMPARE(sentWith(0x77).size(), requests);
        QCOMPARE(sent().size(), requests);
    }

    void updateModeWait_data()
    {
        QTest::addColumn<int>("busyReplies");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("printed");

        QTest::newRow("confirmed on the 999th poll") << 998 << 0 << QByteArray();
        QTest::newRow("not confirmed in 999 polls")
            << 999 << -1
            << QByteArray("readFUStatus timed out:-(\n\r\nFU mode enable timed out\n\r\n");
    }

    void updateModeWait()
    {
        QFETCH(int, busyReplies);
        QFETCH(int, result);
        QFETCH(QByteArray, printed);

        zsim::DeviceConfig config = deviceConfig();
        config.fuEnableBusyPolls = busyReplies;
        plugAndOpen(config);
        StdoutCapture out;
        QCOMPARE(mThread->enableFUMode(), result);
        QCOMPARE(out.text(), printed);
        QCOMPARE(sentWith(0x77).size(), 999);
        QCOMPARE(sentWith(0x0A), QList<QByteArray>{padded(longForm(0x0A, 17, 0x1092, kFuKey))});
        QCOMPARE(sentWith(0x46), result == 0
                                     ? QList<QByteArray>{padded(longForm(0x46, 17, 0x1092, kFuKey))}
                                     : QList<QByteArray>{});
    }

    void flashStatusWait_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("result");

        QTest::newRow("idle") << "idle" << 0;
        QTest::newRow("busy for the whole time") << "busy" << -1;
        QTest::newRow("gone") << "gone" << -1;
    }

    void flashStatusWait()
    {
        QFETCH(QString, device);
        QFETCH(int, result);

        const int id = plugAndOpen();
        if (device == "busy")
            zsim::Bus::instance().withDevice(id,
                                             [](zsim::DeviceModel &m) { m.setBusyForever(true); });
        else if (device == "gone")
            zsim::Bus::instance().unplug(id);
        constexpr int kLimitMs = 100;
        QElapsedTimer timer;
        timer.start();
        StdoutCapture out;
        QCOMPARE(mThread->readFlashStatus(kLimitMs), result);
        const qint64 elapsed = timer.elapsed();
        const QString printed = QString::fromUtf8(out.text());

        const QRegularExpression line(result == 0
                                          ? QStringLiteral("^readFlashStatus came back idle after "
                                                           "(\\d+) milliseconds\n$")
                                          : QStringLiteral("^readFlashStatus timed out after "
                                                           "(\\d+) milliseconds\n$"));
        const auto match = line.match(printed);
        QVERIFY2(match.hasMatch(), qPrintable(printed));
        const int logged = match.captured(1).toInt();
        QVERIFY(logged <= elapsed);
        if (device == "busy")
            QVERIFY(logged >= kLimitMs);
        else
            QVERIFY2(elapsed < kLimitMs, qPrintable(QString::number(elapsed)));
    }

    // --- stop requests and repeated runs ---

    void stopBeforeTheErase()
    {
        // The device takes its time to confirm update mode, so the stop lands in that wait.
        zsim::DeviceConfig config = deviceConfig();
        config.fuEnableBusyPolls = 1000000;
        plugAndOpen(config);
        zsim::Bus::instance().setLatency(std::chrono::milliseconds(1));
        QVERIFY(load(writeFile(QStringLiteral("stop.img"), cpuImage(1000)), true));

        StdoutCapture out;
        mThread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sentCodes().contains('\x77'), 5000);
        QElapsedTimer timer;
        timer.start();
        mThread->EndUpdate();
        QVERIFY(mThread->wait(5000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::sendPostedEvents();
        const QByteArray printed = out.text();

        QCOMPARE(outcomes(), (QList<Outcome>{{"CPU", 0}}));
        QVERIFY(!printed.contains("Beginning Image Erasure"));
        QVERIFY(printed.endsWith("\nProgramming CPU image\n\r\n"));
        const QByteArray codes = sentCodes();
        QCOMPARE(codes.at(0), '\x0A');
        QCOMPARE(codes.mid(1), QByteArray(codes.size() - 1, '\x77'));
        QVERIFY(codes.size() < 1000);
        QVERIFY(progress().isEmpty());
    }

    void stopDuringTheData()
    {
        plugAndOpen();
        QVERIFY(load(writeFile(QStringLiteral("stop.img"), cpuImage(10 * 256)), true));
        connect(
            mThread, &UpdateFPGAThread::PostUpdateProgressAmount, mThread,
            [this](int) { mThread->EndUpdate(); }, Qt::DirectConnection);
        QVERIFY(runPass());
        QCOMPARE(outcomes(), (QList<Outcome>{{"CPU", 0}}));
        QCOMPARE(progress().size(), 1);
        QCOMPARE(sentWith(0x55).size(), 1);
        QVERIFY(sentWith(0x5F).isEmpty());
    }

    void stopRequestedBeforeTheRunIsCleared()
    {
        plugAndOpen();
        QVERIFY(load(writeFile(QStringLiteral("cleared.img"), cpuImage(300)), true));
        mThread->EndUpdate();
        QVERIFY(runPass());
        QCOMPARE(outcomes(), (QList<Outcome>{{"CPU", 1}}));
        QCOMPARE(sentCodes().left(1), fromHex("0a"));
    }

    void runsAgainAfterAFailedPass()
    {
        plugAndOpen();
        const QByteArray image = cpuImage(700);
        QVERIFY(load(writeFile(QStringLiteral("again.img"), image), true));
        zsim::Bus::instance().setDropReplies(-1);
        QVERIFY(runPass());
        zsim::Bus::instance().setDropReplies(0);
        QVERIFY(runPass());
        QCOMPARE(outcomes(), (QList<Outcome>{{"CPU", 0}, {"CPU", 1}}));
        QCOMPARE(flashAt(mDevice, 0, image.size()), image);
    }

    // --- faults ---

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("value");   // reports before an unplug, or a count of failures
        QTest::addColumn<int>("trigger"); // 0: before the CPU pass; n: at the n-th progress value
        QTest::addColumn<int>("readTimeoutMs");
        QTest::addColumn<QString>("failingPass"); // empty: both passes succeed

        // A good run of the two small images below sends 25 reports in the CPU pass (update
        // mode 3, erase 2, header 1, pages 7 + 7 + 4, verify 1) and 16 in the FPGA pass
        // (erase 2, header 3, pages 7 + 3, verify 1).
        QTest::newRow("no fault") << "none" << 0 << 0 << 150 << QString();
        for (int n : {1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 18, 20, 22, 23, 24})
            QTest::addRow("unplugged after report %d", n) << "unplug" << n << 0 << 150 << "CPU";
        for (int n : {25, 26, 27, 28, 29, 30, 34, 36, 37, 39, 40})
            QTest::addRow("unplugged after report %d", n) << "unplug" << n << 0 << 150 << "FPGA";
        QTest::newRow("silent from the start") << "silent" << 0 << 0 << 1000 << "CPU";
        QTest::newRow("silent after the first CPU page") << "silent" << 0 << 1 << 1000 << "CPU";
        QTest::newRow("silent after the first FPGA page") << "silent" << 0 << 3 << 1000 << "FPGA";
        QTest::newRow("replies cut short") << "short" << 0 << 0 << 1000 << "CPU";
        QTest::newRow("busy forever from the start") << "busy" << 0 << 0 << 150 << "CPU";
        QTest::newRow("busy forever after the first CPU page") << "busy" << 0 << 1 << 150 << "CPU";
        QTest::newRow("busy forever in the FPGA pass") << "busy" << 0 << 3 << 150 << "FPGA";
        QTest::newRow("3 failed writes, then recovery")
            << "write failures" << 3 << 1 << 150 << QString();
        QTest::newRow("9 failed writes: the last try succeeds")
            << "write failures" << 9 << 1 << 150 << QString();
        QTest::newRow("10 failed writes: every try fails")
            << "write failures" << 10 << 1 << 150 << "CPU";
        QTest::newRow("the last short page is not retried")
            << "write failures" << 1 << 2 << 150 << "CPU";
        QTest::newRow("writes fail for good in the CPU pass")
            << "write failures" << -1 << 1 << 150 << "CPU";
        QTest::newRow("writes fail for good in the FPGA pass")
            << "write failures" << -1 << 3 << 150 << "FPGA";
        // One report that does not go out; value: occurrence * 256 + command code.
        QTest::newRow("the CPU erase command is not sent")
            << "lost report" << 0x150 << 0 << 150 << "CPU";
        QTest::newRow("the FPGA erase command is not sent")
            << "lost report" << 0x250 << 0 << 150 << "FPGA";
        QTest::newRow("the CPU header is not sent") << "lost report" << 0x114 << 0 << 150 << "CPU";
        QTest::newRow("the FPGA header is not sent")
            << "lost report" << 0x214 << 0 << 150 << "FPGA";
        QTest::newRow("the FPGA header is not programmed")
            << "lost report" << 0x455 << 0 << 150 << "FPGA";
        QTest::newRow("a page piece is not sent: retried")
            << "lost report" << 0x158 << 0 << 150 << QString();
        QTest::newRow("a page program is not sent: retried")
            << "lost report" << 0x155 << 0 << 150 << QString();
        QTest::newRow("the last short page's program is not sent")
            << "lost report" << 0x355 << 0 << 150 << "CPU";
        QTest::newRow("the CPU verify is not sent") << "lost report" << 0x15F << 0 << 150 << "CPU";
        QTest::newRow("the FPGA verify is not sent")
            << "lost report" << 0x25F << 0 << 150 << "FPGA";
        QTest::newRow("the update-mode confirm is not sent: the pass goes on")
            << "lost report" << 0x146 << 0 << 150 << QString();
        QTest::newRow("a status request is not sent: the poll is repeated")
            << "lost report" << 0x177 << 0 << 150 << QString();
        QTest::newRow("three status requests in a row are not sent: device gone")
            << "lost requests" << 0x177 << 0 << 150 << "CPU";
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(int, value);
        QFETCH(int, trigger);
        QFETCH(int, readTimeoutMs);
        QFETCH(QString, failingPass);

        auto &bus = zsim::Bus::instance();
        const int id = plugAndOpen();
        mLink->setReadTimeout(readTimeoutMs);
        // A flash that never gets idle costs this per erased sector; the product waits 4 s.
        mThread->setEraseTimeout(50);
        const QByteArray cpu = cpuImage(2 * 256 + 100);
        const QByteArray fpga = fpgaImage(256 + 30);
        mThread->setCpuImagePath(writeFile(QStringLiteral("fault.img"), cpu));
        mThread->setFpgaImagePath(writeFile(QStringLiteral("fault.bin"), fpga));

        const std::function<void()> inject = [&bus, id, fault, value] {
            if (fault == "unplug")
                bus.setUnplugAfterWrites(id, value);
            else if (fault == "silent")
                bus.setDropReplies(-1);
            else if (fault == "short")
                bus.setShortReplies(-1, 10);
            else if (fault == "busy")
                bus.withDevice(id, [](zsim::DeviceModel &m) { m.setBusyForever(true); });
            else if (fault == "write failures")
                bus.setWriteFailures(value);
            else if (fault == "lost requests")
                bus.setWriteHook(
                    [&bus, value, seen = std::make_shared<int>(0)](const zsim::Report &report) {
                        if (report[0] == (value & 0xFF) && ++*seen == value >> 8)
                            bus.setWriteFailures(3);
                    });
            else if (fault == "lost report")
                bus.setWriteHook(
                    [&bus, value, seen = std::make_shared<int>(0)](const zsim::Report &report) {
                        if (report[0] == (value & 0xFF) && ++*seen == value >> 8)
                            bus.setWriteFailures(1);
                    });
        };
        int progressSeen = 0;
        if (trigger == 0)
            inject();
        else
            connect(
                mThread, &UpdateFPGAThread::PostUpdateProgressAmount, mThread,
                [&progressSeen, trigger, inject](int) {
                    if (++progressSeen == trigger)
                        inject();
                },
                Qt::DirectConnection);

        QList<qint64> durations;
        for (bool cpuPass : {true, false}) {
            QVERIFY(mThread->selectImage(cpuPass));
            qint64 elapsed = 0;
            QVERIFY(runPass(nullptr, &elapsed, kFaultBoundMs + 5000));
            durations << elapsed;
            QVERIFY(!outcomes().isEmpty());
            if (outcomes().last().result != 1)
                break;
        }

        QList<Outcome> expected{{"CPU", 1}, {"FPGA", 1}};
        if (failingPass == "CPU")
            expected = {{"CPU", 0}};
        else if (failingPass == "FPGA")
            expected = {{"CPU", 1}, {"FPGA", 0}};
        QCOMPARE(outcomes(), expected);
        for (qint64 ms : durations)
            QVERIFY2(ms <= kFaultBoundMs, qPrintable(QStringLiteral("a pass took %1 ms").arg(ms)));

        if (fault == "none") {
            QCOMPARE(sent().size(), 41);
            QCOMPARE(sentCodes().left(26), fromHex("0a7746"
                                                   "50aa"
                                                   "14"
                                                   "5858585858"
                                                   "7755"
                                                   "5858585858"
                                                   "7755"
                                                   "5858"
                                                   "7755"
                                                   "5f"
                                                   "50"));
        }
        if (failingPass.isEmpty()) {
            QCOMPARE(flashAt(id, 0, cpu.size()), cpu);
            QCOMPARE(flashAt(id, 0x60100, fpga.size()), fpga);
            QVERIFY(noProtocolErrors());
        }
    }

    void silentDuringAManySectorErase_data()
    {
        QTest::addColumn<bool>("oldFirmware");

        QTest::newRow("13 sectors") << false;
        QTest::newRow("14 sectors, old firmware") << true;
    }

    void silentDuringAManySectorErase()
    {
        QFETCH(bool, oldFirmware);
        plugAndOpen();
        mLink->setReadTimeout(WinHID::kDefaultReadTimeoutMs);
        mThread->setOldFirmware(oldFirmware);
        QVERIFY(load(kCarriedFpga, false));
        enterUpdateMode();
        zsim::Bus::instance().setDropReplies(-1);

        qint64 elapsed = 0;
        QVERIFY(runPass(nullptr, &elapsed, kFaultBoundMs + 5000));
        QCOMPARE(outcomes(), (QList<Outcome>{{"FPGA", 0}}));
        QVERIFY2(elapsed <= kFaultBoundMs, qPrintable(QString::number(elapsed)));
        // The first sector's wait finds the device silent; no further sector is tried.
        QCOMPARE(sentCodes(), fromHex("50aa"));
    }

    // --- serial number ---

    void serialNumber_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QByteArray>("codes");

        QTest::newRow("ten characters")
            << QByteArray("00K1234567") << "device" << 0 << QByteArray() << fromHex("f577");
        QTest::newRow("fewer characters")
            << QByteArray("ABC") << "device" << 0 << QByteArray() << fromHex("f577");
        QTest::newRow("device reports failure")
            << QByteArray("00K1234567") << "refuses" << -1
            << QByteArray("Device reported failure to set serial number\n") << fromHex("f577");
        QTest::newRow("no device open")
            << QByteArray("00K1234567") << "closed" << -1
            << QByteArray("ProgramSerialNumber writeCmd failed\n") << QByteArray();
        QTest::newRow("longer than 10")
            << QByteArray("00K12345678") << "device" << -1
            << QByteArray("Invalid serial number length, expected <=10 alpha numeric chars\n")
            << QByteArray();
        QTest::newRow("device does not answer")
            << QByteArray("00K1234567") << "silent" << -1
            << QByteArray(
                   "readCurrentReport timed out\n\r\nProgramSerialNumber read report failed\n")
            << fromHex("f577");
    }

    void serialNumber()
    {
        QFETCH(QByteArray, serial);
        QFETCH(QString, scenario);
        QFETCH(int, result);
        QFETCH(QByteArray, printed);
        QFETCH(QByteArray, codes);

        auto &bus = zsim::Bus::instance();
        int id = 0;
        if (scenario == "closed")
            id = bus.plug(deviceConfig());
        else
            id = plugAndOpen();
        if (scenario == "refuses")
            bus.withDevice(id, [](zsim::DeviceModel &m) { m.setSerialWriteFails(true); });
        else if (scenario == "silent")
            bus.setDropReplies(-1);

        StdoutCapture out;
        QCOMPARE(mThread->ProgramSerialNumber(serial), result);
        QCOMPARE(out.text(), printed);
        QCOMPARE(sentCodes(), codes);
        if (codes.isEmpty())
            return;
        QCOMPARE(sent().at(0), padded(longForm(0xF5, serial.size(), 0, serial)));
        QCOMPARE(sent().at(1), kStatusReport);
        bus.withDevice(id, [&](zsim::DeviceModel &m) {
            const auto stored = m.serial();
            const QByteArray expected =
                scenario == "refuses" ? QByteArray("00K1000001") : serial.leftJustified(10, '\0');
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(stored.data()), 10), expected);
        });
    }
};

QTEST_GUILESS_MAIN(TestUpdateFPGAThread)
#include "tst_updatefpgathread.moc"
