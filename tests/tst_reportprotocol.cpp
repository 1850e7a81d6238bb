#include "SimTestSupport.h"
#include "StdoutCapture.h"

#include "device/DiagnosticLog.h"
#include "device/ReportProtocol.h"
#include "device/UsbIds.h"
#include "device/WinHID.h"

#include <QElapsedTimer>

#include <QtTest>
#include <cstring>

using namespace simtest;

class TestReportProtocol : public QObject
{
    Q_OBJECT

private:
    // A link with the simulated device open and update mode requested, ready for status polls.
    int openDeviceRequestingUpdateMode(WinHID &link, int fuEnableBusyPolls)
    {
        zsim::DeviceConfig config;
        config.fuEnableBusyPolls = fuEnableBusyPolls;
        const int id = zsim::Bus::instance().plug(config);
        if (link.open(zport::kVendorId, zport::kProductIdHdmi) != 0)
            return -1;
        const auto request = report::fuModeCommand(report::FuModeRequest);
        link.write(0, request.bytes.data(), request.length);
        zsim::Bus::instance().clearRecord();
        return id;
    }

private slots:
    void init()
    {
        zsim::Bus::instance().reset();
        std::fill(std::begin(currentReport), std::end(currentReport), 0);
    }

    void bigEndianHelpers()
    {
        std::uint8_t buffer[6] = {};
        report::putBigEndian16(buffer, 0x0011);
        report::putBigEndian32(buffer + 2, 0x00001092);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), 6), fromHex("001100001092"));
        report::putBigEndian32(buffer + 2, 0xA1B2C3D4);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer + 2), 4), fromHex("a1b2c3d4"));
    }

    void longCommand_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<uint>("argument");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("nullPayload");
        QTest::addColumn<int>("announced");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("update-mode confirm, 25 bytes")
            << 0x46 << 0x1092u << QByteArray("Kestrel-Overhang", 17) << false << 17
            << fromHex("4600110000109200") + QByteArray("Kestrel-Overhang", 17);
        QTest::newRow("length 0: header only")
            << 0x5F << 0x60100u << QByteArray() << false << 0 << fromHex("5f00000006010000");
        QTest::newRow("null payload: announced bytes stay 0")
            << 0xF5 << 0u << QByteArray() << true << 10
            << fromHex("f5000a0000000000") + QByteArray(10, '\0');
        QTest::newRow("56 bytes, the most that fits")
            << 0x58 << 200u << QByteArray(56, 'x') << false << 56
            << fromHex("580038000000c800") + QByteArray(56, 'x');
    }

    void longCommand()
    {
        QFETCH(int, code);
        QFETCH(uint, argument);
        QFETCH(QByteArray, payload);
        QFETCH(bool, nullPayload);
        QFETCH(int, announced);
        QFETCH(QByteArray, expected);

        const auto command = report::longCommand(
            static_cast<std::uint8_t>(code), argument,
            nullPayload ? nullptr : reinterpret_cast<const std::uint8_t *>(payload.constData()),
            static_cast<std::uint16_t>(announced));
        QCOMPARE(int(command.length), expected.size());
        QCOMPARE(bytes(command.bytes, 64), padded(expected));
    }

    void longCommandRefusesPayloadOver56()
    {
        const QByteArray payload(57, 'x');
        const auto command = report::longCommand(
            0x58, 0, reinterpret_cast<const std::uint8_t *>(payload.constData()), 57);
        QCOMPARE(int(command.length), 0);
    }

    void updateModeRequestArrivesAsFullZeroFilledReport()
    {
        WinHID link;
        zsim::Bus::instance().plug();
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        const auto request = report::fuModeCommand(report::FuModeRequest);
        QCOMPARE(int(request.length), 25);
        QCOMPARE(link.write(0, request.bytes.data(), request.length), 65);

        const auto record = zsim::Bus::instance().record();
        QCOMPARE(int(record.size()), 1);
        QCOMPARE(int(record[0].length), 65); // report ID + the whole report
        QCOMPARE(bytes(record[0].bytes),
                 padded(fromHex("0a00110000109200") + QByteArray("Kestrel-Overhang", 17)));
        QVERIFY(noProtocolErrors());
    }

    void decodeLittleEndianFields()
    {
        std::uint8_t reply[64] = {};
        reply[1] = 0x0A;
        const QByteArray status = fromHex("00000180"); // 0x80010000
        std::memcpy(reply + 4, status.constData(), 4);
        const QByteArray versions = fromHex("010005000200"
                                            "0a00");
        std::memcpy(reply + 12, versions.constData(), 8);
        std::memcpy(reply + 21, "00K1234567", 10);
        reply[31] = 6;
        reply[32] = 0xFF;
        reply[34] = 3;

        const auto fields = report::decodeCurrentReport(reply);
        QCOMPARE(int(fields.lastCommand), 0x0A);
        QCOMPARE(fields.status, 0x80010000u);
        QCOMPARE(int(fields.cpuMajor), 1);
        QCOMPARE(int(fields.cpuMinor), 5);
        QCOMPARE(int(fields.fpgaMajor), 2);
        QCOMPARE(int(fields.fpgaMinor), 10);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(fields.serial.data()), 10),
                 QByteArray("00K1234567"));
        QCOMPARE(int(fields.userFields[0]), 6);
        QCOMPARE(int(fields.userFields[1]), 255);
        QCOMPARE(int(fields.userFields[3]), 3);
    }

    void readFUStatus_data()
    {
        QTest::addColumn<int>("busyPolls");
        QTest::addColumn<int>("expectedResult");
        QTest::addColumn<int>("expectedPolls");

        QTest::newRow("ready at once") << 0 << 0 << 1;
        QTest::newRow("ready on the 999th poll") << 998 << 0 << 999;
        QTest::newRow("none of 999 polls ready") << 999 << -1 << 999;
    }

    void readFUStatus()
    {
        QFETCH(int, busyPolls);
        QFETCH(int, expectedResult);
        QFETCH(int, expectedPolls);

        WinHID link;
        QVERIFY(openDeviceRequestingUpdateMode(link, busyPolls) > 0);
        StdoutCapture out;
        QCOMPARE(report::readFUStatus(link, 1000), expectedResult);
        const QByteArray log = out.text();

        const auto polls = sentWithCode(report::StatusRequest);
        QCOMPARE(int(polls.size()), expectedPolls);
        for (const auto &poll : polls)
            QCOMPARE(bytes(poll), padded(fromHex("77")));
        QCOMPARE(log, expectedResult == 0 ? QByteArray()
                                          : QByteArray("readFUStatus timed out:-(\n\r\n"));
        QVERIFY(noProtocolErrors());
    }

    void readFUStatusIgnoresUpdateModeReplyWhileBusy()
    {
        // Byte 1 says 0x0A, but the status word is not 0: that is not "update mode on".
        WinHID link;
        const int id = openDeviceRequestingUpdateMode(link, 0);
        zsim::Bus::instance().withDevice(id, [](zsim::DeviceModel &m) { m.setBusyForever(true); });
        StdoutCapture out;
        QCOMPARE(report::readFUStatus(link, 10), -1);
        QCOMPARE(out.text(), QByteArray("readFUStatus timed out:-(\n\r\n"));
        QCOMPARE(int(sentWithCode(report::StatusRequest).size()), 9);
        QCOMPARE(int(currentReport[1]), 0x0A);
    }

    void readFUStatusEndsWhenDeviceIsSilent()
    {
        WinHID link;
        link.setReadTimeout(100);
        QVERIFY(openDeviceRequestingUpdateMode(link, 0) > 0);
        zsim::Bus::instance().setDropReplies(-1);
        QElapsedTimer timer;
        timer.start();
        StdoutCapture out;
        QCOMPARE(report::readFUStatus(link, 1000), -1);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(out.text(), QByteArray("readFUStatus timed out:-(\n\r\n"));
    }

    void readFUStatusEndsWhenDeviceIsGone()
    {
        WinHID link;
        const int id = openDeviceRequestingUpdateMode(link, 0);
        zsim::Bus::instance().unplug(id);
        QElapsedTimer timer;
        timer.start();
        StdoutCapture out;
        QCOMPARE(report::readFUStatus(link, 1000), -1);
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(out.text(), QByteArray("readFUStatus timed out:-(\n\r\n"));
    }

    void readCompleteReportThrowsAwayShortReads()
    {
        WinHID link;
        QVERIFY(openDeviceRequestingUpdateMode(link, 0) > 0);
        zsim::Bus::instance().setShortReplies(1, 10);
        const auto request = report::statusRequest();
        link.write(0, request.bytes.data(), request.length); // answered short
        link.write(0, request.bytes.data(), request.length); // answered in full
        std::uint8_t reply[64] = {};
        QCOMPARE(report::readCompleteReport(link, reply), 0);
        const auto record = zsim::Bus::instance().record();
        int delivered = 0;
        for (const auto &entry : record) {
            if (entry.direction == zsim::Direction::DeviceToHost)
                QCOMPARE(int(entry.length), delivered++ == 0 ? 10 : 64);
        }
        QCOMPARE(delivered, 2);
    }

    void logMessageWritesOneLine_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << QStringLiteral("Bad File Yo") << QByteArray("Bad File Yo\n");
        QTest::newRow("keeps \\n\\r") << QStringLiteral("FU mode enable timed out\n\r")
                                      << QByteArray("FU mode enable timed out\n\r\n");
        QTest::newRow("UTF-8") << QStringLiteral("Gr\u00fc\u00dfe")
                               << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                             "e\n");
    }

    void logMessageWritesOneLine()
    {
        QFETCH(QString, message);
        QFETCH(QByteArray, expected);
        StdoutCapture out;
        logMessage(message);
        QCOMPARE(out.text(), expected);
    }
};

QTEST_GUILESS_MAIN(TestReportProtocol)
#include "tst_reportprotocol.moc"
