#include "threads/DeviceProbe.h"

#include <QtTest>

class TestDeviceProbe : public QObject
{
    Q_OBJECT

private slots:
    void classify_data()
    {
        QTest::addColumn<QStringList>("identities");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("value");

        QTest::newRow("nothing") << QStringList{} << false << 0;
        QTest::newRow("HDMI") << QStringList{"{#vid_3a7c &pid_15ad}"} << true << 0x15AD;
        QTest::newRow("SDI") << QStringList{"{#vid_3a7c &pid_15ae}"} << true << 0x15AE;
        QTest::newRow("other product") << QStringList{"{#vid_3a7c &pid_1234}"} << false << 1;
        QTest::newRow("product ID missing") << QStringList{"{#vid_3a7c}"} << false << 1;
        QTest::newRow("two interfaces")
            << QStringList{"{#vid_3a7c &pid_15ad}", "{#vid_3a7c &pid_15ad}"} << false << 2;
        QTest::newRow("HDMI and SDI")
            << QStringList{"{#vid_3a7c &pid_15ad}", "{#vid_3a7c &pid_15ae}"} << false << 2;
        // SDI is looked for first, so a string naming both counts as SDI.
        QTest::newRow("both IDs in one string")
            << QStringList{"{#vid_3a7c &pid_15ad &pid_15ae}"} << true << 0x15AE;
    }

    void classify()
    {
        QFETCH(QStringList, identities);
        QFETCH(bool, found);
        QFETCH(int, value);
        const ProbeResult result = classifyInterfaces(identities);
        QCOMPARE(result.found, found);
        QCOMPARE(int(result.value), value);
    }

    void failureReports_data()
    {
        QTest::addColumn<int>("probeFailure");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shortText");
        QTest::addColumn<int>("scanCode");
        QTest::addColumn<int>("watchCode");

        QTest::newRow("none") << 0 << "No Z-PORTs Found!"
                              << "Not Found" << 2 << 0;
        QTest::newRow("unreadable") << 1 << "Unable to read PID!"
                                    << "CND" << 3 << 3;
        QTest::newRow("too many") << 2 << "Too Many Z-PORTs Connected!"
                                  << "TMC" << 6 << 6;
        QTest::newRow("unknown") << 3 << "Unrecognized PID!"
                                 << "UPID" << 4 << 4;
    }

    void failureReports()
    {
        QFETCH(int, probeFailure);
        QFETCH(QString, message);
        QFETCH(QString, shortText);
        QFETCH(int, scanCode);
        QFETCH(int, watchCode);

        const ConnectionFailure scan = scanFailure(probeFailure);
        QCOMPARE(scan.statusMessage, message);
        QCOMPARE(scan.shortText, shortText);
        QCOMPARE(scan.code, scanCode);
        const ConnectionFailure watch = watchFailure(probeFailure);
        QCOMPARE(watch.statusMessage, message);
        QCOMPARE(watch.shortText, shortText);
        QCOMPARE(watch.code, watchCode);
    }
};

QTEST_GUILESS_MAIN(TestDeviceProbe)
#include "tst_deviceprobe.moc"
