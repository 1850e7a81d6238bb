#pragma once

#include <QString>

// Pictures of the resource tree that the pages show.
namespace pictures {
inline const QString hdmi = QStringLiteral(":/gui/media/png/zportHDMI.png");
inline const QString sdi = QStringLiteral(":/gui/media/png/zportSDI.png");
inline const QString unknown = QStringLiteral(":/gui/media/png/zportUnknown.png");
inline const QString none = QStringLiteral(":/gui/media/png/zportNone.png");
} // namespace pictures
