// Form1's controls as built from the table, the caption tables, the log box,
// the lamp and the pictures.
#include "captions.h"
#include "controls.h"
#include "healthtip.h"
#include "modbusline.h"
#include "widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

using namespace movra;

Q_DECLARE_METATYPE(movra::Reason)

namespace {

const QString CrLf = QStringLiteral("\r\n");

struct Form {
    std::unique_ptr<QWidget> widget;
    Form1Controls ui;
};

Form makeForm()
{
    Form f{std::make_unique<QWidget>(), {}};
    f.widget->setObjectName(QStringLiteral("Form1"));
    f.ui = buildControls(f.widget.get());
    return f;
}

// Edges rounded one by one, as the window maps twips to pixels.
int px(int twips)
{
    return (twips + 7) / 15;
}

QRect pxRect(int l, int t, int w, int h)
{
    return QRect(px(l), px(t), px(l + w) - px(l), px(t + h) - px(t));
}

// The faces that stand in for the table's: 新細明體's, or Arial's (also the window font's).
QStringList familiesFor(const char *family)
{
    if (family && QString::fromUtf8(family) == QStringLiteral("新細明體"))
        return {QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Noto Sans CJK TC")};
    return {QStringLiteral("Liberation Sans")};
}

QString captionOf(QObject *o)
{
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(o))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(o))
        return g->title();
    if (auto *e = qobject_cast<QLineEdit *>(o))
        return e->text();
    if (auto *log = qobject_cast<LogBox *>(o))
        return log->text();
    if (auto *c = qobject_cast<QComboBox *>(o))
        return c->currentText();
    return {};
}

QStringList blankRuns(const QString &s)
{
    QStringList runs;
    auto it = QRegularExpression(QStringLiteral(" {2,}")).globalMatch(s);
    while (it.hasNext())
        runs << QString::number(it.next().capturedLength());
    return runs;
}

int countColour(const QImage &img, const QRect &r, const std::function<bool(QColor)> &pred)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += pred(img.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool isRed(QColor c)
{
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void fontsInstalled_data();
    void fontsInstalled();
    void inventory_data();
    void inventory();
    void serialControlHasNoWidget();
    void formSizeAndFont();
    void designTimeState();
    void creationHeightShowsOperatorStrip();
    void stacking_data();
    void stacking();
    void hiddenBeneathFrameAndDisplayOnTop();
    void tabOrder();
    void maxLength_data();
    void maxLength();
    void comboKeepsTypedText_data();
    void comboKeepsTypedText();
    void optionsAreOneGroup();
    void labelLook();
    void meterDisplayRedOnBlack();
    void longDisplayValueIsCondensedNotCut();

    void captions_data();
    void captions();
    void chineseLeavesDesignValues();
    void captionBlankRuns_data();
    void captionBlankRuns();
    void sizesComeBeforeCaptions();
    void connectHint_data();
    void connectHint();
    void reasonText_data();
    void reasonText();
    void healthTip_data();
    void healthTip();

    void logBoxPrepend_data();
    void logBoxPrepend();
    void logBoxClear();
    void logBoxFollowsOperatorEdit_data();
    void logBoxFollowsOperatorEdit();
    void logBoxShowsNewestLine();
    void logBoxKeepsNewestLines_data();
    void logBoxKeepsNewestLines();
    void logBoxPrependCostIsFlat();

    void lampColours_data();
    void lampColours();
    void meterPicture();
    void windowIcon();
};

// ---------------------------------------------------------------- controls

void TestWindow::fontsInstalled_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("family");
    QTest::newRow("Arial -> Liberation Sans") << "Arial" << "Liberation Sans";
    QTest::newRow("新細明體 -> Liberation Sans Narrow first") << "新細明體" << "Liberation Sans Narrow";
    QTest::newRow("no family -> window font") << QString() << "Liberation Sans";
}

void TestWindow::fontsInstalled()
{
    QFETCH(QString, table);
    QFETCH(QString, family);
    const QByteArray utf8 = table.toUtf8();
    const char *name = table.isNull() ? nullptr : utf8.constData();
    QCOMPARE(substituteFamily(name), family);
    // Every stand-in is really there, not replaced by a fallback face.
    for (const QString &f : substituteFamilies(name))
        QCOMPARE(QFontInfo(QFont(f)).family(), f);
    if (table == QStringLiteral("新細明體")) {
        QCOMPARE(substituteFamilies(name).value(1), QStringLiteral("Noto Sans CJK TC"));
        const QFontMetrics han(QFont(QStringLiteral("Noto Sans CJK TC")));
        QVERIFY(han.inFont(QChar(0x5100))); // 儀
    }
}

void TestWindow::inventory_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < ControlCount; ++i) {
        if (ControlTable[i].kind != ControlKind::SerialControl)
            QTest::newRow(ControlTable[i].name) << i;
    }
}

void TestWindow::inventory()
{
    QFETCH(int, row);
    const ControlSpec &r = ControlTable[row];
    Form f = makeForm();
    const auto found = f.widget->findChildren<QObject *>(QString::fromLatin1(r.name));
    QCOMPARE(found.size(), 1);
    QObject *o = found.first();
    QCOMPARE(o->parent()->objectName(), QString::fromLatin1(r.container ? r.container : "Form1"));

    if (auto *timer = qobject_cast<QTimer *>(o)) {
        QVERIFY(!timer->isActive());
        QCOMPARE(timer->interval(), 300);
        QVERIFY(!timer->isSingleShot());
        return;
    }
    auto *w = qobject_cast<QWidget *>(o);
    QVERIFY(w);
    QCOMPARE(captionOf(w), QString::fromUtf8(r.caption));
    QCOMPARE(w->isEnabled(), !(r.flags & Disabled));
    QCOMPARE(w->isHidden(), bool(r.flags & Hidden));
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        QCOMPARE(b->isChecked(), bool(r.flags & Selected));
    QCOMPARE(w->geometry(), pxRect(r.left, r.top, r.width, r.height));

    if (r.font.points > 0) {
        QCOMPARE(w->font().families(), familiesFor(r.font.family));
        QCOMPARE(w->font().pointSizeF(), r.font.points);
        QCOMPARE(w->font().bold(), r.font.bold);
        QCOMPARE(QFontInfo(w->font()).family(), familiesFor(r.font.family).first());
    }

    if (auto *e = qobject_cast<QLineEdit *>(w))
        QCOMPARE(e->maxLength(), r.maxLength ? r.maxLength : 32767);
    if (auto *log = qobject_cast<LogBox *>(w))
        QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w->property("tag").toString(), QString::fromLatin1(r.tag ? r.tag : ""));

    const bool focusable = r.tabIndex >= 0 && !qobject_cast<QLabel *>(w) && !qobject_cast<QGroupBox *>(w);
    QCOMPARE(w->focusPolicy() != Qt::NoFocus, focusable);
}

void TestWindow::serialControlHasNoWidget()
{
    Form f = makeForm();
    QVERIFY(!f.widget->findChild<QObject *>(QStringLiteral("MSComm1")));
    // 54 controls less the serial control and the timer are widgets.
    int named = 0;
    for (QWidget *w : f.widget->findChildren<QWidget *>())
        named += ControlTable.end() != std::find_if(ControlTable.begin(), ControlTable.end(), [&](const ControlSpec &c) {
                     return w->objectName() == QLatin1String(c.name);
                 });
    QCOMPARE(named, ControlCount - 2);
}

void TestWindow::formSizeAndFont()
{
    Form f = makeForm();
    QCOMPARE(f.widget->size(), QSize(790, 222));
    QCOMPARE(f.widget->minimumSize(), f.widget->maximumSize());
    QCOMPARE(f.widget->font().families(), QStringList{QStringLiteral("Liberation Sans")});
    QCOMPARE(f.widget->font().pointSizeF(), 9.0);
}

void TestWindow::designTimeState()
{
    Form f = makeForm();
    QSet<QString> disabled, hidden;
    for (QWidget *w : f.widget->findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (!w->isEnabled())
            disabled << w->objectName();
        if (w->isHidden())
            hidden << w->objectName();
    }
    QCOMPARE(disabled, (QSet<QString>{"Command2", "Combo6", "Combo7"}));
    QCOMPARE(hidden, (QSet<QString>{"Command9", "Command11", "Text10", "Option2"}));
    QVERIFY(f.ui.Option2->isChecked());
    QVERIFY(!f.ui.Option1->isChecked());
    QVERIFY(!f.ui.Check1->isChecked());
    QVERIFY(f.ui.Check1->text().isEmpty());
    QVERIFY(!f.ui.Timer2->isActive());
    QCOMPARE(f.ui.Timer2->interval(), 300);
    QCOMPARE(f.ui.Shape1->fillColor(), 255);

    for (QLineEdit *e : f.widget->findChildren<QLineEdit *>()) {
        if (e->objectName().isEmpty() || e->objectName().startsWith(QLatin1String("qt_")))
            continue; // combo boxes' own fields
        const QString expected = e == f.ui.Text1 ? QStringLiteral("1")
            : (e == f.ui.Text2 || e == f.ui.Text6) ? QStringLiteral("0000")
                                                   : QString();
        QCOMPARE(e->text(), expected);
    }
    for (LogBox *log : {f.ui.Text3, f.ui.Text4, f.ui.Text12}) {
        QVERIFY(log->text().isEmpty());
        QCOMPARE(log->lineCount(), 0);
    }
    for (QComboBox *c : f.widget->findChildren<QComboBox *>()) {
        QVERIFY(c->isEditable());
        QCOMPARE(c->count(), 0);
        QVERIFY(c->currentText().isEmpty());
    }
    for (QLabel *l : {f.ui.signal1, f.ui.signal2, f.ui.Label12})
        QVERIFY(l->text().isEmpty());
}

void TestWindow::creationHeightShowsOperatorStrip()
{
    Form f = makeForm();
    QSet<QString> inView;
    for (QWidget *w : f.widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (!w->isHidden() && w->geometry().intersects(f.widget->rect()))
            inView << w->objectName();
    QCOMPARE(inView, (QSet<QString>{"Check1", "Frame1", "Frame3", "Label12"}));
    for (QWidget *w : {static_cast<QWidget *>(f.ui.Frame2), static_cast<QWidget *>(f.ui.Combo5),
                       static_cast<QWidget *>(f.ui.Text12), static_cast<QWidget *>(f.ui.Text8),
                       static_cast<QWidget *>(f.ui.Text9), static_cast<QWidget *>(f.ui.Command6),
                       static_cast<QWidget *>(f.ui.Command10)})
        QVERIFY2(w->y() >= f.widget->height(), qPrintable(w->objectName()));
    // The engineer area fits the taller window.
    const int tall = (OperatorHeightTwips + EngineerExtraTwips + 7) / 15;
    QVERIFY(f.ui.Frame2->geometry().bottom() < tall);
    QVERIFY(f.ui.Command10->geometry().bottom() < tall);
}

void TestWindow::stacking_data()
{
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("lower");
    QTest::newRow("Check1 above Frame1's corner") << "Check1" << "Frame1";
    QTest::newRow("signal1 above Image1") << "signal1" << "Image1";
    QTest::newRow("Command6 above Frame2") << "Command6" << "Frame2";
    QTest::newRow("Frame2 above Text7") << "Frame2" << "Text7";
    QTest::newRow("Combo4 above Label9") << "Combo4" << "Label9";
    QTest::newRow("Text1 above Label6") << "Text1" << "Label6";
}

void TestWindow::stacking()
{
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    Form f = makeForm();
    auto *a = f.widget->findChild<QWidget *>(upper);
    auto *b = f.widget->findChild<QWidget *>(lower);
    QVERIFY(a && b);
    QCOMPARE(a->parent(), b->parent());
    const QObjectList siblings = a->parent()->children();
    // Later in the child list is painted on top.
    QVERIFY(siblings.indexOf(a) > siblings.indexOf(b));
    QVERIFY(a->geometry().intersects(b->geometry()));
}

void TestWindow::hiddenBeneathFrameAndDisplayOnTop()
{
    Form f = makeForm();
    f.widget->setFixedHeight((OperatorHeightTwips + EngineerExtraTwips + 7) / 15);
    f.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.widget.get()));
    QVERIFY(f.ui.Frame2->geometry().contains(f.ui.Text7->geometry()));
    QVERIFY(f.ui.Text7->isVisible());
    QVERIFY(f.ui.Text7->visibleRegion().isEmpty());
    QCOMPARE(f.ui.signal1->visibleRegion(), QRegion(f.ui.signal1->rect()));
    QCOMPARE(f.ui.Check1->visibleRegion(), QRegion(f.ui.Check1->rect()));
    // Frames are opaque, so nothing beneath shows through.
    QVERIFY(f.ui.Frame2->autoFillBackground());
}

void TestWindow::tabOrder()
{
    Form f = makeForm();
    std::vector<std::pair<int, QString>> expected;
    QSet<QWidget *> focusable;
    for (const ControlSpec &r : ControlTable) {
        auto *w = f.widget->findChild<QWidget *>(QString::fromLatin1(r.name));
        if (w && w->focusPolicy() != Qt::NoFocus) {
            expected.emplace_back(r.tabIndex, w->objectName());
            focusable << w;
        }
    }
    std::sort(expected.begin(), expected.end());
    QStringList want;
    for (const auto &e : expected)
        want << e.second;
    QCOMPARE(want.size(), 31);
    QCOMPARE(want.first(), QStringLiteral("Combo3"));
    QCOMPARE(want.last(), QStringLiteral("Command12"));

    // Walk the focus chain from the first control once round.
    QWidget *start = f.widget->findChild<QWidget *>(want.first());
    QStringList chain;
    QWidget *w = start;
    do {
        if (focusable.contains(w) && !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != start);
    QCOMPARE(chain, want);
}

void TestWindow::maxLength_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("Text1 takes 255 whole") << "Text1" << "255" << "255";
    QTest::newRow("Text1 ignores a 4th character") << "Text1" << "2550" << "255";
    QTest::newRow("Text2 ignores a 5th character") << "Text2" << "ABCDE" << "ABCD";
    QTest::newRow("Text6 ignores a 5th character") << "Text6" << "12345" << "1234";
    QTest::newRow("Text5 is unlimited") << "Text5" << "123456789012345678901234" << "123456789012345678901234";
}

void TestWindow::maxLength()
{
    QFETCH(QString, control);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Form f = makeForm();
    auto *edit = f.widget->findChild<QLineEdit *>(control);
    QVERIFY(edit);
    edit->clear();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), kept);
}

void TestWindow::comboKeepsTypedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("text matching no item") << "1234";
    QTest::newRow("prefix of an item is not completed") << "96";
    QTest::newRow("free text") << "COM7x";
}

void TestWindow::comboKeepsTypedText()
{
    QFETCH(QString, typed);
    Form f = makeForm();
    QComboBox *c = f.ui.Combo2;
    c->addItems({QStringLiteral("19200"), QStringLiteral("9600"), QStringLiteral("4800")});
    c->setCurrentIndex(1);
    c->lineEdit()->clear();
    QTest::keyClicks(c->lineEdit(), typed);
    QTest::keyClick(c->lineEdit(), Qt::Key_Return);
    QCOMPARE(c->currentText(), typed);
    QCOMPARE(c->count(), 3); // the list is not changed by typing
}

void TestWindow::optionsAreOneGroup()
{
    Form f = makeForm();
    f.ui.Option1->setChecked(true);
    QVERIFY(!f.ui.Option2->isChecked());
    f.ui.Option2->setChecked(true);
    QVERIFY(!f.ui.Option1->isChecked());
    QCOMPARE(f.ui.Option1->group(), f.ui.Option2->group());
    QVERIFY(f.ui.Option1->group() && f.ui.Option1->group()->exclusive());
}

void TestWindow::labelLook()
{
    Form f = makeForm();
    const QSet<QString> bordered{"Label1", "Label2", "Label3", "Label5", "Label13"};
    for (const ControlSpec &r : ControlTable) {
        auto *label = qobject_cast<QLabel *>(f.widget->findChild<QWidget *>(QString::fromLatin1(r.name)));
        if (!label || label == f.ui.Image1)
            continue;
        const QString name = label->objectName();
        if (bordered.contains(name)) {
            QCOMPARE(label->frameShape(), QFrame::Box);
            QCOMPARE(label->frameShadow(), QFrame::Plain);
            QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
            QVERIFY(label->font().bold());
        } else {
            QCOMPARE(label->frameShape(), QFrame::NoFrame);
            QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask,
                     name == QLatin1String("signal1") ? Qt::AlignHCenter : Qt::AlignLeft);
        }
    }
    QCOMPARE(f.ui.signal2->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(f.ui.signal1->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(f.ui.signal1->palette().color(QPalette::Window), QColor(0, 0, 0));
    QVERIFY(f.ui.signal1->autoFillBackground());
}

void TestWindow::meterDisplayRedOnBlack()
{
    Form f = makeForm();
    f.ui.signal1->setText(QStringLiteral("8888"));
    const QImage img = f.ui.Frame3->grab().toImage();
    // The display window of the picture lies 16, 8 px into it, 257 x 52 px.
    const QRect image = f.ui.Image1->geometry();
    QCOMPARE(f.ui.signal1->geometry(), QRect(image.topLeft() + QPoint(16, 8), QSize(257, 52)));
    const QRect display = f.ui.signal1->geometry();
    const int red = countColour(img, display, isRed);
    QVERIFY2(red > 300, qPrintable(QString::number(red)));
    QCOMPARE(img.pixelColor(display.topLeft() + QPoint(2, 2)), QColor(0, 0, 0));
    QCOMPARE(img.pixelColor(display.bottomRight() - QPoint(2, 2)), QColor(0, 0, 0));
    // No red outside the display.
    const QRect picture = f.ui.Image1->geometry();
    QCOMPARE(countColour(img, QRect(picture.left(), display.bottom() + 3, picture.width(), 10), isRed), 0);
}

void TestWindow::longDisplayValueIsCondensedNotCut()
{
    Form f = makeForm();
    QLabel *d = f.ui.signal1;
    d->setText(QStringLiteral("-2147483648"));
    QVERIFY(d->fontMetrics().horizontalAdvance(d->text()) > d->width());
    const QImage img = d->grab().toImage();
    int first = -1, last = -1;
    for (int x = 0; x < img.width(); ++x)
        if (countColour(img, QRect(x, 0, 1, img.height()), isRed) > 0) {
            if (first < 0)
                first = x;
            last = x;
        }
    QVERIFY2(first > 0 && last < img.width() - 1, qPrintable(QStringLiteral("%1..%2").arg(first).arg(last)));
    QVERIFY(last - first > img.width() * 3 / 4);
}

// ---------------------------------------------------------------- captions

void TestWindow::captions_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<double>("points"); // -1: as designed

    struct C { const char *control, *en; double enPt; const char *zh; double zhPt; };
    const C rows[] = {
        {"Label1", "Port number", -1, "COM 埠", -1},
        {"Label2", "Baud rate", -1, "通訊鮑率", -1},
        {"Label3", "Protocol", -1, "通訊協定", -1},
        {"Label10", "Query", -1, "傳送資料", -1},
        {"Label14", "Response", -1, "接收資料", -1},
        {"Command1", "Open", -1, "開啟", -1},
        {"Command2", "Connect", -1, "連線", -1},
        {"Command6", "Exit", -1, "離開", -1},
        {"Command4", "Clear", -1, "清除", -1},
        {"Command12", "Exit", -1, "離開", -1},
        {"Frame1", "Set1(Setup COM PORT)", -1, "操作1(設定COM 埠)", -1},
        {"Frame2", "Engineer", -1, "工程模式", -1},
        {"Frame3", "Set2(Setup Meter Model/Address)", -1, "操作2(選擇儀表型號 / 位址'站號')", -1},
        {"Label6", "1.Slave address             (0~255)", 13, "1-儀表位址         (0~255)", 16},
        {"Label7", "2.Function", 14, "2-選擇功能", 16},
        {"Label8", "3.Register addr                 H", 13, "3-輸入位址             H", 16},
        {"Label9", "4.Select data length (Byte)", 14, "4-選擇資料長度(Byte)", 16},
        {"Label11", "4.Input Data                     H", 13, "4-輸入資料             H", 16},
        {"Option1", "Read(03H)", 13, "讀取(03H)", 16},
        {"Option2", "Write(06H)", 13, "寫入(06H)", 16},
        {"Command5", "Send Command-W", 10, "發送命令-W", 12},
        {"Command3", "Send Command-R", 10, "發送命令-R", 12},
        {"Label13", "Model", -1, "儀表型號", -1},
        {"Label5", "Address", -1, "儀表位址", -1},
        {"signal2", "", 12, "", -1},
        {"Command10", "Start scan", -1, "掃瞄", -1},
        {"Command11", "Stop scan", -1, "停止", -1},
        // Untouched by both.
        {"Label4", "Label4", -1, "Label4", -1},
        {"Command9", "Command9", -1, "Command9", -1},
        {"Text1", "1", -1, "1", -1},
    };
    for (const C &r : rows) {
        QTest::newRow(qPrintable(QStringLiteral("english %1").arg(QLatin1String(r.control))))
            << false << r.control << QString::fromUtf8(r.en) << r.enPt;
        QTest::newRow(qPrintable(QStringLiteral("chinese %1").arg(QLatin1String(r.control))))
            << true << r.control << QString::fromUtf8(r.zh) << r.zhPt;
    }
}

void TestWindow::captions()
{
    QFETCH(bool, chinese);
    QFETCH(QString, control);
    QFETCH(QString, caption);
    QFETCH(double, points);
    Form f = makeForm();
    auto *w = f.widget->findChild<QWidget *>(control);
    QVERIFY(w);
    const double designed = w->font().pointSizeF();
    applyCaptions(f.widget.get(), chinese ? chineseTable() : englishTable());
    QCOMPARE(captionOf(w), caption);
    QCOMPARE(w->font().pointSizeF(), points < 0 ? designed : points);
    // The size changes, the family stays.
    QCOMPARE(QFontInfo(w->font()).family(), w->font().families().first());
}

void TestWindow::chineseLeavesDesignValues()
{
    // What chinese does not set stays as it is, whatever it is.
    Form zh = makeForm();
    zh.ui.Label13->setText(QStringLiteral("x"));
    zh.ui.Label5->setText(QStringLiteral("y"));
    QFont big = zh.ui.signal2->font();
    big.setPointSizeF(20);
    zh.ui.signal2->setFont(big);
    applyCaptions(zh.widget.get(), chineseTable());
    QCOMPARE(zh.ui.Label13->text(), QStringLiteral("x"));
    QCOMPARE(zh.ui.Label5->text(), QStringLiteral("y"));
    QCOMPARE(zh.ui.signal2->font().pointSizeF(), 20.0);
    QVERIFY(zh.ui.signal2->text().isEmpty());

    Form en = makeForm();
    en.ui.signal2->setFont(big);
    applyCaptions(en.widget.get(), englishTable());
    QCOMPARE(en.ui.Label13->text(), QStringLiteral("Model"));
    QCOMPARE(en.ui.signal2->font().pointSizeF(), 12.0);
    QVERIFY(en.ui.signal2->text().isEmpty());
}

void TestWindow::captionBlankRuns_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QStringList>("runs");
    QTest::newRow("english Label6 13 blanks") << false << "Label6" << QStringList{"13"};
    QTest::newRow("english Label8 17 blanks") << false << "Label8" << QStringList{"17"};
    QTest::newRow("english Label11 21 blanks") << false << "Label11" << QStringList{"21"};
    QTest::newRow("chinese Label6 9 blanks") << true << "Label6" << QStringList{"9"};
    QTest::newRow("chinese Label8 13 blanks") << true << "Label8" << QStringList{"13"};
    QTest::newRow("chinese Label11 13 blanks") << true << "Label11" << QStringList{"13"};
}

void TestWindow::captionBlankRuns()
{
    QFETCH(bool, chinese);
    QFETCH(QString, control);
    QFETCH(QStringList, runs);
    const CaptionTable &table = chinese ? chineseTable() : englishTable();
    const auto it = std::find_if(table.steps.begin(), table.steps.end(), [&](const CaptionStep &s) {
        return s.kind == CaptionStep::Caption && control == QLatin1String(s.control);
    });
    QVERIFY(it != table.steps.end());
    QCOMPARE(blankRuns(QString::fromUtf8(it->text)), runs);
    // Design-time captions of the Chinese rows match.
    if (chinese) {
        const auto row = std::find_if(ControlTable.begin(), ControlTable.end(),
                                       [&](const ControlSpec &c) { return control == QLatin1String(c.name); });
        QCOMPARE(blankRuns(QString::fromUtf8(row->caption)), runs);
    }
}

void TestWindow::sizesComeBeforeCaptions()
{
    for (const CaptionTable *t : {&englishTable(), &chineseTable()}) {
        auto index = [&](CaptionStep::Kind kind, const char *control) {
            for (int i = 0; i < int(t->steps.size()); ++i)
                if (t->steps[i].kind == kind && qstrcmp(t->steps[i].control, control) == 0)
                    return i;
            return -1;
        };
        for (const auto &pair : {std::pair{"Option1", "Option2"}, std::pair{"Command5", "Command3"}}) {
            const int lastSize = std::max(index(CaptionStep::FontSize, pair.first), index(CaptionStep::FontSize, pair.second));
            const int firstCaption = std::min(index(CaptionStep::Caption, pair.first), index(CaptionStep::Caption, pair.second));
            QVERIFY(lastSize >= 0 && lastSize < firstCaption);
        }
        for (const char *c : {"Label6", "Label7", "Label8", "Label9", "Label11"})
            QVERIFY(index(CaptionStep::FontSize, c) >= 0 && index(CaptionStep::FontSize, c) < index(CaptionStep::Caption, c));
    }
}

void TestWindow::connectHint_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("hint");
    QTest::newRow("english, blank before the last '!'")
        << false << QStringLiteral("1. Confirm the baud rate / protocol!\r\n2. Confirm the model or address !");
    QTest::newRow("chinese") << true << QStringLiteral("1.確認通訊鮑率/協定正確性!\r\n2.確認型號或位址是否錯誤!");
}

void TestWindow::connectHint()
{
    QFETCH(bool, chinese);
    QFETCH(QString, hint);
    QCOMPARE((chinese ? chineseTable() : englishTable()).connectHint, hint);
}

// ---------------------------------------------------------------- LogBox

void TestWindow::logBoxPrepend_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("text");
    QTest::newRow("one line ends with CR LF") << QStringList{"01,03"} << "01,03\r\n";
    QTest::newRow("newest on top") << QStringList{"a", "b", "c"} << "c\r\nb\r\na\r\n";
    QTest::newRow("empty line still counts") << QStringList{"a", "", "b"} << "b\r\n\r\na\r\n";
}

void TestWindow::logBoxPrepend()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, text);
    LogBox box;
    for (const QString &l : lines)
        box.prependLine(l);
    QCOMPARE(box.text(), text);
    QCOMPARE(box.lineCount(), lines.size());
    QCOMPARE(box.document()->firstBlock().text(), lines.last());
    QCOMPARE(box.toPlainText(), QString(text).replace(CrLf, QStringLiteral("\n")));
}

void TestWindow::logBoxClear()
{
    LogBox box;
    box.prependLine(QStringLiteral("old 1"));
    box.prependLine(QStringLiteral("old 2"));
    box.clearLog();
    QVERIFY(box.text().isEmpty());
    QVERIFY(box.toPlainText().isEmpty());
    QCOMPARE(box.lineCount(), 0);
    box.prependLine(QStringLiteral("first"));
    QCOMPARE(box.text(), QStringLiteral("first\r\n"));
    QCOMPARE(box.lineCount(), 1);
}

void TestWindow::logBoxFollowsOperatorEdit_data()
{
    QTest::addColumn<QString>("edit"); // what the operator does after "b" over "a"
    QTest::addColumn<QString>("afterEdit");
    QTest::addColumn<QString>("afterPrepend"); // then "c" goes on top
    QTest::newRow("types at the end of the top line") << "X" << "bX\r\na\r\n" << "c\r\nbX\r\na\r\n";
    QTest::newRow("Enter splits the top line") << "\n" << "b\r\n\r\na\r\n" << "c\r\nb\r\n\r\na\r\n";
    QTest::newRow("replaces everything") << "all:z" << "z" << "c\r\nz";
    QTest::newRow("deletes everything") << "all:" << "" << "c\r\n";
}

void TestWindow::logBoxFollowsOperatorEdit()
{
    QFETCH(QString, edit);
    QFETCH(QString, afterEdit);
    QFETCH(QString, afterPrepend);
    LogBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.prependLine(QStringLiteral("a"));
    box.prependLine(QStringLiteral("b"));
    if (edit.startsWith(QLatin1String("all:"))) {
        box.selectAll();
        const QString typed = edit.mid(4);
        if (typed.isEmpty())
            QTest::keyClick(&box, Qt::Key_Delete);
        else
            QTest::keyClicks(&box, typed);
    } else {
        QTextCursor c = box.textCursor();
        c.setPosition(1); // end of "b"
        box.setTextCursor(c);
        if (edit == QLatin1String("\n"))
            QTest::keyClick(&box, Qt::Key_Return);
        else
            QTest::keyClicks(&box, edit);
    }
    QCOMPARE(box.text(), afterEdit);
    box.prependLine(QStringLiteral("c"));
    QCOMPARE(box.text(), afterPrepend);
    QCOMPARE(box.toPlainText(), QString(afterPrepend).replace(CrLf, QStringLiteral("\n")));
}

void TestWindow::logBoxShowsNewestLine()
{
    LogBox box;
    box.resize(200, 100);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    for (int i = 0; i < 200; ++i)
        box.prependLine(QStringLiteral("line %1").arg(i));
    QApplication::processEvents();
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    QApplication::processEvents();
    QVERIFY(box.verticalScrollBar()->value() > 0);
    box.prependLine(QStringLiteral("newest"));
    QApplication::processEvents();
    QCOMPARE(box.verticalScrollBar()->value(), 0);
    QCOMPARE(box.cursorForPosition(QPoint(4, 4)).block().text(), QStringLiteral("newest"));
}

void TestWindow::logBoxKeepsNewestLines_data()
{
    QTest::addColumn<QString>("typedAtEnd"); // by the operator, before the last line goes on
    QTest::newRow("the oldest line drops off") << QString();
    QTest::newRow("text typed at the end goes first") << "z";
    QTest::newRow("lines pasted at the end go too") << "x\ny\nz";
}

void TestWindow::logBoxKeepsNewestLines()
{
    QFETCH(QString, typedAtEnd);
    LogBox box;
    for (int i = 0; i < LogBox::MaxLines; ++i)
        box.prependLine(QString::number(i));
    QTextCursor end(box.document());
    end.movePosition(QTextCursor::End);
    end.insertText(typedAtEnd);
    box.prependLine(QStringLiteral("newest"));
    QCOMPARE(box.lineCount(), LogBox::MaxLines);
    QVERIFY(box.text().startsWith(QStringLiteral("newest\r\n%1\r\n").arg(LogBox::MaxLines - 1)));
    QVERIFY(box.text().endsWith(QStringLiteral("\r\n2\r\n1\r\n")));
}

void TestWindow::logBoxPrependCostIsFlat()
{
    LogBox box;
    box.resize(300, 200);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QString line = QStringLiteral("01,03,00,10,00,02,C5,CE");
    auto grow = [&](int total) {
        while (box.lineCount() < total)
            box.prependLine(line);
        QApplication::processEvents();
    };
    // Best of a few batches, to keep noise from other processes out.
    auto batchCost = [&] {
        qint64 best = std::numeric_limits<qint64>::max();
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < 300; ++i)
                box.prependLine(line);
            QApplication::processEvents();
            best = std::min(best, t.nsecsElapsed());
        }
        return best;
    };
    grow(1000);
    const qint64 small = batchCost();
    grow(LogBox::MaxLines); // full: each line on top drops one off the bottom
    const qint64 large = batchCost();
    qInfo("300 prepends: %lld us at 1000 lines, %lld us on a full log", small / 1000, large / 1000);
    // A full log also drops a line and lays out another; a cost per line that grew with the lines: 20x.
    QVERIFY2(large <= 8 * small + 5'000'000,
             qPrintable(QStringLiteral("300 lines: %1 us at 1000, %2 us full").arg(small / 1000).arg(large / 1000)));
    QCOMPARE(box.lineCount(), LogBox::MaxLines);
    QVERIFY(box.text().startsWith(line + CrLf));
    QCOMPARE(box.text().size(), qsizetype(box.lineCount()) * (line.size() + 2));
}

// ---------------------------------------------------------------- lamp, pictures

void TestWindow::lampColours_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("red") << int(Lamp::Red) << QColor(255, 0, 0);
    QTest::newRow("green") << int(Lamp::Green) << QColor(0, 255, 0);
    QTest::newRow("blue byte is the high one") << 0xFF0000 << QColor(0, 0, 255);
}

void TestWindow::lampColours()
{
    QFETCH(int, value);
    QFETCH(QColor, colour);
    Lamp lamp;
    lamp.resize(33, 33);
    lamp.setFillColor(value);
    QImage img(lamp.size(), QImage::Format_ARGB32);
    img.fill(Qt::white);
    lamp.render(&img);
    QCOMPARE(img.pixelColor(16, 16), colour);
    QVERIFY(img.pixelColor(1, 1) != colour); // a circle, not a square
}

void TestWindow::meterPicture()
{
    const QImage img = movra::meterPicture().toImage();
    QCOMPARE(img.size(), QSize(289, 102));
    const QRect display(16, 8, 257, 52);
    const int bright = countColour(img, display, [](QColor c) { return c.lightness() > 50; });
    QCOMPARE(bright, 0);
    // The bezel around it is light.
    const QRect strips[] = {QRect(20, 3, 250, 3), QRect(20, 62, 250, 4), QRect(3, 62, 10, 30), QRect(276, 62, 10, 30)};
    for (const QRect &r : strips)
        QCOMPARE(countColour(img, r, [](QColor c) { return c.lightness() < 120; }), 0);
    // Keys and logo leave their mark below the display.
    QVERIFY(countColour(img, QRect(16, 66, 257, 30), [](QColor c) { return c.lightness() < 100; }) > 500);
}

void TestWindow::windowIcon()
{
    const QIcon icon = movra::windowIcon();
    QVERIFY(icon.availableSizes().contains(QSize(64, 64)));
    const QImage img = icon.pixmap(QSize(64, 64)).toImage();
    QCOMPARE(img.size(), QSize(64, 64));
    QVERIFY(countColour(img, img.rect(), isRed) > 20);
    QCOMPARE(img.pixelColor(0, 0).alpha(), 0);
}

// A reason in words, with its details, as a value's tooltip and the records say it.
void TestWindow::reasonText_data()
{
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, const Reason &r, const char *text) { QTest::newRow(name) << r << QString(text); };
    row("answer time", Reason{Reason::None, 0, 0.02}, "Answer in 20 ms");
    row("no answer, the meter late", Reason{Reason::NoAnswer, 0, 0.7, 0, 1.05},
        "No answer within 1.05 s: the meter answers about 0.70 s after a request; the next request waits for it");
    row("no answer, the meter too late", Reason{Reason::NoAnswer, 0, 2.5, 0, 2},
        "No answer within 2 s: the meter answers about 2.50 s after a request, later than 2 s: too late to read");
    row("an earlier request's answer", Reason{Reason::LateAnswer, 0, 2.5},
        "Late answer to an earlier request, none of this one's own: the meter answers about 2.50 s after a request");
    row("exception 0B", Reason{Reason::Exception, 0x0B}, "Exception 0B: gateway target device failed to respond");
    row("exception 07 has no name", Reason{Reason::Exception, 7}, "Exception 07");
    row("foreign slave", Reason{Reason::WrongSlave, 2}, "Answer from slave 2");
    row("cut short", Reason{Reason::ShortAnswer, 4, -1, 7, 0.2}, "Answer incomplete after 0.2 s: 4 of 7 bytes");
    row("no value for length 3", Reason{Reason::NoValue, 3}, "Answer gives no value for data length 3");
    row("no byte order", Reason{Reason::NoValue, Reason::NoValueSign},
        "Answer gives no value: the byte order sign is neither - nor +");
}

void TestWindow::reasonText()
{
    QFETCH(Reason, reason);
    QTEST(movra::reasonText(reason, englishTable()), "text");
}

// The status line's tooltip after a run of outcomes since COM1 opened at
// 14:02:11: "ok:MS" a value in MS ms, "silent", "crc", "exc:CODE", "closed"
// and "slave" (not sent), "reopen" at 15:00:00, "found:BAUD" the search's
// settings at 15:00:00, "lateness:S/WAIT/N" what the line has learned from N
// late answers; "*N" repeats a step.
void TestWindow::healthTip_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<Language>("language");
    QTest::addColumn<QStringList>("tip");

    const QString since = "Since COM1 opened at 14:02:11 (9600, N,8,1):";
    const QString six = "ok:18 silent crc ok:45 exc:02 ok:21";
    QTest::newRow("just opened") << "" << Language::English << QStringList{since, "No requests yet"};
    QTest::newRow("requests not sent are not requests; the most frequent fault first")
        << "closed ok:20 slave*2 crc*2 silent" << Language::English
        << QStringList{since, "4 requests, 1 with a value (25.0 %)", "2 CRC errors · 1 no answer", "Answer in 20 ms",
                       "Not sent: 2 without a slave address · 1 with the port closed"};
    QTest::newRow("a reopen counts from zero; an even count's median")
        << "silent*3 ok:90 reopen ok:20 ok:40" << Language::English
        << QStringList{"Since COM1 opened at 15:00:00 (9600, N,8,1):", "2 requests, 2 with a value (100.0 %)",
                       "Answer in 20–40 ms, median 30 ms"};
    QTest::newRow("a find at other settings counts from zero, and says so")
        << "silent found:19200 ok:20" << Language::English
        << QStringList{"Since the search set COM1 to 19200, N,8,1 at 15:00:00:", "1 request, 1 with a value (100.0 %)",
                       "Answer in 20 ms"};
    QTest::newRow("one late answer in 89 is named as one")
        << "ok:20*88 silent lateness:0.35/0.53/1" << Language::English
        << QStringList{since, "89 requests, 88 with a value (98.9 %)", "1 no answer", "Answer in 20 ms",
                       "1 answer came late, 0.35 s after its request; the next request waits 0.53 s"};
    QTest::newRow("the median follows the recent answers; one fault in 5002 is not 100.0 %")
        << "ok:10*4000 silent ok:30*1001" << Language::English
        << QStringList{since, "5002 requests, 5001 with a value (99.9 %)", "1 no answer",
                       "Answer in 10–30 ms, median 30 ms"};
    QTest::newRow("Chinese") << six + " closed lateness:0.31/0.47/3" << Language::Chinese
        << QStringList{"自 COM1 於 14:02:11 開啟以來 (9600, N,8,1)：", "6 個請求，3 個有數值 (50.0 %)",
                       "1 次無回應 · 1 次例外 · 1 次 CRC 錯誤", "回應時間 18–45 毫秒，中位數 21 毫秒",
                       "未送出：1 次通訊埠未開啟", "3 個回應延遲，最多在請求後 0.31 秒；下一個請求等候 0.47 秒"};
}

void TestWindow::healthTip()
{
    QFETCH(QString, script);
    QFETCH(Language, language);
    QFETCH(QStringList, tip);
    static const QHash<QString, Reason::Kind> kinds{
        {"ok", Reason::None}, {"silent", Reason::NoAnswer}, {"crc", Reason::BadCrc}, {"exc", Reason::Exception},
        {"closed", Reason::NotSentPortClosed}, {"slave", Reason::NotSentSlave}};
    LineHealth health;
    health.restart(QTime(14, 2, 11), HealthReport::Since::Opened);
    PortPanel panel;
    panel.kind = PortPanel::Open;
    panel.portName = "COM1";
    std::optional<double> lateness;
    double nextWait = ModbusLine::SettleTime;
    int lateAnswers = 0;
    for (const QString &step : script.split(' ', Qt::SkipEmptyParts)) {
        const QString verb = step.section('*', 0, 0).section(':', 0, 0);
        const QString arg = step.section('*', 0, 0).section(':', 1);
        if (verb == "reopen" || verb == "found") {
            health.restart(QTime(15, 0), verb == "found" ? HealthReport::Since::SettingsFound : HealthReport::Since::Opened);
            panel.settings.baudRate = verb == "found" ? arg.toInt() : 9600;
        } else if (verb == "lateness") {
            lateness = arg.section('/', 0, 0).toDouble();
            nextWait = arg.section('/', 1, 1).toDouble();
            lateAnswers = arg.section('/', 2).toInt();
        } else {
            QVERIFY2(kinds.contains(verb), qPrintable(step));
            const Reason::Kind kind = kinds.value(verb);
            const Reason reason{kind, kind == Reason::Exception ? arg.toInt(nullptr, 16) : 0,
                                kind == Reason::None ? arg.toDouble() / 1000 : -1};
            for (int i = 0; i < qMax(1, step.section('*', 1).toInt()); ++i)
                health.record(reason);
        }
    }
    QCOMPARE(movra::healthTip(health.report(lateness, lateAnswers, lateness.value_or(0), nextWait), panel, language).split('\n'), tip);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
