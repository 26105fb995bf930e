// The tool's pictures, drawn in code: the meter's front panel and the icon.
#include "meterart.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>

namespace movra {

namespace {

QFont pixelFont(const char *family, int px, bool bold = false, bool italic = false)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(px);
    f.setBold(bold);
    f.setItalic(italic);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// A raised silver surface with a dark rim.
void drawBezel(QPainter &p, const QRectF &r, qreal radius)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0xEE, 0xF0, 0xF2));
    g.setColorAt(0.5, QColor(0xC9, 0xCD, 0xD2));
    g.setColorAt(1, QColor(0x9A, 0xA0, 0xA7));
    p.setPen(QPen(QColor(0x4A, 0x4F, 0x55), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
}

// A dark display window in a recessed frame.
void drawDisplay(QPainter &p, const QRectF &window)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x6E, 0x73, 0x79));
    p.drawRect(window.adjusted(-2, -2, 2, 2));
    p.setBrush(QColor(0xF4, 0xF6, 0xF8));
    p.drawRect(QRectF(window.left() - 2, window.bottom() + 1, window.width() + 4, 1));
    QLinearGradient glass(window.topLeft(), window.bottomLeft());
    glass.setColorAt(0, QColor(0x1C, 0x10, 0x10));
    glass.setColorAt(1, QColor(0x05, 0x03, 0x03));
    p.setBrush(glass);
    p.drawRect(window);
}

// A column of indicator legends, each with a small LED above it.
void drawLegends(QPainter &p, qreal centreX, qreal top, qreal height, const QStringList &names, int lit)
{
    const qreal row = height / names.size();
    p.setFont(pixelFont("Liberation Sans Narrow", 7, true));
    for (int i = 0; i < names.size(); ++i) {
        const qreal y = top + row * i;
        p.setPen(QPen(QColor(0x40, 0x10, 0x10), 0.6));
        p.setBrush(i == lit ? QColor(0xFF, 0x20, 0x20) : QColor(0x70, 0x18, 0x18));
        p.drawEllipse(QPointF(centreX, y + 4.5), 2, 2);
        p.setPen(QColor(0x26, 0x2A, 0x2F));
        p.drawText(QRectF(centreX - 7, y + 7, 14, 9), Qt::AlignCenter, names.at(i));
    }
}

void drawKey(QPainter &p, const QRectF &r, const QString &legend, int arrow)
{
    p.setPen(QPen(QColor(0x3A, 0x3E, 0x44), 1));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0x5C, 0x62, 0x69));
    g.setColorAt(1, QColor(0x2C, 0x30, 0x35));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    p.setPen(QColor(0x8A, 0x90, 0x97));
    p.drawLine(QPointF(r.left() + 3, r.top() + 1.5), QPointF(r.right() - 3, r.top() + 1.5));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xF2, 0xF2));
    const QPointF c = r.center();
    QPolygonF tri;
    switch (arrow) {
    case 1: // left
        tri << QPointF(c.x() - 4, c.y()) << QPointF(c.x() + 3, c.y() - 4) << QPointF(c.x() + 3, c.y() + 4);
        break;
    case 2: // up
        tri << QPointF(c.x(), c.y() - 4) << QPointF(c.x() - 4.5, c.y() + 3) << QPointF(c.x() + 4.5, c.y() + 3);
        break;
    case 3: // down
        tri << QPointF(c.x(), c.y() + 4) << QPointF(c.x() - 4.5, c.y() - 3) << QPointF(c.x() + 4.5, c.y() - 3);
        break;
    default:
        p.setPen(QColor(0xF2, 0xF2, 0xF2));
        p.setFont(pixelFont("Liberation Sans", 8, true));
        p.drawText(r, Qt::AlignCenter, legend);
        return;
    }
    p.drawPolygon(tri);
}

// The maker's mark: a ring with a pointer, and the name beside it.
void drawLogo(QPainter &p, const QPointF &at)
{
    const QColor blue(0x1B, 0x4F, 0x9C);
    p.setPen(QPen(blue, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(at + QPointF(7, 7), 6, 6);
    p.setPen(QPen(QColor(0xD0, 0x20, 0x20), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(at + QPointF(7, 7), at + QPointF(11, 3));
    p.setPen(blue);
    p.setFont(pixelFont("Liberation Sans", 14, true, true));
    p.drawText(QRectF(at.x() + 17, at.y() - 3, 64, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("MOVRA"));
    p.setPen(QColor(0x3A, 0x3F, 0x45));
    p.setFont(pixelFont("Liberation Sans Narrow", 7, true));
    p.drawText(QRectF(at.x() + 18, at.y() + 14, 64, 9), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("MULTI POWER METER"));
}

} // namespace

QImage meterPictureImage()
{
    QImage img(289, 102, QImage::Format_RGB32);
    img.fill(QColor(0xB8, 0xBD, 0xC3));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    drawBezel(p, QRectF(0.5, 0.5, 288, 101), 6);
    // The face inside the bezel, a shade flatter.
    p.setPen(QPen(QColor(0xA4, 0xAA, 0xB1), 1));
    p.setBrush(QColor(0xD6, 0xDA, 0xDE));
    p.drawRoundedRect(QRectF(2.5, 2.5, 284, 97), 4, 4);

    p.setRenderHint(QPainter::Antialiasing, false);
    drawDisplay(p, QRectF(16, 8, 257, 52));
    p.setRenderHint(QPainter::Antialiasing);

    drawLegends(p, 8.5, 8, 52, {QStringLiteral("V"), QStringLiteral("A"), QStringLiteral("Hz")}, 0);
    drawLegends(p, 280.5, 8, 52, {QStringLiteral("kW"), QStringLiteral("PF"), QStringLiteral("kWh")}, -1);

    drawLogo(p, QPointF(16, 72));

    const QStringList keys = {QStringLiteral("SET"), QString(), QString(), QString(), QStringLiteral("ENT")};
    const qreal keyW = 28, keyH = 18, gap = 5;
    qreal x = 273 - (keys.size() * keyW + (keys.size() - 1) * gap);
    for (int i = 0; i < keys.size(); ++i, x += keyW + gap)
        drawKey(p, QRectF(x, 72, keyW, keyH), keys.at(i), i >= 1 && i <= 3 ? i : 0);
    p.end();
    return img;
}

QImage meterIconImage()
{
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawBezel(p, QRectF(2.5, 8.5, 59, 47), 6);
    p.setRenderHint(QPainter::Antialiasing, false);
    drawDisplay(p, QRectF(9, 14, 46, 20));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0xFF, 0x22, 0x22));
    p.setFont(pixelFont("Liberation Sans", 17, true));
    p.drawText(QRectF(9, 13, 46, 21), Qt::AlignCenter, QStringLiteral("8.8"));
    for (int i = 0; i < 3; ++i)
        drawKey(p, QRectF(12 + i * 14, 40, 11, 9), QString(), -1);
    p.end();
    return img;
}

} // namespace movra
