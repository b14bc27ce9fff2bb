#include "serial/comnames.h"

#include <QDir>
#include <QFileInfo>

namespace ComNames {

QString name(int index) { return QStringLiteral("COM%1").arg(index + 1); }

QString linkFolder()
{
#ifdef Q_OS_WIN
    return {};
#else
    const QString fromEnv = qEnvironmentVariable("TARVIK2_COM_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QDir::homePath() + QStringLiteral("/.config/tarvik2/com");
#endif
}

#ifndef Q_OS_WIN
static QString fixedDevice(int n) // n = 1..40
{
    if (n <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    if (n <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(n - 5);
    if (n <= 20)
        return QStringLiteral("/dev/ttyACM%1").arg(n - 13);
    return QStringLiteral("/dev/ttyS%1").arg(n - 21 + 4);
}
#endif

QString devicePath(int index)
{
    if (index < 0 || index >= Count)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(index + 1);
#else
    // A link in the COM folder wins, even one that points nowhere: the user chose it.
    const QString link = linkFolder() + QLatin1Char('/') + name(index);
    if (QFileInfo(link).isSymLink() || QFileInfo::exists(link))
        return link;
    return fixedDevice(index + 1);
#endif
}

} // namespace ComNames
