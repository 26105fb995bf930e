// The log box, the port lamp and the two pictures drawn in code.
#include "widgets.h"

#include "meterart.h"

#include <QAbstractItemView>
#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>
#include <optional>

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

namespace {

// A log's range grows with every line, yet once the log is a few pages long
// its slider keeps its length and its place at the top. Repainting the bar
// then paints the same pixels again. So the bar repaints for a change only
// when the change moves or resizes the slider, or takes it to or from an end.
//
// And Qt's raster engine hands a gradient fill of 96 rows or more to its
// thread pool: for a bar 14 px wide, waking those threads costs many times
// the fill. So while the mouse leaves it alone, the bar is painted in bands
// of 90 rows, each on a picture of its own, and put together on screen.
class LogScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (m_painted && *m_painted == look())
            return;
        QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_painted = look();
        // Hovered or pressed, a part of the bar looks so: QScrollBar knows which.
        if (underMouse() || QGuiApplication::mouseButtons() != Qt::NoButton) {
            QScrollBar::paintEvent(event);
            return;
        }
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        const qreal ratio = devicePixelRatio();
        QPainter painter(this);
        for (int top = 0; top < height(); top += BandRows) {
            QPixmap band(QSize(width(), std::min(BandRows, height() - top)) * ratio);
            band.setDevicePixelRatio(ratio);
            band.fill(Qt::transparent);
            QPainter bandPainter(&band);
            bandPainter.translate(0, -top);
            style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &bandPainter, this);
            bandPainter.end();
            painter.drawPixmap(0, top, band);
        }
    }

    void changeEvent(QEvent *event) override
    {
        m_painted.reset(); // a new style, palette or state paints anew
        QScrollBar::changeEvent(event);
    }

private:
    static constexpr int BandRows = 90; // fewer than the 96 that go to the pool

    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };

    Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    std::optional<Look> m_painted;
};

} // namespace

LogBox::LogBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBar(new LogScrollBar(Qt::Vertical, this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A log grows for days; an undo record per line would grow with it.
    setUndoRedoEnabled(false);
    // The picture covers every pixel: no background to fill first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // Any change but a line put on top (the layout redoes what the text
    // change touched, clearing included), and any scroll, repaints it all.
    const auto forget = [this] {
        if (!m_prepending)
            m_picture.reset();
    };
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::update, this, forget);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, forget);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, forget);
}

void LogBox::prependLine(const QString &line)
{
    const bool atTop = verticalScrollBar()->value() == verticalScrollBar()->minimum();
    {
        const QScopedValueRollback prepending(m_prepending, true);
        QTextCursor cursor(document());
        // Inside an edit block the cursor does not lay out the line it ends on.
        cursor.beginEditBlock();
        cursor.insertText(line + QLatin1Char('\n'));
        cursor.endEditBlock();
        dropLayoutAt(LaidOutLines);
    }
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    if (!m_picture)
        return;
    // With the view at the top, what it showed moved down by the new line.
    // Only that line is drawn: it keeps the glyphs its layout shaped.
    QTextBlock top = document()->firstBlock();
    top.layout()->setCacheEnabled(true);
    const qreal moved = atTop ? blockBoundingRect(top).height() : 0;
    const qreal devicePixels = moved * m_picture->devicePixelRatio();
    if (moved > 0 && devicePixels == std::floor(devicePixels))
        m_shift += int(moved);
    else
        m_picture.reset();
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

// A log shows a line on top for every request, and drawing its glyphs again
// for every line in view is most of what the window paints. So the viewport
// keeps a picture of itself: a new line moves the picture down and only the
// new line is drawn. Whatever shows more than text (the operator's cursor or
// selection, a placeholder, a patterned background) is painted as usual.
bool LogBox::paintsFromPicture() const
{
    const QBrush background = viewport()->palette().brush(viewport()->backgroundRole());
    return !hasFocus() && !textCursor().hasSelection() && extraSelections().isEmpty()
           && (placeholderText().isEmpty() || !document()->isEmpty())
           && background.style() == Qt::SolidPattern && !backgroundVisible() && !centerOnScroll();
}

void LogBox::paintEvent(QPaintEvent *event)
{
    if (!paintsFromPicture()) {
        m_picture.reset();
        m_shift = 0;
        // The viewport is opaque to Qt, which so leaves its background to us.
        QPainter(viewport()).fillRect(event->rect(), viewport()->palette().brush(viewport()->backgroundRole()));
        QPlainTextEdit::paintEvent(event);
        return;
    }
    const QRect view = viewport()->rect();
    const qreal ratio = viewport()->devicePixelRatio();
    if (!m_picture || m_picture->devicePixelRatio() != ratio
        || m_picture->size() != view.size() * ratio || m_shift >= view.height()) {
        m_picture.emplace(view.size() * ratio);
        m_picture->setDevicePixelRatio(ratio);
        drawLines(view);
    } else if (m_shift > 0) {
        m_picture->scroll(0, int(m_shift * ratio), m_picture->rect());
        // From the top down to the line that was on top, below the margin.
        const qreal margin = blockBoundingGeometry(document()->firstBlock()).translated(contentOffset()).top();
        drawLines(QRect(0, 0, view.width(), m_shift + int(std::ceil(margin))));
    }
    m_shift = 0;
    QPainter painter(viewport());
    for (const QRect &r : event->region())
        painter.drawPixmap(r, *m_picture, QRectF(r.topLeft() * ratio, r.size() * ratio));
}

// The lines over `area` into the picture, as QPlainTextEdit draws them when
// there is neither cursor nor selection.
void LogBox::drawLines(const QRect &area)
{
    QPainter painter(&*m_picture);
    painter.fillRect(area, viewport()->palette().brush(viewport()->backgroundRole()));
    QPointF offset = contentOffset();
    const qreal margin = document()->documentMargin();
    const qreal textWidth = std::max<qreal>(viewport()->width(), document()->documentLayout()->documentSize().width());
    QRect clip = area;
    clip.setRight(std::min(clip.right(), int(offset.x() + textWidth - margin)));
    painter.setClipRect(clip);
    painter.setBrushOrigin(offset);
    painter.setPen(getPaintContext().palette.text().color());
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF r = blockBoundingRect(block).translated(offset);
        if (block.isVisible() && r.bottom() >= clip.top() && r.top() <= clip.bottom())
            block.layout()->draw(&painter, offset, {}, clip);
        offset.ry() += r.height();
        if (offset.y() > clip.bottom())
            break;
    }
}

void LogBox::resizeEvent(QResizeEvent *event)
{
    m_picture.reset();
    QPlainTextEdit::resizeEvent(event);
}

void LogBox::changeEvent(QEvent *event)
{
    m_picture.reset(); // palette, font, style, enabled, active window
    QPlainTextEdit::changeEvent(event);
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

QPixmap meterPicture()
{
    return QPixmap::fromImage(meterPictureImage());
}

QIcon windowIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(meterIconImage()));
    return icon;
}

} // namespace movra
