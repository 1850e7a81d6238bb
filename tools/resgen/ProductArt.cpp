#include "ProductArt.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTransform>
#include <QVector>

#include <cmath>

namespace art {

namespace {

QString gFamily;

const QColor kBackground(35, 35, 35);
const QColor kAccent(56, 158, 217);

enum class Variant
{
    Hdmi,
    Sdi,
};

// Box proportions in product units: the front face spans x 0..kWidth, the top face recedes
// from y kTop (front edge) to y 0 (back edge), whose ends are kInset closer together.
constexpr qreal kWidth = 340;
constexpr qreal kTop = 74;
constexpr qreal kHeight = 72;
constexpr qreal kInset = 24;
constexpr qreal kPi = 3.14159265358979323846;

// Fixed-sequence noise for the brushed finish; the pictures must not change between runs.
class Noise
{
public:
    explicit Noise(quint32 state) : mState(state) {}
    quint32 next()
    {
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return mState;
    }
    qreal unit() { return qreal(next() & 0xFFFF) / 65535.0; }

private:
    quint32 mState;
};

QFont makeFont(int pixelSize, bool bold, qreal spacing = 0)
{
    QFont font(gFamily);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    // Unhinted, greyscale outlines: the same pixels whatever the local font configuration says.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias |
                                               QFont::NoFontMerging));
    return font;
}

void drawCentered(QPainter &p, const QString &text, const QFont &font, const QColor &color,
                  qreal centerX, qreal baseline)
{
    const QFontMetricsF metrics(font);
    const qreal width = metrics.horizontalAdvance(text) - font.letterSpacing();
    p.setFont(font);
    p.setPen(color);
    p.drawText(QPointF(centerX - width / 2, baseline), text);
}

QPointF unitVector(const QPointF &v)
{
    const qreal length = std::sqrt(v.x() * v.x() + v.y() * v.y());
    return length > 0 ? v / length : QPointF();
}

QPainterPath roundedPolygon(const QVector<QPointF> &points, const QVector<qreal> &radii)
{
    QPainterPath path;
    const int n = points.size();
    for (int i = 0; i < n; ++i) {
        const QPointF &prev = points[(i + n - 1) % n];
        const QPointF &cur = points[i];
        const QPointF &next = points[(i + 1) % n];
        const QPointF a = cur + unitVector(prev - cur) * radii[i];
        const QPointF b = cur + unitVector(next - cur) * radii[i];
        if (i == 0)
            path.moveTo(a);
        else
            path.lineTo(a);
        path.quadTo(cur, b);
    }
    path.closeSubpath();
    return path;
}

QPainterPath topFacePath()
{
    return roundedPolygon({{kInset, 0}, {kWidth - kInset, 0}, {kWidth, kTop}, {0, kTop}},
                          {9, 9, 3, 3});
}

QPainterPath frontFacePath()
{
    return roundedPolygon(
        {{0, kTop}, {kWidth, kTop}, {kWidth, kTop + kHeight}, {0, kTop + kHeight}}, {3, 3, 10, 10});
}

// Maps a flat W x 100 drawing area onto the top face, in perspective.
QTransform topFaceTransform()
{
    QTransform transform;
    const QPolygonF flat({{0, 0}, {kWidth, 0}, {kWidth, 100}, {0, 100}});
    const QPolygonF face({{kInset, 0}, {kWidth - kInset, 0}, {kWidth, kTop}, {0, kTop}});
    QTransform::quadToQuad(flat, face, transform);
    return transform;
}

QLinearGradient metalGradient(qreal top, qreal bottom, int light, int dark)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0.0, QColor(light, light + 1, light + 4));
    g.setColorAt(0.45, QColor((light + dark) / 2, (light + dark) / 2 + 1, (light + dark) / 2 + 4));
    g.setColorAt(1.0, QColor(dark, dark + 1, dark + 3));
    return g;
}

void drawScrew(QPainter &p, const QPointF &c)
{
    QRadialGradient head(c + QPointF(-1, -1), 3.6);
    head.setColorAt(0, QColor(120, 122, 126));
    head.setColorAt(1, QColor(34, 35, 37));
    p.setPen(QPen(QColor(8, 8, 9), 0.8));
    p.setBrush(head);
    p.drawEllipse(c, 3.2, 3.2);
    p.setPen(QPen(QColor(14, 14, 15), 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-1.7, 0), c + QPointF(1.7, 0));
    p.drawLine(c + QPointF(0, -1.7), c + QPointF(0, 1.7));
}

void drawLabel(QPainter &p, const QString &text, qreal centerX)
{
    drawCentered(p, text, makeFont(8, true, 0.6), QColor(196, 198, 202), centerX, kTop + 15);
}

void drawPanelCutout(QPainter &p, const QPainterPath &shape)
{
    p.setPen(QPen(QColor(0, 0, 0, 170), 3.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.setPen(QPen(QColor(255, 255, 255, 26), 1.0));
    p.drawPath(shape.translated(0, 1.6));
}

void drawHdmiPort(QPainter &p, const QPointF &c)
{
    const qreal w = 56;
    const qreal h = 19;
    const qreal chamfer = 5;
    auto shape = [&](qreal inset) {
        const qreal x = w / 2 - inset;
        const qreal y = h / 2 - inset;
        const qreal k = chamfer - inset * 0.4;
        QPolygonF poly({{c.x() - x, c.y() - y},
                        {c.x() + x, c.y() - y},
                        {c.x() + x, c.y() + y - k},
                        {c.x() + x - k * 1.3, c.y() + y},
                        {c.x() - x + k * 1.3, c.y() + y},
                        {c.x() - x, c.y() + y - k}});
        QPainterPath path;
        path.addPolygon(poly);
        path.closeSubpath();
        return path;
    };
    drawPanelCutout(p, shape(-1.5));
    p.setPen(Qt::NoPen);
    p.setBrush(metalGradient(c.y() - h / 2, c.y() + h / 2, 212, 104));
    p.drawPath(shape(0));
    p.setBrush(QColor(5, 5, 6));
    p.drawPath(shape(2.0));
    // Retention springs in the top of the shell.
    p.setBrush(QColor(150, 152, 156));
    p.drawRect(QRectF(c.x() - w / 4 - 1.5, c.y() - h / 2 + 1.6, 3, 1.4));
    p.drawRect(QRectF(c.x() + w / 4 - 1.5, c.y() - h / 2 + 1.6, 3, 1.4));
    // Contact tongue with its gold fingers.
    const QRectF tongue(c.x() - w / 2 + 8, c.y() - h / 2 + 4.4, w - 16, 5.2);
    QLinearGradient plastic(0, tongue.top(), 0, tongue.bottom());
    plastic.setColorAt(0, QColor(54, 54, 57));
    plastic.setColorAt(1, QColor(22, 22, 24));
    p.setBrush(plastic);
    p.drawRoundedRect(tongue, 0.8, 0.8);
    p.setBrush(QColor(201, 164, 76));
    for (int i = 0; i < 10; ++i) {
        const qreal x = tongue.left() + 2.2 + i * (tongue.width() - 5) / 9.0;
        p.drawRect(QRectF(x - 0.6, tongue.bottom() - 1.8, 1.2, 1.8));
    }
}

void drawUsb3Port(QPainter &p, const QPointF &c)
{
    auto shape = [&](qreal inset) {
        const qreal bx = 15 - inset; // lower body half width
        const qreal tx = 10 - inset; // upper extension half width
        const qreal top = -14 + inset;
        const qreal bottom = 14 - inset;
        const qreal step = -4 + inset * 0.6;
        const qreal k = 4 - inset * 0.4;
        QPainterPath path = roundedPolygon({{c.x() - bx, c.y() + bottom},
                                            {c.x() - bx, c.y() + step + k},
                                            {c.x() - bx + k, c.y() + step},
                                            {c.x() - tx, c.y() + step},
                                            {c.x() - tx, c.y() + top},
                                            {c.x() + tx, c.y() + top},
                                            {c.x() + tx, c.y() + step},
                                            {c.x() + bx - k, c.y() + step},
                                            {c.x() + bx, c.y() + step + k},
                                            {c.x() + bx, c.y() + bottom}},
                                           {1.2, 0.5, 0.5, 0.6, 1.6, 1.6, 0.6, 0.5, 0.5, 1.2});
        return path;
    };
    drawPanelCutout(p, shape(-1.5));
    p.setPen(Qt::NoPen);
    p.setBrush(metalGradient(c.y() - 14, c.y() + 14, 210, 100));
    p.drawPath(shape(0));
    p.setBrush(QColor(5, 5, 6));
    p.drawPath(shape(2.0));

    // SuperSpeed insert, blue as on every USB 3.0 receptacle.
    QLinearGradient blue(0, c.y() - 10, 0, c.y() + 9);
    blue.setColorAt(0, QColor(70, 150, 222));
    blue.setColorAt(1, QColor(22, 86, 156));
    p.setBrush(blue);
    p.drawPath(roundedPolygon({{c.x() - 8.5, c.y() + 8.5},
                               {c.x() - 8.5, c.y() + 2.5},
                               {c.x() - 6.5, c.y() + 0.5},
                               {c.x() + 6.5, c.y() + 0.5},
                               {c.x() + 8.5, c.y() + 2.5},
                               {c.x() + 8.5, c.y() + 8.5}},
                              {0.6, 0.4, 0.4, 0.4, 0.4, 0.6}));
    p.drawRoundedRect(QRectF(c.x() - 4.8, c.y() - 10, 9.6, 5.2), 0.6, 0.6);
    p.setBrush(QColor(206, 170, 80));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(c.x() - 6.2 + i * 3.8, c.y() + 8.5, 1.6, 1.2));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(c.x() - 4.0 + i * 1.8, c.y() - 4.8, 0.9, 1.0));
}

void drawBarrelJack(QPainter &p, const QPointF &c)
{
    p.setPen(QPen(QColor(0, 0, 0, 170), 3.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 12.5, 12.5);
    p.setPen(QPen(QColor(255, 255, 255, 26), 1.0));
    p.drawEllipse(c + QPointF(0, 1.6), 12.5, 12.5);

    QRadialGradient ring(c + QPointF(-3, -4), 13);
    ring.setColorAt(0, QColor(214, 216, 220));
    ring.setColorAt(0.8, QColor(120, 122, 126));
    ring.setColorAt(1, QColor(70, 71, 74));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(c, 11, 11);
    QRadialGradient body(c, 9.2);
    body.setColorAt(0, QColor(38, 38, 40));
    body.setColorAt(1, QColor(16, 16, 17));
    p.setBrush(body);
    p.drawEllipse(c, 9.2, 9.2);
    p.setBrush(QColor(3, 3, 3));
    p.drawEllipse(c, 5.6, 5.6);
    QRadialGradient pin(c + QPointF(-0.7, -0.7), 2.4);
    pin.setColorAt(0, QColor(236, 236, 238));
    pin.setColorAt(1, QColor(110, 111, 114));
    p.setBrush(pin);
    p.drawEllipse(c, 2.1, 2.1);
}

void drawBnc(QPainter &p, const QPointF &c)
{
    // Bulkhead nut.
    QPolygonF hex;
    for (int i = 0; i < 6; ++i) {
        const qreal a = kPi / 3 * i;
        hex << c + QPointF(std::cos(a) * 22, std::sin(a) * 22);
    }
    p.setPen(QPen(QColor(0, 0, 0, 150), 3.0));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(hex);
    QLinearGradient nickel(c + QPointF(-16, -18), c + QPointF(16, 18));
    nickel.setColorAt(0, QColor(206, 208, 212));
    nickel.setColorAt(0.5, QColor(150, 152, 157));
    nickel.setColorAt(1, QColor(84, 86, 90));
    p.setPen(QPen(QColor(60, 61, 64), 0.8));
    p.setBrush(nickel);
    p.drawPolygon(hex);
    QLinearGradient chamfer(c + QPointF(-14, -14), c + QPointF(14, 14));
    chamfer.setColorAt(0, QColor(120, 122, 126));
    chamfer.setColorAt(1, QColor(196, 198, 202));
    p.setPen(Qt::NoPen);
    p.setBrush(chamfer);
    p.drawEllipse(c, 18.2, 18.2);
    p.setBrush(nickel);
    p.drawEllipse(c, 17, 17);

    // Bayonet studs, then the barrel.
    QRadialGradient stud(c, 18);
    stud.setColorAt(0.7, QColor(236, 236, 240));
    stud.setColorAt(1, QColor(120, 121, 125));
    p.setBrush(stud);
    p.drawEllipse(c + QPointF(-14.4, 0), 2.6, 2.6);
    p.drawEllipse(c + QPointF(14.4, 0), 2.6, 2.6);
    QRadialGradient chrome(c + QPointF(-4, -5), 17);
    chrome.setColorAt(0, QColor(252, 252, 254));
    chrome.setColorAt(0.45, QColor(196, 198, 202));
    chrome.setColorAt(0.85, QColor(108, 110, 114));
    chrome.setColorAt(1, QColor(70, 71, 74));
    p.setPen(QPen(QColor(50, 51, 54), 0.7));
    p.setBrush(chrome);
    p.drawEllipse(c, 12.6, 12.6);

    // Bore, insulator and centre contact.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(18, 18, 20));
    p.drawEllipse(c, 9.8, 9.8);
    QRadialGradient ivory(c + QPointF(-1.5, -2), 9);
    ivory.setColorAt(0, QColor(246, 242, 230));
    ivory.setColorAt(1, QColor(186, 180, 164));
    p.setBrush(ivory);
    p.drawEllipse(c, 7.6, 7.6);
    QRadialGradient gold(c + QPointF(-0.6, -0.6), 2.6);
    gold.setColorAt(0, QColor(244, 214, 120));
    gold.setColorAt(1, QColor(150, 108, 36));
    p.setBrush(gold);
    p.drawEllipse(c, 2.3, 2.3);
    p.setBrush(QColor(40, 30, 10));
    p.drawEllipse(c, 0.8, 0.8);
}

void drawLed(QPainter &p, const QPointF &c)
{
    QRadialGradient glow(c, 17);
    glow.setColorAt(0, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 190));
    glow.setColorAt(0.35, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 70));
    glow.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(4, 4, 5));
    p.drawEllipse(c, 4.8, 4.8);
    p.setBrush(glow);
    p.drawEllipse(c, 17, 17);
    QRadialGradient lens(c + QPointF(-0.8, -0.8), 3.6);
    lens.setColorAt(0, QColor(236, 248, 255));
    lens.setColorAt(0.45, QColor(120, 196, 240));
    lens.setColorAt(1, kAccent.darker(130));
    p.setBrush(lens);
    p.drawEllipse(c, 3.2, 3.2);
}

void drawBody(QPainter &p, quint32 finish)
{
    // Feet first: the front face hides their upper half.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 10, 10));
    p.drawRoundedRect(QRectF(20, kTop + kHeight - 4, 34, 8), 2, 2);
    p.drawRoundedRect(QRectF(kWidth - 54, kTop + kHeight - 4, 34, 8), 2, 2);

    // Top: dark anodised aluminium, lit from behind, with a brushed grain.
    const QPainterPath top = topFacePath();
    QLinearGradient topFill(0, 0, 0, kTop);
    topFill.setColorAt(0, QColor(72, 74, 78));
    topFill.setColorAt(0.55, QColor(50, 51, 54));
    topFill.setColorAt(1, QColor(40, 41, 43));
    p.setBrush(topFill);
    p.drawPath(top);
    p.save();
    p.setClipPath(top);
    Noise noise(finish);
    for (int i = 0; i < 260; ++i) {
        const qreal y = noise.unit() * kTop;
        const int alpha = 4 + int(noise.next() % 10);
        const bool light = (noise.next() & 1) != 0;
        p.setPen(QPen(light ? QColor(255, 255, 255, alpha) : QColor(0, 0, 0, alpha), 0.7));
        const qreal x0 = noise.unit() * kWidth * 0.6;
        p.drawLine(QPointF(x0 - 40, y), QPointF(x0 + 60 + noise.unit() * 220, y));
    }
    QLinearGradient sheen(kWidth * 0.2, 0, kWidth * 0.75, kTop);
    sheen.setColorAt(0, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.45, QColor(255, 255, 255, 16));
    sheen.setColorAt(0.55, QColor(255, 255, 255, 16));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sheen);
    p.drawRect(QRectF(0, 0, kWidth, kTop));
    p.restore();
    p.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(kInset + 8, 0.6), QPointF(kWidth - kInset - 8, 0.6));

    // Front face.
    const QPainterPath front = frontFacePath();
    QLinearGradient frontFill(0, kTop, 0, kTop + kHeight);
    frontFill.setColorAt(0, QColor(36, 37, 39));
    frontFill.setColorAt(1, QColor(20, 20, 21));
    p.setPen(Qt::NoPen);
    p.setBrush(frontFill);
    p.drawPath(front);
    // Rounded edge between top and front catches the light.
    QLinearGradient edge(0, kTop - 1.5, 0, kTop + 3);
    edge.setColorAt(0, QColor(88, 90, 94));
    edge.setColorAt(0.4, QColor(150, 152, 156));
    edge.setColorAt(1, QColor(36, 37, 39, 0));
    p.setBrush(edge);
    p.drawRoundedRect(QRectF(1, kTop - 1.5, kWidth - 2, 4.5), 2, 2);
    p.setPen(QPen(QColor(255, 255, 255, 22), 1.0));
    p.drawLine(QPointF(10, kTop + kHeight - 0.5), QPointF(kWidth - 10, kTop + kHeight - 0.5));

    drawScrew(p, {9, kTop + 10});
    drawScrew(p, {kWidth - 9, kTop + 10});
    drawScrew(p, {9, kTop + kHeight - 10});
    drawScrew(p, {kWidth - 9, kTop + kHeight - 10});
}

void drawBranding(QPainter &p, const QString &variant)
{
    p.save();
    p.setTransform(topFaceTransform(), true);

    const QFont maker = makeFont(10, true, 3.2);
    p.setFont(maker);
    p.setPen(QColor(150, 152, 156));
    p.drawText(QPointF(28, 32), QStringLiteral("KORVEL"));

    const QFont family = makeFont(33, true, 0.5);
    p.setFont(family);
    p.setPen(QColor(234, 235, 237));
    const QString name = QStringLiteral("Z-PORT");
    p.drawText(QPointF(26, 74), name);
    const qreal nameEnd = 26 + QFontMetricsF(family).horizontalAdvance(name);

    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRect(QRectF(nameEnd + 7, 50, 3, 24));
    p.setFont(makeFont(26, true, 0.5));
    p.setPen(kAccent);
    p.drawText(QPointF(nameEnd + 18, 74), variant);

    p.setFont(makeFont(9, true, 2.2));
    p.setPen(QColor(128, 130, 134));
    p.drawText(QPointF(28, 90), QStringLiteral("USB 3.0 VIDEO CAPTURE"));

    // Ventilation slots.
    for (int i = 0; i < 5; ++i) {
        const QRectF slot(284 + i * 9.5, 28, 4.5, 54);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 30));
        p.drawRoundedRect(slot.translated(0, 1.4), 2.5, 2.5);
        p.setBrush(QColor(8, 8, 9));
        p.drawRoundedRect(slot, 2.5, 2.5);
    }
    p.restore();
}

void drawProduct(QPainter &p, Variant variant)
{
    const bool hdmi = variant == Variant::Hdmi;
    drawBody(p, hdmi ? 0x48444D49u : 0x53444921u);
    drawBranding(p, hdmi ? QStringLiteral("HDMI") : QStringLiteral("SDI"));

    const qreal portY = kTop + 44;
    if (hdmi) {
        drawLabel(p, QStringLiteral("HDMI IN"), 78);
        drawHdmiPort(p, {78, portY});
        drawLabel(p, QStringLiteral("USB 3.0"), 168);
        drawUsb3Port(p, {168, portY});
        drawLabel(p, QStringLiteral("PWR"), 236);
        drawBarrelJack(p, {236, portY});
        drawLabel(p, QStringLiteral("STATUS"), 296);
        drawLed(p, {296, portY});
    } else {
        drawLabel(p, QStringLiteral("SDI IN"), 60);
        drawBnc(p, {60, portY + 1});
        drawLabel(p, QStringLiteral("SDI LOOP"), 122);
        drawBnc(p, {122, portY + 1});
        drawLabel(p, QStringLiteral("USB 3.0"), 192);
        drawUsb3Port(p, {192, portY});
        drawLabel(p, QStringLiteral("PWR"), 248);
        drawBarrelJack(p, {248, portY});
        drawLabel(p, QStringLiteral("STATUS"), 300);
        drawLed(p, {300, portY});
    }
}

void fillBackdrop(QPainter &p)
{
    p.fillRect(QRectF(0, 0, kPictureWidth, kPictureHeight), kBackground);
    // A soft pool of light that has faded to the window colour before it reaches the edges.
    p.save();
    p.translate(kPictureWidth / 2.0, 130);
    p.scale(1, 0.6);
    QRadialGradient light(QPointF(0, 0), 215);
    light.setColorAt(0, QColor(255, 255, 255, 20));
    light.setColorAt(0.6, QColor(255, 255, 255, 7));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawEllipse(QPointF(0, 0), 215, 215);
    p.restore();
}

QImage productPicture(Variant variant)
{
    const QPointF origin((kPictureWidth - kWidth) / 2, 56);

    QImage layer(kPictureWidth, kPictureHeight, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(origin);
        drawProduct(p, variant);
    }

    // Mirror of the front face on a glossy floor.
    const QRect frontRect =
        QRectF(origin.x() - 2, origin.y() + kTop, kWidth + 4, kHeight + 4).toAlignedRect();
    QImage reflection = layer.copy(frontRect).mirrored(false, true);
    {
        QPainter p(&reflection);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient fade(0, 0, 0, 34);
        fade.setColorAt(0, QColor(0, 0, 0, 60));
        fade.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(reflection.rect(), fade);
    }

    QImage picture(kPictureWidth, kPictureHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    fillBackdrop(p);
    p.save();
    p.translate(origin.x() + kWidth / 2, origin.y() + kTop + kHeight + 3);
    p.scale(1, 0.055);
    QRadialGradient shadow(QPointF(0, 0), kWidth * 0.58);
    shadow.setColorAt(0, QColor(0, 0, 0, 190));
    shadow.setColorAt(0.8, QColor(0, 0, 0, 90));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QPointF(0, 0), kWidth * 0.58, kWidth * 0.58);
    p.restore();
    p.drawImage(frontRect.topLeft() + QPoint(0, frontRect.height() + 1), reflection);
    p.drawImage(0, 0, layer);
    p.end();
    return picture.convertToFormat(QImage::Format_RGB32);
}

// Outline of the box for the panels shown when no known device is present.
void drawGhostBox(QPainter &p, const QColor &line, const QColor &fill)
{
    QPen pen(line, 1.6, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setDashPattern({4, 3});
    p.setPen(pen);
    p.setBrush(fill);
    p.drawPath(topFacePath());
    p.drawPath(frontFacePath());
    pen.setWidthF(1.2);
    pen.setDashPattern({2.5, 2.5});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const qreal y = kTop + 44;
    p.drawRoundedRect(QRectF(50, y - 10, 56, 20), 3, 3);
    p.drawRoundedRect(QRectF(153, y - 14, 30, 28), 3, 3);
    p.drawEllipse(QPointF(236, y), 11, 11);
    p.drawEllipse(QPointF(296, y), 4, 4);
}

// A USB cable whose plug hangs free beside the box outline.
void drawLooseCable(QPainter &p)
{
    const QColor cable(132, 133, 137);
    QPainterPath lead;
    lead.moveTo(358, 106);
    lead.cubicTo(384, 106, 380, 140, 410, 142);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(cable, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(lead);
    p.setPen(Qt::NoPen);
    p.setBrush(cable);
    p.drawRoundedRect(QRectF(336, 97, 24, 18), 3, 3);
    p.setBrush(QColor(168, 169, 173));
    p.drawRect(QRectF(325, 100, 12, 12));
    p.setBrush(QColor(120, 121, 125));
    p.drawRect(QRectF(327, 103, 8, 6));
}

void fillPanel(QPainter &p, const QColor &upper, const QColor &lower, const QColor &border)
{
    p.fillRect(QRectF(0, 0, kPictureWidth, kPictureHeight), kBackground);
    const QRectF panel(6.5, 6.5, kPictureWidth - 13, kPictureHeight - 13);
    QLinearGradient fill(0, panel.top(), 0, panel.bottom());
    fill.setColorAt(0, upper);
    fill.setColorAt(1, lower);
    p.setPen(QPen(border, 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(panel, 12, 12);
    p.setPen(QPen(QColor(255, 255, 255, 28), 1.0));
    p.drawLine(QPointF(panel.left() + 12, panel.top() + 1.2),
               QPointF(panel.right() - 12, panel.top() + 1.2));
}

QImage panelPicture(bool unknown)
{
    QImage picture(kPictureWidth, kPictureHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    if (unknown)
        fillPanel(p, QColor(48, 48, 50), QColor(27, 27, 28), QColor(70, 70, 74));
    else
        fillPanel(p, QColor(222, 223, 225), QColor(192, 193, 196), QColor(160, 161, 164));

    const qreal scale = 0.5;
    p.save();
    p.translate((kPictureWidth - kWidth * scale) / 2, 44);
    p.scale(scale, scale);
    if (unknown) {
        drawGhostBox(p, QColor(104, 106, 110), QColor(255, 255, 255, 8));
        p.setTransform(topFaceTransform(), true);
        drawCentered(p, QStringLiteral("?"), makeFont(80, true), kAccent, kWidth / 2, 86);
    } else {
        drawGhostBox(p, QColor(146, 147, 151), QColor(255, 255, 255, 40));
    }
    p.restore();
    if (!unknown)
        drawLooseCable(p);

    const qreal centerX = kPictureWidth / 2.0;
    const QColor nameColor = unknown ? QColor(232, 233, 235) : QColor(56, 57, 60);
    drawCentered(p, QStringLiteral("Z-PORT"), makeFont(40, true, 0.5), nameColor, centerX, 196);
    p.setPen(Qt::NoPen);
    p.setBrush(unknown ? kAccent : QColor(150, 151, 155));
    p.drawRect(QRectF(centerX - 24, 208, 48, 2.5));
    const QString words =
        unknown ? QStringLiteral("UNKNOWN MODULE") : QStringLiteral("NO MODULE CONNECTED");
    const QColor wordsColor = unknown ? QColor(160, 162, 166) : QColor(92, 93, 97);
    drawCentered(p, words, makeFont(14, true, 3.0), wordsColor, centerX, 238);
    p.end();
    return picture.convertToFormat(QImage::Format_RGB32);
}

} // namespace

void setFontFamily(const QString &family)
{
    gFamily = family;
}

QImage hdmiPicture()
{
    return productPicture(Variant::Hdmi);
}

QImage sdiPicture()
{
    return productPicture(Variant::Sdi);
}

QImage unknownPicture()
{
    return panelPicture(true);
}

QImage nonePicture()
{
    return panelPicture(false);
}

QImage iconPicture(int size)
{
    // Drawn four times larger, then reduced, so the small edges stay smooth.
    const int big = size * 4;
    QImage canvas(big, big, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(big / 192.0, big / 192.0);

        const qreal w = 180;
        const qreal t = 64;
        const qreal h = 62;
        const qreal inset = 16;
        p.translate(6, 30);

        QRadialGradient shadow(QPointF(w / 2, t + h + 4), w / 2);
        shadow.setColorAt(0, QColor(0, 0, 0, 110));
        shadow.setColorAt(1, QColor(0, 0, 0, 0));
        p.save();
        p.translate(w / 2, t + h + 4);
        p.scale(1, 0.12);
        p.translate(-w / 2, -(t + h + 4));
        p.setPen(Qt::NoPen);
        p.setBrush(shadow);
        p.drawEllipse(QPointF(w / 2, t + h + 4), w / 2, w / 2);
        p.restore();

        const QPainterPath top =
            roundedPolygon({{inset, 0}, {w - inset, 0}, {w, t}, {0, t}}, {10, 10, 4, 4});
        QLinearGradient topFill(0, 0, 0, t);
        topFill.setColorAt(0, QColor(96, 98, 102));
        topFill.setColorAt(1, QColor(52, 53, 56));
        p.setPen(QPen(QColor(20, 20, 21), 2.0));
        p.setBrush(topFill);
        p.drawPath(top);

        const QPainterPath front =
            roundedPolygon({{0, t}, {w, t}, {w, t + h}, {0, t + h}}, {4, 4, 12, 12});
        QLinearGradient frontFill(0, t, 0, t + h);
        frontFill.setColorAt(0, QColor(44, 45, 48));
        frontFill.setColorAt(1, QColor(20, 20, 21));
        p.setBrush(frontFill);
        p.drawPath(front);
        p.setPen(QPen(QColor(170, 172, 176), 3.0));
        p.drawLine(QPointF(6, t + 1), QPointF(w - 6, t + 1));

        // A port on the left, the lit indicator on the right.
        p.setPen(Qt::NoPen);
        p.setBrush(metalGradient(t + 20, t + 42, 210, 110));
        p.drawRoundedRect(QRectF(22, t + 20, 56, 22), 3, 3);
        p.setBrush(QColor(6, 6, 7));
        p.drawRoundedRect(QRectF(26, t + 24, 48, 14), 2, 2);

        const QPointF led(w - 36, t + 31);
        QRadialGradient glow(led, 34);
        glow.setColorAt(0, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 230));
        glow.setColorAt(0.4, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 90));
        glow.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
        p.setBrush(glow);
        p.drawEllipse(led, 34, 34);
        QRadialGradient lens(led + QPointF(-2, -2), 11);
        lens.setColorAt(0, QColor(240, 250, 255));
        lens.setColorAt(0.5, QColor(128, 200, 242));
        lens.setColorAt(1, kAccent.darker(120));
        p.setBrush(lens);
        p.drawEllipse(led, 10, 10);
    }
    return canvas.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

} // namespace art
