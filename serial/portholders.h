#pragma once

#include <QList>
#include <QString>

// Who holds a serial device, as far as the system tells: the lock file a program left in the
// lock folders (LCK..ttyUSB0, the UUCP convention Qt keeps too) and the processes whose open
// files include the node. Processes of other users are seen only by root. The process at the
// far end of a pseudo-terminal (its master side) is no holder: it is the line's other end.
namespace PortHolders {

struct Holder {
    qint64 pid = 0;
    QString program;       // the process's name; empty when it is gone or unreadable
    bool lockFile = false; // found through a lock file rather than an open descriptor
};

QList<Holder> of(const QString &node);

// "minicom (pid 812)", one holder after the other; empty for none.
QString describe(const QList<Holder> &holders);

} // namespace PortHolders
