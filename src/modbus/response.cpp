#include "response.h"

#include <algorithm>
#include <array>

namespace movra {

namespace {

constexpr int ResponseSlots = 11;
constexpr qsizetype ExceptionFrameLength = 5; // slave, function, code, CRC
constexpr qsizetype RequestLength = 8;

std::uint8_t byteAt(const QByteArray &bytes, qsizetype i)
{
    return static_cast<std::uint8_t>(bytes.at(i));
}

int registerCount(const QueryFrame &request)
{
    return (request[4] << 8) | request[5];
}

// Length of the whole answer frame, CRC included, that the request calls for.
qsizetype requestedAnswerLength(const QueryFrame &request)
{
    if (request[1] == ReadHoldingRegisters)
        return ExceptionFrameLength + 2 * qsizetype(registerCount(request));
    return RequestLength; // 06H: the echo of the request
}

// Length of the frame the answer's own header announces.
qsizetype announcedLength(const QueryFrame &request, const QByteArray &answer)
{
    if (answer.size() >= 2) {
        const std::uint8_t function = byteAt(answer, 1);
        if (function & ExceptionFlag)
            return ExceptionFrameLength;
        if (function == ReadHoldingRegisters && answer.size() >= 3)
            return ExceptionFrameLength + byteAt(answer, 2);
        if (function == WriteSingleRegister)
            return RequestLength;
    }
    return requestedAnswerLength(request);
}

bool crcFits(const QByteArray &bytes, qsizetype length)
{
    const std::uint16_t crc = crc16(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(length - 2));
    return byteAt(bytes, length - 2) == (crc & 0xFF) && byteAt(bytes, length - 1) == (crc >> 8);
}

// An 03H frame, intact by its CRC over every byte, whose byte count
// announces some other length.
bool miscountedFrame(const QByteArray &answer, qsizetype announced)
{
    return answer.size() >= ExceptionFrameLength && answer.size() != announced
           && byteAt(answer, 1) == ReadHoldingRegisters && crcFits(answer, answer.size());
}

// Whether the bytes may begin this request's answer: its slave, its function
// or that function's exception, and a read's byte count as asked.
bool plausibleStart(const QueryFrame &request, const QByteArray &answer)
{
    if (!answer.isEmpty() && byteAt(answer, 0) != request[0])
        return false;
    if (answer.size() < 2)
        return true;
    const std::uint8_t function = byteAt(answer, 1);
    if (function == (request[1] | ExceptionFlag))
        return true;
    if (function != request[1])
        return false;
    return function != ReadHoldingRegisters || answer.size() < 3
           || byteAt(answer, 2) == 2 * registerCount(request);
}

// The bytes after our own echo of a read request, when they begin with it;
// otherwise the bytes as they are.
QByteArray afterEcho(const QueryFrame &request, const QByteArray &answer)
{
    const QByteArray echo = frameBytes(request);
    if (request[1] == WriteSingleRegister || !answer.startsWith(echo))
        return answer;
    return answer.mid(echo.size());
}

} // namespace

RenderedResponse renderResponse(const QByteArray &bytes, int expectedLength, bool writeOption,
                                const ValueShape &shape)
{
    // Slot i holds answer byte i; positions from 11 on have no slot, and a
    // position the answer did not reach keeps the empty text.
    std::array<QString, ResponseSlots> slot;
    RenderedResponse r;
    const qsizetype shown = std::min<qsizetype>({qsizetype(expectedLength), bytes.size(), ResponseSlots});
    for (qsizetype i = 0; i < shown; ++i) {
        slot[std::size_t(i)] = hexByte(byteAt(bytes, i));
        r.hex += slot[std::size_t(i)] + QLatin1Char(' ');
    }

    if (writeOption) {
        r.logged = true;
        return r;
    }

    auto join = [&slot](std::initializer_list<int> order) {
        QString digits;
        for (int i : order)
            digits += slot[std::size_t(i)];
        return digits;
    };
    if (!shape.valueBytes)
        return r; // not a data length: neither logged nor converted
    switch (shape.valueBytes) {
    case 8:
        r.dataHex = join({3, 4, 5, 6, 7, 8, 9, 10});
        break;
    case 6:
        r.dataHex = join({3, 4, 5, 6, 7, 8});
        break;
    case 4:
        if (shape.order == ByteOrder::AsReceived)
            r.dataHex = join({3, 4, 5, 6});
        else if (shape.order == ByteOrder::Reversed)
            r.dataHex = join({6, 5, 4, 3});
        // any other sign: the previous DataHex is converted again
        break;
    default:
        r.dataHex = join({3, 4});
        break;
    }
    r.logged = true;
    r.convert = true;
    return r;
}

Reason checkAnswer(const QueryFrame &request, const QByteArray &answer)
{
    if (answer.isEmpty())
        return {Reason::NoAnswer};
    const qsizetype length = announcedLength(request, answer);
    const bool whole = answer.size() >= length && crcFits(answer, length);
    if (!whole && miscountedFrame(answer, length)) {
        if (byteAt(answer, 0) != request[0])
            return {Reason::WrongSlave, byteAt(answer, 0)};
        return {request[1] == ReadHoldingRegisters ? Reason::WrongByteCount : Reason::WrongFunction};
    }
    if (answer.size() < length || !whole) {
        const QByteArray body = afterEcho(request, answer);
        if (body.size() != answer.size() && !body.isEmpty()) {
            const Reason rest = checkAnswer(request, body);
            return rest.answered() ? Reason{Reason::MoreThanOneFrame} : rest;
        }
        if (!plausibleStart(request, body))
            return {Reason::Unreadable};
        if (answer.size() >= length)
            return {Reason::BadCrc};
        Reason cut{Reason::ShortAnswer, int(body.size())};
        cut.of = int(announcedLength(request, body));
        return cut;
    }
    if (answer.size() > length)
        return {Reason::MoreThanOneFrame};

    if (byteAt(answer, 0) != request[0])
        return {Reason::WrongSlave, byteAt(answer, 0)};
    const std::uint8_t function = byteAt(answer, 1);
    if (function == (request[1] | ExceptionFlag))
        return {Reason::Exception, byteAt(answer, 2)};
    if (function != request[1])
        return {Reason::WrongFunction};
    if (function == ReadHoldingRegisters) {
        if (byteAt(answer, 2) != 2 * registerCount(request))
            return {Reason::WrongByteCount};
    } else if (answer != frameBytes(request)) {
        return {Reason::EchoMismatch};
    }
    return {};
}

qsizetype answerFrameLength(const QueryFrame &request, const QByteArray &answer)
{
    return announcedLength(request, answer);
}

QByteArray withoutEcho(const QueryFrame &request, const QByteArray &bytes)
{
    const QByteArray echo = frameBytes(request);
    // Our own read request, echoed by the line, is never part of its answer;
    // a write's answer is that echo.
    if (request[1] != WriteSingleRegister)
        return echo.startsWith(bytes) ? QByteArray() : afterEcho(request, bytes);
    if (bytes.size() <= echo.size() || !bytes.startsWith(echo))
        return bytes;
    const QByteArray rest = bytes.mid(echo.size());
    return checkAnswer(request, rest).answered() ? rest : bytes;
}

} // namespace movra
