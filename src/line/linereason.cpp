#include "linetracker.h"

namespace movra {

LineReason reasonOf(const QueryFrame &request, AnswerStatus status, const QByteArray &answer)
{
    switch (status) {
    case AnswerStatus::Ok:
        return {};
    case AnswerStatus::Exception:
        return {LineReason::Exception, quint8(answer.at(2))};
    case AnswerStatus::WrongSlave:
        return {LineReason::WrongSlave, quint8(answer.at(0))};
    case AnswerStatus::WrongFunction:
        return {LineReason::WrongFunction};
    case AnswerStatus::WrongByteCount:
        return {LineReason::WrongByteCount};
    case AnswerStatus::BadCrc:
        return {LineReason::BadCrc};
    case AnswerStatus::Short: {
        if (answer.isEmpty())
            return {LineReason::NoAnswer};
        const QByteArray body = afterEcho(request, answer);
        LineReason r{LineReason::ShortAnswer, int(body.size())};
        r.of = int(answerFrameLength(request, body));
        return r;
    }
    case AnswerStatus::Unreadable:
        return {LineReason::Unreadable};
    case AnswerStatus::ExtraBytes:
        return {LineReason::MoreThanOneFrame};
    case AnswerStatus::EchoMismatch:
        return {LineReason::EchoMismatch};
    }
    return {LineReason::NoAnswer};
}

} // namespace movra
