// The line reader, the setup list and the code-page decoding, on any bytes.
//
// Input: a flag byte (bit 0: Big5 system 0x0404, else 0x0409; bit 1: put the
// file behind a first line that fills the reader's 64 KiB chunk up to
// `offset` bytes into the rest, bit 2: that first line ends in CR, else LF),
// the offset, three line numbers, then the file's bytes.
//
// Each line asked is checked against a plain reference split of the file:
// lines end at CR, CR LF or LF, a UTF-8 byte order mark at the start is
// skipped, and UTF-8 is chosen when every byte up to the end of the line is
// valid UTF-8.
#include "fuzzinput.h"
#include "lineio.h"
#include "numtext.h"
#include "setuplist.h"

#include <QDir>
#include <QStringDecoder>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace movra;

namespace {

constexpr qsizetype ReaderChunk = 64 * 1024;
const QByteArray Bom("\xEF\xBB\xBF");

const QString &filePath()
{
    static const QString path = [] {
        QString p = QDir::tempPath() + QStringLiteral("/movra-fuzz-lines-%1.txt").arg(getpid());
        static QByteArray name = QFile::encodeName(p);
        std::atexit([] { std::remove(name.constData()); });
        return p;
    }();
    return path;
}

void writeFile(const QByteArray &bytes)
{
    std::FILE *f = std::fopen(QFile::encodeName(filePath()).constData(), "wb");
    if (!f)
        std::abort();
    if (!bytes.isEmpty() && std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) != size_t(bytes.size()))
        std::abort();
    std::fclose(f);
}

// Stateless: a sequence cut off at the end is an error, not kept for later.
constexpr auto Utf8Flags = QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless;

FUZZ_REFERENCE bool validUtf8(const QByteArray &bytes)
{
    QStringDecoder d(QStringConverter::Utf8, Utf8Flags);
    const QString s = d(bytes);
    (void)s;
    return !d.hasError();
}

FUZZ_REFERENCE QString utf8Text(const QByteArray &bytes)
{
    return QStringDecoder(QStringConverter::Utf8, Utf8Flags)(bytes);
}

// The legacy code page's reading of the bytes: a trailing FFH is never valid
// UTF-8, stands alone in Big5 and in Windows-1252 gives one character.
FUZZ_REFERENCE QString legacyText(const QByteArray &bytes, std::uint16_t langId)
{
    QString s = decodeText(bytes + '\xFF', langId);
    FUZZ_CHECK(!s.isEmpty(), "legacy decoding of a trailing FFH gave nothing");
    s.chop(1);
    return s;
}

struct Span {
    qsizetype begin;
    qsizetype end;
};

struct Reference {
    QByteArray file;
    qsizetype start = 0; // after the byte order mark
    std::vector<Span> lines;
    std::vector<bool> utf8Upto; // lines 1..k+1 are all valid UTF-8

    FUZZ_REFERENCE explicit Reference(const QByteArray &bytes) : file(bytes)
    {
        // Qt's searches, not loops of our own: this code is not under test
        // and the fuzzer's comparison hooks would make it slow.
        start = file.startsWith(Bom) ? Bom.size() : 0;
        qsizetype pos = start;
        qsizetype cr = file.indexOf('\r', pos);
        qsizetype lf = file.indexOf('\n', pos);
        bool valid = true;
        while (pos < file.size()) {
            if (cr >= 0 && cr < pos)
                cr = file.indexOf('\r', pos);
            if (lf >= 0 && lf < pos)
                lf = file.indexOf('\n', pos);
            qsizetype e = file.size();
            if (cr >= 0)
                e = cr;
            if (lf >= 0 && lf < e)
                e = lf;
            lines.push_back({pos, e});
            // Line ends are ASCII and no UTF-8 sequence holds one, so all
            // bytes up to a line's end are valid exactly when each line is.
            valid = valid && validUtf8(file.mid(pos, e - pos));
            utf8Upto.push_back(valid);
            if (e == file.size())
                break;
            pos = e + 1;
            if (e == cr && pos == lf)
                ++pos;
        }
    }

    FUZZ_REFERENCE std::optional<QString> line(std::int32_t n, std::uint16_t langId) const
    {
        if (n <= 0)
            return QString();
        if (std::size_t(n) > lines.size())
            return std::nullopt;
        const Span s = lines[std::size_t(n - 1)];
        const QByteArray bytes = file.mid(s.begin, s.end - s.begin);
        return utf8Upto[std::size_t(n - 1)] ? utf8Text(bytes) : legacyText(bytes, langId);
    }
};

FUZZ_REFERENCE QString describe(std::int32_t n, const std::optional<QString> &got, const std::optional<QString> &want)
{
    auto show = [](const std::optional<QString> &s) {
        if (!s)
            return QStringLiteral("(failure)");
        QString hex;
        for (QChar c : *s)
            hex += QString::number(c.unicode(), 16) + QLatin1Char(' ');
        return QStringLiteral("[%1] %2").arg(s->size()).arg(hex.left(400));
    };
    return QStringLiteral("line %1: got %2, want %3").arg(n).arg(show(got), show(want));
}

std::int32_t lineNumber(std::uint8_t b)
{
    const auto v = std::int8_t(b);
    if (v == INT8_MIN)
        return INT32_MIN;
    if (v == INT8_MAX)
        return INT32_MAX;
    return v;
}

void checkDecodeText(const QByteArray &bytes, std::uint16_t langId)
{
    const QString text = decodeText(bytes, langId);
    FUZZ_CHECK(text.size() <= bytes.size(), QStringLiteral("%1 characters from %2 bytes").arg(text.size()).arg(bytes.size()));
    if (validUtf8(bytes)) {
        FUZZ_CHECK(text == utf8Text(bytes), "valid UTF-8 not read as UTF-8");
        return;
    }
    if (langId != 0x0404)
        FUZZ_CHECK(text.size() == bytes.size(), "Windows-1252 gives one character a byte");
    // ASCII stays ASCII in both code pages; a lone ASCII byte is never the
    // second byte of a Big5 pair when the bytes are all ASCII.
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        FUZZ_CHECK(text == QString::fromLatin1(bytes));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    const std::uint8_t offset = in.byte();
    const std::int32_t asked[] = {lineNumber(in.byte()), lineNumber(in.byte()), lineNumber(in.byte())};
    const QByteArray payload = in.rest();
    const std::uint16_t langId = (flags & 1) ? 0x0404 : 0x0409;

    checkDecodeText(payload, langId);

    QByteArray file = payload;
    std::int32_t shift = 0;
    if (flags & 2) {
        QByteArray first(ReaderChunk - offset, 'x');
        first.back() = (flags & 4) ? '\r' : '\n';
        file.prepend(first);
        shift = 1;
    }
    writeFile(file);
    const Reference ref(file);

    for (std::int32_t n : asked) {
        if (n > 0 && n < INT32_MAX)
            n += shift;
        const std::optional<QString> got = GetLine(filePath(), n, langId);
        const std::optional<QString> want = ref.line(n, langId);
        FUZZ_CHECK(got == want, describe(n, got, want));
    }
    // The last line, and the one after it.
    const auto count = std::int32_t(ref.lines.size());
    for (std::int32_t n : {count, count + 1}) {
        const std::optional<QString> got = GetLine(filePath(), n, langId);
        FUZZ_CHECK(got == ref.line(n, langId), describe(n, got, ref.line(n, langId)));
    }

    if (flags & 2)
        return 0; // line 1 is the long first line: no setup list
    const ModelSlots listed = readSetupList(filePath(), langId);
    const std::optional<QString> first = ref.line(1, langId);
    const std::int32_t n = first ? roundToInt32(leadingNumber(*first)).value_or(0) : 0;
    for (int k = 0; k < ModelSlotCount; ++k) {
        const QString want = k < n ? ref.line(k + 2, langId).value_or(QString()) : QString();
        FUZZ_CHECK(listed[std::size_t(k)] == want, QStringLiteral("slot %1 of %2 names").arg(k).arg(n));
    }
    return 0;
}
