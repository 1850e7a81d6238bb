// The window's own device commands against the simulated Z-PORT: settings, device log, serial
// number, and the Help menu.
#include "ModalAnswerer.h"
#include "SimTestSupport.h"
#include "StdoutCapture.h"
#include "WindowDriver.h"

#include "app/Startup.h"
#include "device/WinHID.h"
#include "threads/DisconnectDetectThread.h"
#include "threads/DiscoverThread.h"
#include "threads/MetaTypes.h"
#include "threads/UpdateFPGAThread.h"
#include "ui/DeviceLog.h"
#include "ui/HelpTexts.h"
#include "ui/MainWindow.h"
#include "ui/ModuleInfo.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace simtest;

// Takes the URLs the window hands to the desktop instead of opening a viewer.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestDeviceCommands : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> mWindow;
    std::unique_ptr<ModalAnswerer> mAnswerer;
    int mDevice = 0;
    UrlRecorder mUrls;

    template <typename T> T *deviceWidget(const char *name) const
    {
        return windowtest::deviceWidget<T>(*mWindow, name);
    }
    QTabWidget *tabs() const { return deviceWidget<QTabWidget>("mGroupBox"); }
    QString status() const { return windowtest::statusText(*mWindow); }
    QString label(const char *name) const { return deviceWidget<QLabel>(name)->text(); }
    QString logShown() const { return deviceWidget<QTextEdit>("logTextEdit")->toPlainText(); }

    void connectDevice(zsim::DeviceConfig config, bool developerMode = false)
    {
        mDevice = zsim::Bus::instance().plug(config);
        mWindow = std::make_unique<MainWindow>(developerMode);
        fixWindowHeight(*mWindow);
        mWindow->discoverThread()->setRetryInterval(5);
        mWindow->disconnectThread()->setPollInterval(20);
        mWindow->updateThread()->setPauses(0, 0, 0);
        mWindow->show();
        mAnswerer = std::make_unique<ModalAnswerer>(QMessageBox::Ok);
        QVERIFY(windowtest::scan(*mWindow));
        mWindow->mUpdateZportUI();
        mAnswerer->clear();
        zsim::Bus::instance().clearRecord();
    }

    static zsim::DeviceConfig device(int cpuMinor,
                                     std::array<std::uint8_t, 4> fields = {{0, 0, 0, 0}},
                                     std::vector<std::string> logLines = {})
    {
        zsim::DeviceConfig config;
        config.cpuMinor = std::uint16_t(cpuMinor);
        config.userFields = fields;
        config.logLines = std::move(logLines);
        return config;
    }

    void clickTab(int index)
    {
        QTabBar *bar = tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }

    void pressShortcut()
    {
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        QTest::keyClick(mWindow.get(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    }

    // A pass that stays busy long enough for the test to act while it runs.
    void startSlowUpdate()
    {
        zsim::Bus::instance().withDevice(mDevice, [](zsim::DeviceModel &m) {
            m.setBusyTimes(std::chrono::milliseconds(30), std::chrono::milliseconds(3));
        });
        mAnswerer->setAnswers({QMessageBox::Yes, QMessageBox::Ok});
        deviceWidget<QPushButton>("mUpdatePushButton")->click();
        QVERIFY(mWindow->updateThread()->isRunning());
    }

private slots:
    void initTestCase()
    {
        registerUint32MetaType();
        registerErrorCodesMetaType();
        gWinHID.setReadTimeout(200);
        QDesktopServices::setUrlHandler("file", &mUrls, "open");
    }

    void init()
    {
        zsim::Bus::instance().reset();
        mUrls.urls.clear();
    }

    void cleanup()
    {
        mAnswerer.reset();
        if (mWindow && mWindow->updateThread()->isRunning())
            zsim::Bus::instance().unplug(mDevice);
        mWindow.reset();
        gWinHID.close();
        gWinHID.setReadTimeout(200);
    }

    void colorBarsAndSet()
    {
        connectDevice(device(9, {{0, 1, 2, 3}}));
        clickTab(1);
        QCOMPARE(tabs()->currentIndex(), 1);
        QCOMPARE(label("testPattern_from_device"), QStringLiteral("Current: Black"));
        deviceWidget<QComboBox>("testPattern")->setCurrentIndex(2);
        deviceWidget<QPushButton>("mUpdatePushButton_2")->click();

        QCOMPARE(mAnswerer->titles(), QStringList{"Configuration Update Results"});
        QVERIFY(mAnswerer->boxes()[0].text.contains("<b>Update Successful!</b>"));
        const auto sent = sentWithCode(0xF0);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(bytes(sent[0]), padded(fromHex("f006010203")));
        QCOMPARE(label("testPattern_from_device"), QStringLiteral("Current: 100% Color Bars"));
        zsim::Bus::instance().withDevice(
            mDevice, [](zsim::DeviceModel &m) { QCOMPARE(int(m.userFields()[0]), 6); });
        QVERIFY(noProtocolErrors());
    }

    void deviceValuesAsShown_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("setting2");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("shown2");
        QTest::addColumn<QByteArray>("sent");

        QTest::newRow("code 6") << 6 << 1 << "Current: 100% Color Bars"
                                << "Current: Selection 2" << fromHex("f006010000");
        QTest::newRow("code 3 shows Black, stays 3")
            << 3 << 3 << "Current: Black"
            << "Current: Selection 4" << fromHex("f003030000");
        QTest::newRow("setting 9 becomes 0") << 1 << 9 << "Current: Blue Matte"
                                             << "Current: Selection 1" << fromHex("f001000000");
    }

    void deviceValuesAsShown()
    {
        QFETCH(int, code);
        QFETCH(int, setting2);
        QFETCH(QString, shown);
        QFETCH(QString, shown2);
        QFETCH(QByteArray, sent);
        connectDevice(device(9, {{std::uint8_t(code), std::uint8_t(setting2), 0, 0}}));
        QCOMPARE(label("testPattern_from_device"), QStringLiteral("Current: Unknown"));
        clickTab(1);
        QCOMPARE(label("testPattern_from_device"), shown);
        QCOMPARE(label("testPattern_from_device_2"), shown2);
        deviceWidget<QPushButton>("mUpdatePushButton_2")->click();
        QCOMPARE(bytes(sentWithCode(0xF0).at(0)), padded(sent));
    }

    void outOfDateDevice()
    {
        connectDevice(device(8, {{0, 0, 0, 0}}, {"never read"}));
        QVERIFY(!tabs()->isTabEnabled(1));
        // Any click on the tab bar, the Update tab too.
        clickTab(0);
        QCOMPARE(mAnswerer->titles(), QStringList{"Z-PORT Out Of Date"});
        QCOMPARE(mAnswerer->boxes()[0].text,
                 QStringLiteral(
                     "<p align='center'>Please update the Z-PORT before using configurator.</p>"));
        QCOMPARE(mWindow->logText(), QLatin1String(devicelog::kOutOfDateText));
        QVERIFY(sentWithCode(0xF1).empty());
    }

    void shortcutShowsAndHidesLogs()
    {
        connectDevice(device(9, {{0, 0, 0, 0}}, {"boot ok", "HDMI 1080p60"}));
        pressShortcut();
        QCOMPARE(tabs()->count(), 3);
        QCOMPARE(tabs()->tabText(2), QStringLiteral("Logs"));
        QCOMPARE(tabs()->currentIndex(), 2);
        QCOMPARE(logShown(), QStringLiteral("boot ok\nHDMI 1080p60\n"));
        QVERIFY(deviceWidget<QTextEdit>("logTextEdit")->isReadOnly());
        pressShortcut();
        QCOMPARE(tabs()->count(), 2);
        QCOMPARE(tabs()->currentIndex(), 0);
        // Three requests: two lines and the end marker.
        QCOMPARE(int(sentWithCode(0xF1).size()), 3);
        for (const auto &request : sentWithCode(0xF1))
            QCOMPARE(bytes(request), padded(fromHex("f1")));
    }

    void fetchesAppendUntilNextScan()
    {
        connectDevice(device(9, {{0, 0, 0, 0}}, {"a", "b"}));
        clickTab(0);
        clickTab(1);
        QCOMPARE(mWindow->logText(), QStringLiteral("a\nb\na\nb\n"));
        // A scan press empties it, even when the caution box is aborted.
        zsim::Bus::instance().unplug(mDevice);
        QTRY_VERIFY_WITH_TIMEOUT(mWindow->findChild<QWidget *>("mUnknownWidget")->isVisible(),
                                 3000);
        mAnswerer->setAnswers({QMessageBox::Abort});
        windowtest::scanButton(*mWindow)->click();
        QVERIFY(mWindow->logText().isEmpty());
    }

    void fetchEndings_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("text");

        QTest::newRow("end marker first") << "empty" << 1 << QString(devicelog::kNoLogsText);
        QTest::newRow("never ends: 51 requests") << "endless" << 51 << QString();
        QTest::newRow("silent device") << "silent" << 1 << QString(devicelog::kNoLogsText);
    }

    void fetchEndings()
    {
        QFETCH(QString, device);
        QFETCH(int, requests);
        QFETCH(QString, text);
        connectDevice(this->device(9, {{0, 0, 0, 0}},
                                   device == "endless" ? std::vector<std::string>{"line"}
                                                       : std::vector<std::string>{}));
        if (device == "endless")
            zsim::Bus::instance().withDevice(mDevice,
                                             [](zsim::DeviceModel &m) { m.setLogNeverEnds(true); });
        if (device == "silent") {
            // The product's own read bound: the window is held for at most one read.
            gWinHID.setReadTimeout(WinHID::kDefaultReadTimeoutMs);
            zsim::Bus::instance().setDropReplies(-1);
        }
        QElapsedTimer timer;
        timer.start();
        clickTab(1);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(int(sentWithCode(0xF1).size()), requests);
        if (device == "endless") {
            QCOMPARE(mWindow->logText().count('\n'), 51);
            QVERIFY(mWindow->logText().startsWith("line\nline\n"));
        } else {
            QCOMPARE(mWindow->logText(), text);
            QCOMPARE(logShown(), text);
        }
    }

    void programSerialNumber_data()
    {
        QTest::addColumn<QStringList>("typed"); // "<cancel>" cancels that prompt
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("printed");

        QTest::newRow("accepted at once")
            << QStringList{"K1234567"} << "" << QByteArray("00K1234567")
            << "The serial number 00K1234567 was written" << QByteArray();
        QTest::newRow("refused texts ask again")
            << QStringList{"k1234567", " K1234567", "K123456", "K12345678", "K7654321"} << ""
            << QByteArray("00K7654321") << "The serial number 00K7654321 was written"
            << QByteArray();
        QTest::newRow("cancel on the first prompt")
            << QStringList{"<cancel>"} << "" << QByteArray() << "" << QByteArray();
        QTest::newRow("cancel on a repeated prompt")
            << QStringList{"K12", "<cancel>"} << "" << QByteArray() << "" << QByteArray();
        QTest::newRow("device reports failure")
            << QStringList{"K1111111"} << "fails" << QByteArray("00K1111111")
            << "The serial number was not written"
            << QByteArray("Device reported failure to set serial number\n");
        QTest::newRow("no device open") << QStringList{"K1111111"} << "closed" << QByteArray()
                                        << "The serial number was not written"
                                        << QByteArray("ProgramSerialNumber writeCmd failed\n");
    }

    void programSerialNumber()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, fault);
        QFETCH(QByteArray, sent);
        QFETCH(QString, box);
        QFETCH(QByteArray, printed);
        connectDevice(device(9), true);
        if (fault == "fails")
            zsim::Bus::instance().withDevice(
                mDevice, [](zsim::DeviceModel &m) { m.setSerialWriteFails(true); });
        if (fault == "closed")
            gWinHID.close();
        int prompts = 0;
        mWindow->setSerialNumberPrompt([&typed, &prompts](QString &text) {
            ++prompts;
            text = typed.isEmpty() ? QStringLiteral("<cancel>") : typed.takeFirst();
            return text != QStringLiteral("<cancel>");
        });
        StdoutCapture out;
        QVERIFY(mWindow->ProgramSerialNumber());
        // The disconnect watcher lists the device meanwhile, and the test framework reports
        // its warnings on the same stream; neither is ours.
        QByteArray printedHere = out.text().replace("\n-14972-\n{#vid_3a7c &pid_15ad}\n", "");
        QList<QByteArray> lines = printedHere.split('\n');
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const QByteArray &line) { return line.startsWith("QWARN"); }),
                    lines.end());
        QCOMPARE(lines.join('\n'), printed);
        QVERIFY(typed.isEmpty());

        const auto commands = sentWithCode(0xF5);
        if (sent.isEmpty()) {
            QVERIFY(commands.empty());
        } else {
            QCOMPARE(int(commands.size()), 1);
            QCOMPARE(bytes(commands[0]), padded(fromHex("f5000a0000000000") + sent));
        }
        if (box.isEmpty()) {
            QVERIFY(mAnswerer->boxes().isEmpty());
        } else {
            QCOMPARE(mAnswerer->titles(), QStringList{"Program S/N"});
            QVERIFY2(mAnswerer->boxes()[0].text.contains(box),
                     qPrintable(mAnswerer->boxes()[0].text));
        }
        QVERIFY(noProtocolErrors());
    }

    void busyLinkSendsNothing()
    {
        connectDevice(device(9, {{0, 0, 0, 0}}, {"log"}), true);
        clickTab(1);
        zsim::Bus::instance().clearRecord();
        const QString logBefore = mWindow->logText();
        startSlowUpdate();
        const QString busy = QStringLiteral("Device busy, try again when the update has finished.");

        clickTab(0);
        QCOMPARE(status(), busy);
        mWindow->findChild<QLabel *>("appStatusLabel")->clear();
        pressShortcut();
        QCOMPARE(status(), busy);
        QCOMPARE(mWindow->logText(), logBefore);
        mWindow->findChild<QLabel *>("appStatusLabel")->clear();
        deviceWidget<QPushButton>("mUpdatePushButton_2")->click();
        QCOMPARE(status(), busy);
        mWindow->findChild<QLabel *>("appStatusLabel")->clear();
        mWindow->setSerialNumberPrompt([](QString &text) {
            text = QStringLiteral("K1234567");
            return true;
        });
        mWindow->ProgramSerialNumber();
        QCOMPARE(status(), busy);

        QVERIFY(sentWithCode(0xF0).empty());
        QVERIFY(sentWithCode(0xF1).empty());
        QVERIFY(sentWithCode(0xF5).empty());
        QVERIFY(mWindow->updateThread()->isRunning());
        QVERIFY(noProtocolErrors());
    }

    void about_data()
    {
        QTest::addColumn<bool>("developer");
        QTest::newRow("normal") << false;
        QTest::newRow("developer") << true;
    }

    void about()
    {
        QFETCH(bool, developer);
        mWindow = std::make_unique<MainWindow>(developer);
        ModalAnswerer answerer;
        QVERIFY(mWindow->About());
        QCOMPARE(answerer.titles(), QStringList{"About Z-PORT Updater"});
        QCOMPARE(answerer.boxes()[0].icon, QMessageBox::Information);
        QCOMPARE(answerer.boxes()[0].text,
                 help::aboutText(developer, QString::fromLatin1(qVersion())));
        QVERIFY(answerer.boxes()[0].text.endsWith(
            QStringLiteral("<p>Using Qt Version: %1</p>").arg(qVersion())));
        QCOMPARE(answerer.boxes()[0].text.contains("(build 19)"), developer);
    }

    void manualReplacesEarlierCopy()
    {
        mWindow = std::make_unique<MainWindow>(false);
        const QString target = QDir(QDir::tempPath()).absoluteFilePath(help::kManualFileName);
        QFile::remove(target);
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older manual");
        }
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadOther);

        StdoutCapture out;
        QVERIFY(mWindow->Manual());
        QCOMPARE(out.text(), QByteArray("good\n"));
        QCOMPARE(mUrls.urls, QList<QUrl>{QUrl::fromLocalFile(target)});
        QFile copy(target);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QFile carried(QStringLiteral(":/resources/%1").arg(help::kManualFileName));
        QVERIFY(carried.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll() == carried.readAll());
        copy.close();
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::remove(target);
    }

    void configManualOpensBesideProgram()
    {
        mWindow = std::make_unique<MainWindow>(false);
        QVERIFY(mWindow->ConfigManual());
        QCOMPARE(mUrls.urls, QList<QUrl>{QUrl::fromLocalFile(
                                 QCoreApplication::applicationDirPath() +
                                 "/documentation/Korvel_Z-PORT_Config_manual.pdf")});
    }

    void helpMenuTriggersSlots()
    {
        mWindow = std::make_unique<MainWindow>(false);
        ModalAnswerer answerer;
        QMenu *help = mWindow->menuBar()->actions().last()->menu();
        help->actions().at(0)->trigger();
        QCOMPARE(answerer.titles(), QStringList{"About Z-PORT Updater"});
        help->actions().at(1)->trigger();
        QCOMPARE(mUrls.urls.size(), 1);
        QFile::remove(mUrls.urls[0].toLocalFile());
    }
};

QTEST_MAIN(TestDeviceCommands)
#include "tst_devicecommands.moc"
