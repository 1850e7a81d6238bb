// zport-screenshots: the pictures of the updater's window that the user manual shows.
//
//   zport-screenshots <output-dir>
//
// Builds the real MainWindow offscreen, drives it against the simulated Z-PORT the way a user
// would (scan, update, configure, logs, developer menu, About) and saves each picture as a PNG
// in <output-dir> (docs/images in the source tree). A message box is pictured on its own, with
// a plain title bar that shows its title. Exits with 1 when a picture could not be taken (the
// window did not show what the run waited for); the others are written all the same.

#include "ModalHandler.h"
#include "WindowFrame.h"

#include "DeviceModel.h"
#include "SimBus.h"

#include "app/Startup.h"
#include "device/WinHID.h"
#include "threads/DisconnectDetectThread.h"
#include "threads/DiscoverThread.h"
#include "threads/MetaTypes.h"
#include "threads/UpdateFPGAThread.h"
#include "ui/MainWindow.h"
#include "ui/ModuleInfo.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

constexpr int kScanTimeoutMs = 20000;
constexpr int kBoxTimeoutMs = 3000;
constexpr int kUpdateTimeoutMs = 180000;
// The whole run; nothing in it may wait for longer.
constexpr int kRunTimeoutMs = 600000;

// Lines that the simulated Z-PORT keeps in its log for the Logs tab picture.
const std::vector<std::string> kLogLines = {
    "[0000.012] Boot: CPU firmware 1.9",          "[0000.148] FPGA configured, firmware 1.13",
    "[0000.351] USB connected, high speed",       "[0002.004] HDMI input: 1920x1080p 59.94 Hz",
    "[0002.010] Audio input: 48 kHz, 2 channels", "[0101.775] HDMI input lost, showing Blue Matte",
    "[0104.220] HDMI input: 1920x1080p 59.94 Hz",
};

class Run
{
public:
    explicit Run(const QDir &output) : mModal(output) {}

    int exec()
    {
        scanWithoutDevice();
        updateOlderDevice();
        configureCurrentDevice();
        unplugDuringUpdate();
        developerMode();
        closeWindow();

        if (!mMissing.isEmpty()) {
            std::fprintf(stderr, "zport-screenshots: not taken: %s\n",
                         qPrintable(mMissing.join(QStringLiteral(", "))));
            return 1;
        }
        std::printf("%d pictures\n", int(mModal.saved().size()));
        return 0;
    }

private:
    // --- the window -------------------------------------------------------------------------

    // Call after closeWindow() and after plugging the scenario's Z-PORT.
    void openWindow(bool developer)
    {
        mWindow = std::make_unique<MainWindow>(developer);
        fixWindowHeight(*mWindow);
        // The simulator answers at once; no need to wait a second between probes.
        mWindow->discoverThread()->setRetryInterval(5);
        mWindow->disconnectThread()->setPollInterval(50);
        mWindow->updateThread()->setPauses(0, 0, 0);
        mWindow->show();
        mWindow->activateWindow();
        if (!QTest::qWaitForWindowActive(mWindow.get()))
            std::fprintf(stderr, "zport-screenshots: the window did not become active\n");
    }

    void closeWindow()
    {
        mWindow.reset();
        gWinHID.close();
        zsim::Bus::instance().reset();
    }

    template <typename T> T *deviceWidget(const char *name) const
    {
        QWidget *page = mWindow->findChild<QWidget *>(QStringLiteral("mZportWidget"));
        return page->findChild<T *>(QLatin1String(name));
    }
    QTabWidget *tabs() const { return deviceWidget<QTabWidget>("mGroupBox"); }
    bool devicePageShown() const
    {
        return mWindow->findChild<QWidget *>(QStringLiteral("mZportWidget"))->isVisible();
    }
    bool scanPageShown() const
    {
        return mWindow->findChild<QWidget *>(QStringLiteral("mUnknownWidget"))->isVisible();
    }

    void shootWindow(const QString &file)
    {
        mModal.save(framedWindow(mWindow->grab(), mWindow->windowTitle()), file);
    }

    // --- steps ------------------------------------------------------------------------------

    // Waits for the expected boxes; those that did not come are not taken.
    void settle(int timeoutMs)
    {
        if (!mModal.waitForAll(timeoutMs))
            mMissing << mModal.takeMissing();
    }

    // Scan button, then the caution box; true when the device page is shown afterwards.
    bool scan(const QString &cautionFile = QString())
    {
        mModal.expect(QStringLiteral("Caution"), cautionFile, QMessageBox::Ok);
        mWindow->findChild<QWidget *>(QStringLiteral("mUnknownWidget"))
            ->findChild<QPushButton *>(QStringLiteral("detectDevicesPushButton"))
            ->click();
        settle(kBoxTimeoutMs);
        waitUntil([this] { return !mWindow->discoverThread()->isRunning(); }, kScanTimeoutMs);
        const bool connected =
            waitUntil([this] { return mWindow->moduleInfo().connected(); }, kBoxTimeoutMs);
        if (connected) {
            // What the two-second refresh shows, without waiting for it.
            mWindow->mUpdateZportUI();
            QCoreApplication::processEvents();
        }
        return connected && devicePageShown();
    }

    void clickTab(int index)
    {
        QTabBar *bar = tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }

    void toggleLogs()
    {
        // The shortcut belongs to the window: it works while the window is the active one
        // (after a message box has closed, no window may be).
        QApplication::setActiveWindow(mWindow.get());
        if (!QTest::qWaitForWindowActive(mWindow.get()))
            std::fprintf(stderr, "zport-screenshots: the window did not become active\n");
        QTest::keyClick(mWindow.get(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    }

    // Shoots the window once, while the update's progress bar passes a value.
    void shootProgressAt(int value, const QString &file, const std::function<void()> &then = {})
    {
        auto done = std::make_shared<bool>(false);
        QObject::connect(mWindow->updateThread(), &UpdateFPGAThread::PostUpdateProgressAmount,
                         mWindow.get(), [this, value, file, then, done](int progress) {
                             if (*done || progress < value)
                                 return;
                             *done = true;
                             if (!file.isEmpty())
                                 shootWindow(file);
                             if (then)
                                 then();
                         });
    }

    QAction *menuAction(const QString &menu, const QString &text) const
    {
        for (QAction *top : mWindow->menuBar()->actions()) {
            if (top->text() != menu || top->menu() == nullptr)
                continue;
            for (QAction *action : top->menu()->actions()) {
                if (action->text() == text)
                    return action;
            }
        }
        return nullptr;
    }

    void trigger(const QString &menu, const QString &text)
    {
        if (QAction *action = menuAction(menu, text))
            action->trigger();
        else
            std::fprintf(stderr, "zport-screenshots: no menu item %s > %s\n", qPrintable(menu),
                         qPrintable(text));
    }

    // --- the pictures -----------------------------------------------------------------------

    // The scan page, the caution box, a scan that finds nothing, and the About box.
    void scanWithoutDevice()
    {
        closeWindow();
        openWindow(false);
        shootWindow(QStringLiteral("scan-page.png"));
        mModal.expect(QStringLiteral("Connection Failed!"),
                      QStringLiteral("connection-failed.png"));
        scan(QStringLiteral("caution.png"));
        settle(kScanTimeoutMs);

        mModal.expect(QStringLiteral("About Z-PORT Updater"), QStringLiteral("about.png"));
        trigger(QStringLiteral("&Help"), QStringLiteral("&About"));
        settle(kBoxTimeoutMs);
    }

    // An HDMI Z-PORT with older firmware: the device page, the out-of-date warning, a whole
    // update and its result.
    void updateOlderDevice()
    {
        closeWindow();
        zsim::DeviceConfig config;
        config.serial = "00K1000001";
        zsim::Bus::instance().plug(config);
        openWindow(false);
        if (!scan()) {
            mMissing << QStringLiteral("device-hdmi.png (no device page)");
            return;
        }
        shootWindow(QStringLiteral("device-hdmi.png"));

        mModal.expect(QStringLiteral("Z-PORT Out Of Date"), QStringLiteral("out-of-date.png"));
        clickTab(1);
        settle(kBoxTimeoutMs);

        shootProgressAt(62, QStringLiteral("update-progress.png"));
        mModal.expect(QStringLiteral("Software Update Results"),
                      QStringLiteral("update-success.png"));
        deviceWidget<QPushButton>("mUpdatePushButton")->click();
        settle(kUpdateTimeoutMs);
        waitUntil([this] { return !mWindow->updateThread()->isRunning(); }, kBoxTimeoutMs);
        if (!mModal.saved().contains(QStringLiteral("update-progress.png")))
            mMissing << QStringLiteral("update-progress.png");
    }

    // A Z-PORT at the carried firmware: the already-updated question, the Logs tab, the
    // Configure tab and its result box.
    void configureCurrentDevice()
    {
        closeWindow();
        zsim::DeviceConfig config;
        config.cpuMinor = 9;
        config.fpgaMinor = 13;
        config.serial = "00K1000002";
        config.userFields = {{1, 0, 0, 0}};
        config.logLines = kLogLines;
        zsim::Bus::instance().plug(config);
        openWindow(false);
        if (!scan()) {
            mMissing << QStringLiteral("configure-tab.png (no device page)");
            return;
        }

        mModal.expect(QStringLiteral("Z-PORT Update"), QStringLiteral("update-anyway.png"),
                      QMessageBox::Cancel);
        deviceWidget<QPushButton>("mUpdatePushButton")->click();
        settle(kBoxTimeoutMs);

        // The log first: every later click on the tabs fetches it again, and the device sends
        // its whole log each time.
        toggleLogs();
        if (waitUntil([this] { return tabs()->count() == 3 && tabs()->currentIndex() == 2; },
                      kBoxTimeoutMs)) {
            QCoreApplication::processEvents();
            shootWindow(QStringLiteral("logs-tab.png"));
            toggleLogs();
        } else {
            mMissing << QStringLiteral("logs-tab.png (Ctrl+Shift+L showed no Logs tab)");
        }

        clickTab(1);
        if (!waitUntil([this] { return tabs()->currentIndex() == 1; }, kBoxTimeoutMs)) {
            mMissing << QStringLiteral("configure-tab.png (tab not shown)");
        } else {
            // Choose a new picture; the "Current:" line still shows the device's one.
            deviceWidget<QComboBox>("testPattern")->setCurrentIndex(2);
            QCoreApplication::processEvents();
            shootWindow(QStringLiteral("configure-tab.png"));
            mModal.expect(QStringLiteral("Configuration Update Results"),
                          QStringLiteral("configure-set.png"));
            deviceWidget<QPushButton>("mUpdatePushButton_2")->click();
            settle(kBoxTimeoutMs);
        }
    }

    // The Z-PORT unplugged part way through an update: the failure box, then the scan page.
    void unplugDuringUpdate()
    {
        closeWindow();
        const int id = zsim::Bus::instance().plug();
        openWindow(false);
        if (!scan()) {
            mMissing << QStringLiteral("update-failed.png (no device page)");
            return;
        }
        shootProgressAt(20, QString(), [id] { zsim::Bus::instance().unplug(id); });
        mModal.expect(QStringLiteral("Software Update Results"),
                      QStringLiteral("update-failed.png"));
        deviceWidget<QPushButton>("mUpdatePushButton")->click();
        settle(kUpdateTimeoutMs);
        if (waitUntil([this] { return scanPageShown(); }, kBoxTimeoutMs))
            shootWindow(QStringLiteral("disconnected.png"));
        else
            mMissing << QStringLiteral("disconnected.png");
    }

    // Developer mode: the menu, a refused update file, the serial number prompt.
    void developerMode()
    {
        closeWindow();
        zsim::Bus::instance().plug();
        openWindow(true);
        if (!scan()) {
            mMissing << QStringLiteral("developer-menu.png (no device page)");
            return;
        }

        QMenuBar *bar = mWindow->menuBar();
        QAction *developer = bar->actions().value(0);
        if (developer != nullptr && developer->menu() != nullptr) {
            QMenu *menu = developer->menu();
            menu->popup(bar->mapToGlobal(bar->actionGeometry(developer).bottomLeft()));
            if (waitUntil([menu] { return menu->isVisible(); }, kBoxTimeoutMs)) {
                const QPoint offset =
                    menu->mapToGlobal(QPoint(0, 0)) - mWindow->mapToGlobal(QPoint(0, 0));
                const QImage composed = withPopup(mWindow->grab(), menu->grab(), offset);
                mModal.save(framedWindow(QPixmap::fromImage(composed), mWindow->windowTitle()),
                            QStringLiteral("developer-menu.png"));
            } else {
                mMissing << QStringLiteral("developer-menu.png");
            }
            menu->hide();
        }

        // Files that are not firmware images: refused before anything is sent.
        QTemporaryDir files;
        const QString fpga = files.filePath(QStringLiteral("Z-PORT_1_14.bin"));
        const QString cpu = files.filePath(QStringLiteral("Z-PORT_1_10.img"));
        for (const QString &path : {fpga, cpu}) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write("This is a text file, not a firmware image.\n");
        }
        mWindow->setFileChooser(
            [fpga, cpu](QWidget *, const QString &caption, const QString &, const QString &) {
                return caption.contains(QLatin1String(".bin")) ? fpga : cpu;
            });
        mModal.expect(QStringLiteral("Software Update Instructions"),
                      QStringLiteral("update-with.png"));
        mModal.expect(QStringLiteral("Software Update Results"),
                      QStringLiteral("refused-file.png"));
        trigger(QStringLiteral("&Developer"), QStringLiteral("&Update With..."));
        settle(kBoxTimeoutMs);

        mModal.expect(QStringLiteral("Rename Label"), QStringLiteral("serial-dialog.png"),
                      QMessageBox::Ok, QStringLiteral("K1234567"));
        // Then the result box, whatever its title.
        mModal.expect(QString(), QStringLiteral("serial-result.png"));
        trigger(QStringLiteral("&Developer"), QStringLiteral("&Program S/N"));
        settle(kBoxTimeoutMs);
    }

    ModalHandler mModal;
    std::unique_ptr<MainWindow> mWindow;
    QStringList mMissing;
};

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the updater itself starts.
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    setSmallApplicationFont();
    registerUint32MetaType();
    registerErrorCodesMetaType();
    installCarriedFont();

    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: zport-screenshots <output-dir>\n");
        return 2;
    }
    const QDir output(args.at(1));
    if (!QDir().mkpath(output.path())) {
        std::fprintf(stderr, "zport-screenshots: cannot create %s\n", qPrintable(output.path()));
        return 1;
    }

    // The simulator answers within this bound; a Z-PORT that does not counts as not answering.
    gWinHID.setReadTimeout(200);
    QTimer::singleShot(kRunTimeoutMs, [] {
        std::fprintf(stderr, "zport-screenshots: the run took too long\n");
        std::fflush(stderr);
        std::_Exit(3);
    });

    Run run(output);
    return run.exec();
}
