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

// <exeDir>/item/<model>.TXT, the model text used exactly as given.
QString modelFilePath(const QString &exeDir, const QString &model);

// <exeDir>/RTU_SETUP.TXT
QString setupListPath(const QString &exeDir);

} // namespace movra
