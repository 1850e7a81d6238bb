#include "Startup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QMainWindow>
#include <QMenuBar>

bool developerModeRequested(const QStringList &arguments)
{
    bool developer = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument.size() >= 2 && argument.at(0) == QLatin1Char('-') &&
            argument.at(1) == QLatin1Char('d'))
            developer = true;
    }
    return developer;
}

void setSmallApplicationFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(11);
    QApplication::setFont(font);
}

void installCarriedFont()
{
    if (QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Vera.ttf")) != -1)
        QApplication::setFont(QFont(QStringLiteral("MyFont"), -1, -1, false));
}

void fixWindowHeight(QMainWindow &window)
{
    // The size hint, not the current height: before the first show the bar still has a
    // default height that differs from the one it will be laid out with.
    window.setFixedHeight(window.menuBar()->sizeHint().height() + window.height());
}
