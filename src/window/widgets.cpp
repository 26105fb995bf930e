// The log box, the port lamp and the two pictures drawn in code.
#include "widgets.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace movra {

namespace {
const QString CrLf = QStringLiteral("\r\n");
}

// ---------------------------------------------------------------- list drop-down

namespace {

// Watches the popup that holds the combo's list.
class DropDownWatch : public QObject {
public:
    DropDownWatch(QObject *parent, std::function<void()> dropping)
        : QObject(parent), m_dropping(std::move(dropping)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            m_dropping();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_dropping;
};

} // namespace

void onListDropDown(QComboBox *combo, std::function<void()> dropping)
{
    QWidget *popup = combo->view()->parentWidget();
    popup->installEventFilter(new DropDownWatch(combo, std::move(dropping)));
}

// ---------------------------------------------------------------- LogBox

LogBox::LogBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A log grows for days; an undo record per line would grow with it.
    setUndoRedoEnabled(false);
}

void LogBox::prependLine(const QString &line)
{
    QTextCursor cursor(document());
    // Inside an edit block the cursor does not lay out the line it ends on.
    cursor.beginEditBlock();
    cursor.insertText(line + QLatin1Char('\n'));
    cursor.endEditBlock();
    dropLayoutAt(LaidOutLines);
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

// Every line is painted once near the top, and its block keeps the text layout
// made for that (some hundred bytes, far more than the line) for as long as
// the block lives. So the line that has just moved down to `depth` gets a
// fresh block: deleting the line end above it removes its block, layout and
// all, and putting the line end back makes a new block for the same text.
// A change of its own, so the lines above keep their layouts.
void LogBox::dropLayoutAt(int depth)
{
    if (document()->blockCount() <= depth + 1)
        return; // not that deep yet, or that line is the empty last block
    const int start = document()->findBlockByNumber(depth).position();
    QTextCursor cursor(document());
    cursor.beginEditBlock(); // also keeps setPosition() from laying out
    cursor.setPosition(start - 1);
    cursor.setPosition(start, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.insertBlock();
    cursor.endEditBlock();
}

QString LogBox::text() const
{
    // The raw text keeps every character as it is (toPlainText() turns a
    // no-break space into a blank) and ends each block with U+2029.
    QString out = document()->toRawText();
    out.replace(QChar::ParagraphSeparator, CrLf);
    return out;
}

void LogBox::clearLog()
{
    clear();
}

int LogBox::lineCount() const
{
    // Each line ends with a line end, so after the last one comes an empty
    // block; text the operator typed at the very end is a line of its own.
    const QTextDocument *doc = document();
    return doc->blockCount() - (doc->lastBlock().length() <= 1 ? 1 : 0);
}

// ---------------------------------------------------------------- Lamp

Lamp::Lamp(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

QColor Lamp::toColor(int windowsColor)
{
    return QColor(windowsColor & 0xFF, (windowsColor >> 8) & 0xFF, (windowsColor >> 16) & 0xFF);
}

void Lamp::setFillColor(int windowsColor)
{
    windowsColor &= 0xFFFFFF;
    if (windowsColor == m_color)
        return;
    m_color = windowsColor;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(toColor(m_color));
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

// ---------------------------------------------------------------- pictures

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

QPixmap meterPicture()
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
    return QPixmap::fromImage(img);
}

QIcon windowIcon()
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
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(img));
    return icon;
}

} // namespace movra
