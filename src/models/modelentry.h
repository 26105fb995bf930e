#pragma once
// One register entry of a model definition file, by character position.
#include <QString>
#include <cstdint>
#include <optional>

namespace movra {

struct ModelEntry {
    QString address; // characters 1-4: register address, hexadecimal
    QString sign;    // character 5: byte order "-" or "+"
    QString length;  // character 6: data length in bytes
    QString name;    // characters 8-13: register name
};

// Fields of an entry line; a short line gives short or empty fields.
ModelEntry parseEntry(const QString &line);

// A model definition file: line 1 the number of entries N, then one entry a
// line. Every call reads the file afresh, so a file changed meanwhile is read
// as it is now, and nothing holds it open.
class ModelFile {
public:
    static constexpr std::int32_t FirstEntryLine = 2;

    ModelFile(QString path, std::uint16_t langId);

    // N + 1, the line of the last entry (a fraction in line 1 stays); empty
    // when line 1 cannot be read.
    std::optional<double> lastEntryLine() const;
    // The entry on `line`; empty when the file has no such line.
    std::optional<ModelEntry> entry(std::int32_t line) const;
    // Connect's entry: line N + 1 rounded to a whole line (halves to even).
    std::optional<ModelEntry> lastEntry() const;

private:
    QString m_path;
    std::uint16_t m_langId;
};

// <exeDir>/item/<model>.TXT, the model text used exactly as given.
QString modelFilePath(const QString &exeDir, const QString &model);

// <exeDir>/RTU_SETUP.TXT
QString setupListPath(const QString &exeDir);

} // namespace movra
