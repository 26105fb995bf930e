#include "commport.h"

#include <QVariant>

#ifdef Q_OS_WIN
#include "wincommport.h"
#else
#include "qtcommport.h"
#endif

namespace movra {

std::unique_ptr<SerialPort> makeSystemPort(const QString &exeDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(exeDir);
    return std::make_unique<WinCommPort>();
#else
    return std::make_unique<QtCommPort>(exeDir);
#endif
}

} // namespace movra
