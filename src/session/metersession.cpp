#include "metersession.h"

#include "clock.h"
#include "meterfinder.h"
#include "commport.h"
#include "modelentry.h"
#include "numtext.h"
#include "request.h"
#include "valueconv.h"

#include <QScopedValueRollback>
#include <QTime>

namespace movra {

namespace {
QString comName(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

// "40017--0010--250--VOLT"
QString scanListLine(int registerNumber, const QString &address, const QString &value,
                     const QString &name)
{
    return QStringLiteral("%1--%2--%3--%4").arg(registerNumber).arg(address, value, name);
}

ValueTexts valueTexts(const QString &dataHex)
{
    const ConvertedValue v = convertValue(dataHex);
    return {v.decimal, v.bits, v.inverted};
}
} // namespace

MeterSession::MeterSession(std::unique_ptr<SerialPort> port, Clock &clock, QString modelDir,
                           std::uint16_t langId)
    : m_line(std::move(port), clock), m_clock(clock),
      m_modelDir(std::move(modelDir)), m_langId(langId)
{
    // The request as it goes out, CRC set: it is now the last request, and
    // its query line and boxes show while it waits.
    m_line.setOnSend([this](const QueryFrame &sent) {
        if (!m_pending)
            return;
        m_last = m_pending->request;
        m_last.frame = sent;
        Result result;
        result.queryLines << queryLine(sent);
        result.reg = m_pending->reg;
        result.length = m_pending->length;
        emitResult(result);
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

void MeterSession::emitResult(const Result &result)
{
    if (m_sink)
        m_sink(result);
}

// A request's last result: its reason counts towards the line's health.
void MeterSession::finish(const Result &result)
{
    if (result.reading && result.reading->reason)
        m_health.record(*result.reading->reason);
    emitResult(result);
}

// --- The port panel -------------------------------------------------------

void MeterSession::toggle(const PortChoice &choice)
{
    if (m_state.searching)
        return;
    if (m_state.panel.kind == PortPanel::Open) {
        close();
        Result result;
        result.focus = Result::Focus::PortList;
        emitResult(result);
    } else {
        if (open(choice))
            m_state.connectLocked = false; // the operator's open frees Connect
        emitResult({});
    }
}

bool MeterSession::open(const PortChoice &choice)
{
    PortPanel panel;
    panel.everOpened = m_state.panel.everOpened;
    // The item's position names the port; typed text must name one itself.
    const std::optional<int> n =
        choice.portIndex >= 0 ? std::optional<int>(choice.portIndex + 1) : comNumberFromText(choice.portText);
    if (!n) {
        panel.portName = choice.portText.trimmed();
        panel.status.failure = OpenFailure::NoSuchPortName;
        panel.status.detail = choice.portText.trimmed();
    } else if (!port().setCommPort(*n)) {
        panel.portName = comName(*n);
        panel.status.failure = OpenFailure::NoSuchPortName;
        panel.status.detail = panel.portName;
    } else if (!choice.settings || !port().setSettings(*choice.settings)) {
        // Never open with settings other than those the lists show.
        panel.portName = comName(*n);
        panel.status.failure = OpenFailure::SettingsRefused;
        panel.status.detail = choice.settingsTyped;
    } else {
        port().setPortOpen(true);
        panel.portName = comName(port().commPort());
        panel.status = port().openStatus();
        if (!port().portOpen() && panel.status.failure == OpenFailure::None)
            panel.status.failure = OpenFailure::Other; // a port that cannot tell why
    }
    panel.kind = PortPanel::OpenFailed;
    if (port().portOpen()) {
        panel.kind = PortPanel::Open;
        panel.comNumber = port().commPort();
        panel.settings = *choice.settings;
        m_line.restart(); // what the line learned of another port or meter is void
        startCount(HealthReport::Since::Opened);
    }
    m_state.panel = panel;
    return panel.kind == PortPanel::Open;
}

// The health counts from now: the port opened, or the search set it to
// other settings.
void MeterSession::startCount(HealthReport::Since since)
{
    m_health.restart(QTime::currentTime(), since);
}

void MeterSession::close()
{
    port().setPortOpen(false);
    m_state.panel = PortPanel{};
    m_state.panel.everOpened = true;
}

// The adapter went away: the panel shows the port closed rather than a
// green lamp over a dead line. The focus stays where the operator has it.
void MeterSession::linkLost()
{
    if (m_state.panel.kind != PortPanel::Open)
        return;
    const int n = m_state.panel.comNumber;
    close();
    m_state.panel.kind = PortPanel::LinkLost;
    m_state.panel.portName = comName(n);
    m_state.panel.status.device = port().openStatus().device;
    emitResult({});
}

void MeterSession::closeForExit()
{
    port().setPortOpen(false);
}

// --- Requests -------------------------------------------------------------

Result MeterSession::refused(const Reason &reason)
{
    Result result;
    result.reading = Reading{Reading::Boxes::Cleared, {}, reason, std::nullopt};
    return result;
}

std::optional<Result> MeterSession::exchange(Pending pending, RequestKind kind, Exchange::Sender sender)
{
    pending.request.kind = kind;
    const std::optional<LineOutcome> outcome = send(pending);
    if (!outcome)
        return std::nullopt;
    Result result = outcomeResult(*outcome, pending.request);
    noteExchange(result, sender, &pending.request, &*outcome);
    return result;
}

void MeterSession::noteExchange(Result &result, Exchange::Sender sender, const LineRequest *request,
                                const LineOutcome *outcome) const
{
    Exchange e;
    e.sender = sender;
    if (result.reading) {
        e.reason = result.reading->reason;
        if (result.reading->boxes == Reading::Boxes::Value) {
            e.valueText = result.reading->value.decimal;
            bool ok = false;
            const double v = e.valueText.toDouble(&ok);
            if (ok)
                e.value = v;
        }
    }
    if (m_state.panel.kind == PortPanel::Open) {
        e.port = m_state.panel.portName;
        e.settings = m_state.panel.settings;
    }
    if (request) {
        const QueryFrame &frame = outcome ? outcome->frame : request->frame;
        constexpr int BytesPerRegister = 2;
        const int word = frame[4] << 8 | frame[5];
        e.slave = frame[0];
        e.function = frame[1];
        e.reg = frame[2] << 8 | frame[3];
        e.length = e.function == WriteSingleRegister ? BytesPerRegister : word * BytesPerRegister;
    }
    if (outcome) {
        e.request = frameBytes(outcome->frame);
        e.answer = outcome->received;
        e.late = outcome->late;
    }
    result.exchange = e;
}

// The request on the line, known to the send hook while it is.
std::optional<LineOutcome> MeterSession::send(const Pending &pending)
{
    m_pending = pending;
    std::optional<LineOutcome> outcome = m_line.transact(pending.request);
    m_pending.reset();
    return outcome;
}

// Late bytes get a log line of their own above the answer; an echo with
// nothing behind it is logged too. Only a trusted read answer gives a value.
Result MeterSession::outcomeResult(const LineOutcome &outcome, const LineRequest &request)
{
    Result result;
    if (!outcome.late.isEmpty())
        result.responseLines << bytesLine(outcome.late);
    if (outcome.answer.isEmpty()) {
        if (!outcome.received.isEmpty())
            result.responseLines << bytesLine(outcome.received);
        result.reading = refused(outcome.reason).reading;
        return result;
    }
    const bool write = request.frame[1] == WriteSingleRegister;
    const RenderedResponse rendered =
        renderResponse(outcome.answer, request.expectedLength, write, request.shape);
    if (rendered.logged)
        result.responseLines << rendered.hex;
    Reading reading{Reading::Boxes::Cleared, {}, outcome.reason, rendered.hex};
    if (write) {
        if (outcome.trusted())
            reading.boxes = Reading::Boxes::Echo;
    } else if (outcome.trusted() && rendered.convert && rendered.dataHex) {
        m_dataHex = *rendered.dataHex;
        reading.boxes = Reading::Boxes::Value;
        reading.value = valueTexts(m_dataHex);
    } else if (outcome.trusted()) { // a length that gives no value, or a 4-byte value of no known order
        const bool fourBytes = request.shape.valueBytes == 4;
        reading.reason = Reason{Reason::NoValue, fourBytes ? Reason::NoValueSign : request.shape.dataLength};
    }
    result.reading = reading;
    return result;
}

// A send button's request: refused with the box to put right, or run on the line.
void MeterSession::sendByHand(const RequestTexts &texts)
{
    const RequestPlan plan = planRequest(texts, m_last);
    if (!plan.request) {
        // Not sent: nothing on screen may pass for this request's value.
        Result result = refused(plan.refusal);
        result.focus = plan.refusal.kind == Reason::NotSentLength ? Result::Focus::LengthBox
                                                                  : Result::Focus::SlaveBox;
        noteExchange(result, Exchange::Sender::Manual, nullptr, nullptr);
        finish(result);
        return;
    }
    Result result = exchange({*plan.request, {}, {}}, RequestKind::Click, Exchange::Sender::Manual)
                        .value_or(refused({Reason::LineBusy}));
    if (!result.exchange)
        noteExchange(result, Exchange::Sender::Manual, &*plan.request, nullptr);
    finish(result);
}

void MeterSession::read(const ReadCommand &command)
{
    if (busy())
        return;
    RequestTexts texts;
    texts.slave = slaveAddressFromText(command.slave);
    texts.reg = command.reg;
    texts.length = command.length;
    sendByHand(texts);
}

void MeterSession::write(const WriteCommand &command)
{
    if (busy())
        return;
    RequestTexts texts;
    texts.function = m_functionCode;
    texts.slave = slaveAddressFromText(command.slave);
    texts.reg = command.reg;
    texts.value = command.value;
    sendByHand(texts);
}

ModelFile MeterSession::modelFile(const QString &model) const
{
    return ModelFile(modelFilePath(m_modelDir, model), m_langId);
}

// One read of the model's last listed register; its value on the meter
// display, or the hint.
void MeterSession::connect(const ConnectCommand &command)
{
    if (m_state.searching) {
        stopFinding();
        return;
    }
    if (busy())
        return;
    Result starting;
    starting.reading = Reading{}; // every value box emptied, its reason with it
    starting.hint = Hint{};
    emitResult(starting);
    // Without the model's entry there is nothing to ask: send nothing.
    const std::optional<ModelEntry> entry = modelFile(command.model).lastEntry();
    Result result = refused({Reason::NoModelEntry});
    if (entry) {
        const LineRequest read = connectRead(*entry, command.slave);
        result = exchange({read, {}, entry->length}, RequestKind::Click, Exchange::Sender::Connect)
                     .value_or(refused({Reason::LineBusy}));
        if (!result.exchange)
            noteExchange(result, Exchange::Sender::Connect, &read, nullptr);
        result.exchange->entry = entry->name;
    } else {
        noteExchange(result, Exchange::Sender::Connect, nullptr, nullptr);
    }
    const bool value = result.reading && result.reading->boxes == Reading::Boxes::Value
                       && !result.reading->value.decimal.isEmpty();
    result.hint = Hint{value ? Hint::None : Hint::CheckSettings};
    // The search is worth it only when the request went out and nothing valid came back.
    const Reason reason = result.reading && result.reading->reason ? *result.reading->reason : Reason{};
    result.hint->offerFind = !value && reason.wentOut() && reason.kind != Reason::None
                             && reason.kind != Reason::NoValue && reason.kind != Reason::ClosedInWait;
    finish(result);
}

// Connect's read of a model's last entry: its register, length and byte
// order; a length that is not a number keeps the previous request's count.
LineRequest MeterSession::connectRead(const ModelEntry &entry, int slave) const
{
    RequestTexts texts = entryTexts(std::uint8_t(slave), entry);
    texts.lengthRule = RequestTexts::LengthRule::KeepPrevious;
    return *planRequest(texts, m_last).request;
}

// --- The search for the meter ---------------------------------------------

// A setting the driver does not take is named on the lamp, and the search
// goes on with what it took; only a port that is gone ends it.
bool MeterSession::useSettings(const LineSettings &settings)
{
    if (m_state.panel.kind != PortPanel::Open)
        return false;
    port().setSettings(settings);
    if (!port().portOpen())
        return false;
    m_line.restart();
    // The status line says what is in effect, also during the search.
    m_state.panel.settings = settings;
    m_state.panel.status = port().openStatus();
    return true;
}

void MeterSession::findMeter(const FindCommand &command)
{
    if (busy() || !m_state.canFind())
        return;
    const std::optional<ModelEntry> entry = modelFile(command.model).lastEntry();
    if (!entry) {
        Result result = refused({Reason::NoModelEntry});
        result.hint = Hint{Hint::CheckSettings};
        noteExchange(result, Exchange::Sender::Search, nullptr, nullptr);
        emitResult(result);
        return;
    }
    const LineRequest read = connectRead(*entry, 0); // each try puts its own slave in
    const FindPlan plan =
        findPlan(command.bauds, command.framings, m_state.panel.settings, command.firstAddress, command.lastAddress);
    m_stopFinding = false;
    m_state.searching = true;
    Result starting;
    starting.reading = Reading{};
    emitResult(starting);

    FindHooks hooks;
    hooks.useSettings = [this](const LineSettings &settings) { return useSettings(settings); };
    // Every try's bytes go to the logs; none is counted in the line's health.
    hooks.transact = [this, &entry](const LineRequest &request) {
        const std::optional<LineOutcome> outcome = send(Pending{request, {}, entry->length});
        if (outcome) {
            Result tried = outcomeResult(*outcome, request);
            noteExchange(tried, Exchange::Sender::Search, &request, &*outcome);
            Result logged;
            logged.responseLines = tried.responseLines;
            logged.exchange = tried.exchange;
            emitResult(logged);
        }
        return outcome;
    };
    hooks.progress = [this](const FindProgress &progress) {
        Hint searching(Hint::Searching);
        searching.at = progress.at.settings;
        searching.address = progress.at.address;
        searching.index = progress.index;
        searching.total = progress.total;
        Result result;
        result.hint = searching;
        emitResult(result);
    };
    // A lost port ends the search as lost when its next try finds the port
    // closed, not as a stop.
    hooks.stopRequested = [this] { return m_stopFinding; };
    const FindResult found = movra::findMeter(plan, read, hooks);
    m_state.searching = false;
    endSearch(found, command, plan.inEffect, read);
}

void MeterSession::endSearch(const FindResult &found, const FindCommand &command, const FindTry &before,
                             const LineRequest &read)
{
    Result result;
    switch (found.kind) {
    case FindResult::Found:
        result = outcomeResult(*found.confirmed, read);
        result.responseLines.clear(); // logged as it came
        result.hint = Hint{};
        result.found = Found{found.at.settings, found.at.address};
        // The count is of these settings: a find at others starts a new one.
        if (!found.at.sameSettings(before))
            startCount(HealthReport::Since::SettingsFound);
        break;
    case FindResult::NothingFound:
        result.hint = Hint{Hint::NothingFound};
        result.hint->bauds = command.bauds;
        result.hint->framings = command.framings;
        result.hint->firstAddress = command.firstAddress;
        result.hint->lastAddress = command.lastAddress;
        break;
    case FindResult::Stopped:
        result.hint = Hint{Hint::Stopped};
        break;
    case FindResult::PortLost:
        // The lost link has its own reason on the lamp.
        result.hint = Hint{Hint::CheckSettings};
        break;
    }
    emitResult(result);
}

void MeterSession::clear()
{
    Result result;
    result.clearLogs = true;
    emitResult(result);
}

void MeterSession::convertLast()
{
    Result result;
    result.reading = Reading{Reading::Boxes::Value, valueTexts(m_dataHex), std::nullopt, std::nullopt};
    emitResult(result);
}

// --- The scan ---------------------------------------------------------------

void MeterSession::startScan(const QString &model)
{
    m_scan.start(modelFile(model).lastEntryLine().value_or(ModelFile::FirstEntryLine - 1));
    m_state.scanning = true;
    emitResult({});
}

void MeterSession::stopScan()
{
    m_scan.stop();
    m_state.scanning = false;
    emitResult({});
}

void MeterSession::tick(const TickCommand &command)
{
    // A tick that falls due while a reading or the reconnect's pause waits,
    // or while the line settles after a request without an answer, is
    // skipped, not nested.
    if (busy() || m_ticking || m_line.settling())
        return;
    const QScopedValueRollback ticking(m_ticking, true);
    if (const std::optional<std::int32_t> entryLine = m_scan.next())
        scanReading(command, *entryLine);
    if (m_scan.reconnectDue())
        periodicReconnect(command.connect);
}

// One reading: the entry's register and length, from the slave in the
// manual panel, which shows the request and the answer. A 4-byte value is
// joined reversed for "+", as received for any other sign.
void MeterSession::scanReading(const TickCommand &command, std::int32_t entryLine)
{
    const std::optional<ModelEntry> entry = modelFile(command.model).entry(entryLine);
    if (!entry) {
        m_scan.entryMissing();
        return;
    }
    const int registerNumber = HEX_to_DEC(entry->address).value_or(0) + RegisterBase;
    RequestTexts texts = entryTexts(slaveAddressFromText(command.slave), *entry);
    if (texts.order != ByteOrder::Reversed)
        texts.order = ByteOrder::AsReceived;
    const RequestPlan plan = planRequest(texts, m_last);
    Result result;
    if (plan.request) {
        const std::optional<Result> answered =
            exchange({*plan.request, entry->address, entry->length}, RequestKind::Tick, Exchange::Sender::Scan);
        if (!answered)
            return; // the line is still not quiet: this tick is skipped
        result = *answered;
    } else {
        // Not sent; the focus stays where the operator has it.
        result = refused(plan.refusal);
        result.reg = entry->address;
        result.length = entry->length;
        noteExchange(result, Exchange::Sender::Scan, nullptr, nullptr);
        result.exchange->reg = registerNumber - RegisterBase;
    }
    m_scan.readingDone();
    const bool value = result.reading && result.reading->boxes == Reading::Boxes::Value;
    result.scanLine = scanListLine(registerNumber, entry->address,
                                   value ? result.reading->value.decimal : QString(), entry->name);
    result.exchange->entry = entry->name;
    finish(result);
}

// Every 3600 readings: Connect, a pause, then the port closed and opened
// again, so the scan goes on reading on a fresh port. A closed port stays
// closed; Connect's lock stays as it was; a reopen that fails
// leaves the panel closed, its lists free for another port.
void MeterSession::periodicReconnect(const ConnectCommand &connectCommand)
{
    connect(connectCommand);
    m_clock.wait(ReconnectPause);
    if (m_state.panel.kind == PortPanel::Open) {
        // The same port and settings again, by name.
        const PortChoice again{m_state.panel.portName, -1, m_state.panel.settings, {}};
        close();
        open(again);
        emitResult({});
    }
    m_scan.reconnected();
}

void MeterSession::setEngineerMode(bool on)
{
    if (m_state.searching)
        return;
    m_state.connectLocked = on;
    if (!on) {
        m_scan.stop();
        m_state.scanning = false;
    }
    emitResult({});
}

} // namespace movra
