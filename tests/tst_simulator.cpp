// The simulated Z-PORT must be strict: a malformed command is not carried out and shows up as
// a protocol error, so that a fault in the updater fails a test.
#include "SimTestSupport.h"

#include "EnvironmentConfig.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <map>

using namespace simtest;
using zsim::Clock;
using zsim::DeviceModel;
using zsim::Report;

namespace {

const QByteArray kFuKey("Kestrel-Overhang", 17);
const QByteArray kEraseKey("B-Red-Kite", 11);

Report fuRequest()
{
    return command(longForm(0x0A, 17, 0x1092, kFuKey));
}
Report status()
{
    return command(QByteArray(1, '\x77'));
}
Report flashStatus()
{
    return command(QByteArray(1, '\xAA'));
}

std::uint32_t statusWord(const Report &r)
{
    return std::uint32_t(r[4]) | std::uint32_t(r[5]) << 8 | std::uint32_t(r[6]) << 16 |
           std::uint32_t(r[7]) << 24;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void malformedCommandsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<bool>("inUpdateMode");
        QTest::addColumn<QString>("error");

        QTest::newRow("wrong update-mode key")
            << longForm(0x0A, 17, 0x1092, QByteArray("Kestrel-Overhanf", 17)) << false
            << "wrong key";
        QTest::newRow("update-mode key without its 0 byte")
            << longForm(0x0A, 16, 0x1092, QByteArray("Kestrel-Overhang")) << false << "length 16";
        QTest::newRow("update-mode wrong argument")
            << longForm(0x0A, 17, 0x1093, kFuKey) << false << "argument";
        QTest::newRow("confirm without request")
            << longForm(0x46, 17, 0x1092, kFuKey) << false << "confirm without a request";
        QTest::newRow("erase outside update mode")
            << longForm(0x50, 11, 0, kEraseKey) << false << "outside update mode";
        QTest::newRow("erase with wrong key")
            << longForm(0x50, 11, 0, QByteArray("B-Red-Kitf", 11)) << true << "wrong key";
        QTest::newRow("page data outside update mode")
            << longForm(0x58, 4, 0, "abcd") << false << "outside update mode";
        QTest::newRow("piece beyond the page buffer")
            << longForm(0x58, 56, 224, QByteArray(56, 'x')) << true << "beyond the page buffer";
        QTest::newRow("piece longer than 56")
            << longForm(0x58, 57, 0, QByteArray(56, 'x')) << true << "length 57";
        QTest::newRow("garbage behind the payload")
            << longForm(0x58, 4, 0, "abcdX") << true << "byte 12";
        QTest::newRow("reserved byte set")
            << QByteArray("\x58\x00\x01\x00\x00\x00\x00\x01z", 9) << true << "reserved byte";
        QTest::newRow("program outside update mode")
            << longForm(0x55, 256, 3, QByteArray()) << false << "outside update mode";
        QTest::newRow("program more than a page")
            << longForm(0x55, 257, 3, QByteArray()) << true << "length 257";
        QTest::newRow("header with argument")
            << longForm(0x14, 20, 1, QByteArray(20, 'h')) << true << "argument not 0";
        QTest::newRow("status request with garbage")
            << QByteArray("\x77\x01", 2) << true << "byte 1";
        QTest::newRow("serial number longer than 10")
            << longForm(0xF5, 11, 0, QByteArray(11, '1')) << false << "length 11";
        QTest::newRow("unknown command")
            << QByteArray("\x42", 1) << false << "unknown command 0x42";
    }

    void malformedCommandsAreRefused()
    {
        QFETCH(QByteArray, report);
        QFETCH(bool, inUpdateMode);
        QFETCH(QString, error);

        DeviceModel device{zsim::DeviceConfig()};
        const auto now = Clock::now();
        if (inUpdateMode)
            device.handle(fuRequest(), now);
        const auto flashBefore = device.flash();
        const auto bufferBefore = device.pageBuffer();
        const bool fuBefore = device.fuMode();

        QVERIFY(device.handle(command(report), now).empty());
        QCOMPARE(int(device.protocolErrors().size()), 1);
        QVERIFY2(QString::fromStdString(device.protocolErrors()[0]).contains(error),
                 device.protocolErrors()[0].c_str());
        QVERIFY(device.flash() == flashBefore);
        QVERIFY(device.pageBuffer() == bufferBefore);
        QCOMPARE(device.fuMode(), fuBefore);
    }

    void statusReplyCarriesTheDeviceFields()
    {
        zsim::DeviceConfig config;
        config.cpuMajor = 1;
        config.cpuMinor = 9;
        config.fpgaMajor = 1;
        config.fpgaMinor = 13;
        config.serial = "00K1234567";
        config.userFields = {{6, 1, 2, 3}};
        DeviceModel device(config);
        const auto now = Clock::now();
        QCOMPARE(bytes(device.handle(status(), now).at(0)).mid(0, 35),
                 fromHex("0000000000000000000000000100090001000d0000") + QByteArray("00K1234567") +
                     fromHex("06010203"));
        device.handle(fuRequest(), now);
        const Report reply = device.handle(status(), now).at(0);
        QCOMPARE(int(reply[1]), 0x0A);
        QCOMPARE(statusWord(reply), 0u);
        const Report flash = device.handle(flashStatus(), now).at(0);
        QCOMPARE(int(flash[1]), 0xAA);
    }

    void updateModeTakesConfiguredPolls()
    {
        zsim::DeviceConfig config;
        config.fuEnableBusyPolls = 2;
        DeviceModel device(config);
        const auto now = Clock::now();
        device.handle(fuRequest(), now);
        QCOMPARE(statusWord(device.handle(status(), now).at(0)), 0x80000000u);
        QCOMPARE(statusWord(device.handle(status(), now).at(0)), 0x80000000u);
        QCOMPARE(statusWord(device.handle(status(), now).at(0)), 0u);
        QVERIFY(device.handle(command(longForm(0x46, 17, 0x1092, kFuKey)), now).empty());
        QVERIFY(device.protocolErrors().empty());
    }

    void eraseAndProgramAPage()
    {
        DeviceModel device{zsim::DeviceConfig()};
        auto now = Clock::now();
        device.setBusyTimes(std::chrono::milliseconds(50), std::chrono::milliseconds(5));
        device.handle(fuRequest(), now);
        // Sector 1 (64 KiB units) holds old data: 0x00 everywhere.
        std::fill_n(device.flash().begin() + 0x10000, 0x10000, std::uint8_t{0});
        device.handle(command(longForm(0x50, 11, 1, kEraseKey)), now);
        QCOMPARE(device.erasedSectors(), std::vector<std::uint32_t>{1});
        QCOMPARE(statusWord(device.handle(flashStatus(), now).at(0)), 0x80000000u);
        // Programming while the erase runs is a host error.
        device.handle(command(longForm(0x55, 256, 0x100, QByteArray())), now);
        QCOMPARE(int(device.protocolErrors().size()), 1);
        now += std::chrono::milliseconds(60);
        QCOMPARE(statusWord(device.handle(flashStatus(), now).at(0)), 0u);

        QByteArray page(256, '\0');
        for (int i = 0; i < 256; ++i)
            page[i] = char(i);
        for (int offset = 0; offset < 256; offset += 56) {
            const int length = std::min(56, 256 - offset);
            device.handle(command(longForm(0x58, length, uint(offset), page.mid(offset, length))),
                          now);
        }
        device.handle(command(longForm(0x55, 256, 0x100, QByteArray())), now);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(device.flash().data()) + 0x10000, 256),
                 page);
        QCOMPARE(int(device.unerasedWrites()), 0);
        QCOMPARE(int(device.protocolErrors().size()), 1);

        // The same page again without an erase: NOR flash can only clear bits.
        now += std::chrono::milliseconds(10);
        device.handle(command(longForm(0x58, 1, 0, QByteArray(1, '\x0F'))), now);
        device.handle(command(longForm(0x55, 1, 0x100, QByteArray())), now);
        QCOMPARE(int(device.flash()[0x10000]), 0x00);
        QCOMPARE(int(device.unerasedWrites()), 1);
    }

    void headerGoesIntoThePageBuffer()
    {
        DeviceModel device{zsim::DeviceConfig()};
        const auto now = Clock::now();
        device.handle(fuRequest(), now);
        const QByteArray header = fromHex("aaaa0000"
                                          "00000600"
                                          "46420c00"
                                          "00000000"
                                          "78563412");
        device.handle(command(longForm(0x14, 20, 0, header)), now);
        device.handle(command(longForm(0x55, 20, 1536, QByteArray())), now);
        const auto &flash = device.flash();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(flash.data()) + 0x60000, 20), header);
        QCOMPARE(int(flash[0x60000 + 20]), 0xFF);
        QVERIFY(device.protocolErrors().empty());
    }

    void verifyIsRecorded()
    {
        DeviceModel device{zsim::DeviceConfig()};
        const auto now = Clock::now();
        device.handle(fuRequest(), now);
        device.handle(command(longForm(0x5F, 0x4268, 0x60100, QByteArray())), now);
        QCOMPARE(int(device.verifyRequests().size()), 1);
        QCOMPARE(device.verifyRequests()[0].address, 0x60100u);
        QCOMPARE(int(device.verifyRequests()[0].length), 0x4268);
    }

    void serialNumberAndSettings()
    {
        DeviceModel device{zsim::DeviceConfig()};
        const auto now = Clock::now();
        device.handle(command(longForm(0xF5, 10, 0, "00K7654321")), now);
        device.handle(command(fromHex("f006010203")), now);
        Report reply = device.handle(status(), now).at(0);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&reply[21]), 14),
                 QByteArray("00K7654321") + fromHex("06010203"));
        QCOMPARE(statusWord(reply), 0u);

        device.setSerialWriteFails(true);
        device.handle(command(longForm(0xF5, 10, 0, "00K1111111")), now);
        reply = device.handle(status(), now).at(0);
        QCOMPARE(statusWord(reply), 0x00010000u);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&reply[21]), 10),
                 QByteArray("00K7654321"));
        QVERIFY(device.protocolErrors().empty());
    }

    void logLinesThenEndMarker()
    {
        zsim::DeviceConfig config;
        config.logLines = {"boot ok", std::string(70, 'x')};
        DeviceModel device(config);
        const auto now = Clock::now();
        const Report logRequest = command(QByteArray(1, '\xF1'));
        QCOMPARE(bytes(device.handle(logRequest, now).at(0)), padded("boot ok"));
        QCOMPARE(bytes(device.handle(logRequest, now).at(0)), QByteArray(64, 'x'));
        QCOMPARE(bytes(device.handle(logRequest, now).at(0)), padded(fromHex("00ffff")));
        // The next series starts from the beginning again.
        QCOMPARE(bytes(device.handle(logRequest, now).at(0)), padded("boot ok"));
    }

    void powerCycleLeavesUpdateMode()
    {
        DeviceModel device{zsim::DeviceConfig()};
        const auto now = Clock::now();
        device.handle(fuRequest(), now);
        QVERIFY(device.fuMode());
        device.powerCycle();
        QVERIFY(!device.fuMode());
        device.handle(command(longForm(0x50, 11, 0, kEraseKey)), now);
        QCOMPARE(int(device.protocolErrors().size()), 1);
    }

    void transportFaults()
    {
        auto &bus = zsim::Bus::instance();
        bus.reset();
        const int id = bus.plug();
        hid_device_ *handle = bus.open(0x3A7C, 0x15AD);
        QVERIFY(handle != nullptr);
        unsigned char report[65] = {0, 0x77};
        unsigned char reply[65] = {};

        // A report ID the device does not use.
        report[0] = 2;
        QCOMPARE(bus.write(handle, report, 65), -1);
        QCOMPARE(int(bus.protocolErrors().size()), 1);
        report[0] = 0;

        // A short report is padded and still counts 65.
        QCOMPARE(bus.write(handle, report, 2), 65);
        QCOMPARE(bus.read(handle, reply, 65, 100), 64);

        bus.setWriteFailures(2);
        QCOMPARE(bus.write(handle, report, 65), -1);
        QCOMPARE(bus.write(handle, report, 65), -1);
        QCOMPARE(bus.write(handle, report, 65), 65);
        QCOMPARE(bus.read(handle, reply, 65, 100), 64);

        bus.setDropReplies(1);
        QCOMPARE(bus.write(handle, report, 65), 65);
        QCOMPARE(bus.read(handle, reply, 65, 50), 0);

        bus.setUnplugAfterWrites(id, 1);
        QCOMPARE(bus.write(handle, report, 65), 65);
        QCOMPARE(bus.read(handle, reply, 65, 50), -1);
        QCOMPARE(bus.write(handle, report, 65), -1);
        bus.close(handle);
        QCOMPARE(bus.openHandleCount(), 0);
    }

    void latencyIsModelled()
    {
        auto &bus = zsim::Bus::instance();
        bus.reset();
        bus.plug();
        bus.setLatency(std::chrono::milliseconds(20));
        hid_device_ *handle = bus.open(0x3A7C, 0x15AD);
        unsigned char report[65] = {0, 0x77};
        unsigned char reply[65] = {};
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(bus.write(handle, report, 65), 65);
        QCOMPARE(bus.read(handle, reply, 65, 1000), 64);
        QVERIFY(timer.elapsed() >= 39);
        bus.close(handle);
    }

    void environmentDescribesTheDevice()
    {
        const std::map<std::string, std::string> env = {
            {"ZPORT_SIM_VARIANT", "sdi"},         {"ZPORT_SIM_CPU_VERSION", "1.7"},
            {"ZPORT_SIM_FPGA_VERSION", "1.11"},   {"ZPORT_SIM_SERIAL", "00K5555555"},
            {"ZPORT_SIM_USER_FIELDS", "6,1,2,3"}, {"ZPORT_SIM_LOG_LINES", "one|two"},
            {"ZPORT_SIM_ERASE_BUSY_MS", "40"},    {"ZPORT_SIM_PROGRAM_BUSY_US", "300"}};
        const auto config =
            zsim::deviceConfigFromEnvironment([&env](const char *name) -> const char * {
                auto it = env.find(name);
                return it == env.end() ? nullptr : it->second.c_str();
            });
        QCOMPARE(int(config.productId), 0x15AE);
        QCOMPARE(int(config.cpuMajor), 1);
        QCOMPARE(int(config.cpuMinor), 7);
        QCOMPARE(int(config.fpgaMinor), 11);
        QCOMPARE(QString::fromStdString(config.serial), QStringLiteral("00K5555555"));
        QCOMPARE(int(config.userFields[0]), 6);
        QCOMPARE(int(config.userFields[3]), 3);
        QCOMPARE(int(config.logLines.size()), 2);
        QCOMPARE(config.eraseBusy, std::chrono::microseconds(40000));
        QCOMPARE(config.programBusy, std::chrono::microseconds(300));
    }

    void controlFileDrivesTheBus()
    {
        auto &bus = zsim::Bus::instance();
        bus.reset();
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        QFile(path).open(QIODevice::WriteOnly);
        const auto send = [&path](const char *command) {
            QFile file(path);
            file.open(QIODevice::Append);
            file.write(QByteArray(command) + '\n');
        };
        const int id = bus.plug();
        send("unplug"); // written before the simulator looks: not its business
        bus.setControlFile(path.toStdString());
        bus.setPowerCycleOffTime(std::chrono::milliseconds(50));
        bus.pollControlFile();
        QVERIFY(bus.isPlugged(id));

        send("unplug");
        bus.pollControlFile();
        QVERIFY(!bus.isPlugged(id));
        send("plug");
        send("plug-second");
        bus.pollControlFile();
        QVERIFY(bus.isPlugged(id));
        QCOMPARE(int(bus.deviceIds().size()), 2);
        send("unplug-second");
        bus.pollControlFile();
        QVERIFY(!bus.isPlugged(bus.deviceIds().back()));

        // A power cycle keeps the device off for a while, then it comes back by itself.
        send("power-cycle");
        bus.pollControlFile();
        QVERIFY(!bus.isPlugged(id));
        QTRY_VERIFY_WITH_TIMEOUT((bus.pollControlFile(), bus.isPlugged(id)), 2000);

        QFile status(path + ".status");
        QVERIFY(status.open(QIODevice::ReadOnly));
        QVERIFY(status.readAll().startsWith(
            QStringLiteral("device %1: pid 0x15AD plugged").arg(id).toLatin1()));
        bus.setControlFile(std::string());
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
