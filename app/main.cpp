#include "Startup.h"

#include "threads/MetaTypes.h"
#include "ui/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    setSmallApplicationFont();
    registerUint32MetaType();
    const bool developerMode = developerModeRequested(QApplication::arguments());

    MainWindow window(developerMode);
    registerErrorCodesMetaType();
    installCarriedFont();
    fixWindowHeight(window);
    window.show();
    return app.exec();
}
