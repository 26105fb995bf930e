#pragma once
// The tool's own widgets: the log box, the port lamp, the meter picture.
#include <QColor>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QIcon>
#include <QStringList>
#include <QWidget>

namespace movra {

// A multi-line text box used as a log: the newest line goes on top, every line
// ends with CR LF. Adding a line costs the same however long the log is.
// The operator may still edit it; text() then follows the edit.
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

private:
    void resync() const;

    // text() = m_lines from the back, each + CR LF, then m_tail. m_tail is the
    // document's text as it stood at the last operator edit.
    mutable QStringList m_lines;
    mutable QString m_tail;
    mutable int m_tailLines = 0;
    mutable bool m_edited = false;
    bool m_writing = false;
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

// Front panel of a panel meter, 289 x 102 px; its display window lies 16 px
// from the left and 8 px from the top, about 257 x 52 px.
QPixmap meterPicture();
// The window icon, 64 x 64 px.
QIcon windowIcon();

} // namespace movra
