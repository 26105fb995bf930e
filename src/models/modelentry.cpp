#include "modelentry.h"

#include "lineio.h"
#include "numtext.h"

namespace movra {

ModelEntry parseEntry(const QString &line)
{
    // Positions count from 1: address 1-4, sign 5, length 6, name 8-13.
    return ModelEntry{line.mid(0, 4), line.mid(4, 1), line.mid(5, 1), line.mid(7, 6)};
}

ModelFile::ModelFile(QString path, std::uint16_t langId) : m_path(std::move(path)), m_langId(langId) {}

std::optional<double> ModelFile::lastEntryLine() const
{
    const std::optional<QString> first = GetLine(m_path, 1, m_langId);
    if (!first)
        return std::nullopt;
    return leadingNumber(*first) + 1;
}

std::optional<ModelEntry> ModelFile::entry(std::int32_t line) const
{
    const std::optional<QString> text = GetLine(m_path, line, m_langId);
    if (!text)
        return std::nullopt;
    return parseEntry(*text);
}

std::optional<ModelEntry> ModelFile::lastEntry() const
{
    const std::optional<double> last = lastEntryLine();
    const std::optional<std::int32_t> line = last ? roundToInt32(*last) : std::nullopt;
    return line ? entry(*line) : std::nullopt;
}

QString modelFilePath(const QString &exeDir, const QString &model)
{
    return exeDir + QLatin1String("/item/") + model + QLatin1String(".TXT");
}

QString setupListPath(const QString &exeDir)
{
    return exeDir + QLatin1String("/RTU_SETUP.TXT");
}

} // namespace movra
