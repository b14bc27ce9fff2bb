#include "serial/systemtree.h"

#include <QFileInfo>

namespace SystemTree {

QString sys(const QString &rest)
{
    const QString fromEnv = qEnvironmentVariable("TARVIK2_SYS_ROOT");
    return (fromEnv.isEmpty() ? QStringLiteral("/sys") : fromEnv) + QLatin1Char('/') + rest;
}

QString path(const QString &absolute) { return qEnvironmentVariable("TARVIK2_ROOT") + absolute; }

QString ttyName(const QString &devicePath)
{
    QString path = QFileInfo(devicePath).canonicalFilePath();
    if (path.isEmpty())
        path = devicePath;
    const QString dev = QStringLiteral("/dev/");
    if (path.startsWith(dev))
        path = path.mid(dev.size());
    return path.replace(QLatin1Char('/'), QLatin1Char('!'));
}

QString nodeOf(const QString &ttyName)
{
    return QStringLiteral("/dev/") + QString(ttyName).replace(QLatin1Char('!'), QLatin1Char('/'));
}

} // namespace SystemTree
