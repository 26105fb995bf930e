// The log box, the port lamp and the two pictures drawn in code.
#include "widgets.h"

#include "meterart.h"

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
