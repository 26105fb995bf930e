#pragma once
// The tool's own widgets: the log box, the port lamp, the meter picture.
#include <QColor>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QIcon>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAction;
class QComboBox;

namespace movra {

// A multi-line text box used as a log: the newest line goes on top, every line
// ends with CR LF. It keeps the newest MaxLines lines: as a line goes on top,
// the oldest drops off the bottom. The operator may still edit it; text()
// then follows the edit. A line that holds a line end shows, and reads back,
// as two lines. Its context menu holds the standard edit items, then the
// actions given to setMenuActions.
class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int MaxLines = 20000;

    explicit LogBox(QWidget *parent = nullptr);
    // The box's text: line + CR LF + previous text, less the oldest line
    // beyond MaxLines.
    void prependLine(const QString &line);
    // The exact text, lines ended by CR LF.
    QString text() const;
    void clearLog();
    int lineCount() const;
    // Added below the standard items of the context menu, after a separator.
    void setMenuActions(const QList<QAction *> &actions) { m_menuActions = actions; }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void dropOldestLine();

    QList<QAction *> m_menuActions;
};

// A filled circle whose colour reads back as a Windows colour value (0x00BBGGRR).
class Lamp : public QWidget {
    Q_OBJECT
public:
    static constexpr int Red = 0x0000FF;
    static constexpr int Green = 0x00FF00;
    explicit Lamp(QWidget *parent = nullptr);
    void setFillColor(int windowsColor);
    // The Windows colour value (0x00BBGGRR) as a QColor.
    static QColor toColor(int windowsColor);
    int fillColor() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    int m_color = Red;
};

// Runs `dropping` each time the combo's list drops down, before it shows.
void onListDropDown(QComboBox *combo, std::function<void()> dropping);

// Front panel of a panel meter, 289 x 102 px; its display window lies 16 px
// from the left and 8 px from the top, about 257 x 52 px.
QPixmap meterPicture();
// The window icon, 64 x 64 px.
QIcon windowIcon();

} // namespace movra
