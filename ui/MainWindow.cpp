#include "MainWindow.h"

#include "ConnectionMessages.h"
#include "DeviceLog.h"
#include "FirmwareVersion.h"
#include "HelpTexts.h"
#include "ModuleInfo.h"
#include "Pictures.h"
#include "SerialNumberInput.h"
#include "UserSettings.h"
#include "ui_MainWindowUi.h"
#include "ui_UnknownUi.h"
#include "ui_ZportUi.h"

#include "device/DiagnosticLog.h"
#include "device/UsbIds.h"
#include "device/WinHID.h"
#include "threads/DisconnectDetectThread.h"
#include "threads/DiscoverThread.h"
#include "threads/ImageFile.h"
#include "threads/UpdateFPGAThread.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kRefreshIntervalMs = 2000;
// Longest a worker needs to notice a stop request: one bounded read plus a sleep slice.
constexpr unsigned long kThreadStopWaitMs = 5000;

const QString kCautionText = QString::fromUtf8(
    "<p align='center'>Caution: by proceeding to scan for <br>Z-PORTs, your connected Z-PORT will "
    "cease all video/audio capture until the device is powered cycled.             Click "
    "\xE2\x80\x98OK\xE2\x80\x99 to proceed or \xE2\x80\x98"
    "Abort\xE2\x80\x99 to abort</p>");

// The CPU pass reports its result just before its thread ends; the FPGA pass may only start
// once it has ended (a start on a running thread is ignored).
constexpr unsigned long kPassEndWaitMs = 5000;

QString updateResultsTitle()
{
    return QStringLiteral("Software Update Results");
}

QString updateFailedText(const QString &image)
{
    return QStringLiteral("<p align='center'><b>ERROR: UPDATE OF ") + image +
           QStringLiteral(
               " FAILED!</b>\t\t\t<br><br><b>Do not unplug your Z-PORT!<b><br>Please try "
               "to run the update again.<br>If that fails, Please call Korvel support @ ") +
           QLatin1String(kSupportNumber) + QStringLiteral("</p>");
}

QByteArray carriedImagePath(const FirmwareVersion &version, bool cpu)
{
    // The CPU image's minor is written with a leading 0 ("1_09"), the FPGA image's as it is.
    const QString minor =
        cpu ? QStringLiteral("0%1").arg(version.minor) : QStringLiteral("%1").arg(version.minor);
    const QString tag = QStringLiteral("%1_%2").arg(version.major).arg(minor);
    return (QStringLiteral(":/resources/Z-PORT_") + tag +
            (cpu ? QStringLiteral(".img") : QStringLiteral(".bin")))
        .toUtf8();
}

} // namespace

MainWindow::MainWindow(bool developerMode, QWidget *parent)
    : QMainWindow(parent), mUi(std::make_unique<Ui::MainWindowUi>()),
      mZportUi(std::make_unique<Ui::ZportUi>()), mUnknownUi(std::make_unique<Ui::UnknownUi>()),
      mDeveloperMode(developerMode)
{
    mDiscoverThread = new DiscoverThread();
    mUpdateThread = new UpdateFPGAThread();
    mDisconnectThread = new DisconnectDetectThread();
    mChooseFile = [](QWidget *parent, const QString &caption, const QString &dir,
                     const QString &filter) {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    };
    mSerialPrompt = [](QString &text) {
        bool ok = false;
        text = QInputDialog::getText(nullptr, tr("Rename Label"), tr("New name:"),
                                     QLineEdit::Normal, QString(), &ok);
        return ok;
    };

    mUi->setupUi(this);

    if (mDeveloperMode) {
        mDeveloperMenu = menuBar()->addMenu(tr("&Developer"));
        mProgramSnAction = new QAction(tr("&Program S/N"), this);
        mProgramSnAction->setStatusTip(tr("Program the ZPORT's Serial Number"));
        connect(mProgramSnAction, &QAction::triggered, this, &MainWindow::ProgramSerialNumber);
        mDeveloperMenu->addAction(mProgramSnAction);
        mUpdateWithAction = new QAction(tr("&Update With..."), this);
        mUpdateWithAction->setStatusTip(tr("Select a particular update"));
        connect(mUpdateWithAction, &QAction::triggered, this, &MainWindow::ChooseUpdateFiles);
        mDeveloperMenu->addAction(mUpdateWithAction);
    }

    mHelpMenu = menuBar()->addMenu(tr("&Help"));
    mAboutAction = new QAction(tr("&About"), this);
    mAboutAction->setStatusTip(tr("Show the application's About box"));
    connect(mAboutAction, &QAction::triggered, this, &MainWindow::About);
    mHelpMenu->addAction(mAboutAction);
    mManualAction = new QAction(tr("&Z-PORT Manual"), this);
    mManualAction->setStatusTip(tr("Open Converter Manual"));
    connect(mManualAction, &QAction::triggered, this, &MainWindow::Manual);
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
    // Workers use the link and this window's slots: stop them before either goes away. The
    // update thread's own destructor stops a pass that still runs.
    delete mUpdateThread;
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
    connect(mZportUi->mUpdatePushButton_2, &QPushButton::clicked, this,
            &MainWindow::on_mUpdatePushButton_2_clicked);
    connect(mZportUi->testPattern, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::on_testPattern_currentIndexChanged);
    connect(mZportUi->testPattern_2, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::on_testPattern2_currentIndexChanged);
    connect(mZportUi->testPattern_3, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::on_testPattern3_currentIndexChanged);
    connect(mZportUi->testPattern_4, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::on_testPattern4_currentIndexChanged);
    connect(mZportUi->mGroupBox, &QTabWidget::tabBarClicked, this,
            &MainWindow::on_configuretab_clicked);
    connect(mZportUi->mUpdatePushButton, &QPushButton::clicked, this,
            &MainWindow::zportUpdateButtonPressed);
    mRefreshTimer = new QTimer(this);
    mRefreshTimer->start(kRefreshIntervalMs);
    mLogShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), this);
    connect(mLogShortcut, &QShortcut::activated, this, &MainWindow::logToggleTriggered);

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
    connect(mUpdateThread, &UpdateFPGAThread::PostUpdateProgressAmount, this,
            &MainWindow::PostUpdateProgressAmount);
    connect(mUpdateThread, &UpdateFPGAThread::PostFPGAUpdateComplete, this,
            &MainWindow::PostFPGAUpdateComplete);
    connect(this, &MainWindow::EndUpdate, mUpdateThread, &UpdateFPGAThread::EndUpdate);
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
    // A scan would share the link with the pass.
    if (refusedWhileUpdating())
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
    if (code != 1 && mUpdateThread->isRunning()) {
        emit EndUpdate();
        // Waits for a transfer of the pass that is under way; the pass's next transfers then
        // fail at once and it ends as failed.
        gWinHID.close();
        mUpdateAbandoned = true;
        PostFPGAUpdateComplete(QStringLiteral("Z-PORT"), UpdateFailed);
        // A second device during an update: the update failure says it all. (The pass may
        // have ended by now, which is why this does not test the thread again.)
        if (code == 6)
            return;
    }
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
    // CPU firmware below 1.1 (in practice any 0.x or 1.x) erases in the old way.
    const double cpuVersion = double(fx3Major + fx3Minor / 100);
    mUpdateThread->setOldFirmware(cpuVersion < 1.1);
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

bool MainWindow::refusedWhileUpdating()
{
    if (!mUpdateThread->isRunning())
        return false;
    mUi->appStatusLabel->setText(QStringLiteral("Update is already in progress!"));
    return true;
}

void MainWindow::zportUpdateButtonPressed()
{
    updateDevicePressed();
}

void MainWindow::updateDevicePressed()
{
    const QString carriedFpga = mZportUi->mUpdateToVersionFPGALineEdit->text();
    const QString carriedCpu = mZportUi->mUpdateToVersionCPULineEdit->text();
    const QString deviceCpu = mModuleInfo->cpuVersion();
    const QString deviceFpga = mModuleInfo->fpgaVersion();
    const QByteArray cpuPath = carriedImagePath(kCarriedCpuVersion, true);
    const QByteArray fpgaPath = carriedImagePath(kCarriedFpgaVersion, false);

    if (refusedWhileUpdating())
        return;
    if (deviceCpu == carriedCpu && deviceFpga == carriedFpga) {
        const auto answer = QMessageBox::warning(
            this, tr("Z-PORT Update"),
            QStringLiteral("<p align='center'>Your Z-PORT is already updated to the latest "
                           "firmware.\t\t\t<br><br>Update anyways?</p>"),
            QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::NoButton);
        if (answer != QMessageBox::Yes)
            return;
    }
    startCpuPass(cpuPath, fpgaPath);
}

bool MainWindow::ChooseUpdateFiles()
{
    if (refusedWhileUpdating())
        return false;
    const auto go = QMessageBox::warning(
        this, tr("Software Update Instructions"),
        QStringLiteral("You are going to be prompted for two files.<p>\t\t\tPlease locate the .bin "
                       "file first, then the .img.<p>\t\t\tBoth are included in the .zip file you "
                       "downloaded,\t\t\tand should be located wherever it was extracted to."),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton);
    if (go == QMessageBox::Cancel)
        return false;

    const auto tryAgain = [this](const QString &which) {
        return QMessageBox::warning(this, tr("Software Update Instructions"),
                                    QStringLiteral("Selection for ") + which +
                                        QStringLiteral(" file cancelled.<p>\t\t\tWant to try "
                                                       "again, or abort update?"),
                                    QMessageBox::Retry | QMessageBox::Cancel,
                                    QMessageBox::NoButton) != QMessageBox::Cancel;
    };
    const QString home = QDir::home().absolutePath();
    QString fpgaPath;
    QString cpuPath;
    for (;;) {
        const QString fpga =
            mChooseFile(this, tr("Upload FPGA .bin File"), home, tr(".bin (*.bin)"));
        if (fpga.isEmpty()) {
            if (!tryAgain(QStringLiteral("FPGA .bin")))
                return false;
            continue;
        }
        fpgaPath = QFileInfo(fpga).absoluteFilePath();
        const QString cpu =
            mChooseFile(nullptr, tr("Upload CPU .img File"), home, tr(".img (*.img)"));
        if (cpu.isEmpty()) {
            if (!tryAgain(QStringLiteral("FX3 .img")))
                return false;
            continue;
        }
        cpuPath = QFileInfo(cpu).absoluteFilePath();
        break;
    }
    startCpuPass(cpuPath.toUtf8(), fpgaPath.toUtf8());
    return false;
}

void MainWindow::startCpuPass(const QByteArray &cpuPath, const QByteArray &fpgaPath)
{
    // Both files are checked before anything is sent: a bad FPGA file found only after the
    // CPU pass would leave the device half updated.
    const QString cpuProblem = validateImageFile(cpuPath, kImageKindCpu);
    if (!cpuProblem.isEmpty()) {
        reportRefusedImage(QStringLiteral("CPU"), cpuProblem);
        return;
    }
    const QString fpgaProblem = validateImageFile(fpgaPath, kImageKindFpga);
    if (!fpgaProblem.isEmpty()) {
        reportRefusedImage(QStringLiteral("FPGA"), fpgaProblem);
        return;
    }

    mUpdateStage = 0;
    mUpdateAbandoned = false;
    mZportUi->mUpdateProgressMessageLabel->setText(QStringLiteral("Updating CPU..."));
    mUpdateThread->setCpuImagePath(cpuPath);
    mUpdateThread->setFpgaImagePath(fpgaPath);
    if (!mUpdateThread->selectImage(true)) {
        reportRefusedImage(QStringLiteral("CPU"), tr("The CPU image file could not be read."));
        return;
    }
    mUpdateThread->start(QThread::InheritPriority);
}

void MainWindow::reportRefusedImage(const QString &image, const QString &reason)
{
    QMessageBox::warning(this, updateResultsTitle(),
                         QStringLiteral("<p align='center'><b>ERROR: UPDATE OF ") + image +
                             QStringLiteral(" FAILED!</b><br><br>") + reason.toHtmlEscaped() +
                             QStringLiteral("<br><br>Nothing was written to the Z-PORT.</p>"));
    mZportUi->mUpdateProgressProgressBar->setValue(0);
    mZportUi->mUpdateProgressMessageLabel->setText(QStringLiteral("FAILED!"));
    mUi->appStatusLabel->setText(QStringLiteral("UPDATE FAILED!"));
}

void MainWindow::PostUpdateProgressAmount(int progress)
{
    mZportUi->mUpdateProgressProgressBar->setValue(progress);
}

void MainWindow::PostFPGAUpdateComplete(const QString &message, ErrorCodes success)
{
    // The pass of a lost connection was already reported as failed; what it reports itself
    // afterwards adds nothing (and must never read as success).
    if (mUpdateAbandoned && sender() == mUpdateThread)
        return;
    const bool succeeded = success == UpdateSucceeded;
    if (succeeded && mUpdateStage == 0) {
        mZportUi->mUpdateProgressMessageLabel->setText(QStringLiteral("Updating FPGA..."));
        if (!mUpdateThread->wait(kPassEndWaitMs)) {
            PostFPGAUpdateComplete(QStringLiteral("FPGA"), UpdateFailed);
            return;
        }
        // Never start again with the CPU image still in the buffer.
        if (!mUpdateThread->selectImage(false)) {
            reportRefusedImage(QStringLiteral("FPGA"),
                               tr("The FPGA image file could not be read."));
            return;
        }
        mUpdateThread->start(QThread::InheritPriority);
        mUpdateStage = 1;
        mUi->appStatusLabel->setText(QStringLiteral("CPU Update Complete!"));
    } else if (succeeded && mUpdateStage == 1) {
        mZportUi->mUpdateProgressProgressBar->setValue(0);
        mZportUi->mUpdateProgressMessageLabel->setText(QStringLiteral("Complete!"));
        QMessageBox::warning(
            this, updateResultsTitle(),
            QStringLiteral("<p align='center'><b>Update Successful!</b><br><br>Please power-cycle "
                           "the Z-PORT before using.\t\t\t<br>The update will not take effect "
                           "<br> until you do.</p>"));
        mUi->appStatusLabel->setText(QStringLiteral("FPGA Update Complete!"));
    } else {
        QMessageBox::warning(this, updateResultsTitle(), updateFailedText(message));
        mZportUi->mUpdateProgressProgressBar->setValue(0);
        mZportUi->mUpdateProgressMessageLabel->setText(QStringLiteral("FAILED!"));
        mUi->appStatusLabel->setText(QStringLiteral("UPDATE FAILED!"));
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Ending the process mid-pass would leave a partly written image in the device's flash.
    if (mUpdateThread->isRunning()) {
        event->ignore();
        QMessageBox::warning(
            this, tr("Z-PORT Update"),
            QStringLiteral("<p align='center'>The Z-PORT is being updated.<br>Please "
                           "wait until the update has finished before closing "
                           "the Updater.</p>"));
        return;
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::refusedWhileLinkBusy()
{
    if (mUpdateThread->isRunning()) {
        mUi->appStatusLabel->setText(tr("Device busy, try again when the update has finished."));
        return true;
    }
    if (mDiscoverThread->isRunning()) {
        mUi->appStatusLabel->setText(tr("Device busy, try again when the scan has finished."));
        return true;
    }
    return false;
}

void MainWindow::on_testPattern_currentIndexChanged(int index)
{
    mUserField1 = usersettings::lossOfSignalCode(index);
}

void MainWindow::on_testPattern2_currentIndexChanged(int index)
{
    mUserField2 = index;
}

void MainWindow::on_testPattern3_currentIndexChanged(int index)
{
    mUserField3 = index;
}

void MainWindow::on_testPattern4_currentIndexChanged(int index)
{
    mUserField4 = index;
}

void MainWindow::update_current_text()
{
    const QString current = QStringLiteral("Current: ");
    const int shown = usersettings::lossOfSignalIndex(mUserField1);
    mZportUi->testPattern->setCurrentIndex(shown);
    mZportUi->testPattern_from_device->setText(current + mZportUi->testPattern->itemText(shown));

    const struct
    {
        int *field;
        QComboBox *box;
        QLabel *label;
    } settings[] = {
        {&mUserField2, mZportUi->testPattern_2, mZportUi->testPattern_from_device_2},
        {&mUserField3, mZportUi->testPattern_3, mZportUi->testPattern_from_device_3},
        {&mUserField4, mZportUi->testPattern_4, mZportUi->testPattern_from_device_4},
    };
    for (const auto &setting : settings) {
        *setting.field = usersettings::validSetting(*setting.field);
        setting.box->setCurrentIndex(*setting.field);
        setting.label->setText(current + setting.box->itemText(*setting.field));
    }
}

void MainWindow::on_mUpdatePushButton_2_clicked()
{
    if (refusedWhileLinkBusy())
        return;
    const QByteArray command =
        usersettings::settingsCommand(mUserField1, mUserField2, mUserField3, mUserField4);
    if (gWinHID.write(0, reinterpret_cast<const std::uint8_t *>(command.constData()),
                      std::uint8_t(command.size())) > 0) {
        QMessageBox::warning(
            this, tr("Configuration Update Results"),
            QStringLiteral("<p align='center'><b>Update Successful!</b><br><br>Please power-cycle "
                           "the Z-PORT before using.                    <br>The update will not "
                           "take effect <br> until you do.</p>"));
    }
    update_current_text();
}

void MainWindow::on_configuretab_clicked(int index)
{
    Q_UNUSED(index)
    if (!mZportUi->mGroupBox->isTabEnabled(1)) {
        QMessageBox::warning(
            this, tr("Z-PORT Out Of Date"),
            QStringLiteral(
                "<p align='center'>Please update the Z-PORT before using configurator.</p>"));
    }
    update_current_text();
    on_mLogTab_clicked();
}

void MainWindow::on_mLogTab_clicked()
{
    const QString noLogs = QLatin1String(devicelog::kNoLogsText);
    const QString outOfDate = QLatin1String(devicelog::kOutOfDateText);
    // A fetch while a worker transfers would mix its requests into that exchange.
    if (refusedWhileLinkBusy())
        return;
    if (mLogText == noLogs || mLogText == outOfDate)
        mLogText.clear();

    if (!mConfiguratorAllowed) {
        mLogText = outOfDate;
    } else {
        std::uint8_t reply[devicelog::kReplySize] = {};
        const std::uint8_t request[1] = {0xF1};
        int countdown = devicelog::kMaxRequests - 1;
        for (;;) {
            gWinHID.write(0, request, sizeof request);
            // A silent device ends the fetch after one read time-out.
            const int count = gWinHID.read(reply, devicelog::kReplySize);
            const bool end = devicelog::isEndMarker(reply);
            if (count > 0 && !end)
                mLogText += devicelog::lineText(reply);
            if (countdown-- == 0 || end || count <= 0)
                break;
        }
        if (mLogText.isEmpty())
            mLogText = noLogs;
    }
    mZportUi->logTextEdit->setReadOnly(true);
    mZportUi->logTextEdit->setText(mLogText);
    mZportUi->logTextEdit->show();
}

void MainWindow::logToggleTriggered()
{
    if (mLogsTabShown) {
        mZportUi->mGroupBox->removeTab(2);
        mZportUi->mGroupBox->setCurrentIndex(0);
    } else {
        mZportUi->mGroupBox->insertTab(2, mZportUi->mZportLogTab, tr("Logs"));
        on_mLogTab_clicked();
        mZportUi->mGroupBox->setCurrentIndex(2);
    }
    mLogsTabShown = !mLogsTabShown;
}

bool MainWindow::About()
{
    QMessageBox::information(this, tr("About Z-PORT Updater"),
                             help::aboutText(mDeveloperMode, QString::fromLatin1(qVersion())));
    return true;
}

bool MainWindow::Manual()
{
    const QString source = QStringLiteral(":/resources/%1").arg(help::kManualFileName);
    QFile probe(source);
    if (probe.open(QIODevice::ReadOnly)) {
        logMessage(QStringLiteral("good"));
        probe.close();
    }
    const QString target = QDir(QDir::tempPath()).absoluteFilePath(help::kManualFileName);
    // An earlier copy is read-only (copied from the resource tree): make it removable first.
    QFile::setPermissions(target, QFileDevice::ReadOther | QFileDevice::WriteOther);
    QFile::remove(target);
    QFile::copy(source, target);
    QDesktopServices::openUrl(QUrl::fromLocalFile(target));
    return true;
}

bool MainWindow::ConfigManual()
{
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(help::configManualPath(QCoreApplication::applicationDirPath())));
    return true;
}

bool MainWindow::ProgramSerialNumber()
{
    QString text;
    do {
        if (!mSerialPrompt(text))
            return true;
    } while (!serialNumberAccepted(text));

    if (refusedWhileLinkBusy())
        return true;
    const QByteArray serial = serialNumberToSend(text);
    if (mUpdateThread->ProgramSerialNumber(serial) == 0) {
        QMessageBox::warning(this, tr("Program S/N"),
                             QStringLiteral("<p align='center'>The serial number %1 was written "
                                            "to the Z-PORT.<br>It shows after the next scan.</p>")
                                 .arg(QString::fromLatin1(serial)));
    } else {
        QMessageBox::warning(this, tr("Program S/N"),
                             QStringLiteral("<p align='center'>The serial number was not written "
                                            "to the Z-PORT.<br>Make sure the Z-PORT is connected "
                                            "and scanned, then try again.</p>"));
    }
    return true;
}
