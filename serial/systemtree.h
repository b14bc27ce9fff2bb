#pragma once

#include <QString>

// Where the system's own account of its devices is read. Tests point both at trees of their
// own, so that adapters, links and rules can be made up without hardware:
// - $TARVIK2_SYS_ROOT stands for /sys (class/tty/..., devices/...);
// - $TARVIK2_ROOT is put before every other system path read: /dev/serial, the udev rules and
//   data, the lock folders. Device nodes themselves (/dev/ttyUSB0, /dev/pts/3) are never moved.
namespace SystemTree {

// rest below /sys: sys("class/tty") is "/sys/class/tty".
QString sys(const QString &rest);

// An absolute system path below $TARVIK2_ROOT: path("/dev/serial/by-id").
QString path(const QString &absolute);

// The entry name the system gives a tty: "ttyUSB0" for /dev/ttyUSB0, "pts!3" for /dev/pts/3
// (links followed first).
QString ttyName(const QString &devicePath);

// The node of a tty entry name: "/dev/pts/3" for "pts!3".
QString nodeOf(const QString &ttyName);

} // namespace SystemTree
