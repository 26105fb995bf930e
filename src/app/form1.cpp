// Form1: construction, start-up and the caption routines.
#include "form1.h"

#include "captions.h"
#include "records.h"
#include "recordtexts.h"
#include "findtexts.h"
#include "clock.h"
#include "commport.h"
#include "modelentry.h"
#include "setuplist.h"
#include "trendtexts.h"
#include "widgets.h"

#include <QCheckBox>
#include <QAction>
#include <QComboBox>
#include <QStandardPaths>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace movra {

namespace {
const QStringList baudRates = {QStringLiteral("19200"), QStringLiteral("9600"),
                               QStringLiteral("4800"), QStringLiteral("2400")};
const QStringList framings = {QStringLiteral("N,8,1"), QStringLiteral("O,8,1"),
                              QStringLiteral("E,8,1")};
const QStringList dataLengths = {QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("6"),
                                 QStringLiteral("8")};
constexpr int PortCount = 15;
constexpr int AddressCount = 15;

// The trend keeps its older readings in buckets sized to the screen's width.
int trendColumns()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? std::max(screen->size().width(), TrendData::DefaultColumns) : TrendData::DefaultColumns;
}
// The recording's mark: right of the status line, clear of its text.
constexpr int MarkLeftTwips = 8400;
constexpr int MarkTopTwips = 2775;
constexpr int MarkWidthTwips = 3375;
constexpr int MarkHeightTwips = 480;
constexpr double MarkPoints = 8;
} // namespace

Form1::Form1(Form1Environment env, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      m_env(std::move(env)), m_trendData(trendColumns())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Movra Modbus RTU_V3(40001)"));
    setWindowIcon(movra::windowIcon());
    ui = buildControls(this);
    setFixedSize(ClientWidthTwips / TwipsPerPixel, OperatorHeightTwips / TwipsPerPixel);

    // Input boxes take only what can be sent.
    ui.Text1->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}")), ui.Text1));
    const QRegularExpression hex(QStringLiteral("[0-9A-Fa-f]{0,4}"));
    ui.Text2->setValidator(new QRegularExpressionValidator(hex, ui.Text2));
    ui.Text6->setValidator(new QRegularExpressionValidator(hex, ui.Text6));

    m_session = std::make_unique<MeterSession>(m_env.makePort(), *m_env.clock, m_env.exeDir,
                                               m_env.langId);
    m_session->port().setObjectName(QStringLiteral("MSComm1"));
    m_session->setSink([this](const Result &result) {
        mirror(m_session->state(), m_session->health());
        paint(result);
        record(result);
    });
    connect(&m_session->port(), &SerialPort::linkLost, this, [this] { m_session->linkLost(); });
    onListDropDown(ui.Combo1, [this] { refreshPortTips(); });
    makeRecordingControls();
    m_connectMenu = new QMenu(ui.Command2);
    m_findAction = m_connectMenu->addAction(QString());
    m_findAction->setObjectName(QStringLiteral("findMeter"));
    ui.Command2->setContextMenuPolicy(Qt::CustomContextMenu);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }

    wireHandlers();
    Form_Load();
}

// The trend reads the data it plots until it goes, so it goes first.
Form1::~Form1()
{
    delete m_trend;
    // The recorder writes its last rows as it goes; the window paints nothing of it then.
    QObject::disconnect(m_recorder.get(), nullptr, this, nullptr);
}

// One recording for the whole tool: the same two items in each log's menu,
// then the log's own "Save as".
void Form1::makeRecordingControls()
{
    Recorder::Options options;
    options.folder = recordsFolder(m_env.exeDir);
    const QString userDir = m_env.dataDir.isEmpty()
                                ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
                                : m_env.dataDir;
    options.fallbackFolder = userDir.isEmpty() ? QString() : recordsFolder(userDir);
    options.busy = [this] { return m_session->busy(); };
    m_recorder = std::make_unique<Recorder>(options);
    connect(m_recorder.get(), &Recorder::changed, this, [this] { paintRecording(); });

    m_recordingMark = new QLabel(this);
    m_recordingMark->setObjectName(QStringLiteral("recordingMark"));
    m_recordingMark->setGeometry(MarkLeftTwips / TwipsPerPixel, MarkTopTwips / TwipsPerPixel,
                                 MarkWidthTwips / TwipsPerPixel, MarkHeightTwips / TwipsPerPixel);
    m_recordingMark->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont markFont = m_recordingMark->font();
    markFont.setPointSizeF(MarkPoints);
    markFont.setBold(true);
    m_recordingMark->setFont(markFont);
    m_recordingMark->setStyleSheet(QStringLiteral("color: #C00000;"));
    m_recordingMark->hide();

    m_recordAction = new QAction(this);
    m_recordAction->setObjectName(QStringLiteral("recordToFile"));
    m_recordAction->setCheckable(true);
    connect(m_recordAction, &QAction::triggered, this, [this](bool on) { Record_Click(on); });
    m_openRecordsAction = new QAction(this);
    m_openRecordsAction->setObjectName(QStringLiteral("openRecords"));
    connect(m_openRecordsAction, &QAction::triggered, this, [this] { OpenRecords_Click(); });
    m_trendAction = new QAction(this);
    m_trendAction->setObjectName(QStringLiteral("trend"));
    for (LogBox *log : {ui.Text3, ui.Text4, ui.Text12}) {
        auto *save = new QAction(log);
        save->setObjectName(QStringLiteral("saveAs"));
        connect(save, &QAction::triggered, this, [this, log] { SaveLog_Click(log); });
        QList<QAction *> items{m_recordAction, m_openRecordsAction, save};
        if (log == ui.Text12)
            items << m_trendAction; // the scan list's menu opens the trend
        log->setMenuActions(items);
        m_saveActions << save;
    }
}

void Form1::wireHandlers()
{
    connect(ui.Check1, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });
    connect(ui.Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(ui.Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(ui.Command2, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { m_connectMenu->popup(ui.Command2->mapToGlobal(at)); });
    connect(m_findAction, &QAction::triggered, this, [this] { Command2_Find(); });
    connect(m_trendAction, &QAction::triggered, this, [this] { Text12_Trend(); });
    connect(ui.Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(ui.Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(ui.Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(ui.Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    connect(ui.Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(ui.Command10, &QPushButton::clicked, this, [this] { Command10_Click(); });
    connect(ui.Command11, &QPushButton::clicked, this, [this] { Command11_Click(); });
    connect(ui.Command12, &QPushButton::clicked, this, [this] { Command12_Click(); });
    connect(ui.Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(ui.Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    connect(ui.Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
}

void Form1::fillStartupLists()
{
    for (int n = 1; n <= PortCount; ++n)
        ui.Combo1->addItem(QStringLiteral("COM%1").arg(n));
    ui.Combo2->addItems(baudRates);
    ui.Combo3->addItems(framings);
    ui.Combo4->addItems(dataLengths);
    ui.Combo1->setCurrentIndex(0);
    ui.Combo2->setCurrentIndex(1);
    ui.Combo3->setCurrentIndex(0);
    ui.Combo4->setCurrentIndex(0);
}

void Form1::loadModelList(QComboBox *combo)
{
    const ModelSlots names = readSetupList(setupListPath(m_env.exeDir), m_env.langId);
    for (const QString &name : names)
        combo->addItem(name);
    combo->setCurrentIndex(0);
}

void Form1::Form_Load()
{
    fillStartupLists();
    ui.Option1->setChecked(true); // runs Option1_Click: the read state
    ui.Command3->setEnabled(false);
    ui.Command5->setEnabled(false);
    loadModelList(ui.Combo7);
    for (int n = 1; n <= AddressCount; ++n)
        ui.Combo6->addItem(QString::number(n));
    ui.Combo6->setCurrentIndex(0);
    loadModelList(ui.Combo5);
    if (languageOf(m_env.langId) == Language::Chinese)
        chinese();
    else
        english();
}

void Form1::Form_Activate()
{
    ui.Combo1->setFocus();
}

bool Form1::event(QEvent *e)
{
    const bool handled = QWidget::event(e);
    if (e->type() == QEvent::WindowActivate && !m_activated) {
        m_activated = true;
        Form_Activate();
    }
    return handled;
}

void Form1::english()
{
    useCaptions(englishTable());
}

void Form1::chinese()
{
    useCaptions(chineseTable());
}

void Form1::useCaptions(const CaptionTable &table)
{
    applyCaptions(this, table);
    m_captions = &table;
    m_findAction->setText(findMenuText(table.language));
    m_trendAction->setText(trendMenuText(table.language));
    m_recordAction->setText(recordMenuText(table.language));
    m_openRecordsAction->setText(openRecordsMenuText(table.language));
    for (QAction *save : m_saveActions)
        save->setText(saveAsMenuText(table.language));
    paintRecording();
}

} // namespace movra
