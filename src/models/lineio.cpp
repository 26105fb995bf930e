#include "lineio.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace movra {

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const auto *end = p + size;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (end - p <= more)
            return false;
        if (p[1] < lo || p[1] > hi)
            return false;
        for (int i = 2; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
        }
        p += more + 1;
    }
    return true;
}

// Windows-1252: Latin-1 except for 80H-9FH. The five bytes that the code page
// leaves undefined become U+FFFD.
QString decodeWindows1252(const QByteArray &bytes)
{
    static constexpr char16_t High[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
        0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
    };
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *o = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *o++ = QChar(b >= 0x80 && b < 0xA0 ? High[b - 0x80] : char16_t(b));
    }
    return out;
}

// Code page 950: lead bytes 81H-FEH, trail bytes 40H-7EH and A1H-FEH. True
// for a byte that iconv rejects at once: FFH, or a lead byte that no trail
// byte follows.
bool startsNoCp950Character(const QByteArray &bytes, qsizetype pos)
{
    const auto b = static_cast<unsigned char>(bytes[pos]);
    if (b == 0xFF)
        return true;
    if (b < 0x81 || b > 0xFE)
        return false; // a single byte
    if (pos + 1 == bytes.size())
        return true;
    const auto t = static_cast<unsigned char>(bytes[pos + 1]);
    return !((t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE));
}

#ifdef Q_OS_WIN
// A text in a Windows code page. A byte that starts no character of it
// becomes U+FFFD and decoding goes on with the next byte. The whole text is
// tried at once; only a text with such bytes is taken a character at a time.
QString decodeCodePage(const QByteArray &bytes, UINT codePage)
{
    if (bytes.isEmpty())
        return {};
    QString out(bytes.size(), Qt::Uninitialized);
    const auto convert = [&](const char *p, int n, qsizetype at) {
        return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, p, n,
                                   reinterpret_cast<wchar_t *>(out.data() + at),
                                   int(out.size() - at));
    };
    // 0xFF starts no character of code page 950, though Windows maps it.
    const bool cp950 = codePage == 950;
    if (!(cp950 && bytes.contains('\xFF'))) {
        const int n = convert(bytes.constData(), int(bytes.size()), 0);
        if (n > 0) {
            out.resize(n);
            return out;
        }
    }
    qsizetype used = 0;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const bool bad = cp950 && startsNoCp950Character(bytes, pos);
        const int len = pos + 1 < bytes.size()
                && IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[pos])) ? 2 : 1;
        const int n = bad ? 0 : convert(bytes.constData() + pos, len, used);
        if (n > 0) {
            used += n;
            pos += len;
        } else {
            out[used++] = QChar::ReplacementCharacter;
            ++pos;
        }
    }
    out.resize(used);
    return out;
}

// Code page 950 for the Chinese of Taiwan; otherwise the system's ANSI code
// page, with Windows-1252 read as on every other system.
QString decodeLegacy(const QByteArray &bytes, std::uint16_t langId)
{
    if (langId == TraditionalChineseLangId)
        return decodeCodePage(bytes, 950);
    const UINT acp = GetACP();
    return acp == 1252 ? decodeWindows1252(bytes) : decodeCodePage(bytes, acp);
}
#else
// Big5 as code page 950 through iconv. A byte that does not decode becomes
// U+FFFD and decoding goes on with the next byte. iconv is fed short blocks:
// each call then looks at a bounded stretch of input, so a text full of bad
// bytes still takes time in proportion to its length.
QString decodeCp950(const QByteArray &bytes)
{
    iconv_t cd = iconv_open("UTF-16LE", "CP950");
    if (cd == iconv_t(-1))
        cd = iconv_open("UTF-16LE", "BIG5");
    if (cd == iconv_t(-1))
        return QString::fromLatin1(bytes);

    constexpr qsizetype Block = 256;
    // At most one UTF-16 unit per input byte (a pair gives one character).
    QString out(bytes.size(), Qt::Uninitialized);
    qsizetype used = 0;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        // Such a byte is replaced here: an iconv call and reset for each one
        // would make a file full of them slow.
        if (startsNoCp950Character(bytes, pos)) {
            if (used == out.size())
                out.resize(out.size() + 16);
            out[used++] = QChar::ReplacementCharacter;
            ++pos;
            continue;
        }
        const qsizetype start = pos;
        const qsizetype blockEnd = std::min(bytes.size(), pos + Block);
        char *in = const_cast<char *>(bytes.constData()) + pos;
        size_t inLeft = size_t(blockEnd - pos);
        char *outPtr = reinterpret_cast<char *>(out.data() + used);
        size_t outLeft = size_t(out.size() - used) * sizeof(char16_t);
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        pos = in - bytes.constData();
        used = (outPtr - reinterpret_cast<char *>(out.data())) / qsizetype(sizeof(char16_t));
        if (rc != size_t(-1))
            continue;
        if (err == E2BIG) {
            out.resize(out.size() + bytes.size() + 16);
            continue;
        }
        if (err == EINVAL && blockEnd < bytes.size() && pos > start)
            continue; // a pair cut by the block's end: the next block starts with it
        // A bad byte, or a lead byte without its trail at the very end.
        if (used == out.size())
            out.resize(out.size() + 16);
        out[used++] = QChar::ReplacementCharacter;
        ++pos;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    out.resize(used);
    return out;
}

QString decodeLegacy(const QByteArray &bytes, std::uint16_t langId)
{
    return langId == TraditionalChineseLangId ? decodeCp950(bytes) : decodeWindows1252(bytes);
}
#endif

// Reads the rest of a UTF-8 sequence cut off at the end of the chunk, so that
// each chunk can be checked on its own.
void completeUtf8Sequence(QFile &file, QByteArray &chunk)
{
    for (qsizetype k = 1; k <= 3 && k <= chunk.size(); ++k) {
        const auto b = static_cast<unsigned char>(chunk.at(chunk.size() - k));
        if ((b & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for the lead
        if (b >= 0xC0) {
            const qsizetype need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
            if (need > k)
                chunk.append(file.read(need - k));
        }
        return;
    }
}

QString decodeAs(const QByteArray &bytes, bool utf8, std::uint16_t langId)
{
    if (utf8)
        return QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom)(bytes);
    return decodeLegacy(bytes, langId);
}

} // namespace

QString decodeText(const QByteArray &bytes, std::uint16_t langId)
{
    return decodeAs(bytes, isValidUtf8(bytes.constData(), bytes.size()), langId);
}

std::optional<QString> GetLine(const QString &path, std::int32_t n, std::uint16_t langId)
{
    // No file name holds a NUL; the system would end the name there and open
    // another file than the one asked for.
    if (path.contains(QChar(0)))
        return std::nullopt;
    // Only a plain file: a named pipe would keep the open waiting for a
    // writer, and a device may never end.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path); // closed by its destructor on every return
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (n <= 0)
        return QString();

    // Scan from the start, keeping only the bytes of the current line. The
    // choice between UTF-8 and the legacy code page covers every byte read
    // up to the end of line n: a file is in one encoding, and deciding on
    // what was read keeps a long file from being read past the line asked.
    constexpr qint64 ChunkSize = 64 * 1024;
    QByteArray chunk;
    QByteArray line;
    std::int32_t lineNo = 1;
    bool utf8 = true;
    bool afterCr = false; // the previous byte was a CR: a LF right after it belongs to it
    bool atFileStart = true;
    bool lineHasBytes = false;

    for (;;) {
        chunk = file.read(ChunkSize);
        if (chunk.isEmpty())
            break; // end of file or a read error
        completeUtf8Sequence(file, chunk);
        const char *p = chunk.constData();
        const char *end = p + chunk.size();
        if (atFileStart) {
            atFileStart = false;
            if (chunk.startsWith("\xEF\xBB\xBF")) // UTF-8 byte order mark
                p += 3;
        }
        if (afterCr && p < end && *p == '\n')
            ++p;
        afterCr = false;

        while (p < end) {
            const char *stop = p;
            while (stop < end && *stop != '\r' && *stop != '\n')
                ++stop;
            if (utf8 && !isValidUtf8(p, stop - p))
                utf8 = false;
            if (lineNo == n)
                line.append(p, stop - p);
            lineHasBytes = lineHasBytes || stop > p;
            if (stop == end) {
                p = end;
                break;
            }
            // A line end.
            if (lineNo == n)
                return decodeAs(line, utf8, langId);
            ++lineNo;
            lineHasBytes = false;
            p = stop + 1;
            if (*stop == '\r') {
                if (p < end) {
                    if (*p == '\n')
                        ++p;
                } else {
                    afterCr = true;
                }
            }
        }
    }
    if (file.error() != QFileDevice::NoError)
        return std::nullopt; // a read that failed is not the end of the file
    // The last line needs no line end, but an end of file right after a
    // line end starts no further line.
    if (lineNo == n && lineHasBytes)
        return decodeAs(line, utf8, langId);
    return std::nullopt;
}

} // namespace movra
