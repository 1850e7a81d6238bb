#pragma once

#include "DeviceProbe.h"

#include <QString>
#include <QThread>

#include <cstdint>

class WinHID;

// One scan: finds the single Z-PORT, opens it, puts it into update mode and reads its
// versions, user fields and serial number. Reports only through its signals.
class DiscoverThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kRetryCount = 10;
    static constexpr int kDefaultRetryIntervalMs = 1000;

    explicit DiscoverThread(QObject *parent = nullptr);
    DiscoverThread(WinHID &link, QObject *parent = nullptr);

    // Pause before each retry of the probe.
    void setRetryInterval(int milliseconds) { mRetryIntervalMs = milliseconds; }

    ProbeResult probeDevice();
    int enableFUMode();
    int writeCmd(std::uint8_t cmd, std::uint32_t argument, const std::uint8_t *payload,
                 std::uint16_t length);

signals:
    void PostAppStatusMessage(QString message);
    void PostConnectionStatus(QString message, int code);
    void PostModuleVersion(uint32_t fx3Major, uint32_t fx3Minor, uint32_t fpgaMajor,
                           uint32_t fpgaMinor);
    void PostUserFields(int int1, int int2, int int3, int int4);
    void PostModuleType(uint32_t type);
    void PostModuleSerial(QString sn);

protected:
    void run() override;

private:
    void reportTimeout();

    WinHID &mLink;
    int mRetryIntervalMs = kDefaultRetryIntervalMs;
};
