#include "meterfinder.h"

#include <algorithm>
#include <functional>
#include <tuple>

namespace movra {

namespace {

// The rates and framings meters most often leave the factory with, most
// common first.
const QList<int> CommonBauds = {9600, 19200};
const QList<LineSettings> FramingPreference = {{0, 'N', 8, 1}, {0, 'E', 8, 1}, {0, 'O', 8, 1}};

// A value's place: its place among the preferred ones, or after them, in the
// order of the list it came from.
template <typename T, typename Same>
qsizetype rankOf(const T &value, const QList<T> &preferred, const QList<T> &given, Same same)
{
    const auto place = [&](const QList<T> &list) {
        const auto it = std::find_if(list.cbegin(), list.cend(), [&](const T &v) { return same(v, value); });
        return it == list.cend() ? list.size() : qsizetype(it - list.cbegin());
    };
    const qsizetype i = place(preferred);
    return i < preferred.size() ? i : preferred.size() + place(given);
}

int answerBytesOf(const LineRequest &read)
{
    return read.expectedLength + CrcBytes;
}

} // namespace

FindPlan findPlan(const QList<int> &bauds, const QList<LineSettings> &framings, const LineSettings &inEffect,
                  int firstAddress, int lastAddress)
{
    FindPlan plan;
    plan.inEffect = {inEffect, 0};
    plan.firstAddress = firstAddress;
    plan.lastAddress = lastAddress;

    QList<FindTry> settings{plan.inEffect};
    for (const int baud : bauds) {
        for (LineSettings framing : framings) {
            framing.baudRate = baud;
            const FindTry s{framing, 0};
            if (std::none_of(settings.cbegin(), settings.cend(), [&](const FindTry &t) { return t.sameSettings(s); }))
                settings.append(s);
        }
    }
    const auto key = [&](const FindTry &s) {
        const bool common = CommonBauds.contains(s.settings.baudRate);
        return std::tuple(!common, rankOf(s.settings, FramingPreference, framings, sameFraming),
                          rankOf(s.settings.baudRate, CommonBauds, bauds, std::equal_to<int>()));
    };
    std::stable_sort(settings.begin() + 1, settings.end(),
                     [&](const FindTry &a, const FindTry &b) { return key(a) < key(b); });

    for (const FindTry &s : std::as_const(settings))
        for (int address = firstAddress; address <= lastAddress; ++address)
            plan.tries.append({s.settings, address});
    return plan;
}

double tryWait(const LineSettings &settings, int answerBytes)
{
    return (RequestBytes + answerBytes) * characterTime(settings) + MeterTurnaround;
}

QList<int> answeringSlaves(const QueryFrame &read, const QByteArray &bytes, int firstAddress, int lastAddress)
{
    QList<int> slaves;
    QueryFrame asked = read;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int slave = static_cast<std::uint8_t>(bytes.at(i));
        if (slave >= firstAddress && slave <= lastAddress) {
            asked[0] = std::uint8_t(slave);
            const QByteArray rest = bytes.mid(i);
            const qsizetype length = answerFrameLength(asked, rest);
            if (checkAnswer(asked, rest.left(length)).kind == Reason::None) {
                if (!slaves.contains(slave))
                    slaves.append(slave);
                i += length;
                continue;
            }
        }
        ++i;
    }
    return slaves;
}

namespace {

// One search: where the port is, and the requests it sends.
class Finder {
public:
    Finder(const FindPlan &plan, const LineRequest &read, const FindHooks &hooks)
        : m_plan(plan), m_read(read), m_hooks(hooks), m_current(plan.inEffect)
    {
    }

    FindResult run()
    {
        const int total = int(m_plan.tries.size());
        for (int i = 0; i < total; ++i) {
            const FindTry &at = m_plan.tries.at(i);
            if (stopRequested())
                return ended(FindResult::Stopped);
            if (!use(at))
                return lost();
            if (m_hooks.progress)
                m_hooks.progress({i + 1, total, at});
            const auto out = probe(at);
            if (!out)
                continue; // the line could not take it: heard nothing
            if (out->reason.kind == Reason::NotSentPortClosed)
                return lost();
            const QByteArray heard = out->late + out->received;
            for (int slave : answeringSlaves(m_read.frame, heard, m_plan.firstAddress, m_plan.lastAddress)) {
                if (const auto kind = confirm(at, slave))
                    return *kind == FindResult::Found ? std::move(m_result) : ended(*kind);
            }
        }
        return ended(FindResult::NothingFound);
    }

private:
    bool stopRequested() const { return m_hooks.stopRequested && m_hooks.stopRequested(); }

    // The port at the try's settings, reopened only when they change.
    bool use(const FindTry &at)
    {
        if (m_current.sameSettings(at))
            return true;
        if (!m_hooks.useSettings(at.settings))
            return false;
        m_previous = m_current;
        m_current = at;
        return true;
    }

    std::optional<LineOutcome> probe(const FindTry &at)
    {
        LineRequest request = m_read;
        request.frame[0] = std::uint8_t(at.address);
        request.kind = RequestKind::Probe;
        request.answerWait = tryWait(at.settings, answerBytesOf(m_read));
        return m_hooks.transact(request);
    }

    // A read to `slave` at the try's settings, then at the previous try's.
    // Empty: not confirmed, the search goes on at the try's settings.
    std::optional<FindResult::Kind> confirm(const FindTry &at, int slave)
    {
        QList<FindTry> where{at};
        if (m_previous && !m_previous->sameSettings(at))
            where.append(*m_previous);
        for (FindTry candidate : where) {
            if (stopRequested())
                return FindResult::Stopped;
            if (!use(candidate))
                return FindResult::PortLost;
            candidate.address = slave;
            LineRequest request = m_read;
            request.frame[0] = std::uint8_t(slave);
            request.kind = RequestKind::Click;
            request.answerWait = 0;
            auto out = m_hooks.transact(request);
            if (out && out->reason.kind == Reason::NotSentPortClosed)
                return FindResult::PortLost;
            if (out && out->trusted()) {
                m_result.kind = FindResult::Found;
                m_result.at = candidate;
                m_result.confirmed = std::move(out);
                return FindResult::Found;
            }
        }
        if (!use(at))
            return FindResult::PortLost;
        return std::nullopt;
    }

    FindResult lost()
    {
        m_result.kind = FindResult::PortLost;
        return std::move(m_result);
    }

    // Without a find: the operator's settings back.
    FindResult ended(FindResult::Kind kind)
    {
        if (kind == FindResult::PortLost || !use(m_plan.inEffect))
            return lost();
        m_result.kind = kind;
        return std::move(m_result);
    }

    const FindPlan &m_plan;
    const LineRequest &m_read;
    const FindHooks &m_hooks;
    FindTry m_current;
    std::optional<FindTry> m_previous;
    FindResult m_result;
};

} // namespace

FindResult findMeter(const FindPlan &plan, const LineRequest &connectRead, const FindHooks &hooks)
{
    return Finder(plan, connectRead, hooks).run();
}

} // namespace movra
