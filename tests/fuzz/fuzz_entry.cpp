// Model entry lines and model file names, on any text.
//
// Input: a flag byte (bit 0: UTF-8, else one character a byte), then the
// text. The text is parsed as an entry line and used as a model name; up to
// the first NUL it is also the folder of the executable.
#include "fuzzinput.h"
#include "modelentry.h"

using namespace movra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const bool utf8 = in.byte() & 1;
    const QString text = fuzz::toText(in.rest(), utf8);

    const ModelEntry e = parseEntry(text);
    const qsizetype n = text.size();
    FUZZ_CHECK(e.address.size() == std::clamp<qsizetype>(n, 0, 4));
    FUZZ_CHECK(e.sign.size() == std::clamp<qsizetype>(n - 4, 0, 1));
    FUZZ_CHECK(e.length.size() == std::clamp<qsizetype>(n - 5, 0, 1));
    FUZZ_CHECK(e.name.size() == std::clamp<qsizetype>(n - 7, 0, 6));
    // The fields are the line's characters 1-6 and 8-13, in place.
    QString joined = e.address + e.sign + e.length;
    if (n > 6)
        joined += text[6];
    joined += e.name;
    FUZZ_CHECK(joined == text.left(13), joined);

    const QString exeDir = text.left(text.indexOf(QChar(0)));
    const QString model = modelFilePath(exeDir, text);
    FUZZ_CHECK(model == exeDir + QStringLiteral("/item/") + text + QStringLiteral(".TXT"), model);
    FUZZ_CHECK(setupListPath(exeDir) == exeDir + QStringLiteral("/RTU_SETUP.TXT"));
    return 0;
}
