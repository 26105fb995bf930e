#pragma once
// The window's 54 controls as one table, and the code that builds them.
#include <QFont>
#include <QString>
#include <QStringList>
#include <array>

class QWidget;
class QCheckBox;
class QGroupBox;
class QPushButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimer;

namespace movra {

class LogBox;
class Lamp;

enum class ControlKind { Label, TextBox, ComboBox, CommandButton, OptionButton, CheckBox, Frame, Image, Shape, Timer, SerialControl };

enum ControlFlag : unsigned {
    None = 0,
    Disabled = 1u << 0,
    Hidden = 1u << 1,
    Selected = 1u << 2,   // option button selected / check box checked
    MultiLine = 1u << 3,  // multi-line text box with a vertical scroll bar
    Bordered = 1u << 4,   // single-line border, centred bold text (field-name labels)
};

struct FontSpec {
    const char *family; // nullptr: the window font (Arial 9 pt)
    double points;
    bool bold;
};

struct ControlSpec {
    const char *name;
    ControlKind kind;
    const char *container; // nullptr: on the window
    const char *caption;   // caption or text at creation, UTF-8
    unsigned flags;
    int left, top, width, height; // twips, relative to the container; 0,0,0,0 when not shown
    int tabIndex;                 // -1: takes no focus
    FontSpec font;
    const char *tag;    // nullptr when none
    int maxLength;      // 0: unlimited
};

inline constexpr int ControlCount = 54;
extern const std::array<ControlSpec, ControlCount> ControlTable;

inline constexpr int TwipsPerPixel = 15;
inline constexpr int ClientWidthTwips = 11850;
inline constexpr int OperatorHeightTwips = 3330;
inline constexpr int EngineerExtraTwips = 6225;

// Font families standing in for a family the table names: Arial gives
// Liberation Sans; 新細明體 gives Liberation Sans Narrow for Latin text and
// Noto Sans CJK TC for Han text. nullptr means the window font (Arial).
QStringList substituteFamilies(const char *family);
// The first of them, the font's primary family.
QString substituteFamily(const char *family);
// The font of a table entry (the window font, Arial 9 pt, for a null family).
QFont tableFont(const FontSpec &given);

// Typed pointers to the controls built on a window.
struct Form1Controls {
    QCheckBox *Check1;
    QGroupBox *Frame3;
    QPushButton *Command2;
    QComboBox *Combo7, *Combo6;
    QLabel *signal2, *signal1, *Label13, *Label5, *Image1;
    QTimer *Timer2;
    QPushButton *Command10;
    LogBox *Text12;
    QComboBox *Combo5;
    QLineEdit *Text10, *Text9, *Text8;
    QPushButton *Command6;
    QGroupBox *Frame1;
    QPushButton *Command12, *Command1;
    QComboBox *Combo1, *Combo2, *Combo3;
    Lamp *Shape1;
    QLabel *Label3, *Label2, *Label1, *Label4;
    QGroupBox *Frame2;
    QLineEdit *Text6;
    QPushButton *Command5;
    QLineEdit *Text5;
    QPushButton *Command4;
    LogBox *Text4, *Text3;
    QComboBox *Combo4;
    QPushButton *Command3;
    QLineEdit *Text2;
    QRadioButton *Option2, *Option1;
    QLineEdit *Text1;
    QLabel *Label14, *Label11, *Label10, *Label9, *Label8, *Label7, *Label6;
    QPushButton *Command9, *Command11;
    QLineEdit *Text7;
    QLabel *Label12;
};

// Creates every control of the table on `form` (objectName = the control's
// name), with its design-time state, geometry, font, stacking and tab order.
// The serial control has no widget: the caller names its port object "MSComm1".
Form1Controls buildControls(QWidget *form);

} // namespace movra
