#include "SignalLog.h"
#include "SimTestSupport.h"

#include "device/WinHID.h"
#include "threads/DisconnectDetectThread.h"

#include <QElapsedTimer>
#include <QtTest>

class TestDisconnectDetectThread : public QObject
{
    Q_OBJECT

private:
    WinHID *mLink = nullptr;
    DisconnectDetectThread *mThread = nullptr;
    SignalLog *mLog = nullptr;

    bool waitForEnd(int milliseconds)
    {
        const bool ended = mThread->wait(static_cast<unsigned long>(milliseconds));
        QCoreApplication::sendPostedEvents();
        return ended;
    }

    // Waits until the watcher has made at least this many more probes.
    void waitForProbes(int count)
    {
        const int target = zsim::Bus::instance().enumerateCount() + count;
        QTRY_VERIFY_WITH_TIMEOUT(zsim::Bus::instance().enumerateCount() >= target, 5000);
    }

private slots:
    void init()
    {
        zsim::Bus::instance().reset();
        mLink = new WinHID;
        mThread = new DisconnectDetectThread(*mLink);
        mThread->setPollInterval(10);
        mLog = new SignalLog;
        mLog->watch(mThread, &DisconnectDetectThread::PostAppStatusMessage, "PostAppStatusMessage");
        mLog->watch(mThread, &DisconnectDetectThread::PostConnectionStatus, "PostConnectionStatus");
    }

    void cleanup()
    {
        mThread->requestInterruption();
        mThread->wait();
        delete mLog;
        delete mThread;
        delete mLink;
    }

    void unplugIsReportedWithinTwoSeconds()
    {
        const int id = zsim::Bus::instance().plug();
        mThread->setPollInterval(DisconnectDetectThread::kDefaultPollIntervalMs);
        mThread->start();
        waitForProbes(2);
        QElapsedTimer timer;
        timer.start();
        zsim::Bus::instance().unplug(id);
        QVERIFY(waitForEnd(5000));
        QVERIFY2(timer.elapsed() <= 2100, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(mLog->entries(), (QStringList{"PostAppStatusMessage(\"No Z-PORTs Found!\")",
                                               "PostConnectionStatus(\"Not Found\", 0)"}));
    }

    void changeOnTheBus_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("debugLine");

        QTest::newRow("second device")
            << "second device"
            << QStringList{"PostAppStatusMessage(\"Too Many Z-PORTs Connected!\")",
                           "PostConnectionStatus(\"TMC\", 6)"}
            << "You have more than one device connected, only one device may be connected\n\r";
        QTest::newRow("replaced by an unknown product")
            << "unknown product"
            << QStringList{"PostAppStatusMessage(\"Unable to read PID!\")",
                           "PostConnectionStatus(\"CND\", 3)"}
            << "Unable to determine product ID\n\r";
        QTest::newRow("unplugged") << "unplug"
                                   << QStringList{"PostAppStatusMessage(\"No Z-PORTs Found!\")",
                                                  "PostConnectionStatus(\"Not Found\", 0)"}
                                   << QString();
    }

    void changeOnTheBus()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, expected);
        QFETCH(QString, debugLine);

        auto &bus = zsim::Bus::instance();
        const int id = bus.plug();
        if (!debugLine.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, debugLine.toUtf8().constData());
        // The change happens just before the fourth probe looks at the bus.
        bus.setEnumerateHook([&bus, id, change](int count) {
            if (count != 4)
                return;
            if (change == "second device") {
                bus.plug();
            } else if (change == "unknown product") {
                bus.unplug(id);
                zsim::DeviceConfig config;
                config.productId = 0x1234;
                bus.plug(config);
            } else {
                bus.unplug(id);
            }
        });
        mThread->start();
        QVERIFY(waitForEnd(5000));
        QCOMPARE(bus.enumerateCount(), 4);
        QCOMPARE(mLog->entries(), expected);
    }

    void silentWhileAttached()
    {
        zsim::Bus::instance().plug();
        mThread->start();
        waitForProbes(20);
        QCoreApplication::sendPostedEvents();
        QVERIFY(mLog->entries().isEmpty());
        QVERIFY(mThread->isRunning());
        // Watching is enumeration only: not one report to or from the device.
        QVERIFY(zsim::Bus::instance().record().empty());
        QCOMPARE(zsim::Bus::instance().openCount(), 0);
    }

    void deviceAlreadyGoneIsReportedAtOnce()
    {
        mThread->start();
        QVERIFY(waitForEnd(1000));
        QCOMPARE(zsim::Bus::instance().enumerateCount(), 1);
        QCOMPARE(mLog->entries(), (QStringList{"PostAppStatusMessage(\"No Z-PORTs Found!\")",
                                               "PostConnectionStatus(\"Not Found\", 0)"}));
    }

    void stopRequestEndsWatchQuietly()
    {
        zsim::Bus::instance().plug();
        mThread->setPollInterval(DisconnectDetectThread::kDefaultPollIntervalMs);
        mThread->start();
        waitForProbes(1);
        mThread->requestInterruption();
        QVERIFY(waitForEnd(500));
        QVERIFY(mLog->entries().isEmpty());
    }

    void watchesBesideAnOpenDevice()
    {
        // The watcher lists the device that the link holds open, and leaves the handle alone.
        zsim::Bus::instance().plug();
        QCOMPARE(mLink->open(0x3A7C, 0x15AD), 0);
        mThread->start();
        waitForProbes(5);
        QVERIFY(mLog->entries().isEmpty());
        QCOMPARE(mLink->handleCount(), 1);
        QCOMPARE(zsim::Bus::instance().openHandleCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDisconnectDetectThread)
#include "tst_disconnectdetectthread.moc"
