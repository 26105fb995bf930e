#include "modelentry.h"

namespace movra {

ModelEntry parseEntry(const QString &line)
{
    // Positions count from 1: address 1-4, sign 5, length 6, name 8-13.
    return ModelEntry{line.mid(0, 4), line.mid(4, 1), line.mid(5, 1), line.mid(7, 6)};
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
