#pragma once
// The tool's own widgets: the log box, the port lamp, the meter picture.
#include <QColor>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QIcon>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;

namespace movra {

// A multi-line text box used as a log: the newest line goes on top, every line
// ends with CR LF. Adding a line costs the same however long the log is, and a
// line kept costs its text and the document's record of it, nothing more: the
// document is the only copy, and lines that scrolled far out of view hold no
// text layout. The operator may still edit it; text() then follows the edit.
// A line that holds a line end shows, and reads back, as two lines.
class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogBox(QWidget *parent = nullptr);
    // The box's text: line + CR LF + previous text.
    void prependLine(const QString &line);
    // The exact text, lines ended by CR LF.
    QString text() const;
    void clearLog();
    int lineCount() const;

    // Lines from this depth down hold no text layout.
    static constexpr int LaidOutLines = 256;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void dropLayoutAt(int depth);
    bool paintsFromPicture() const;
    void drawLines(const QRect &area);

    std::optional<QPixmap> m_picture; // the viewport as last painted
    int m_shift = 0;                  // px its lines moved down since
    bool m_prepending = false;
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
