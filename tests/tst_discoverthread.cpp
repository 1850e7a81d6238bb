#include "SignalLog.h"
#include "SimTestSupport.h"
#include "StdoutCapture.h"

#include "device/ReportProtocol.h"
#include "device/UsbIds.h"
#include "device/WinHID.h"
#include "threads/DiscoverThread.h"
#include "threads/MetaTypes.h"

#include <QtTest>

using namespace simtest;

namespace {

QStringList attempts(int count)
{
    QStringList entries;
    for (int i = 1; i <= count; ++i)
        entries << QStringLiteral(
                       "PostAppStatusMessage(\"No Z-PORT Detected. Scanning... (Attempt %1/10)\")")
                       .arg(i);
    return entries;
}

const QStringList kConnected = {
    "PostModuleType(5549)",
    "PostModuleVersion(1, 8, 1, 12)",
    "PostUserFields(0, 0, 0, 0)",
    "PostModuleSerial(\"00K1000001\")",
    "PostAppStatusMessage(\"Z-PORT connected!\")",
    "PostConnectionStatus(\"Success\", 1)",
};

const QByteArray kFuKeyPayload("Kestrel-Overhang", 17);

} // namespace

class TestDiscoverThread : public QObject
{
    Q_OBJECT

private:
    WinHID *mLink = nullptr;
    DiscoverThread *mThread = nullptr;
    SignalLog *mLog = nullptr;

    // Runs one scan to its end and returns what it printed on standard output.
    QByteArray runScan()
    {
        StdoutCapture out;
        mThread->start();
        if (!mThread->wait(20000))
            qFatal("scan did not end");
        QCoreApplication::sendPostedEvents();
        return out.text();
    }

private slots:
    void initTestCase() { registerUint32MetaType(); }

    void init()
    {
        zsim::Bus::instance().reset();
        mLink = new WinHID;
        mLink->setReadTimeout(100);
        mThread = new DiscoverThread(*mLink);
        mThread->setRetryInterval(5);
        mLog = new SignalLog;
        mLog->watch(mThread, &DiscoverThread::PostAppStatusMessage, "PostAppStatusMessage");
        mLog->watch(mThread, &DiscoverThread::PostConnectionStatus, "PostConnectionStatus");
        mLog->watch(mThread, &DiscoverThread::PostModuleVersion, "PostModuleVersion");
        mLog->watch(mThread, &DiscoverThread::PostUserFields, "PostUserFields");
        mLog->watch(mThread, &DiscoverThread::PostModuleType, "PostModuleType");
        mLog->watch(mThread, &DiscoverThread::PostModuleSerial, "PostModuleSerial");
    }

    void cleanup()
    {
        delete mLog;
        delete mThread;
        delete mLink;
    }

    void devicePresentAtStart()
    {
        zsim::Bus::instance().plug();
        const QByteArray printed = runScan();

        QCOMPARE(mLog->entries(), kConnected);
        QCOMPARE(printed, QByteArray("\n-14972-\n{#vid_3a7c &pid_15ad}\n"));

        // The exchange, byte for byte: update-mode request, one status poll, confirm,
        // status request.
        const auto sent = zsim::Bus::instance().sentReports();
        QCOMPARE(int(sent.size()), 4);
        QCOMPARE(bytes(sent[0]), padded(fromHex("0a00110000109200") + kFuKeyPayload));
        QCOMPARE(bytes(sent[1]), padded(fromHex("77")));
        QCOMPARE(bytes(sent[2]), padded(fromHex("4600110000109200") + kFuKeyPayload));
        QCOMPARE(bytes(sent[3]), padded(fromHex("77")));
        for (const auto &entry : zsim::Bus::instance().record())
            QCOMPARE(int(entry.length), 65 - int(entry.direction == zsim::Direction::DeviceToHost));
        QVERIFY(noProtocolErrors());
        zsim::Bus::instance().withDevice(1, [](zsim::DeviceModel &m) { QVERIFY(m.fuMode()); });
        // The device stays open for what follows.
        QCOMPARE(mLink->handleCount(), 1);
        QCOMPARE(zsim::Bus::instance().openHandleCount(), 1);
    }

    void deviceReportsItsFields_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QList<int>>("versions");
        QTest::addColumn<QList<int>>("userFields");
        QTest::addColumn<QString>("expectedSerial");

        QTest::newRow("SDI") << 0x15AE << QByteArray("00K7654321") << QList<int>{1, 9, 1, 13}
                             << QList<int>{6, 1, 2, 3} << QStringLiteral("00K7654321");
        QTest::newRow("serial with zero bytes, two-digit minor")
            << 0x15AD << QByteArray("ABCD") << QList<int>{1, 5, 2, 10} << QList<int>{0, 0, 0, 0}
            << QStringLiteral("ABCD") + QString(6, QChar(0));
        QTest::newRow("user fields of 0xFF are 255")
            << 0x15AD << QByteArray("00K0000000") << QList<int>{0xFFFF, 0, 0, 0x0100}
            << QList<int>{255, 255, 255, 255} << QStringLiteral("00K0000000");
    }

    void deviceReportsItsFields()
    {
        QFETCH(int, productId);
        QFETCH(QByteArray, serial);
        QFETCH(QList<int>, versions);
        QFETCH(QList<int>, userFields);
        QFETCH(QString, expectedSerial);

        zsim::DeviceConfig config;
        config.productId = static_cast<std::uint16_t>(productId);
        config.serial = serial.toStdString();
        config.cpuMajor = static_cast<std::uint16_t>(versions[0]);
        config.cpuMinor = static_cast<std::uint16_t>(versions[1]);
        config.fpgaMajor = static_cast<std::uint16_t>(versions[2]);
        config.fpgaMinor = static_cast<std::uint16_t>(versions[3]);
        for (int i = 0; i < 4; ++i)
            config.userFields[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(userFields[i]);
        zsim::Bus::instance().plug(config);
        runScan();

        QCOMPARE(mLog->argumentsOf("PostModuleType"),
                 QList<QVariantList>{{QVariant::fromValue(uint32_t(productId))}});
        const auto version = mLog->argumentsOf("PostModuleVersion");
        QCOMPARE(version.size(), 1);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(version[0][i].toUInt(), uint(versions[i]));
        const auto fields = mLog->argumentsOf("PostUserFields");
        QCOMPARE(fields.size(), 1);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(fields[0][i].toInt(), userFields[i]);
        const auto sn = mLog->argumentsOf("PostModuleSerial");
        QCOMPARE(sn.size(), 1);
        QCOMPARE(sn[0][0].toString().size(), 10);
        QCOMPARE(sn[0][0].toString(), expectedSerial);
        QCOMPARE(mLog->entries().last(), QStringLiteral("PostConnectionStatus(\"Success\", 1)"));
    }

    void devicePluggedInDuringScan()
    {
        // Probes 1 to 3 find nothing; the device is there for probe 4 (retry 3).
        zsim::Bus::instance().setEnumerateHook([](int count) {
            if (count == 4)
                zsim::Bus::instance().plug();
        });
        runScan();
        QCOMPARE(mLog->entries(), attempts(2) + kConnected);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QByteArray>("logLine"); // printed by each probe
        QTest::addColumn<int>("opens");

        QTest::newRow("nothing attached")
            << "none"
            << attempts(10) + QStringList{"PostAppStatusMessage(\"No Z-PORTs Found!\")",
                                          "PostConnectionStatus(\"Not Found\", 2)"}
            << QByteArray(
                   "No Z-PORTs found make sure that it is connected to a USB2.0 port\n\n\r\n")
            << 0;
        QTest::newRow("another vendor's device only")
            << "other vendor"
            << attempts(10) + QStringList{"PostAppStatusMessage(\"No Z-PORTs Found!\")",
                                          "PostConnectionStatus(\"Not Found\", 2)"}
            << QByteArray(
                   "No Z-PORTs found make sure that it is connected to a USB2.0 port\n\n\r\n")
            << 0;
        QTest::newRow("two interfaces of one device")
            << "two interfaces"
            << attempts(10) + QStringList{"PostAppStatusMessage(\"Too Many Z-PORTs Connected!\")",
                                          "PostConnectionStatus(\"TMC\", 6)"}
            << QByteArray("You have more than one device connected, only one device may be "
                          "connected\n\r\n")
            << 0;
        QTest::newRow("two devices")
            << "two devices"
            << attempts(10) + QStringList{"PostAppStatusMessage(\"Too Many Z-PORTs Connected!\")",
                                          "PostConnectionStatus(\"TMC\", 6)"}
            << QByteArray("You have more than one device connected, only one device may be "
                          "connected\n\r\n")
            << 0;
        QTest::newRow("unknown product ID")
            << "unknown product"
            << attempts(10) + QStringList{"PostAppStatusMessage(\"Unable to read PID!\")",
                                          "PostConnectionStatus(\"CND\", 3)"}
            << QByteArray("Unable to determine product ID\n\r\n") << 0;
        QTest::newRow("open fails")
            << "open fails"
            << QStringList{"PostModuleType(5549)", "PostAppStatusMessage(\"Too Many Z-PORTs!\")",
                           "PostConnectionStatus(\"Too Many\", 6)"}
            << QByteArray() << 0;
    }

    void failures()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, expected);
        QFETCH(QByteArray, logLine);
        QFETCH(int, opens);

        auto &bus = zsim::Bus::instance();
        zsim::DeviceConfig config;
        if (scenario == "other vendor") {
            config.vendorId = 0x046D;
            bus.plug(config);
        } else if (scenario == "two interfaces") {
            config.interfaces = 2;
            bus.plug(config);
        } else if (scenario == "two devices") {
            bus.plug();
            bus.plug();
        } else if (scenario == "unknown product") {
            config.productId = 0x1234;
            bus.plug(config);
        } else if (scenario == "open fails") {
            bus.setOpenFails(bus.plug(), true);
        }
        const QByteArray printed = runScan();

        QCOMPARE(mLog->entries(), expected);
        QCOMPARE(bus.openCount(), opens);
        QVERIFY(bus.sentReports().empty());
        if (!logLine.isEmpty()) {
            QCOMPARE(bus.enumerateCount(), 11);
            QCOMPARE(printed.count(logLine), 11);
        }
    }

    void statusRequestFails_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("printed");

        // Nothing can be written: the update-mode request fails quietly, then the status request.
        QTest::newRow("not written")
            << "write fails" << QByteArray("readCurrentReport timed out\n\r\n");
        // Requests go out but nothing comes back.
        QTest::newRow("not answered") << "silent"
                                      << QByteArray("readFUStatus timed out:-(\n\r\n"
                                                    "FU mode enable timed out\n\r\n"
                                                    "readCurrentReport timed out\n\r\n");
        // Unplugged right after the update-mode request.
        QTest::newRow("gone after the first report")
            << "unplug"
            << QByteArray("readFUStatus timed out:-(\n\r\n"
                          "FU mode enable timed out\n\r\n"
                          "readCurrentReport timed out\n\r\n");
    }

    void statusRequestFails()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, printed);

        auto &bus = zsim::Bus::instance();
        const int id = bus.plug();
        if (fault == "write fails")
            bus.setWriteFailures(-1);
        else if (fault == "silent")
            bus.setDropReplies(-1);
        else
            bus.setUnplugAfterWrites(id, 1);

        QElapsedTimer timer;
        timer.start();
        const QByteArray out = runScan();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));

        QCOMPARE(mLog->entries(),
                 (QStringList{"PostModuleType(5549)", "PostAppStatusMessage(\"Timed Out!\")",
                              "PostConnectionStatus(\"UTO\", 5)"}));
        QCOMPARE(out, "\n-14972-\n{#vid_3a7c &pid_15ad}\n" + printed);
    }

    void slowUpdateModeStillConnects()
    {
        zsim::DeviceConfig config;
        config.fuEnableBusyPolls = 5;
        zsim::Bus::instance().plug(config);
        runScan();
        QCOMPARE(mLog->entries(), kConnected);
        QCOMPARE(sentCodes(), fromHex("0a777777777777"
                                      "46"
                                      "77"));
    }

    void updateModeNeverConfirmedStillReadsDevice()
    {
        const int id = zsim::Bus::instance().plug();
        zsim::Bus::instance().withDevice(id, [](zsim::DeviceModel &m) { m.setBusyForever(true); });
        const QByteArray printed = runScan();
        QCOMPARE(mLog->entries(), kConnected);
        // 999 polls, no confirm, then the status request.
        QCOMPARE(int(sentWithCode(report::StatusRequest).size()), 1000);
        QVERIFY(sentWithCode(report::FuModeConfirm).empty());
        QVERIFY(printed.endsWith("readFUStatus timed out:-(\n\r\nFU mode enable timed out\n\r\n"));
    }

    void scanCanRunAgain()
    {
        zsim::Bus::instance().plug();
        runScan();
        mLog->clear();
        runScan();
        QCOMPARE(mLog->entries(), kConnected);
        QCOMPARE(mLink->handleCount(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDiscoverThread)
#include "tst_discoverthread.moc"
