// The line's bookkeeping under any order of requests, arriving bytes and
// clock steps: the line on a scripted meter in virtual time.
//
// Input: a flag byte (bit 0: the port signals arrivals), then operations,
// one byte each plus operands: 0 a request (kind, register count or a
// write), 1 noise bytes at a time to come, 2 the last request's answer at a
// time to come (bit 3: our echo in front; bit 4: instead, the next
// request's own answer that long after it goes), 3 a clock step, 4 a
// restart or a look at settling().
//
// Every byte the line takes is checked against the arrivals: taken in order,
// each outcome's bytes after its own late ones, and never a byte that
// arrived before the request was sent taken as received after it. And the
// promise: when an older request's answer (the first bytes on the line since
// it went) comes in a later request's wait, and the meter answers the later
// one no later than it answered the older, the later one never shows the
// older one's.
#include "fakemeter.h"
#include "fuzzinput.h"
#include "modbusline.h"

#include <map>

using namespace movra;

namespace {
constexpr int MaxOperations = 200;
constexpr int Noise = -1;

// Scripted bytes, and the request they answer (Noise: none).
struct Delivery {
    QByteArray bytes;
    int answers = Noise;
};

// A request that went out, as the harness saw it.
struct Sent {
    double at = 0;
    QueryFrame frame{};
    int epoch = 0; // restarts before it
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    VirtualClock clock;
    auto owned = std::make_unique<FakeMeter>(clock);
    FakeMeter &meter = *owned;
    meter.setSlave(0x7F); // answers only as scripted below
    meter.setPortOpen(true);
    meter.setSignalsArrivals(in.byte() & 1);
    ModbusLine line(std::move(owned), clock);
    double sentAt = -1;
    line.setOnSend([&](const QueryFrame &) { sentAt = clock.now(); });

    // Every byte scripted, by arrival time, then in order of delivery, as the
    // meter hands them over.
    std::multimap<double, Delivery> timeline;
    auto deliver = [&](double at, const QByteArray &bytes, int answers) {
        timeline.emplace(at, Delivery{bytes, answers});
        meter.deliverAt(at, bytes);
    };
    // Which delivery holds byte `offset` of the stream, and when it came.
    auto deliveryAt = [&](qsizetype offset) -> std::pair<double, const Delivery *> {
        for (const auto &[at, d] : timeline) {
            if (offset < d.bytes.size())
                return {at, &d};
            offset -= d.bytes.size();
        }
        return {0, nullptr};
    };
    std::vector<Sent> sends;
    int epoch = 0;
    qsizetype taken = 0;
    QueryFrame last{1, ReadHoldingRegisters, 0, 0, 0, 1, 0, 0};
    // The meter's answer to a request's bytes.
    auto answerTo = [](const QByteArray &request) {
        QList<quint16> values;
        for (int i = 0; i < std::uint8_t(request[5]); ++i)
            values << quint16(i);
        return request[1] == WriteSingleRegister ? request : FakeMeter::readAnswer(1, values);
    };
    std::optional<double> ownAfter; // the next request's own answer, this long after it goes
    meter.setResponder([&](const QByteArray &request) -> std::optional<FakeMeter::Reply> {
        if (ownAfter)
            deliver(clock.now() + *std::exchange(ownAfter, std::nullopt), answerTo(request), int(sends.size()));
        return FakeMeter::Reply{};
    });
    for (int op = 0; op < MaxOperations && in.left() > 0; ++op) {
        const std::uint8_t b = in.byte();
        const double later = clock.now() + in.byte() / 100.0;
        switch (b % 5) {
        case 0: {
            LineRequest request;
            const int registers = 1 + (b >> 3) % 4;
            const bool write = (b >> 5) == 7;
            request.frame = {1, write ? WriteSingleRegister : ReadHoldingRegisters, 0, 0, 0, std::uint8_t(registers), 0, 0};
            request.expectedLength = write ? 6 : 3 + 2 * registers;
            request.kind = RequestKind((b >> 3) % 3);
            request.answerWait = (b >> 6) / 10.0;
            const std::optional<LineOutcome> out = line.transact(request);
            if (!out)
                break;
            last = out->frame;
            QByteArray stream;
            std::optional<double> firstReceivedAt;
            for (const auto &[at, d] : timeline) {
                if (stream.size() + d.bytes.size() > taken + out->late.size() && !firstReceivedAt)
                    firstReceivedAt = at;
                stream += d.bytes;
            }
            FUZZ_CHECK(stream.mid(taken, out->late.size()) == out->late, QString::number(taken));
            taken += out->late.size();
            FUZZ_CHECK(stream.mid(taken, out->received.size()) == out->received, QString::number(taken));
            FUZZ_CHECK(out->received.isEmpty() || *firstReceivedAt >= sentAt,
                       QStringLiteral("byte %1 arrived at %2, sent at %3").arg(taken).arg(*firstReceivedAt).arg(sentAt));
            const qsizetype answerAt = taken + out->received.size() - out->answer.size();
            taken += out->received.size();
            if (out->reason.wentOut()) {
                const int self = int(sends.size());
                const auto [arrived, d] = out->trusted() ? deliveryAt(answerAt) : std::pair<double, const Delivery *>{};
                if (d && d->answers != Noise && d->answers < self) {
                    const Sent &older = sends[std::size_t(d->answers)];
                    const bool first = &timeline.lower_bound(older.at)->second == d;
                    const double late = arrived - older.at;
                    bool ownCame = false; // as late as the older one's
                    for (auto it = timeline.lower_bound(sentAt); it != timeline.upper_bound(sentAt + late); ++it)
                        ownCame = ownCame || it->second.answers == self;
                    FUZZ_CHECK(!first || !ownCame || older.epoch != epoch || older.frame != out->frame
                                   || arrived - older.at > LineTracker::LateHorizon,
                               QStringLiteral("request %1 took request %2's answer as its own").arg(self).arg(d->answers));
                }
                sends.push_back({sentAt, out->frame, epoch});
            }
            FUZZ_CHECK(out->received.endsWith(out->answer));
            FUZZ_CHECK(!out->trusted() || (out->reason.wentOut() && !out->answer.isEmpty()));
            FUZZ_CHECK(out->reason.wentOut() || out->received.isEmpty());
            break;
        }
        case 1:
            deliver(later, in.bytes(in.byte() % 16), Noise);
            break;
        case 2: {
            if (b & 16) {
                ownAfter = later - clock.now();
                break;
            }
            QByteArray answer = answerTo(frameBytes(last));
            if (b & 8)
                answer.prepend(frameBytes(last));
            deliver(later, answer, int(sends.size()) - 1); // to the last request that went out
            break;
        }
        case 3:
            clock.advance(later - clock.now());
            break;
        default:
            if (b & 8) {
                line.restart(); // every byte come so far is dropped
                ++epoch;
                taken = 0;
                for (auto it = timeline.begin(); it != timeline.upper_bound(clock.now()); ++it)
                    taken += it->second.bytes.size();
            } else {
                line.settling();
            }
            break;
        }
    }
    return 0;
}
