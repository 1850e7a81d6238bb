#include "FirmwareVersion.h"

#include <QRegularExpression>

bool FirmwareVersion::parse(const QString &text, FirmwareVersion &version)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})\\.(\\d{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        version = FirmwareVersion();
        return false;
    }
    version.major = match.captured(1).toUInt();
    version.minor = match.captured(2).toUInt();
    return true;
}

bool configuratorAllowed(const QString &cpuVersion)
{
    FirmwareVersion version;
    return FirmwareVersion::parse(cpuVersion, version) && !(version < kCarriedCpuVersion);
}
