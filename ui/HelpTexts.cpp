#include "HelpTexts.h"

namespace help {

QString aboutText(bool developerMode, const QString &qtVersion)
{
    QString text =
        QStringLiteral("<p><b>Korvel Z-PORT Updater</b><br>Version ") + QLatin1String(kVersion);
    if (developerMode)
        text += QStringLiteral(" (build ") + QLatin1String(kBuild) + QLatin1Char(')');
    text += QStringLiteral("</p>");
    text += QStringLiteral("<p><br><br>This application updates and controls Korvel Z-PORT "
                           "products.<br>A USB connection is required.</p>");
    text += QStringLiteral(
        "<p><br>This program uses the <a href=\"https://code.qt.io/cgit/qt/qtbase.git/\">Qt "
        "cross-platform library</a> which is licensed under <a "
        "href=\"https://doc.qt.io/qt-5/lgpl.html\">LGPLv3</a>.</p>");
    text += QStringLiteral("<p>Using Qt Version: %1</p>").arg(qtVersion);
    return text;
}

QString configManualPath(const QString &applicationDir)
{
    const QString folder = applicationDir + QStringLiteral("/documentation");
    return QStringLiteral("%1_Z-PORT_Config_manual.pdf")
        .arg(QStringLiteral("%1/Korvel").arg(folder));
}

} // namespace help
