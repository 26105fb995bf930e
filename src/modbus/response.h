#pragma once
// Rendering and checking a meter's answer.
#include "frame.h"
#include "reason.h"
#include <QByteArray>
#include <QString>
#include <optional>

namespace movra {

// What the decoder shows for the bytes taken from the port.
struct RenderedResponse {
    QString hex;                   // first ExpectedLength bytes (at most 11), each "HH "
    bool logged = false;           // `hex` goes on top of the response log
    bool convert = false;          // the value conversion runs
    std::optional<QString> dataHex; // new DataHex, when this answer sets one
};

// bytes: everything taken from the port; expectedLength: ExpectedLength;
// writeOption: the answer is a write's echo; shape: the value its data bytes
// make. Bytes missing from a short answer render as nothing.
RenderedResponse renderResponse(const QByteArray &bytes, int expectedLength, bool writeOption,
                                const ValueShape &shape);


// Whether the answer to the request can be trusted (None): slave address,
// function code, byte count (2 x the requested registers), CRC and exactly
// one frame. A write (06H) must be echoed byte for byte. Nothing at all is
// NoAnswer. Details: the exception code, the slave that answered, and for
// ShortAnswer the bytes that came (echo skipped) of the frame's length.
//
// The frame's length comes from its own header (5 for an exception, 5 + byte
// count for 03H, 8 for 06H), or from the request when the header is not there
// or names another function. Checks, first failure wins: ShortAnswer (fewer bytes
// than that), BadCrc (over that frame), MoreThanOneFrame (bytes after it), then, on
// a frame known to be intact, WrongSlave, Exception (the request's function
// with 80H set), WrongFunction, WrongByteCount (03H), EchoMismatch (06H).
// So a status about the content is only named for a frame that arrived whole,
// and a late answer in front of the current one shows as MoreThanOneFrame.
// ShortAnswer and BadCrc need a plausible start for this request (its slave, its
// function or that function's exception, the byte count it asks for; our
// own echo in front skipped); bytes without one are Unreadable.
// One exception to the header's length: an 03H frame whose CRC is good over
// all the bytes that came, while its byte count announces another length, is
// intact with a wrong byte count (WrongSlave or WrongFunction first), not
// ShortAnswer or BadCrc.
Reason checkAnswer(const QueryFrame &request, const QByteArray &answer);

// Length of the frame at the start of `answer`, CRC included, as its own
// header announces it (the request's answer length when the header does not).
qsizetype answerFrameLength(const QueryFrame &request, const QByteArray &answer);

// Local echo: a read's bytes less its eight echoed bytes in front (nothing
// when they are the echo or its start); a write's less the echo only when
// what follows is its answer, intact (the echo or an exception). Otherwise
// `bytes` as they are.
QByteArray withoutEcho(const QueryFrame &request, const QByteArray &bytes);


} // namespace movra
