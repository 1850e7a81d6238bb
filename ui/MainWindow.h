#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>

namespace Ui {
class MainWindowUi;
class UnknownUi;
class ZportUi;
} // namespace Ui

class DiscoverThread;
class DisconnectDetectThread;
class ModuleInfo;
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
    explicit MainWindow(bool developerMode, QWidget *parent = nullptr);
    ~MainWindow() override;

    DiscoverThread *discoverThread() const { return mDiscoverThread; }
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
    void PostModuleVersion(uint32_t fx3Major, uint32_t fx3Minor, uint32_t fpgaMajor,
                           uint32_t fpgaMinor);
    void PostUserFields(int int1, int int2, int int3, int int4);
    void PostModuleType(uint32_t moduleType);
    void PostModuleSerial(QString sn);
    void mUpdateZportUI();

private slots:
    void findDevicePressed();

private:
    void setUpPagesAndConnections();
    void showScanPage(const QString &picture);
    void showDevicePage(const QString &picture);

    DiscoverThread *mDiscoverThread = nullptr;
    DisconnectDetectThread *mDisconnectThread = nullptr;
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
