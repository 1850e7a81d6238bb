#include "ConnectionMessages.h"

const char *const kSupportNumber = "1-800-555-0142";

namespace {

QString callSupport()
{
    return QStringLiteral("Korvel Support at<br>") + QLatin1String(kSupportNumber) +
           QStringLiteral("</p>");
}

} // namespace

ConnectionReaction connectionReaction(int code)
{
    const QString connectionFailed = QStringLiteral("Connection Failed!");
    const QString failedToConnect = QStringLiteral("Failed to Connect");
    ConnectionReaction r;
    r.known = code >= 0 && code <= 6;
    switch (code) {
    case 0:
        r.statusText = QStringLiteral("Disconnected");
        break;
    case 1:
        r.connected = true;
        break;
    case 2:
        r.boxTitle = connectionFailed;
        r.boxText = QStringLiteral("<p align='center'><b>Connection Failed!</b><br><br>Please make "
                                   "sure your Z-PORT\t\t\tis plugged in, and then scan again.</p>");
        r.statusText = failedToConnect;
        break;
    case 3:
        r.boxTitle = connectionFailed;
        r.boxText = QStringLiteral("<p align='center'><b>Could Not Determine PID</b><br><br>Z-PORT "
                                   "Updater was unable to\t\t\tdetermine the PID of the device. "
                                   "Please call\t\t\t") +
                    callSupport();
        r.statusText = failedToConnect;
        break;
    case 4:
        r.boxTitle = connectionFailed;
        r.boxText =
            QStringLiteral("<p align='center'><b>Unrecognized PID</b><br><br>Z-PORT Updater "
                           "was unable to\t\t\trecognize PID of the device. Please "
                           "call\t\t\t") +
            callSupport();
        r.statusText = failedToConnect;
        break;
    case 5:
        r.boxTitle = QStringLiteral("Communication Failed!");
        r.boxText =
            QStringLiteral("<p align='center'><b>Timed Out!</b><br><br>A HID device on your "
                           "PC seems to be\t\t\tresponding slowly, or the Z-PORT is "
                           "unresponsive.\t\t\tPlease Power-cycle the Z-PORT. If problems "
                           "persist, please call\t\t\t") +
            callSupport();
        r.statusText = QStringLiteral("Timed Out");
        break;
    case 6:
        r.boxTitle = connectionFailed;
        r.boxText =
            QStringLiteral("<p align='center'><b>Too Many Z-PORTs Connected!</b><br><br>Only "
                           "one Z-PORT may\t\t\tbe connected to the Updater at a time. "
                           "Disconnect\t\t\tany additional Z-PORT(s), and then scan "
                           "again.</p>");
        r.statusText = failedToConnect;
        break;
    default:
        break;
    }
    return r;
}
