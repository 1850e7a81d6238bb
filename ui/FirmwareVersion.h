#pragma once

#include <QString>

// A firmware version as "major.minor", compared as numbers: 1.10 is newer than 1.9.
struct FirmwareVersion
{
    unsigned major = 0;
    unsigned minor = 0;

    // Reads "major.minor"; returns false (and leaves the version 0.0) for anything else.
    static bool parse(const QString &text, FirmwareVersion &version);
    QString toString() const { return QStringLiteral("%1.%2").arg(major).arg(minor); }
    bool operator<(const FirmwareVersion &other) const
    {
        return major < other.major || (major == other.major && minor < other.minor);
    }
};

// The versions of the images the program carries.
constexpr FirmwareVersion kCarriedCpuVersion{1, 9};
constexpr FirmwareVersion kCarriedFpgaVersion{1, 13};

// The Configure tab (and the device log) need CPU firmware of at least the carried version.
bool configuratorAllowed(const QString &cpuVersion);
