// The log box, the port lamp and the two pictures drawn in code.
#include "widgets.h"

#include "meterart.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
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
    // Two changes, each where it is: one change from top to bottom would
    // have the layout go over every line.
    while (lineCount() >= MaxLines)
        dropOldestLine();
    QTextCursor cursor(document());
    // Inside an edit block the cursor does not lay out the line it ends on.
    cursor.beginEditBlock();
    cursor.insertText(line + QLatin1Char('\n'));
    cursor.endEditBlock();
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

// The bottom line goes with its line end. Text the operator typed after the
// last line end is the bottom line; it goes and the line end above it stays.
void LogBox::dropOldestLine()
{
    QTextDocument *doc = document();
    const QTextBlock last = doc->lastBlock();
    const QTextBlock oldest = last.length() <= 1 ? last.previous() : last;
    QTextCursor cursor(doc);
    cursor.beginEditBlock(); // so the cursor lays out no line where it stops
    cursor.setPosition(oldest.position());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

void LogBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (!m_menuActions.isEmpty()) {
        menu->addSeparator();
        menu->addActions(m_menuActions);
    }
    menu->popup(event->globalPos());
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
