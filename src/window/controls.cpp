// Form1's controls: the table and the code that builds the widgets from it.
#include "controls.h"

#include "widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <QStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <vector>

namespace movra {

namespace {

using K = ControlKind;

constexpr const char *Arial = "Arial";
constexpr const char *Ming = "新細明體";

constexpr FontSpec WindowFont{nullptr, 9, false};
constexpr FontSpec NoFont{nullptr, 0, false};

constexpr FontSpec arial(double points, bool bold = false) { return {Arial, points, bold}; }
constexpr FontSpec ming(double points) { return {Ming, points, false}; }

} // namespace

// In stored order: earlier rows lie above later ones where they overlap.
// Blank runs inside captions are exact (13 before "H", 9 before "(0~255)").
const std::array<ControlSpec, ControlCount> ControlTable = {{
    {"Check1", K::CheckBox, nullptr, "", None, 0, 0, 255, 255, 48, WindowFont, nullptr, 0},
    {"Frame3", K::Frame, nullptr, "操作2(選擇儀表型號 / 位址'站號')", None, 3840, 120, 7935, 2655, 40, ming(15.75), nullptr, 0},
    {"Command2", K::CommandButton, "Frame3", "連線", Disabled, 120, 1920, 1455, 615, 45, arial(15.75), nullptr, 0},
    {"Combo7", K::ComboBox, "Frame3", "", Disabled, 1800, 480, 1575, 480, 44, arial(15.75), nullptr, 0},
    {"Combo6", K::ComboBox, "Frame3", "", Disabled, 1800, 1080, 1575, 480, 41, arial(15.75), nullptr, 0},
    {"signal2", K::Label, "Frame3", "", None, 1680, 1920, 6135, 615, 47, arial(12), nullptr, 0},
    {"signal1", K::Label, "Frame3", "", None, 3720, 480, 3855, 775, 46, arial(36, true), nullptr, 0},
    {"Label13", K::Label, "Frame3", "儀表型號", Bordered, 120, 480, 1575, 495, 43, arial(15.75, true), nullptr, 0},
    {"Label5", K::Label, "Frame3", "儀表位址", Bordered, 120, 1080, 1575, 495, 42, arial(15.75, true), nullptr, 0},
    {"Image1", K::Image, "Frame3", "", None, 3480, 360, 4335, 1530, -1, NoFont, nullptr, 0},
    {"Timer2", K::Timer, nullptr, "", None, 0, 0, 0, 0, -1, NoFont, nullptr, 0},
    {"Command10", K::CommandButton, nullptr, "掃瞄", None, 7080, 8760, 1335, 615, 37, arial(12), nullptr, 0},
    {"Text12", K::TextBox, nullptr, "", MultiLine, 6960, 4080, 4335, 4455, 36, arial(12), nullptr, 0},
    {"Combo5", K::ComboBox, nullptr, "", None, 6960, 3480, 4335, 450, 35, arial(14.25), nullptr, 0},
    {"Text10", K::TextBox, nullptr, "", Hidden, 7080, 6360, 2775, 495, 34, WindowFont, nullptr, 0},
    {"Text9", K::TextBox, nullptr, "", None, 7080, 5760, 2775, 495, 33, WindowFont, nullptr, 0},
    {"Text8", K::TextBox, nullptr, "", None, 7080, 5160, 2775, 495, 32, WindowFont, nullptr, 0},
    {"Command6", K::CommandButton, nullptr, "離開", None, 240, 8640, 1575, 495, 28, ming(15.75), nullptr, 0},
    {"Frame1", K::Frame, nullptr, "操作1(設定COM 埠)", None, 120, 120, 3615, 3015, 0, ming(15.75), nullptr, 0},
    {"Command12", K::CommandButton, "Frame1", "結束", None, 2280, 2160, 1095, 615, 49, ming(15.75), "0", 0},
    {"Command1", K::CommandButton, "Frame1", "OPEN", None, 120, 2160, 1095, 615, 4, ming(15.75), "0", 0},
    {"Combo1", K::ComboBox, "Frame1", "", None, 1920, 480, 1455, 360, 3, ming(12), nullptr, 0},
    {"Combo2", K::ComboBox, "Frame1", "", None, 1920, 960, 1455, 360, 2, ming(12), nullptr, 0},
    {"Combo3", K::ComboBox, "Frame1", "", None, 1920, 1440, 1455, 360, 1, ming(12), nullptr, 0},
    {"Shape1", K::Shape, "Frame1", "", None, 1440, 2160, 495, 495, -1, NoFont, nullptr, 0},
    {"Label3", K::Label, "Frame1", "通訊協定", Bordered, 120, 1440, 1575, 400, 8, arial(14.25, true), nullptr, 0},
    {"Label2", K::Label, "Frame1", "通訊鮑率", Bordered, 120, 960, 1575, 400, 7, arial(14.25, true), nullptr, 0},
    {"Label1", K::Label, "Frame1", "COM 埠", Bordered, 120, 480, 1575, 400, 6, arial(14.25, true), nullptr, 0},
    {"Label4", K::Label, "Frame1", "Label4", None, 840, 600, 15, 615, 5, ming(9), nullptr, 0},
    {"MSComm1", K::SerialControl, nullptr, "", None, 0, 0, 0, 0, -1, NoFont, nullptr, 0},
    {"Frame2", K::Frame, nullptr, "測試模式", None, 120, 3360, 6735, 6015, 9, ming(15.75), nullptr, 0},
    {"Text6", K::TextBox, "Frame2", "0000", None, 1680, 2760, 855, 435, 26, ming(15.75), nullptr, 4},
    {"Command5", K::CommandButton, "Frame2", "發送命令-W", None, 120, 3840, 1575, 495, 25, ming(12), nullptr, 0},
    {"Text5", K::TextBox, "Frame2", "", None, 5160, 2820, 1335, 435, 24, ming(15.75), nullptr, 0},
    {"Command4", K::CommandButton, "Frame2", "清除", None, 120, 4560, 1575, 495, 22, ming(15.75), nullptr, 0},
    {"Text4", K::TextBox, "Frame2", "", MultiLine, 3720, 600, 2895, 2175, 21, ming(9), nullptr, 0},
    {"Text3", K::TextBox, "Frame2", "", MultiLine, 3720, 3360, 2895, 2295, 20, ming(9), nullptr, 0},
    {"Combo4", K::ComboBox, "Frame2", "", None, 3120, 2760, 615, 435, 15, ming(15.75), nullptr, 0},
    {"Command3", K::CommandButton, "Frame2", "發送命令-R", None, 120, 3240, 1575, 495, 14, ming(12), nullptr, 0},
    {"Text2", K::TextBox, "Frame2", "0000", None, 1680, 2160, 855, 435, 13, ming(15.75), nullptr, 4},
    {"Option2", K::OptionButton, "Frame2", "寫入(06H)", Hidden | Selected, 1680, 1680, 1695, 375, 12, ming(15.75), nullptr, 0},
    {"Option1", K::OptionButton, "Frame2", "讀取(03H)", None, 1680, 1200, 1815, 375, 11, ming(15.75), nullptr, 0},
    // Three characters, so that every address from 0 to 255 can be typed.
    {"Text1", K::TextBox, "Frame2", "1", None, 1680, 600, 615, 435, 10, ming(15.75), nullptr, 3},
    {"Label14", K::Label, "Frame2", "接受資料", None, 3840, 2880, 2655, 375, 39, ming(15.75), nullptr, 0},
    {"Label11", K::Label, "Frame2", "4-輸入資料             H", None, 120, 2760, 2775, 495, 27, ming(15.75), nullptr, 0},
    {"Label10", K::Label, "Frame2", "傳送資料", None, 3840, 240, 2655, 375, 23, ming(15.75), nullptr, 0},
    {"Label9", K::Label, "Frame2", "4-選擇資料長度(Byte)", None, 120, 2760, 3135, 495, 19, ming(15.75), nullptr, 0},
    {"Label8", K::Label, "Frame2", "3-輸入位址             H", None, 120, 2160, 2775, 495, 18, ming(15.75), nullptr, 0},
    {"Label7", K::Label, "Frame2", "2-選擇功能", None, 120, 1080, 1575, 495, 17, ming(15.75), nullptr, 0},
    {"Label6", K::Label, "Frame2", "1-儀表位址         (0~255)", None, 120, 600, 3495, 495, 16, ming(15.75), nullptr, 0},
    {"Command9", K::CommandButton, nullptr, "Command9", Hidden, 9720, 8760, 1095, 615, 31, WindowFont, nullptr, 0},
    {"Command11", K::CommandButton, nullptr, "停止掃瞄", Hidden, 7080, 8760, 1335, 615, 38, arial(12), nullptr, 0},
    {"Text7", K::TextBox, nullptr, "", None, 3360, 4320, 3495, 375, 30, WindowFont, nullptr, 0},
    {"Label12", K::Label, nullptr, "", None, 3840, 2760, 7935, 495, 29, arial(12), nullptr, 0},
}};

QStringList substituteFamilies(const char *family)
{
    if (!family || std::strcmp(family, Arial) == 0)
        return {QStringLiteral("Liberation Sans")};
    // The Ming face's own Latin letters are narrow; the captions' blank runs are
    // measured for them, so Latin text takes the narrow face, Han the CJK face.
    if (std::strcmp(family, Ming) == 0)
        return {QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Noto Sans CJK TC")};
    return {QString::fromUtf8(family)};
}

QString substituteFamily(const char *family)
{
    return substituteFamilies(family).constFirst();
}

QFont tableFont(const FontSpec &given)
{
    QFont font;
    font.setFamilies(substituteFamilies(given.family));
    font.setPointSizeF(given.points > 0 ? given.points : 9);
    font.setBold(given.bold);
    return font;
}

namespace {

int pixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

// Each edge is rounded on its own, so neighbours that touch in twips touch in pixels.
QRect pixelRect(const ControlSpec &c)
{
    const int left = pixels(c.left);
    const int top = pixels(c.top);
    return QRect(left, top, pixels(c.left + c.width) - left, pixels(c.top + c.height) - top);
}

bool takesFocus(ControlKind kind)
{
    switch (kind) {
    case K::TextBox:
    case K::ComboBox:
    case K::CommandButton:
    case K::OptionButton:
    case K::CheckBox:
        return true;
    default:
        return false;
    }
}

// A label whose text, when wider than the label, is condensed to fit rather
// than cut off at the edges.
class FitLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        const QString t = text();
        const int m = margin();
        const QRect box = contentsRect().adjusted(m, m, -m, -m);
        const int wide = textWidth(t);
        const qreal scale = wide > 0 ? qreal(box.width()) / wide : 1;
        if (scale >= 1 || scale < MinScale) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter p(this);
        drawFrame(&p);
        p.translate(box.left(), 0);
        p.scale(scale, 1);
        style()->drawItemText(&p, QRect(0, box.top(), wide, box.height()),
                              QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                              isEnabled(), t, foregroundRole());
    }

private:
    static constexpr qreal MinScale = 0.6;

    // The widest line's width, measured again only when the text, font or
    // screen changes: the labels around a box repaint with every value it shows.
    int textWidth(const QString &t)
    {
        if (t != m_measuredText || font() != m_measuredFont || logicalDpiX() != m_measuredDpi) {
            static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\n|\\r"));
            m_measuredWidth = 0;
            for (const QString &line : t.split(lineBreak))
                m_measuredWidth = std::max(m_measuredWidth, fontMetrics().horizontalAdvance(line));
            m_measuredText = t;
            m_measuredFont = font();
            m_measuredDpi = logicalDpiX();
        }
        return m_measuredWidth;
    }

    QString m_measuredText;
    QFont m_measuredFont;
    int m_measuredDpi = 0;
    int m_measuredWidth = 0;
};

// A group box drawn with an etched line through the middle of its caption and
// an opaque face, so that what lies beneath it stays hidden.
class Frame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        const QFontMetrics fm = fontMetrics();
        const QRect line = rect().adjusted(0, fm.height() / 2, -2, -2);
        p.setPen(palette().color(QPalette::Light));
        p.drawRect(line.translated(1, 1));
        p.setPen(palette().color(QPalette::Dark));
        p.drawRect(line);
        // The caption lies along the top: most repaints are of a box inside.
        const QRect captionBand(0, 0, width(), fm.height());
        if (title().isEmpty() || !event->region().intersects(captionBand))
            return;
        const QRect caption(6, 0, fm.horizontalAdvance(title()) + 4, fm.height());
        p.fillRect(caption, palette().window());
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        p.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
    }
};

QLabel *makeLabel(const ControlSpec &c, QWidget *parent)
{
    auto *label = new FitLabel(QString::fromUtf8(c.caption), parent);
    label->setTextFormat(Qt::PlainText);
    if (c.flags & Bordered) {
        label->setFrameShape(QFrame::Box);
        label->setFrameShadow(QFrame::Plain);
        label->setLineWidth(1);
        label->setAlignment(Qt::AlignCenter);
    } else {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return label;
}

QComboBox *makeCombo(QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setEditable(true);
    // The list is fixed after start-up and typed text stays as typed.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setEditText(QString());
    return combo;
}

QWidget *makeWidget(const ControlSpec &c, QWidget *parent)
{
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
    case K::Label:
        return makeLabel(c, parent);
    case K::TextBox:
        if (c.flags & MultiLine)
            return new LogBox(parent);
        else {
            auto *edit = new QLineEdit(caption, parent);
            if (c.maxLength > 0)
                edit->setMaxLength(c.maxLength);
            return edit;
        }
    case K::ComboBox:
        return makeCombo(parent);
    case K::CommandButton: {
        auto *button = new QPushButton(caption, parent);
        button->setAutoDefault(false);
        if (c.tag)
            button->setProperty("tag", QString::fromUtf8(c.tag));
        return button;
    }
    case K::OptionButton:
        return new QRadioButton(caption, parent);
    case K::CheckBox:
        return new QCheckBox(parent);
    case K::Frame: {
        auto *frame = new Frame(caption, parent);
        frame->setAutoFillBackground(true);
        return frame;
    }
    case K::Image: {
        auto *image = new QLabel(parent);
        image->setPixmap(meterPicture());
        image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return image;
    }
    case K::Shape:
        return new Lamp(parent);
    case K::Timer:
    case K::SerialControl:
        break;
    }
    return nullptr;
}

void styleMeterDisplay(QLabel *display)
{
    QPalette pal = display->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
    display->setPalette(pal);
    display->setAutoFillBackground(true);
    display->setAlignment(Qt::AlignCenter);
}

void styleHint(QLabel *hint)
{
    QPalette pal = hint->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
    hint->setPalette(pal);
}

template <typename T>
void pick(const QHash<QString, QObject *> &made, T *&field, const char *name)
{
    field = qobject_cast<T *>(made.value(QString::fromLatin1(name)));
    Q_ASSERT_X(field, "buildControls", name);
}

} // namespace

Form1Controls buildControls(QWidget *form)
{
    form->setFont(tableFont(WindowFont));
    form->setFixedSize(ClientWidthTwips / TwipsPerPixel, OperatorHeightTwips / TwipsPerPixel);

    QHash<QString, QObject *> made;
    std::vector<std::pair<const ControlSpec *, QWidget *>> widgets;

    for (const ControlSpec &c : ControlTable) {
        const QString name = QString::fromLatin1(c.name);
        if (c.kind == K::Timer) {
            auto *timer = new QTimer(form);
            timer->setObjectName(name);
            timer->setInterval(300);
            made.insert(name, timer);
            continue;
        }
        QWidget *parent = c.container ? qobject_cast<QWidget *>(made.value(QString::fromLatin1(c.container))) : form;
        Q_ASSERT_X(parent, "buildControls", c.name);
        QWidget *w = makeWidget(c, parent);
        if (!w)
            continue;
        w->setObjectName(name);
        w->setGeometry(pixelRect(c));
        if (c.font.family)
            w->setFont(tableFont(c.font));
        if (!takesFocus(c.kind))
            w->setFocusPolicy(Qt::NoFocus);
        if (c.flags & Disabled)
            w->setEnabled(false);
        if (c.flags & Hidden)
            w->setVisible(false);
        made.insert(name, w);
        widgets.emplace_back(&c, w);
    }

    Form1Controls ui{};
    pick(made, ui.Check1, "Check1");
    pick(made, ui.Frame3, "Frame3");
    pick(made, ui.Command2, "Command2");
    pick(made, ui.Combo7, "Combo7");
    pick(made, ui.Combo6, "Combo6");
    pick(made, ui.signal2, "signal2");
    pick(made, ui.signal1, "signal1");
    pick(made, ui.Label13, "Label13");
    pick(made, ui.Label5, "Label5");
    pick(made, ui.Image1, "Image1");
    pick(made, ui.Timer2, "Timer2");
    pick(made, ui.Command10, "Command10");
    pick(made, ui.Text12, "Text12");
    pick(made, ui.Combo5, "Combo5");
    pick(made, ui.Text10, "Text10");
    pick(made, ui.Text9, "Text9");
    pick(made, ui.Text8, "Text8");
    pick(made, ui.Command6, "Command6");
    pick(made, ui.Frame1, "Frame1");
    pick(made, ui.Command12, "Command12");
    pick(made, ui.Command1, "Command1");
    pick(made, ui.Combo1, "Combo1");
    pick(made, ui.Combo2, "Combo2");
    pick(made, ui.Combo3, "Combo3");
    pick(made, ui.Shape1, "Shape1");
    pick(made, ui.Label3, "Label3");
    pick(made, ui.Label2, "Label2");
    pick(made, ui.Label1, "Label1");
    pick(made, ui.Label4, "Label4");
    pick(made, ui.Frame2, "Frame2");
    pick(made, ui.Text6, "Text6");
    pick(made, ui.Command5, "Command5");
    pick(made, ui.Text5, "Text5");
    pick(made, ui.Command4, "Command4");
    pick(made, ui.Text4, "Text4");
    pick(made, ui.Text3, "Text3");
    pick(made, ui.Combo4, "Combo4");
    pick(made, ui.Command3, "Command3");
    pick(made, ui.Text2, "Text2");
    pick(made, ui.Option2, "Option2");
    pick(made, ui.Option1, "Option1");
    pick(made, ui.Text1, "Text1");
    pick(made, ui.Label14, "Label14");
    pick(made, ui.Label11, "Label11");
    pick(made, ui.Label10, "Label10");
    pick(made, ui.Label9, "Label9");
    pick(made, ui.Label8, "Label8");
    pick(made, ui.Label7, "Label7");
    pick(made, ui.Label6, "Label6");
    pick(made, ui.Command9, "Command9");
    pick(made, ui.Command11, "Command11");
    pick(made, ui.Text7, "Text7");
    pick(made, ui.Label12, "Label12");

    styleMeterDisplay(ui.signal1);
    styleHint(ui.signal2);

    // Read and Write form one exclusive group; Write is selected at creation.
    auto *functions = new QButtonGroup(ui.Frame2);
    functions->setObjectName(QStringLiteral("functionGroup"));
    functions->addButton(ui.Option1);
    functions->addButton(ui.Option2);
    ui.Option2->setChecked(true);

    // Earlier controls lie above later siblings.
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it)
        it->second->raise();

    std::vector<std::pair<int, QWidget *>> focusable;
    for (const auto &[row, w] : widgets)
        if (takesFocus(row->kind))
            focusable.emplace_back(row->tabIndex, w);
    std::stable_sort(focusable.begin(), focusable.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i - 1].second, focusable[i].second);

    return ui;
}

} // namespace movra
