#pragma once

#include <QList>
#include <QString>

// What udev does with a serial device, as its rules and its database say. Both are read below
// $TARVIK2_ROOT (SystemTree::path), so tests can make them up.
namespace Udev {

// A rule line, named as the system names it: "/usr/lib/udev/rules.d/85-brltty.rules", line 12.
struct RuleLine {
    QString file;
    int line = 0; // 1-based; a line continued with '\' counts as the line it starts on
};

// The rule lines in force that pick out a USB device of this vendor and product ("1a86",
// "7523"), in the rules files whose names match fileGlob ("*brltty*.rules"). A line picks the
// device out when it tests both its vendor and its product (ATTRS{idVendor} and
// ATTRS{idProduct}, ENV{ID_VENDOR_ID} and ENV{ID_MODEL_ID}, or ENV{PRODUCT}) and every such
// test takes them; the line's other tests are not weighed. A file in /etc/udev/rules.d takes
// the place of one of the same name in /run, /usr/lib or /lib; an empty one, or a link to
// /dev/null, masks it.
QList<RuleLine> linesPicking(const QString &fileGlob, const QString &vendorId,
                             const QString &productId);

// A property udev keeps for a device node in its database (/run/udev/data/cMAJOR:MINOR):
// property("/dev/ttyUSB0", "ID_MM_DEVICE_IGNORE") is "1" when ModemManager is to leave the
// device alone. Empty when udev keeps no such property, or nothing at all for the node.
QString property(const QString &node, const QString &key);

} // namespace Udev
