#include "WindowFrame.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

namespace {

constexpr int kBorder = 1;
constexpr int kTitleHeight = 26;

} // namespace

QImage framedWindow(const QPixmap &content, const QString &title)
{
    const QSize inner = content.size() / content.devicePixelRatio();
    QImage image(inner.width() + 2 * kBorder, inner.height() + kTitleHeight + 2 * kBorder,
                 QImage::Format_RGB32);
    image.fill(QColor(120, 122, 126));

    QPainter p(&image);
    const QRect bar(kBorder, kBorder, inner.width(), kTitleHeight);
    QLinearGradient fill(bar.topLeft(), bar.bottomLeft());
    fill.setColorAt(0, QColor(236, 237, 239));
    fill.setColorAt(1, QColor(214, 216, 220));
    p.fillRect(bar, fill);
    p.setPen(QColor(170, 172, 176));
    p.drawLine(bar.bottomLeft(), bar.bottomRight());

    QFont font = QApplication::font();
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(40, 40, 42));
    const QString shown = QFontMetrics(font).elidedText(title, Qt::ElideRight, bar.width() - 70);
    p.drawText(bar, Qt::AlignCenter, shown);

    // A close mark at the right, as window managers draw one.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 92, 96), 1.6));
    const QPointF c(bar.right() - 14.5, bar.center().y() + 0.5);
    p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
    p.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
    p.setRenderHint(QPainter::Antialiasing, false);

    p.drawPixmap(QRect(QPoint(kBorder, kBorder + kTitleHeight), inner), content);
    p.end();
    return image;
}

QImage withPopup(const QPixmap &window, const QPixmap &popup, const QPoint &offset)
{
    QImage image = window.toImage().convertToFormat(QImage::Format_RGB32);
    QPainter p(&image);
    const QSize size = popup.size() / popup.devicePixelRatio();
    // A soft edge on the right and bottom, so the menu stands off the window.
    p.fillRect(QRect(offset + QPoint(3, 3), size), QColor(0, 0, 0, 60));
    p.drawPixmap(QRect(offset, size), popup);
    p.end();
    return image;
}
