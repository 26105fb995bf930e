// The line's bookkeeping under any order of requests, arriving bytes and
// clock steps: the line on a scripted meter in virtual time.
//
// Input: a flag byte (bit 0: the port signals arrivals), then operations,
// one byte each plus operands: 0 a request (kind, register count or a
// write), 1 noise bytes at a time to come, 2 the last request's answer at a
// time to come (bit 3: our echo in front), 3 a clock step, 4 a restart or a
// look at settling().
//
// Every byte the line takes is checked against the arrivals: taken in order,
// each outcome's bytes after its own late ones, and never a byte that
// arrived before the request was sent taken as received after it.
#include "fakemeter.h"
#include "fuzzinput.h"
#include "modbusline.h"

#include <map>

using namespace movra;

namespace {
constexpr int MaxOperations = 200;
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
    std::multimap<double, QByteArray> timeline;
    auto deliver = [&](double at, const QByteArray &bytes) {
        timeline.emplace(at, bytes);
        meter.deliverAt(at, bytes);
    };
    qsizetype taken = 0;
    QueryFrame last{1, ReadHoldingRegisters, 0, 0, 0, 1, 0, 0};
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
            for (const auto &[at, bytes] : timeline) {
                if (stream.size() + bytes.size() > taken + out->late.size() && !firstReceivedAt)
                    firstReceivedAt = at;
                stream += bytes;
            }
            FUZZ_CHECK(stream.mid(taken, out->late.size()) == out->late, QString::number(taken));
            taken += out->late.size();
            FUZZ_CHECK(stream.mid(taken, out->received.size()) == out->received, QString::number(taken));
            FUZZ_CHECK(out->received.isEmpty() || *firstReceivedAt >= sentAt,
                       QStringLiteral("byte %1 arrived at %2, sent at %3").arg(taken).arg(*firstReceivedAt).arg(sentAt));
            taken += out->received.size();
            FUZZ_CHECK(out->received.endsWith(out->answer));
            FUZZ_CHECK(!out->trusted() || (out->written && !out->answer.isEmpty()));
            FUZZ_CHECK(out->written || out->received.isEmpty());
            break;
        }
        case 1:
            deliver(later, in.bytes(in.byte() % 16));
            break;
        case 2: {
            QList<quint16> values;
            for (int i = 0; i < last[5]; ++i)
                values << quint16(i);
            QByteArray answer = last[1] == WriteSingleRegister ? frameBytes(last) : FakeMeter::readAnswer(1, values);
            if (b & 8)
                answer.prepend(frameBytes(last));
            deliver(later, answer);
            break;
        }
        case 3:
            clock.advance(later - clock.now());
            break;
        default:
            if (b & 8) {
                line.restart(); // every byte come so far is dropped
                taken = 0;
                for (auto it = timeline.begin(); it != timeline.upper_bound(clock.now()); ++it)
                    taken += it->second.size();
            } else {
                line.settling();
            }
            break;
        }
    }
    return 0;
}
