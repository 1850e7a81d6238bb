#include "MainWindow.h"

#include "ConnectionMessages.h"
#include "FirmwareVersion.h"
#include "ModuleInfo.h"
#include "Pictures.h"
#include "ui_MainWindowUi.h"
#include "ui_UnknownUi.h"
#include "ui_ZportUi.h"

#include "device/UsbIds.h"
#include "device/WinHID.h"
#include "threads/DisconnectDetectThread.h"
#include "threads/DiscoverThread.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QShortcut>
#include <QTimer>

namespace {

constexpr int kRefreshIntervalMs = 2000;
// Longest a worker needs to notice a stop request: one bounded read plus a sleep slice.
constexpr unsigned long kThreadStopWaitMs = 5000;

const QString kCautionText = QString::fromUtf8(
    "<p align='center'>Caution: by proceeding to scan for <br>Z-PORTs, your connected Z-PORT will "
    "cease all video/audio capture until the device is powered cycled.             Click "
    "\xE2\x80\x98OK\xE2\x80\x99 to proceed or \xE2\x80\x98"
    "Abort\xE2\x80\x99 to abort</p>");

} // namespace

MainWindow::MainWindow(bool developerMode, QWidget *parent)
    : QMainWindow(parent), mUi(std::make_unique<Ui::MainWindowUi>()),
      mZportUi(std::make_unique<Ui::ZportUi>()), mUnknownUi(std::make_unique<Ui::UnknownUi>()),
      mDeveloperMode(developerMode)
{
    mDiscoverThread = new DiscoverThread();
    mDisconnectThread = new DisconnectDetectThread();

    mUi->setupUi(this);

    if (mDeveloperMode) {
        mDeveloperMenu = menuBar()->addMenu(tr("&Developer"));
        mProgramSnAction = new QAction(tr("&Program S/N"), this);
        mProgramSnAction->setStatusTip(tr("Program the ZPORT's Serial Number"));
        mDeveloperMenu->addAction(mProgramSnAction);
        mUpdateWithAction = new QAction(tr("&Update With..."), this);
        mUpdateWithAction->setStatusTip(tr("Select a particular update"));
        mDeveloperMenu->addAction(mUpdateWithAction);
    }

    mHelpMenu = menuBar()->addMenu(tr("&Help"));
    mAboutAction = new QAction(tr("&About"), this);
    mAboutAction->setStatusTip(tr("Show the application's About box"));
    mHelpMenu->addAction(mAboutAction);
    mManualAction = new QAction(tr("&Z-PORT Manual"), this);
    mManualAction->setStatusTip(tr("Open Converter Manual"));
    mHelpMenu->addAction(mManualAction);

    // The forms are placed absolutely; move them clear of the menu bar. The size hint of the
    // filled bar is the height it will have once shown (until then its height is a default).
    const int menuHeight = menuBar()->sizeHint().height();
    const auto children = findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (child != menuBar())
            child->move(child->x(), child->y() + menuHeight);
    }

    setUpPagesAndConnections();
    mModuleInfo = new ModuleInfo;
}

MainWindow::~MainWindow()
{
    // Workers use the link and this window's slots: stop them before either goes away.
    for (QThread *thread :
         {static_cast<QThread *>(mDiscoverThread), static_cast<QThread *>(mDisconnectThread)}) {
        thread->requestInterruption();
        if (thread->wait(kThreadStopWaitMs))
            delete thread;
    }
    delete mModuleInfo;
}

void MainWindow::setUpPagesAndConnections()
{
    // First contact with the HID layer; the list itself is not needed.
    gWinHID.enumerate();

    mZportUi->setupUi(mUi->mZportWidget);
    mUnknownUi->setupUi(mUi->mUnknownWidget);

    mUi->mZportWidget->hide();
    // Settings 2 to 4 are not offered; their widgets overlap the loss-of-signal choice.
    for (QWidget *w :
         {static_cast<QWidget *>(mZportUi->label_4), static_cast<QWidget *>(mZportUi->label_5),
          static_cast<QWidget *>(mZportUi->label_6),
          static_cast<QWidget *>(mZportUi->testPattern_2),
          static_cast<QWidget *>(mZportUi->testPattern_3),
          static_cast<QWidget *>(mZportUi->testPattern_4),
          static_cast<QWidget *>(mZportUi->testPattern_from_device_2),
          static_cast<QWidget *>(mZportUi->testPattern_from_device_3),
          static_cast<QWidget *>(mZportUi->testPattern_from_device_4)})
        w->hide();
    // The Logs tab appears only through its shortcut.
    mZportUi->mGroupBox->removeTab(2);
    mZportUi->mUpdateProgressMessageLabel->setText(QString());
    mZportUi->mUpdateProgressProgressBar->setRange(0, 100);
    mRefreshTimer = new QTimer(this);
    mRefreshTimer->start(kRefreshIntervalMs);
    mLogShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), this);

    // The status line sits below both pages; keep it above them and let the page show
    // through, so it is readable on either page.
    mUi->appStatusLabel->raise();
    mUi->appStatusLabel->setStyleSheet(mUi->appStatusLabel->styleSheet() +
                                       QStringLiteral("background: transparent;"));

    connect(mUnknownUi->detectDevicesPushButton, &QPushButton::clicked, this,
            &MainWindow::findDevicePressed);
    connect(mDiscoverThread, &DiscoverThread::PostAppStatusMessage, this,
            &MainWindow::PostAppStatusMessage);
    connect(mDiscoverThread, &DiscoverThread::PostConnectionStatus, this,
            &MainWindow::PostConnectionStatus);
    connect(mDiscoverThread, &DiscoverThread::PostUserFields, this, &MainWindow::PostUserFields);
    connect(mDiscoverThread, &DiscoverThread::PostModuleVersion, this,
            &MainWindow::PostModuleVersion);
    connect(mDiscoverThread, &DiscoverThread::PostModuleType, this, &MainWindow::PostModuleType);
    connect(mDiscoverThread, &DiscoverThread::PostModuleSerial, this,
            &MainWindow::PostModuleSerial);
    connect(mDisconnectThread, &DisconnectDetectThread::PostConnectionStatus, this,
            &MainWindow::PostConnectionStatus);
    connect(mRefreshTimer, &QTimer::timeout, this, &MainWindow::mUpdateZportUI);

    showScanPage(pictures::none);
}

void MainWindow::showScanPage(const QString &picture)
{
    mUi->mUnknownWidget->show();
    mUi->mZportWidget->hide();
    mUnknownUi->mImageMainLabel->setPixmap(QPixmap(picture));
}

void MainWindow::showDevicePage(const QString &picture)
{
    mUi->mZportWidget->show();
    mUi->mUnknownWidget->hide();
    mZportUi->mImageMainLabel->setPixmap(QPixmap(picture));
}

void MainWindow::findDevicePressed()
{
    if (mDiscoverThread->isRunning())
        return;
    const auto answer =
        QMessageBox::warning(this, tr("Caution"), kCautionText,
                             QMessageBox::Ok | QMessageBox::Abort, QMessageBox::NoButton);
    if (answer == QMessageBox::Ok) {
        mZportUi->mGroupBox->setCurrentIndex(0);
        mDiscoverThread->start(QThread::InheritPriority);
    }
    mLogText.clear();
}

void MainWindow::PostAppStatusMessage(const QString &message)
{
    mUi->appStatusLabel->setText(message);
}

void MainWindow::PostConnectionStatus(const QString &message, int code)
{
    Q_UNUSED(message)
    const ConnectionReaction reaction = connectionReaction(code);
    if (!reaction.known)
        return;
    if (!reaction.boxTitle.isEmpty())
        QMessageBox::warning(this, reaction.boxTitle, reaction.boxText);
    if (!reaction.statusText.isEmpty())
        mUi->appStatusLabel->setText(reaction.statusText);

    if (code == 1) {
        const std::uint32_t type = mModuleInfo->moduleType();
        if (type == zport::kProductIdHdmi)
            showDevicePage(pictures::hdmi);
        else if (type == zport::kProductIdSdi)
            showDevicePage(pictures::sdi);
        else
            showScanPage(pictures::unknown);
        mModuleInfo->setConnected(true);
        mDisconnectThread->start(QThread::InheritPriority);
    } else {
        showScanPage(pictures::none);
        mModuleInfo->setConnected(false);
    }
}

void MainWindow::PostModuleVersion(uint32_t fx3Major, uint32_t fx3Minor, uint32_t fpgaMajor,
                                   uint32_t fpgaMinor)
{
    mModuleInfo->setVersions(fx3Major, fx3Minor, fpgaMajor, fpgaMinor);
}

void MainWindow::PostUserFields(int int1, int int2, int int3, int int4)
{
    mUserField1 = int1;
    mUserField2 = int2;
    mUserField3 = int3;
    mUserField4 = int4;
}

void MainWindow::PostModuleType(uint32_t moduleType)
{
    mModuleInfo->setModuleType(moduleType);
}

void MainWindow::PostModuleSerial(QString sn)
{
    mModuleInfo->setSerialNumber(sn);
}

void MainWindow::mUpdateZportUI()
{
    const QString cpu = mModuleInfo->cpuVersion();
    const QString fpga = mModuleInfo->fpgaVersion();
    if (mModuleInfo->connected()) {
        const QString sixBlanks(6, QLatin1Char(' '));
        QString line = QStringLiteral("CPU Version: ") + cpu + sixBlanks;
        mZportUi->mUpdateCurrVersionCPULineEdit->setText(cpu);
        line += QStringLiteral("FPGA Version: ") + fpga + sixBlanks;
        mZportUi->mUpdateCurrVersionFPGALineEdit->setText(fpga);
        line += QStringLiteral("Serial Number: ") + mModuleInfo->serialNumber() + QLatin1Char(' ');
        mZportUi->mVersionsLabel->setText(line);

        mZportUi->mUpdateToVersionCPULineEdit->setText(kCarriedCpuVersion.toString());
        mZportUi->mUpdateToVersionFPGALineEdit->setText(kCarriedFpgaVersion.toString());

        mConfiguratorAllowed = configuratorAllowed(cpu);
        mZportUi->mGroupBox->setTabEnabled(1, mConfiguratorAllowed);
    }
    mRefreshTimer->start(kRefreshIntervalMs);
}
