#include "serial/serialdevice.h"

#include "serial/systemtree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

// Serials that whole batches of chips leave the factory with: they tell no adapter apart.
const char *const SharedSerials[] = {"0001", "0000", "1234567890"};

QString readAttribute(const QString &folder, const char *name)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

// The link in folder (a /dev/serial/by-* folder) that ends at node, as the path it has here.
QString linkTo(const QString &folder, const QString &node)
{
    const QDir dir(SystemTree::path(folder));
    for (const QFileInfo &entry : dir.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        if (entry.isSymLink() && entry.canonicalFilePath() == node)
            return entry.filePath();
    }
    return {};
}

// The board's UART driver registers ttyS0..ttyS31 whether or not a chip answers; type 0 is its
// word for none.
bool uartWithoutChip(const QString &name)
{
    return name.startsWith(QLatin1String("ttyS")) &&
           readAttribute(SystemTree::sys(QStringLiteral("class/tty/") + name), "type") ==
               QLatin1String("0");
}

// The device's entry under class/tty, and the USB device above it: the first folder up the
// tree that has a vendor id.
SerialDevice fromEntry(const QString &name)
{
    SerialDevice device;
    device.node = SystemTree::nodeOf(name);
    device.idleUart = uartWithoutChip(name);
    const QString entry =
        SystemTree::sys(QStringLiteral("class/tty/") + name + QStringLiteral("/device"));
    device.driver =
        QFileInfo(QFileInfo(entry + QStringLiteral("/driver")).symLinkTarget()).fileName();
    const QString top = QFileInfo(SystemTree::sys(QString())).canonicalFilePath();
    QString folder = QFileInfo(entry).canonicalFilePath();
    for (int depth = 0; depth < 4 && !folder.isEmpty() && folder != top; ++depth) {
        const QString vendor = readAttribute(folder, "idVendor");
        if (!vendor.isEmpty()) {
            device.vendorId = vendor;
            device.productId = readAttribute(folder, "idProduct");
            device.serial = readAttribute(folder, "serial");
            device.usbPort = QFileInfo(folder).fileName();
            break;
        }
        folder = QFileInfo(folder).path();
    }
    device.byId = linkTo(QStringLiteral("/dev/serial/by-id"), device.node);
    device.byPath = linkTo(QStringLiteral("/dev/serial/by-path"), device.node);
    return device;
}

} // namespace

QString SerialDevice::vidPid() const
{
    return usb() ? vendorId + QLatin1Char(':') + productId : QString();
}

QString SerialDevice::stableName() const { return byId.isEmpty() ? byPath : byId; }

std::optional<SerialDevice> SerialDevice::serialTwin(const QList<SerialDevice> &present) const
{
    if (serial.isEmpty())
        return std::nullopt;
    for (const SerialDevice &other : present) {
        if (other.node != node && other.vidPid() == vidPid() && other.serial == serial)
            return other;
    }
    return std::nullopt;
}

bool SerialDevice::serialUnique(const QList<SerialDevice> &present) const
{
    if (serial.isEmpty())
        return false;
    for (const char *shared : SharedSerials) {
        if (serial == QLatin1String(shared))
            return false;
    }
    return !serialTwin(present);
}

QString SerialDevice::identity(const QList<SerialDevice> &present) const
{
    if (serialUnique(present))
        return QStringLiteral("usb %1 serial %2").arg(vidPid(), serial);
    if (!usbPort.isEmpty())
        return QStringLiteral("usb %1 at %2").arg(vidPid(), usbPort);
    return QStringLiteral("node ") + node;
}

std::optional<SerialDevice> SerialDevice::describe(const QString &path)
{
    const QFileInfo info(path);
    const QString node = info.canonicalFilePath();
    if (node.isEmpty() || info.isDir())
        return std::nullopt;
    return fromEntry(SystemTree::ttyName(node));
}

QList<SerialDevice> SerialDevice::present()
{
    QList<SerialDevice> devices;
    const QDir ttys(SystemTree::sys(QStringLiteral("class/tty")));
    for (const QString &name :
         ttys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        // An entry without a device is a virtual terminal or the console.
        if (QFileInfo::exists(ttys.filePath(name) + QStringLiteral("/device")) &&
            !uartWithoutChip(name))
            devices << fromEntry(name);
    }
    return devices;
}
