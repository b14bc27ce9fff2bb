#include "serial/udev.h"

#include "serial/systemtree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace Udev {

namespace {

// The folders udev reads its rules from, the one whose file wins a name first.
const char *const RuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                   "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

// Whether a udev match pattern ("1a86", "60[01]?", "0403|1a86") takes value, as udev itself
// matches: fnmatch, case and all.
bool takes(const QString &pattern, const QString &value)
{
    for (const QString &alternative : pattern.split(QLatin1Char('|'))) {
        if (::fnmatch(alternative.toUtf8().constData(), value.toUtf8().constData(), 0) == 0)
            return true;
    }
    return false;
}

// ENV{PRODUCT} writes the ids in hex without leading zeros: "403/6001/600".
QString envHex(const QString &id)
{
    bool ok = false;
    const uint number = id.toUInt(&ok, 16);
    return ok ? QString::number(number, 16) : id;
}

bool picks(const QString &line, const QString &vendorId, const QString &productId)
{
    static const QRegularExpression Test(QStringLiteral(
        R"re((?:ATTRS?\{(idVendor|idProduct)\}|ENV\{(ID_VENDOR_ID|ID_MODEL_ID|PRODUCT)\})\s*==\s*"([^"]*)")re"));
    bool vendorTested = false;
    bool productTested = false;
    for (auto it = Test.globalMatch(line); it.hasNext();) {
        const auto match = it.next();
        const QString key = match.captured(1) + match.captured(2);
        const QString pattern = match.captured(3);
        if (key == QLatin1String("PRODUCT")) {
            const QStringList ids = pattern.split(QLatin1Char('/'));
            if (ids.size() < 2 || !takes(ids[0], envHex(vendorId)) ||
                !takes(ids[1], envHex(productId)))
                return false;
            vendorTested = productTested = true;
        } else if (key == QLatin1String("idVendor") || key == QLatin1String("ID_VENDOR_ID")) {
            if (!takes(pattern, vendorId))
                return false;
            vendorTested = true;
        } else {
            if (!takes(pattern, productId))
                return false;
            productTested = true;
        }
    }
    return vendorTested && productTested;
}

} // namespace

QList<RuleLine> linesPicking(const QString &fileGlob, const QString &vendorId,
                             const QString &productId)
{
    QList<RuleLine> found;
    QSet<QString> decided;
    for (const char *folder : RuleFolders) {
        const QDir dir(SystemTree::path(QLatin1String(folder)));
        for (const QFileInfo &file :
             dir.entryInfoList({fileGlob}, QDir::Files | QDir::System, QDir::Name)) {
            if (decided.contains(file.fileName()))
                continue;
            // The first folder's file stands for the name: an empty one, or a link to
            // /dev/null, masks the others by having no lines.
            decided.insert(file.fileName());
            QFile rules(file.filePath());
            if (!rules.open(QIODevice::ReadOnly))
                continue;
            const QString name = QLatin1String(folder) + QLatin1Char('/') + file.fileName();
            const QStringList lines = QString::fromUtf8(rules.readAll()).split(QLatin1Char('\n'));
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const qsizetype first = i;
                QString line = lines[i];
                while (line.endsWith(QLatin1Char('\\')) && i + 1 < lines.size()) {
                    line.chop(1);
                    line += lines[++i];
                }
                if (line.trimmed().startsWith(QLatin1Char('#')))
                    continue;
                if (picks(line, vendorId, productId))
                    found << RuleLine{name, int(first + 1)};
            }
        }
    }
    return found;
}

QString property(const QString &node, const QString &key)
{
    struct stat status {};
    if (::stat(QFile::encodeName(node).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return {};
    QFile data(SystemTree::path(QStringLiteral("/run/udev/data/c%1:%2")
                                    .arg(major(status.st_rdev))
                                    .arg(minor(status.st_rdev))));
    if (!data.open(QIODevice::ReadOnly))
        return {};
    const QByteArray prefix = "E:" + key.toUtf8() + '=';
    for (const QByteArray &line : data.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size())).trimmed();
    }
    return {};
}

} // namespace Udev
