#pragma once
// The line's verdict on one request.

namespace movra {

// What the line makes of a request: None when its answer can be trusted,
// otherwise why not.
// `seconds`, when known (not negative): for None, when the answer's first
// byte came after the send; for NoAnswer and LateAnswer, how late this
// line's meter has been seen to answer. `waited`, for NoAnswer and
// ShortAnswer: how long the request waited, seconds.
struct LineReason {
    enum Kind {
        None,
        NoAnswer,         // nothing, or our own echo only
        ShortAnswer,      // an answer incomplete when the wait ended: detail bytes came of `of`
        Unreadable,       // bytes that hold no frame this request can take
        LineBusy,         // not sent: bytes kept arriving, the line never went quiet
        Exception,        // detail: the exception code
        BadCrc,
        WrongSlave,       // detail: the slave that answered
        WrongFunction,
        WrongByteCount,
        MoreThanOneFrame,
        LateAnswer,       // the bytes are an earlier request's answer
        EchoMismatch,     // a write's echo differs from the request
        NotSentPortClosed, // the port is not open: nothing went out
        ClosedInWait,     // the port was closed, or opened again, during the wait
        KindCount, // the session's Reason goes on from here with its own refusals
    };
    Kind kind = None;
    int detail = 0;
    double seconds = -1; // negative: not known
    int of = 0;          // ShortAnswer: the frame length expected
    double waited = -1;  // negative: not known
    bool operator==(const LineReason &) const = default;
};

// reasonOf, which turns a checked answer into a LineReason, is declared with
// the tracker: this header stays free of the framing layer.
} // namespace movra
