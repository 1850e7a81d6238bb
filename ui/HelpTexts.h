#pragma once

#include <QString>

namespace help {

constexpr char kVersion[] = "1.5.6";
constexpr char kBuild[] = "19";
constexpr char kManualFileName[] = "Korvel_Z-PORT_Manual_v1.5.6.pdf";

// The About box's text; the build number shows in developer mode only.
QString aboutText(bool developerMode, const QString &qtVersion);

// Where the configuration manual lies beside the program.
QString configManualPath(const QString &applicationDir);

} // namespace help
