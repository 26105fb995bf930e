#pragma once
// Reading numbered lines of the tool's text files.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace movra {

// The language id whose files are Big5 and whose captions are Chinese:
// Chinese as used in Taiwan.
inline constexpr std::uint16_t TraditionalChineseLangId = 0x0404;

// Bytes of a text file to characters, "in the system code page": UTF-8 when
// the bytes are valid UTF-8, otherwise the legacy code page that goes with the
// language id (Big5/CP950 for 0x0404, Windows-1252 for others). A Big5
// character becomes one character. A byte the code page does not define
// becomes U+FFFD; the work is linear in the number of bytes.
QString decodeText(const QByteArray &bytes, std::uint16_t langId);

// Line n (from 1) of the file, without its line end. A line ends at CR, CR LF
// or a lone LF; the last line needs no line end. n <= 0 gives the empty text
// once the file has been opened. Empty (failure) when the file cannot be
// opened (a path holding a NUL names no file; only a plain file is opened,
// no folder, pipe or device) or has fewer than n lines.
// The file is closed before returning.
// Reading stops at the end of line n. UTF-8 or the legacy code page is chosen
// on all bytes from the start of the file to the end of line n; a UTF-8 byte
// order mark at the start of the file is skipped.
std::optional<QString> GetLine(const QString &path, std::int32_t n, std::uint16_t langId);

} // namespace movra
