#pragma once

#include "threads/ErrorCodes.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class MainWindowUi;
class UnknownUi;
class ZportUi;
} // namespace Ui

class DiscoverThread;
class DisconnectDetectThread;
class ModuleInfo;
class UpdateFPGAThread;
class QAction;
class QMenu;
class QShortcut;
class QTimer;

// The program's one window: the scan page while no Z-PORT is connected, the device page while
// one is. It owns the worker threads and turns their signals into what the user sees.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Asks for a file to open: parent, caption, starting directory, filter; empty when cancelled.
    using FileChooser =
        std::function<QString(QWidget *, const QString &, const QString &, const QString &)>;

    explicit MainWindow(bool developerMode, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Asks for a line of text; false when cancelled.
    using TextPrompt = std::function<bool(QString &text)>;

    // Replace the open-file dialog and the serial-number prompt (tests answer them).
    void setFileChooser(FileChooser chooser) { mChooseFile = std::move(chooser); }
    void setSerialNumberPrompt(TextPrompt prompt) { mSerialPrompt = std::move(prompt); }

    DiscoverThread *discoverThread() const { return mDiscoverThread; }
    UpdateFPGAThread *updateThread() const { return mUpdateThread; }
    DisconnectDetectThread *disconnectThread() const { return mDisconnectThread; }
    const ModuleInfo &moduleInfo() const { return *mModuleInfo; }
    bool isConfiguratorAllowed() const { return mConfiguratorAllowed; }
    QString logText() const { return mLogText; }
    bool developerMode() const { return mDeveloperMode; }

signals:
    void EndUpdate();

public slots:
    void PostAppStatusMessage(const QString &message);
    void PostConnectionStatus(const QString &message, int code);
    void PostUpdateProgressAmount(int progress);
    void PostFPGAUpdateComplete(const QString &message, ErrorCodes success);
    void updateDevicePressed();
    void PostModuleVersion(uint32_t fx3Major, uint32_t fx3Minor, uint32_t fpgaMajor,
                           uint32_t fpgaMinor);
    void PostUserFields(int int1, int int2, int int3, int int4);
    void PostModuleType(uint32_t moduleType);
    void PostModuleSerial(QString sn);
    void mUpdateZportUI();
    bool About();
    bool Manual();
    bool ConfigManual();
    bool ProgramSerialNumber();
    bool ChooseUpdateFiles();

private slots:
    void zportUpdateButtonPressed();
    void findDevicePressed();
    void on_testPattern_currentIndexChanged(int index);
    void on_testPattern2_currentIndexChanged(int index);
    void on_testPattern3_currentIndexChanged(int index);
    void on_testPattern4_currentIndexChanged(int index);
    void update_current_text();
    void on_mUpdatePushButton_2_clicked();
    void on_configuretab_clicked(int index);
    void on_mLogTab_clicked();
    void logToggleTriggered();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setUpPagesAndConnections();
    void startCpuPass(const QByteArray &cpuPath, const QByteArray &fpgaPath);
    void reportRefusedImage(const QString &image, const QString &reason);
    bool refusedWhileUpdating();
    // The link has one user at a time: while a scan or an update transfers, the window sends
    // nothing and says so on the status line.
    bool refusedWhileLinkBusy();
    void showScanPage(const QString &picture);
    void showDevicePage(const QString &picture);

    DiscoverThread *mDiscoverThread = nullptr;
    UpdateFPGAThread *mUpdateThread = nullptr;
    DisconnectDetectThread *mDisconnectThread = nullptr;
    int mUpdateStage = 0;
    // Set when the connection was lost during a pass: nothing the pass reports later may count
    // as success.
    bool mUpdateAbandoned = false;
    FileChooser mChooseFile;
    TextPrompt mSerialPrompt;
    bool mLogsTabShown = false;
    std::unique_ptr<Ui::MainWindowUi> mUi;
    std::unique_ptr<Ui::ZportUi> mZportUi;
    std::unique_ptr<Ui::UnknownUi> mUnknownUi;
    ModuleInfo *mModuleInfo = nullptr;
    QTimer *mRefreshTimer = nullptr;
    int mUserField1 = 0;
    int mUserField2 = 0;
    int mUserField3 = 0;
    int mUserField4 = 0;
    QString mLogText;
    bool mDeveloperMode = false;
    bool mConfiguratorAllowed = false;
    QMenu *mHelpMenu = nullptr;
    QAction *mAboutAction = nullptr;
    QAction *mManualAction = nullptr;
    QMenu *mDeveloperMenu = nullptr;
    QAction *mProgramSnAction = nullptr;
    QAction *mUpdateWithAction = nullptr;
    QShortcut *mLogShortcut = nullptr;
};
