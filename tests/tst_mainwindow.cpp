#include "ModalAnswerer.h"
#include "SimTestSupport.h"
#include "WindowDriver.h"

#include "app/Startup.h"
#include "device/WinHID.h"
#include "threads/DisconnectDetectThread.h"
#include "threads/DiscoverThread.h"
#include "threads/MetaTypes.h"
#include "ui/ConnectionMessages.h"
#include "ui/MainWindow.h"
#include "ui/ModuleInfo.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QtTest>

#include <memory>

namespace {

const QString kNone = QStringLiteral(":/gui/media/png/zportNone.png");
const QString kHdmi = QStringLiteral(":/gui/media/png/zportHDMI.png");
const QString kSdi = QStringLiteral(":/gui/media/png/zportSDI.png");
const QString kUnknown = QStringLiteral(":/gui/media/png/zportUnknown.png");

bool showsPicture(QLabel *label, const QString &path)
{
    const QImage shown = label->pixmap(Qt::ReturnByValue).toImage();
    return !shown.isNull() && shown == QPixmap(path).toImage();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> mWindow;

    template <typename T> T *widget(const char *page, const char *name) const
    {
        QWidget *parent = mWindow->findChild<QWidget *>(QLatin1String(page));
        return parent ? parent->findChild<T *>(QLatin1String(name)) : nullptr;
    }
    QWidget *scanPage() const { return mWindow->findChild<QWidget *>("mUnknownWidget"); }
    QWidget *devicePage() const { return mWindow->findChild<QWidget *>("mZportWidget"); }
    QLabel *statusLabel() const { return mWindow->findChild<QLabel *>("appStatusLabel"); }
    QLabel *scanPicture() const { return widget<QLabel>("mUnknownWidget", "mImageMainLabel"); }
    QLabel *devicePicture() const { return widget<QLabel>("mZportWidget", "mImageMainLabel"); }
    QTabWidget *tabs() const { return widget<QTabWidget>("mZportWidget", "mGroupBox"); }
    QString lineEdit(const char *name) const
    {
        return widget<QLineEdit>("mZportWidget", name)->text();
    }

    void makeWindow(bool developerMode)
    {
        mWindow = std::make_unique<MainWindow>(developerMode);
        fixWindowHeight(*mWindow);
        mWindow->discoverThread()->setRetryInterval(5);
        mWindow->disconnectThread()->setPollInterval(20);
        mWindow->show();
    }

    // Presses the scan button (the caution box is answered by the test's answerer) and waits
    // for the scan to end.
    void scan()
    {
        QVERIFY(windowtest::scanButton(*mWindow)->isVisible());
        QVERIFY(windowtest::runScan(*mWindow));
    }

private slots:
    void initTestCase()
    {
        registerUint32MetaType();
        setSmallApplicationFont();
        installCarriedFont();
        gWinHID.setReadTimeout(200);
    }

    void init() { zsim::Bus::instance().reset(); }

    void cleanup()
    {
        mWindow.reset();
        gWinHID.close();
    }

    void developerSwitch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("developer");
        QTest::newRow("none") << QStringList{"zport-updater"} << false;
        QTest::newRow("-d") << QStringList{"zport-updater", "-d"} << true;
        QTest::newRow("-d among others") << QStringList{"zport-updater", "x", "-d", "y"} << true;
        QTest::newRow("-dx") << QStringList{"zport-updater", "-dx"} << true;
        QTest::newRow("-debug") << QStringList{"zport-updater", "-debug"} << true;
        QTest::newRow("d") << QStringList{"zport-updater", "d"} << false;
        QTest::newRow("--d") << QStringList{"zport-updater", "--d"} << false;
        QTest::newRow("-D") << QStringList{"zport-updater", "-D"} << false;
        QTest::newRow("program name only counts from index 1") << QStringList{"-d"} << false;
    }

    void developerSwitch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, developer);
        QCOMPARE(developerModeRequested(arguments), developer);

        makeWindow(developerModeRequested(arguments));
        QStringList menus;
        for (QAction *action : mWindow->menuBar()->actions())
            menus << action->text();
        const QStringList expected =
            developer ? QStringList{"&Developer", "&Help"} : QStringList{"&Help"};
        QCOMPARE(menus, expected);
        if (developer) {
            QStringList items;
            for (QAction *action : mWindow->menuBar()->actions().first()->menu()->actions())
                items << action->text() + " | " + action->statusTip();
            QCOMPARE(items, (QStringList{"&Program S/N | Program the ZPORT's Serial Number",
                                         "&Update With... | Select a particular update"}));
        }
    }

    void startUpState()
    {
        makeWindow(false);
        QTRY_VERIFY_WITH_TIMEOUT(mWindow->isVisible(), 2000);
        const int menuHeight = mWindow->menuBar()->height();
        QCOMPARE(mWindow->width(), 714);
        QCOMPARE(mWindow->height(), menuHeight + 525);
        QCOMPARE(mWindow->minimumSize(), mWindow->maximumSize());
        QCOMPARE(mWindow->windowTitle(), QStringLiteral("Korvel Z-PORT Updater"));
        // The pages start right under the menu bar.
        QCOMPARE(scanPage()->y(), menuHeight);
        QCOMPARE(devicePage()->y(), menuHeight);

        QVERIFY(scanPage()->isVisible());
        QVERIFY(!devicePage()->isVisible());
        QVERIFY(showsPicture(scanPicture(), kNone));
        QVERIFY(statusLabel()->isVisible());

        QCOMPARE(tabs()->count(), 2);
        QCOMPARE(tabs()->tabText(0), QStringLiteral("Update"));
        QCOMPARE(tabs()->tabText(1), QStringLiteral("Configure"));
        for (const char *name : {"label_4", "label_5", "label_6", "testPattern_2", "testPattern_3",
                                 "testPattern_4", "testPattern_from_device_2",
                                 "testPattern_from_device_3", "testPattern_from_device_4"})
            QVERIFY2(widget<QWidget>("mZportWidget", name)->isHidden(), name);
        auto *progress = widget<QProgressBar>("mZportWidget", "mUpdateProgressProgressBar");
        QCOMPARE(progress->minimum(), 0);
        QCOMPARE(progress->maximum(), 100);
        QCOMPARE(widget<QLabel>("mZportWidget", "mUpdateProgressMessageLabel")->text(), QString());
        QVERIFY(!mWindow->moduleInfo().connected());
        QCOMPARE(mWindow->moduleInfo().cpuVersion(), QStringLiteral("255.255"));
        QCOMPARE(mWindow->moduleInfo().serialNumber(), QStringLiteral("00000000"));
        QCOMPARE(int(mWindow->moduleInfo().moduleType()), 0xFFFF);
    }

    void scanFindsDevice_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<QString>("cpu");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<bool>("configureEnabled");

        QTest::newRow("HDMI, older firmware") << 0x15AD << "1.8" << kHdmi << false;
        QTest::newRow("SDI, carried firmware") << 0x15AE << "1.9" << kSdi << true;
        QTest::newRow("1.10 is newer than 1.9") << 0x15AD << "1.10" << kHdmi << true;
        QTest::newRow("2.0") << 0x15AE << "2.0" << kSdi << true;
        QTest::newRow("0.99") << 0x15AD << "0.99" << kHdmi << false;
    }

    void scanFindsDevice()
    {
        QFETCH(int, productId);
        QFETCH(QString, cpu);
        QFETCH(QString, picture);
        QFETCH(bool, configureEnabled);

        zsim::DeviceConfig config;
        config.productId = std::uint16_t(productId);
        config.cpuMajor = std::uint16_t(cpu.section('.', 0, 0).toUInt());
        config.cpuMinor = std::uint16_t(cpu.section('.', 1, 1).toUInt());
        config.fpgaMajor = 1;
        config.fpgaMinor = 12;
        config.serial = "00K7654321";
        zsim::Bus::instance().plug(config);

        makeWindow(false);
        tabs()->setCurrentIndex(1);
        ModalAnswerer answerer(QMessageBox::Ok);
        scan();
        QCOMPARE(answerer.titles(), QStringList{"Caution"});
        QCOMPARE(answerer.boxes().first().icon, QMessageBox::Warning);
        QVERIFY(answerer.boxes().first().text.contains(
            QString::fromUtf8("Click \u2018OK\u2019 to proceed")));

        QVERIFY(devicePage()->isVisible());
        QVERIFY(!scanPage()->isVisible());
        QVERIFY(showsPicture(devicePicture(), picture));
        QCOMPARE(tabs()->currentIndex(), 0);
        QCOMPARE(statusLabel()->text(), QStringLiteral("Z-PORT connected!"));
        QVERIFY(mWindow->moduleInfo().connected());
        QVERIFY(mWindow->disconnectThread()->isRunning());

        // Until the refresh, the device page still holds the form's texts.
        QCOMPARE(lineEdit("mUpdateCurrVersionCPULineEdit"), QStringLiteral("0.0"));
        mWindow->mUpdateZportUI();
        QCOMPARE(lineEdit("mUpdateCurrVersionCPULineEdit"), cpu);
        QCOMPARE(lineEdit("mUpdateCurrVersionFPGALineEdit"), QStringLiteral("1.12"));
        QCOMPARE(lineEdit("mUpdateToVersionCPULineEdit"), QStringLiteral("1.9"));
        QCOMPARE(lineEdit("mUpdateToVersionFPGALineEdit"), QStringLiteral("1.13"));
        QCOMPARE(widget<QLabel>("mZportWidget", "mVersionsLabel")->text(),
                 QStringLiteral(
                     "CPU Version: %1      FPGA Version: 1.12      Serial Number: 00K7654321 ")
                     .arg(cpu));
        QCOMPARE(tabs()->isTabEnabled(1), configureEnabled);
        QCOMPARE(mWindow->isConfiguratorAllowed(), configureEnabled);
        QVERIFY(simtest::noProtocolErrors());
    }

    void abortedCautionStartsNoScan()
    {
        zsim::Bus::instance().plug();
        makeWindow(false);
        const int enumerations = zsim::Bus::instance().enumerateCount();
        ModalAnswerer answerer(QMessageBox::Abort);
        windowtest::scanButton(*mWindow)->click();
        QCOMPARE(answerer.titles(), QStringList{"Caution"});
        QVERIFY(!mWindow->discoverThread()->isRunning());
        QCOMPARE(zsim::Bus::instance().enumerateCount(), enumerations);
        QVERIFY(scanPage()->isVisible());
        QVERIFY(mWindow->logText().isEmpty());
    }

    void secondScanPressDuringScanDoesNothing()
    {
        makeWindow(false);
        mWindow->discoverThread()->setRetryInterval(100);
        ModalAnswerer answerer(QMessageBox::Ok);
        auto *button = windowtest::scanButton(*mWindow);
        button->click();
        QVERIFY(mWindow->discoverThread()->isRunning());
        button->click();
        QCOMPARE(answerer.titles(), QStringList{"Caution"});
        QVERIFY(mWindow->discoverThread()->wait(15000));
        // Nothing attached: the scan ends in the failure box.
        QTRY_COMPARE_WITH_TIMEOUT(answerer.titles(), (QStringList{"Caution", "Connection Failed!"}),
                                  5000);
        QCOMPARE(statusLabel()->text(), QStringLiteral("Failed to Connect"));
    }

    void connectionStatus_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("moduleType");
        QTest::addColumn<QString>("boxTitle");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<bool>("connected");

        const QString support = QLatin1String(kSupportNumber);
        QTest::newRow("0 device gone") << 0 << 0x15AD << ""
                                       << ""
                                       << "Disconnected"
                                       << "scan" << kNone << false;
        QTest::newRow("1 HDMI") << 1 << 0x15AD << ""
                                << ""
                                << "before"
                                << "device" << kHdmi << true;
        QTest::newRow("1 SDI") << 1 << 0x15AE << ""
                               << ""
                               << "before"
                               << "device" << kSdi << true;
        QTest::newRow("1 unknown type") << 1 << 0xFFFF << ""
                                        << ""
                                        << "before"
                                        << "scan" << kUnknown << true;
        QTest::newRow("2 not found")
            << 2 << 0x15AD << "Connection Failed!"
            << "Connection Failed!Please make sure your Z-PORT is plugged in, and then scan again."
            << "Failed to Connect"
            << "scan" << kNone << false;
        QTest::newRow("3 PID unreadable") << 3 << 0x15AD << "Connection Failed!"
                                          << "Could Not Determine PIDZ-PORT Updater was unable to "
                                             "determine the PID of the device. "
                                             "Please call Korvel Support at" +
                                                 support
                                          << "Failed to Connect"
                                          << "scan" << kNone << false;
        QTest::newRow("4 PID unknown")
            << 4 << 0x15AD << "Connection Failed!"
            << "Unrecognized PIDZ-PORT Updater was unable to recognize PID of the device. Please "
               "call Korvel Support at" +
                   support
            << "Failed to Connect"
            << "scan" << kNone << false;
        QTest::newRow("5 timed out")
            << 5 << 0x15AD << "Communication Failed!"
            << "Timed Out!A HID device on your PC seems to be responding slowly, or the Z-PORT is "
               "unresponsive. Please Power-cycle the Z-PORT. If problems persist, please call "
               "Korvel Support at" +
                   support
            << "Timed Out"
            << "scan" << kNone << false;
        QTest::newRow("6 too many")
            << 6 << 0x15AD << "Connection Failed!"
            << "Too Many Z-PORTs Connected!Only one Z-PORT may be connected to the Updater at a "
               "time. Disconnect any additional Z-PORT(s), and then scan again."
            << "Failed to Connect"
            << "scan" << kNone << false;
        QTest::newRow("-1 unknown code") << -1 << 0x15AD << ""
                                         << ""
                                         << "before"
                                         << "device" << kHdmi << true;
        QTest::newRow("7 unknown code") << 7 << 0x15AD << ""
                                        << ""
                                        << "before"
                                        << "device" << kHdmi << true;
    }

    void connectionStatus()
    {
        QFETCH(int, code);
        QFETCH(int, moduleType);
        QFETCH(QString, boxTitle);
        QFETCH(QString, boxText);
        QFETCH(QString, status);
        QFETCH(QString, page);
        QFETCH(QString, picture);
        QFETCH(bool, connected);

        // Start from a connected HDMI device on the device page.
        zsim::Bus::instance().plug();
        makeWindow(false);
        ModalAnswerer answerer(QMessageBox::Ok);
        mWindow->PostModuleType(0x15AD);
        mWindow->PostConnectionStatus(QStringLiteral("Success"), 1);
        mWindow->PostAppStatusMessage(QStringLiteral("before"));
        mWindow->PostModuleType(uint32_t(moduleType));

        mWindow->PostConnectionStatus(QStringLiteral("ignored"), code);

        if (boxTitle.isEmpty()) {
            QVERIFY(answerer.boxes().isEmpty());
        } else {
            QCOMPARE(answerer.boxes().size(), 1);
            QCOMPARE(answerer.boxes()[0].title, boxTitle);
            QCOMPARE(answerer.boxes()[0].icon, QMessageBox::Warning);
            QTextDocument rendered;
            rendered.setHtml(answerer.boxes()[0].text);
            QCOMPARE(rendered.toPlainText().remove('\n'), boxText);
        }
        QCOMPARE(statusLabel()->text(), status);
        QCOMPARE(devicePage()->isVisible(), page == "device");
        QCOMPARE(scanPage()->isVisible(), page == "scan");
        QVERIFY(showsPicture(page == "device" ? devicePicture() : scanPicture(), picture));
        QCOMPARE(mWindow->moduleInfo().connected(), connected);
    }

    void unplugReturnsToScanPage()
    {
        const int id = zsim::Bus::instance().plug();
        makeWindow(false);
        ModalAnswerer answerer(QMessageBox::Ok);
        scan();
        QVERIFY(devicePage()->isVisible());
        zsim::Bus::instance().unplug(id);
        QTRY_VERIFY_WITH_TIMEOUT(scanPage()->isVisible(), 3000);
        QCOMPARE(statusLabel()->text(), QStringLiteral("Disconnected"));
        QVERIFY(showsPicture(scanPicture(), kNone));
        QVERIFY(!mWindow->moduleInfo().connected());
        QCOMPARE(answerer.titles(), QStringList{"Caution"});

        // Plugged in again, a new scan finds it.
        zsim::Bus::instance().replug(id);
        scan();
        QVERIFY(devicePage()->isVisible());
    }

    void scanFailuresReachTheWindow_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("status");
        QTest::newRow("two devices") << "two"
                                     << "Connection Failed!"
                                     << "Failed to Connect";
        QTest::newRow("open fails") << "open"
                                    << "Connection Failed!"
                                    << "Failed to Connect";
        QTest::newRow("no answer") << "silent"
                                   << "Communication Failed!"
                                   << "Timed Out";
        QTest::newRow("unknown product") << "pid"
                                         << "Connection Failed!"
                                         << "Failed to Connect";
    }

    void scanFailuresReachTheWindow()
    {
        QFETCH(QString, fault);
        QFETCH(QString, title);
        QFETCH(QString, status);
        auto &bus = zsim::Bus::instance();
        zsim::DeviceConfig config;
        if (fault == "pid")
            config.productId = 0x1234;
        const int id = bus.plug(config);
        if (fault == "two")
            bus.plug();
        else if (fault == "open")
            bus.setOpenFails(id, true);
        else if (fault == "silent")
            bus.setDropReplies(-1);

        makeWindow(false);
        ModalAnswerer answerer(QMessageBox::Ok);
        scan();
        QTRY_COMPARE_WITH_TIMEOUT(answerer.titles(), (QStringList{"Caution", title}), 5000);
        QCOMPARE(statusLabel()->text(), status);
        QVERIFY(scanPage()->isVisible());
        QVERIFY(showsPicture(scanPicture(), kNone));
        QVERIFY(!mWindow->disconnectThread()->isRunning());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
