#pragma once
// The one verdict on a request: None when its answer can be trusted,
// otherwise why it shows no value: the answer check's, the line's, or the
// session's own refusal of a request it would not send.
namespace movra {

struct Reason {
    enum Kind {
        // In this order the health tip counts them.
        None,
        NoAnswer,         // nothing, or our own echo only
        ShortAnswer,      // an answer incomplete: detail bytes came of `of`
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
        // The session's refusals.
        NotSentSlave,  // the slave address box holds no address
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
    // When known (not negative): for None, when the answer's first byte came
    // after the send; for NoAnswer and LateAnswer, how late this line's meter
    // has been seen to answer.
    double seconds = -1;
    int of = 0;         // ShortAnswer: the frame length expected
    double waited = -1; // NoAnswer, ShortAnswer: how long the request waited
    // None or Exception: a whole answer of this request's own.
    bool answered() const { return kind == None || kind == Exception; }
    // The request reached the line.
    bool wentOut() const
    {
        return kind != NotSentSlave && kind != NotSentLength && kind != NotSentPortClosed && kind != NoModelEntry
               && kind != LineBusy;
    }
    bool operator==(const Reason &) const = default;
};

} // namespace movra
