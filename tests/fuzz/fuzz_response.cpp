// Rendering and checking an answer, on any bytes.
//
// Input: a flag byte (bit 0: the Write option; bits 1-2: data length "2",
// "4", "6", "8" or, with bit 3, a text taken from the input; bits 4-5: sign
// "-", "+", "" or a text from the input; bit 6: seal the answer with its
// CRC; bit 7: the request is the eight bytes as given, else its CRC is
// made), a 32-bit ExpectedLength, a byte each for the lengths of the two
// texts, the texts, eight request bytes, then the answer.
//
// checkAnswer is also given a well-formed answer built for the request,
// which it must take, and that answer with one byte more in front, which it
// must not.
#include "fuzzinput.h"
#include "frame.h"
#include "request.h"
#include "response.h"
#include "valueconv.h"

#include <cstdio>

using namespace movra;

namespace {

FUZZ_REFERENCE QString hexGroups(const QByteArray &bytes)
{
    QString s;
    for (char c : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X ", unsigned(static_cast<unsigned char>(c)));
        s += QLatin1String(buf);
    }
    return s;
}

QString describe(const QueryFrame &request, const QByteArray &answer)
{
    return QStringLiteral("request %1 answer %2")
        .arg(hexGroups(frameBytes(request)), hexGroups(answer.left(40)));
}

FUZZ_REFERENCE bool crcSealed(const QByteArray &frame)
{
    if (frame.size() < 2)
        return false;
    const std::uint16_t crc = crc16(frame.left(frame.size() - 2));
    return std::uint8_t(frame[frame.size() - 2]) == (crc & 0xFF) && std::uint8_t(frame[frame.size() - 1]) == (crc >> 8);
}

FUZZ_REFERENCE QByteArray sealed(QByteArray frame)
{
    const std::uint16_t crc = crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

void checkRender(const QByteArray &answer, int expectedLength, bool write, const QString &length, const QString &sign)
{
    const RenderedResponse r = renderResponse(answer, expectedLength, write, valueShapeOf(length, byteOrderOf(sign)));
    const qsizetype shown = std::clamp<qsizetype>(std::min<qsizetype>(expectedLength, answer.size()), 0, 11);
    FUZZ_CHECK(r.hex == hexGroups(answer.left(shown)),
               QStringLiteral("hex '%1' for %2 bytes, ExpectedLength %3").arg(r.hex).arg(answer.size()).arg(expectedLength));
    FUZZ_CHECK(r.hex.size() <= 33);

    if (write) {
        FUZZ_CHECK(r.logged && !r.convert && !r.dataHex);
        return;
    }
    const bool dataLength = length == QLatin1String("2") || length == QLatin1String("4") || length == QLatin1String("6")
        || length == QLatin1String("8");
    FUZZ_CHECK(r.logged == dataLength && r.convert == dataLength);
    if (!dataLength) {
        FUZZ_CHECK(!r.dataHex);
        return;
    }
    const bool keepsPrevious = length == QLatin1String("4") && sign != QLatin1String("-") && sign != QLatin1String("+");
    FUZZ_CHECK(r.dataHex.has_value() != keepsPrevious);
    if (!r.dataHex)
        return;
    // The data bytes from position 3, each as far as the answer and the
    // shown slots reach; "+" reverses the four bytes of a 4-byte value.
    const int count = length.toInt();
    QString want;
    for (int k = 0; k < count; ++k) {
        const int pos = (count == 4 && sign == QLatin1String("+")) ? 6 - k : 3 + k;
        if (pos < shown)
            want += hexGroups(answer.mid(pos, 1)).trimmed();
    }
    FUZZ_CHECK(*r.dataHex == want, QStringLiteral("DataHex %1, want %2").arg(*r.dataHex, want));
    const ConvertedValue v = convertValue(*r.dataHex);
    FUZZ_CHECK(v.bits.size() == 4 * r.dataHex->size() && !v.decimal.isEmpty());
}

// Could the bytes begin the request's answer: its slave, its function or
// that function's exception, a read's byte count as asked.
FUZZ_REFERENCE bool plausibleStart(const QueryFrame &request, const QByteArray &answer)
{
    const int registers = (request[4] << 8) | request[5];
    const bool slave = answer.isEmpty() || std::uint8_t(answer[0]) == request[0];
    const int function = answer.size() < 2 ? -1 : std::uint8_t(answer[1]);
    const bool exception = function == (request[1] | 0x80);
    const bool count = function != 0x03 || answer.size() < 3 || std::uint8_t(answer[2]) == 2 * registers;
    return slave && (function < 0 || exception || (function == request[1] && count));
}

void checkStatus(const QueryFrame &request, const QByteArray &answer)
{
    const Reason::Kind status = checkAnswer(request, answer).kind;
    // Unreadable: no start of this request's answer, our echo skipped; a
    // CRC error or a short answer has one.
    QByteArray body = answer;
    while (request[1] != 0x06 && body.size() >= 8 && body.startsWith(frameBytes(request)))
        body = body.mid(8);
    if (status == Reason::Unreadable || status == Reason::BadCrc || status == Reason::ShortAnswer)
        FUZZ_CHECK(plausibleStart(request, body) == (status != Reason::Unreadable), describe(request, answer));
    if (status != Reason::None)
        return;
    // Ok: exactly one frame with a good CRC from the slave asked, with the
    // function asked.
    const QString what = describe(request, answer);
    FUZZ_CHECK(answer.size() >= 5, what);
    FUZZ_CHECK(crcSealed(answer), what);
    FUZZ_CHECK(std::uint8_t(answer[0]) == request[0] && std::uint8_t(answer[1]) == request[1], what);
    if (request[1] == 0x03) {
        const int registers = (request[4] << 8) | request[5];
        FUZZ_CHECK(std::uint8_t(answer[2]) == 2 * registers, what);
        FUZZ_CHECK(answer.size() == 5 + 2 * registers, what);
    } else {
        FUZZ_CHECK(answer == frameBytes(request), what);
    }
}

// The answer a meter should give to the request, when there is one.
std::optional<QByteArray> goodAnswer(const QueryFrame &request, const QByteArray &data)
{
    if (!crcSealed(frameBytes(request)))
        return std::nullopt;
    if (request[1] == 0x06)
        return frameBytes(request);
    if (request[1] != 0x03)
        return std::nullopt;
    const int registers = (request[4] << 8) | request[5];
    if (registers > 127)
        return std::nullopt; // no byte count for that many
    QByteArray frame;
    frame.append(char(request[0]));
    frame.append(char(0x03));
    frame.append(char(2 * registers));
    QByteArray values = data.left(2 * registers);
    values.append(QByteArray(2 * registers - values.size(), '\0'));
    return sealed(frame + values);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    const auto expectedLength = in.value<std::int32_t>();
    const std::uint8_t lengthSize = in.byte() & 15;
    const std::uint8_t signSize = in.byte() & 15;
    const QString lengthTyped = fuzz::toText(in.bytes(lengthSize), true);
    const QString signTyped = fuzz::toText(in.bytes(signSize), true);
    const QByteArray requestBytes = in.bytes(8);
    QByteArray answer = in.rest();

    static const QString lengths[] = {QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("6"), QStringLiteral("8")};
    static const QString signs[] = {QStringLiteral("-"), QStringLiteral("+"), QString()};
    const QString length = (flags & 8) ? lengthTyped : lengths[(flags >> 1) & 3];
    const int signChoice = (flags >> 4) & 3;
    const QString sign = signChoice == 3 ? signTyped : signs[signChoice];

    QueryFrame request{};
    for (qsizetype i = 0; i < requestBytes.size(); ++i)
        request[std::size_t(i)] = std::uint8_t(requestBytes[i]);
    if (!(flags & 0x80))
        CRC(request);
    if ((flags & 0x40) && !answer.isEmpty())
        answer = sealed(answer);

    QString line = hexGroups(frameBytes(request)).trimmed();
    line.replace(QLatin1Char(' '), QLatin1Char(','));
    FUZZ_CHECK(queryLine(request) == line, queryLine(request));

    checkRender(answer, expectedLength, flags & 1, length, sign);
    checkStatus(request, answer);

    if (const std::optional<QByteArray> good = goodAnswer(request, answer)) {
        const Reason::Kind status = checkAnswer(request, *good).kind;
        FUZZ_CHECK(status == Reason::None, QString::number(int(status)) + QLatin1Char(' ') + describe(request, *good));
        for (const QByteArray &late : {answer.left(1), QByteArray(1, '\0')}) {
            if (late.isEmpty())
                continue;
            const Reason::Kind s = checkAnswer(request, late + *good).kind;
            FUZZ_CHECK(s != Reason::None, describe(request, late + *good));
        }
        checkStatus(request, *good + answer.left(3));
    }
    return 0;
}
