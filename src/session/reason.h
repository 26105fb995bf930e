#pragma once
// Why a request shows no value, or how soon its answer came: the line's
// verdict, or the session's own refusal of a request it would not send.
#include "linereason.h"

namespace movra {

struct Reason {
    enum Kind {
        // The line's verdicts, as LineReason names them.
        None = LineReason::None,
        NoAnswer = LineReason::NoAnswer,
        ShortAnswer = LineReason::ShortAnswer,
        Unreadable = LineReason::Unreadable,
        LineBusy = LineReason::LineBusy,
        Exception = LineReason::Exception,
        BadCrc = LineReason::BadCrc,
        WrongSlave = LineReason::WrongSlave,
        WrongFunction = LineReason::WrongFunction,
        WrongByteCount = LineReason::WrongByteCount,
        MoreThanOneFrame = LineReason::MoreThanOneFrame,
        LateAnswer = LineReason::LateAnswer,
        EchoMismatch = LineReason::EchoMismatch,
        NotSentPortClosed = LineReason::NotSentPortClosed,
        ClosedInWait = LineReason::ClosedInWait,
        // The session's refusals.
        NotSentSlave = LineReason::KindCount, // the slave address box holds no address
        NotSentLength, // the data length gives no register count
        NoModelEntry,  // Connect: the model file has no readable entry
        NoValue,       // a trusted answer that gives no value; detail: the
                       // data length, or NoValueSign
    };
    // NoValue's detail for a 4-byte entry whose byte order sign is neither
    // "-" nor "+".
    static constexpr int NoValueSign = -1;

    Kind kind = None;
    int detail = 0;
    double seconds = -1; // negative: not known
    int of = 0;          // ShortAnswer: the frame length expected
    double waited = -1;  // NoAnswer, ShortAnswer: how long the request waited
    bool operator==(const Reason &) const = default;

    static Reason fromLine(const LineReason &r) { return {Kind(r.kind), r.detail, r.seconds, r.of, r.waited}; }
};
// A kind the line gains needs its name above, or fromLine would call it a refusal.
static_assert(Reason::ClosedInWait + 1 == LineReason::KindCount);

} // namespace movra
