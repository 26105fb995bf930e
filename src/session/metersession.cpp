#include "metersession.h"

#include "clock.h"
#include "commport.h"
#include "lineio.h"
#include "modelentry.h"
#include "numtext.h"
#include "request.h"
#include "valueconv.h"

#include <QScopedValueRollback>

namespace movra {

namespace {
QString comName(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

// "COM:1 Baud rate:9600  Protocol:N,8,1"
QString statusText(int port, const QString &baud, const QString &framing)
{
    return QStringLiteral("COM:%1 Baud rate:%2  Protocol:%3").arg(port).arg(baud, framing);
}

// "40017--0010--250--VOLT"
QString scanListLine(int registerNumber, const QString &address, const QString &value,
                     const QString &name)
{
    return QStringLiteral("%1--%2--%3--%4").arg(registerNumber).arg(address, value, name);
}

// Whether a checked answer's data length makes a value (2, 4, 6 or 8 bytes,
// and a known byte order for 4).
bool givesValue(const QString &lengthText, ByteOrder order)
{
    if (lengthText == QLatin1String("4"))
        return order != ByteOrder::Unknown;
    return lengthText == QLatin1String("2") || lengthText == QLatin1String("6")
        || lengthText == QLatin1String("8");
}

ValueTexts valueTexts(const QString &dataHex)
{
    const ConvertedValue v = convertValue(dataHex);
    return {v.decimal, v.bits, v.inverted};
}
} // namespace

namespace {
template<typename T>
void take(std::optional<T> &mine, const std::optional<T> &later)
{
    if (later)
        mine = later;
}
} // namespace

void Shown::merge(const Shown &later)
{
    queryLines += later.queryLines;
    responseLines += later.responseLines;
    if (later.valueShown != Value::Keep) {
        valueShown = later.valueShown;
        value = later.value;
    }
    if (later.focus != Focus::Keep)
        focus = later.focus;
    clearLogs = clearLogs || later.clearLogs;
    take(text7, later.text7);
    take(reason, later.reason);
    take(hint, later.hint);
    take(status, later.status);
    take(scanLine, later.scanLine);
    take(reg, later.reg);
    take(length, later.length);
    take(panel, later.panel);
    take(sendEnabled, later.sendEnabled);
    take(connectLocked, later.connectLocked);
    take(scanning, later.scanning);
}

MeterSession::MeterSession(std::unique_ptr<SerialPort> port, Clock &clock, QString modelDir,
                           std::uint16_t langId)
    : m_line(std::move(port), clock), m_clock(clock),
      m_modelDir(std::move(modelDir)), m_langId(langId)
{
    m_line.setOnSend([this](const QueryFrame &sent) {
        m_last.frame = sent;
        if (!m_onSend)
            return;
        Shown shown;
        shown.queryLines << queryLine(sent);
        m_onSend(shown);
    });
}

MeterSession::~MeterSession()
{
    // The port is released as the program ends.
    if (port().portOpen())
        port().setPortOpen(false);
}

SerialPort &MeterSession::port()
{
    return m_line.port();
}

// --- The port panel -------------------------------------------------------

Shown MeterSession::toggle(const PortChoice &choice)
{
    return m_inUse ? close() : open(choice);
}

Shown MeterSession::open(const PortChoice &choice)
{
    Shown shown;
    Shown::Panel panel;
    // The item's position names the port; typed text must name one itself.
    const std::optional<int> n =
        choice.portIndex >= 0 ? std::optional<int>(choice.portIndex + 1) : comNumberFromText(choice.portText);
    const QString settings = choice.baud + QLatin1Char(',') + choice.framing;
    if (!n) {
        panel.portName = choice.portText.trimmed();
        panel.status.failure = OpenFailure::NoSuchPortName;
        panel.status.detail = choice.portText.trimmed();
    } else if (!port().setCommPort(*n)) {
        panel.portName = comName(*n);
        panel.status.failure = OpenFailure::NoSuchPortName;
        panel.status.detail = panel.portName;
    } else if (!port().setSettings(settings)) {
        // Never open with settings other than those the lists show.
        panel.portName = comName(*n);
        panel.status.failure = OpenFailure::SettingsRefused;
        panel.status.detail = settings;
    } else {
        port().setPortOpen(true);
        panel.portName = comName(port().commPort());
        panel.status = port().openStatus();
        if (!port().portOpen() && panel.status.failure == OpenFailure::None)
            panel.status.failure = OpenFailure::Other; // a port that cannot tell why
    }
    if (port().portOpen()) {
        m_inUse = InUse{port().commPort(), choice.baud, choice.framing};
        panel.open = true;
        shown.status = statusLine();
        shown.connectLocked = false;
    }
    shown.sendEnabled = panel.open;
    shown.panel = panel;
    return shown;
}

Shown MeterSession::close()
{
    port().setPortOpen(false);
    m_inUse.reset();
    Shown shown;
    Shown::Panel panel;
    panel.change = Shown::Panel::Closed;
    panel.focusPort = true;
    shown.panel = panel;
    shown.sendEnabled = false;
    shown.status = QString();
    return shown;
}

// The adapter went away: the panel shows the port closed rather than a
// green lamp over a dead line.
Shown MeterSession::linkLost()
{
    if (!m_inUse)
        return {};
    const int n = m_inUse->port;
    Shown shown = close();
    shown.panel->change = Shown::Panel::Lost;
    shown.panel->portName = comName(n);
    shown.panel->status.device = port().openStatus().device;
    return shown;
}

void MeterSession::closeForExit()
{
    port().setPortOpen(false);
}

QString MeterSession::statusLine() const
{
    return m_inUse ? statusText(m_inUse->port, m_inUse->baud, m_inUse->framing) : QString();
}

// --- Requests -------------------------------------------------------------

Shown MeterSession::refused(const Reason &reason)
{
    Shown shown;
    shown.valueShown = Shown::Value::Clear;
    shown.reason = reason;
    return shown;
}

std::optional<Shown> MeterSession::exchange(LineRequest request, const QString &lengthText, RequestKind kind)
{
    request.kind = kind;
    const std::optional<LineOutcome> outcome = m_line.transact(request);
    if (!outcome)
        return std::nullopt;
    // Set with the frame, which the send hook set: a request not taken leaves both.
    m_last.expectedLength = request.expectedLength;
    return outcomeShown(*outcome, request, lengthText);
}

// Late bytes get a log line of their own above the answer; an echo with
// nothing behind it is logged too. Only a trusted read answer gives a value.
Shown MeterSession::outcomeShown(const LineOutcome &outcome, const LineRequest &request,
                                 const QString &lengthText)
{
    Shown shown;
    if (!outcome.late.isEmpty())
        shown.responseLines << bytesLine(outcome.late);
    if (outcome.answer.isEmpty()) {
        if (!outcome.received.isEmpty())
            shown.responseLines << bytesLine(outcome.received);
        Shown none = refused(outcome.reason);
        none.responseLines = shown.responseLines;
        return none;
    }
    const bool write = request.frame[1] == WriteSingleRegister;
    const RenderedResponse rendered =
        renderResponse(outcome.answer, request.expectedLength, write, lengthText, request.order);
    shown.text7 = rendered.text7;
    if (rendered.logged)
        shown.responseLines << rendered.text7;
    shown.reason = outcome.reason;
    if (write) {
        shown.valueShown = outcome.trusted() ? Shown::Value::ClearText5 : Shown::Value::Clear;
    } else if (outcome.trusted() && rendered.convert && rendered.dataHex) {
        m_dataHex = *rendered.dataHex;
        shown.valueShown = Shown::Value::Set;
        shown.value = valueTexts(m_dataHex);
    } else {
        shown.valueShown = Shown::Value::Clear;
        if (outcome.trusted() && !givesValue(lengthText, request.order)) {
            const bool fourBytes = lengthText == QLatin1String("4");
            shown.reason = Reason{Reason::NoValue,
                                  fourBytes ? Reason::NoValueSign : int(leadingNumber(lengthText))};
        }
    }
    return shown;
}

// A send button's request: refused with the box to put right, or run on the line.
Shown MeterSession::sendByHand(const RequestTexts &texts)
{
    if (busy())
        return {};
    const RequestPlan plan = planRequest(texts, m_last);
    if (!plan.request) {
        // Not sent: nothing on screen may pass for this request's value.
        Shown shown = refused(plan.refusal);
        shown.focus = plan.refusal.kind == Reason::NotSentLength ? Shown::Focus::LengthBox
                                                                 : Shown::Focus::SlaveBox;
        return shown;
    }
    return exchange(*plan.request, texts.length, RequestKind::Click)
        .value_or(refused({Reason::LateAnswer}));
}

Shown MeterSession::read(const ReadCommand &command)
{
    if (busy())
        return {};
    m_byteOrderSign = QStringLiteral("-");
    RequestTexts texts;
    texts.slave = command.slave;
    texts.reg = command.reg;
    texts.length = command.length;
    return sendByHand(texts);
}

Shown MeterSession::write(const WriteCommand &command)
{
    RequestTexts texts;
    texts.function = m_functionCode;
    texts.slave = command.slave;
    texts.reg = command.reg;
    texts.value = command.value;
    return sendByHand(texts);
}

std::optional<QString> MeterSession::modelLine(const QString &model, std::int32_t n) const
{
    return GetLine(modelFilePath(m_modelDir, model), n, m_langId);
}

// One read of the model's last listed register; its value on the meter
// display, or the hint.
Shown MeterSession::connect(const ConnectCommand &command)
{
    if (busy())
        return {};
    Shown shown;
    shown.hint = QString();
    if (m_onSend) {
        Shown emptied;
        emptied.hint = QString();
        emptied.valueShown = Shown::Value::ClearDisplay;
        m_onSend(emptied);
    }
    // Without the model's entry there is nothing to ask: send nothing.
    const auto first = modelLine(command.model, 1);
    const auto last = first ? roundToInt32(leadingNumber(*first) + 1) : std::nullopt;
    const auto line = last ? modelLine(command.model, *last) : std::nullopt;
    if (!line) {
        shown.merge(refused({Reason::NoModelEntry}));
        shown.hint = m_connectHint;
        return shown;
    }
    const ModelEntry entry = parseEntry(*line);
    m_byteOrderSign = entry.sign;
    RequestTexts texts = entryTexts(QString::number(command.addressIndex + 1), entry);
    texts.lengthRule = RequestTexts::LengthRule::KeepPrevious;
    const RequestPlan plan = planRequest(texts, m_last);
    shown.length = entry.length;
    const Shown answered = exchange(*plan.request, entry.length, RequestKind::Click)
                               .value_or(refused({Reason::LateAnswer}));
    shown.merge(answered);
    if (answered.valueShown == Shown::Value::Set && !answered.value.decimal.isEmpty())
        shown.status = statusLine();
    else
        shown.hint = m_connectHint;
    return shown;
}

Shown MeterSession::clear() const
{
    Shown shown;
    shown.clearLogs = true;
    return shown;
}

Shown MeterSession::convertLast() const
{
    Shown shown;
    shown.valueShown = Shown::Value::Set;
    shown.value = valueTexts(m_dataHex);
    return shown;
}

// --- The scan ---------------------------------------------------------------

Shown MeterSession::startScan(const QString &model)
{
    const auto first = modelLine(model, 1);
    m_scan.start((first ? leadingNumber(*first) : 0.0) + 1);
    Shown shown;
    shown.scanning = true;
    return shown;
}

Shown MeterSession::stopScan()
{
    m_scan.stop();
    Shown shown;
    shown.scanning = false;
    return shown;
}

Shown MeterSession::tick(const TickCommand &command)
{
    // A tick that falls due while a reading or the reconnect's pause waits,
    // or while the line settles after a request without an answer, is
    // skipped, not nested.
    if (busy() || m_ticking || m_line.settling())
        return {};
    const QScopedValueRollback ticking(m_ticking, true);
    Shown shown;
    if (const std::optional<std::int32_t> entryLine = m_scan.next())
        scanReading(command, *entryLine, shown);
    if (m_scan.reconnectDue())
        shown.merge(periodicReconnect(command.connect));
    return shown;
}

// One reading: the entry's register, its length and its byte order, from
// the slave in Text1. The manual panel shows the request and the answer.
void MeterSession::scanReading(const TickCommand &command, std::int32_t entryLine, Shown &shown)
{
    const auto line = modelLine(command.model, entryLine);
    if (!line) {
        m_scan.entryMissing();
        return;
    }
    const ModelEntry entry = parseEntry(*line);
    const int registerNumber = HEX_to_DEC(entry.address).value_or(0) + RegisterBase;
    const RequestPlan plan = planRequest(entryTexts(command.slave, entry), m_last);
    shown.reg = entry.address;
    shown.length = entry.length;
    m_byteOrderSign = entry.sign;
    if (plan.request) {
        const std::optional<Shown> answered =
            exchange(*plan.request, entry.length, RequestKind::Tick);
        if (!answered)
            return; // the line is still not quiet: this tick is skipped
        shown.merge(*answered);
    } else {
        // Not sent; the focus stays where the operator has it.
        shown.merge(refused(plan.refusal));
    }
    m_scan.readingDone();
    const QString value = shown.valueShown == Shown::Value::Set ? shown.value.decimal : QString();
    shown.scanLine = scanListLine(registerNumber, entry.address, value, entry.name);
}

// Every 3600 readings: Connect, a pause, then the port closed and opened
// again, so the scan goes on reading on a fresh port. A closed port stays
// closed; engineer mode's locks stay as they were.
Shown MeterSession::periodicReconnect(const ConnectCommand &connectCommand)
{
    Shown shown = connect(connectCommand);
    m_clock.wait(ReconnectPause);
    if (m_inUse) {
        // The same port and settings again, by name.
        const PortChoice again{comName(m_inUse->port), -1, m_inUse->baud, m_inUse->framing};
        shown.merge(close());
        shown.merge(open(again));
        if (shown.panel)
            shown.panel->focusPort = false;
        shown.connectLocked = m_engineer;
    }
    m_scan.reconnected();
    return shown;
}

Shown MeterSession::setEngineerMode(bool on)
{
    m_engineer = on;
    Shown shown;
    shown.connectLocked = on;
    if (!on)
        shown.merge(stopScan());
    return shown;
}

} // namespace movra
