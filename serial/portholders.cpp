#include "serial/portholders.h"

#include "serial/systemtree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace PortHolders {

namespace {

QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(comm.readAll()).trimmed();
}

// A lock file holds its owner's pid as text (ten columns, or a line of its own); a few old
// programs wrote it as a binary int.
qint64 lockOwner(const QString &file)
{
    QFile lock(file);
    if (!lock.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray content = lock.read(128);
    static const QRegularExpression Number(QStringLiteral("^\\s*(\\d+)"));
    const auto match = Number.match(QString::fromLatin1(content));
    if (match.hasMatch())
        return match.captured(1).toLongLong();
    if (content.size() == 4)
        return *reinterpret_cast<const qint32 *>(content.constData());
    return 0;
}

// Whether pid holds the master side of pseudo-terminal `index`: it is the line's far end (a
// simulator, a terminal emulator), not a program using the port.
bool holdsMaster(const QString &fds, const QFileInfo &fd, int index)
{
    if (index < 0 || !fd.symLinkTarget().endsWith(QLatin1String("ptmx")))
        return false;
    QFile info(QFileInfo(fds).path() + QStringLiteral("/fdinfo/") + fd.fileName());
    if (!info.open(QIODevice::ReadOnly))
        return false;
    static const QRegularExpression Index(QStringLiteral("^tty-index:\\s*(\\d+)$"),
                                          QRegularExpression::MultilineOption);
    const auto match = Index.match(QString::fromLatin1(info.readAll()));
    return match.hasMatch() && match.captured(1).toInt() == index;
}

} // namespace

QList<Holder> of(const QString &node)
{
    QList<Holder> holders;
    const QString base = QFileInfo(node).fileName();
    for (const char *folder : {"/run/lock", "/var/lock"}) {
        const QString file =
            SystemTree::path(QLatin1String(folder)) + QStringLiteral("/LCK..") + base;
        const qint64 pid = lockOwner(file);
        if (pid <= 0)
            continue;
        // A lock whose owner is gone holds nothing: the next open takes it over.
        const QString program = programOf(pid);
        if (program.isEmpty() && !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
            continue;
        if (std::none_of(holders.cbegin(), holders.cend(),
                         [pid](const Holder &h) { return h.pid == pid; }))
            holders << Holder{pid, program, true};
    }
    const qint64 self = QCoreApplication::applicationPid();
    bool pts = false;
    const int ptsIndex = node.startsWith(QLatin1String("/dev/pts/")) ? node.mid(9).toInt(&pts) : -1;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QString fdPath = QStringLiteral("/proc/%1/fd").arg(pid);
        const QFileInfoList fds =
            QDir(fdPath).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        const bool farEnd = pts && std::any_of(fds.cbegin(), fds.cend(), [&](const QFileInfo &fd) {
                                return holdsMaster(fdPath, fd, ptsIndex);
                            });
        const bool holds = std::any_of(fds.cbegin(), fds.cend(), [&](const QFileInfo &fd) {
            return fd.symLinkTarget() == node;
        });
        if (holds && !farEnd &&
            std::none_of(holders.cbegin(), holders.cend(),
                         [pid](const Holder &h) { return h.pid == pid; }))
            holders << Holder{pid, programOf(pid), false};
    }
    return holders;
}

QString describe(const QList<Holder> &holders)
{
    QStringList parts;
    for (const Holder &holder : holders) {
        const QString program =
            holder.program.isEmpty() ? QStringLiteral("a program") : holder.program;
        parts << QStringLiteral("%1 (pid %2)").arg(program).arg(holder.pid);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace PortHolders
