#pragma once

#include "DeviceProbe.h"

#include <QString>
#include <QThread>

class WinHID;

// Watches a connected device by enumeration only (never touching the open handle) and reports
// once when it is no longer the single recognised Z-PORT.
class DisconnectDetectThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kDefaultPollIntervalMs = 1000;

    explicit DisconnectDetectThread(QObject *parent = nullptr);
    DisconnectDetectThread(WinHID &link, QObject *parent = nullptr);

    void setPollInterval(int milliseconds) { mPollIntervalMs = milliseconds; }

    ProbeResult probeDevice();

signals:
    void PostAppStatusMessage(QString message);
    void PostConnectionStatus(QString message, int code);

protected:
    void run() override;

private:
    WinHID &mLink;
    int mPollIntervalMs = kDefaultPollIntervalMs;
};
