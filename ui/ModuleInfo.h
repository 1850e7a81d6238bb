#pragma once

#include <QString>

#include <cstdint>

// What the window knows about the connected Z-PORT. Only touched on the GUI thread.
class ModuleInfo
{
public:
    void setVersions(std::uint32_t cpuMajor, std::uint32_t cpuMinor, std::uint32_t fpgaMajor,
                     std::uint32_t fpgaMinor);
    QString cpuVersion() const { return mCpuVersion; }
    QString fpgaVersion() const { return mFpgaVersion; }

    QString serialNumber() const { return mSerialNumber; }
    void setSerialNumber(const QString &serial) { mSerialNumber = serial; }

    bool connected() const { return mConnected; }
    void setConnected(bool connected) { mConnected = connected; }

    std::uint32_t moduleType() const { return mModuleType; }
    void setModuleType(std::uint32_t type) { mModuleType = type; }

private:
    QString mCpuVersion = QStringLiteral("255.255");
    QString mFpgaVersion = QStringLiteral("255.255");
    QString mSerialNumber = QStringLiteral("00000000");
    bool mConnected = false;
    std::uint32_t mModuleType = 0xFFFF;
};
