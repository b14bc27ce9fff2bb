#include "cli/portcommands.h"

#include "cli/output.h"
#include "cli/port.h"
#include "cli/status.h"
#include "serial/comnames.h"
#include "serial/portholders.h"
#include "serial/serialchannel.h"
#include "serial/serialdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Commands {

namespace {

// One port as `ports` shows it.
struct PortRow {
    QString com; // empty for a device no COM name reaches
    SerialDevice device;
    Line::OpenFailure failure = Line::OpenFailure::None;
    QList<PortHolders::Holder> holders;
    Adapter adapter;
};

PortRow rowFor(const QString &com, const SerialDevice &device)
{
    PortRow row;
    row.com = com;
    row.device = device;
    // A program may hold the port without locking it; the tool could open it then, but the
    // two would share the line.
    row.holders = PortHolders::of(device.node);
    row.failure = SerialChannel::probeReason(device.node).failure;
    row.adapter = Adapter::lookup(device.node);
    return row;
}

// "free", "busy", "no access"...: whether the tool could open the port now.
QString stateWord(const PortRow &row)
{
    using Failure = Line::OpenFailure;
    switch (row.failure) {
    case Failure::None:
        return row.holders.isEmpty() ? QStringLiteral("free") : QStringLiteral("busy");
    case Failure::Busy:
        return QStringLiteral("busy");
    case Failure::Permission:
        // The system does not tell a refused access from a port held: a holder tells.
        return row.holders.isEmpty() ? QStringLiteral("no access") : QStringLiteral("busy");
    case Failure::NotSerial:
        return QStringLiteral("no serial port");
    case Failure::NoIndex:
    case Failure::NoDevice:
    case Failure::Other:
        break;
    }
    return QStringLiteral("does not open");
}

QString stateText(const PortRow &row)
{
    if (row.holders.isEmpty())
        return stateWord(row);
    return stateWord(row) + QStringLiteral(" (") + PortHolders::describe(row.holders) +
           QLatin1Char(')');
}

QString usbText(const SerialDevice &device)
{
    if (!device.usb())
        return QStringLiteral("no USB");
    return QStringLiteral("USB %1 %2")
        .arg(device.vidPid(), device.serial.isEmpty() ? QStringLiteral("no serial")
                                                      : QStringLiteral("serial ") + device.serial);
}

// The two first columns are what `ports` has always printed: scripts read them.
QString lineFor(const PortRow &row)
{
    const QString stable = row.device.stableName();
    return QStringList{(row.com.isEmpty() ? QStringLiteral("-") : row.com) + QLatin1Char(' ') +
                           row.device.node,
                       stateText(row), stable.isEmpty() ? QStringLiteral("no stable name") : stable,
                       usbText(row.device), adapterText(row.adapter)}
        .join(QStringLiteral("  "));
}

QJsonObject jsonFor(const PortRow &row)
{
    QJsonArray holders;
    for (const PortHolders::Holder &holder : row.holders)
        holders.append(QJsonObject{{QStringLiteral("pid"), holder.pid},
                                   {QStringLiteral("program"), holder.program}});
    const auto orNull = [](const QString &text) {
        return text.isEmpty() ? QJsonValue() : QJsonValue(text);
    };
    return QJsonObject{
        {QStringLiteral("com"), orNull(row.com)},
        {QStringLiteral("device"), row.device.node},
        {QStringLiteral("state"), stateWord(row)},
        {QStringLiteral("holders"), holders},
        {QStringLiteral("by_id"), orNull(row.device.byId)},
        {QStringLiteral("by_path"), orNull(row.device.byPath)},
        {QStringLiteral("vid"), orNull(row.device.vendorId)},
        {QStringLiteral("pid"), orNull(row.device.productId)},
        {QStringLiteral("serial"), orNull(row.device.serial)},
        {QStringLiteral("driver"), orNull(row.adapter.driver)},
        {QStringLiteral("latency_timer_ms"),
         row.adapter.latencyMs >= 0 ? QJsonValue(row.adapter.latencyMs) : QJsonValue()},
        {QStringLiteral("quiet_line_ms"), row.adapter.settleMs},
    };
}

} // namespace

QString adapterText(const Adapter &adapter)
{
    const QString driver =
        adapter.driver.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(adapter.driver);
    QString kind;
    switch (adapter.kind) {
    case Adapter::Kind::Native:
        kind = QStringLiteral("native line") + driver;
        break;
    case Adapter::Kind::Ftdi:
        kind =
            QStringLiteral("FTDI USB adapter") + driver +
            (adapter.latencyMs >= 0 ? QStringLiteral(", latency timer %1 ms").arg(adapter.latencyMs)
                                    : QStringLiteral(", latency timer unknown"));
        break;
    case Adapter::Kind::Usb:
        kind = QStringLiteral("USB adapter") + driver;
        break;
    }
    return kind + QStringLiteral(", quiet line %1 ms").arg(adapter.settleMs);
}

int ports(const PortsOptions &options)
{
    QList<PortRow> rows;
    QStringList reached;
    for (int index = 0; index < ComNames::Count; ++index) {
        const std::optional<SerialDevice> device =
            SerialDevice::describe(ComNames::devicePath(index));
        if (!device || device->idleUart)
            continue;
        rows << rowFor(ComNames::name(index), *device);
        reached << device->node;
    }
    if (options.all) {
        for (const SerialDevice &device : SerialDevice::present()) {
            if (!reached.contains(device.node))
                rows << rowFor(QString(), device);
        }
    }
    const Output out;
    if (options.json) {
        QJsonArray list;
        for (const PortRow &row : rows)
            list.append(jsonFor(row));
        const QByteArray text = QJsonDocument(list).toJson(QJsonDocument::Indented);
        for (const QByteArray &line : text.trimmed().split('\n')) {
            if (!out.result(QString::fromUtf8(line)))
                return Status::BadInput;
        }
        return Status::Done;
    }
    for (const PortRow &row : rows) {
        if (!out.result(lineFor(row)))
            return Status::BadInput;
    }
    return Status::Done;
}

int link(const QString &com, const QString &devicePath)
{
    const std::optional<int> index = comIndex(com);
    if (!index)
        return refuse(QStringLiteral("'%1' is no COM name: give COM1 to COM40").arg(com));
    const std::optional<SerialDevice> device = SerialDevice::describe(devicePath);
    if (!device)
        return refuse(QStringLiteral("no device at %1").arg(devicePath));
    if (SerialChannel::probeReason(device->node).failure == Line::OpenFailure::NotSerial)
        return refuse(QStringLiteral("%1 is no serial port").arg(devicePath));
    const Output out;
    const QList<SerialDevice> present = SerialDevice::present();
    if (const std::optional<SerialDevice> twin = device->serialTwin(present))
        out.note(QStringLiteral("warning: %1 and %2 both report USB %3 serial %4: their by-id "
                                "names cannot tell them apart")
                     .arg(device->node, twin->node, device->vidPid(), device->serial));
    // The most stable name first: the chip's own serial goes wherever the adapter is plugged
    // in; the socket holds only while it stays in that socket; the node only until the next
    // plug-in.
    QString target;
    if (device->serialUnique(present) && !device->byId.isEmpty()) {
        target = device->byId;
    } else if (!device->byPath.isEmpty()) {
        target = device->byPath;
        const QString why = device->serial.isEmpty()
                                ? QStringLiteral("reports no serial")
                                : QStringLiteral("reports serial %1, which other adapters share")
                                      .arg(device->serial);
        out.note(QStringLiteral("warning: the adapter %1, so %2 is now tied to the USB socket it "
                                "is plugged into (%3); plugged into another socket it is not found")
                     .arg(why, ComNames::name(*index),
                          device->usbPort.isEmpty() ? device->byPath : device->usbPort));
    } else {
        target = device->node;
        out.note(QStringLiteral("warning: %1 has no stable name, so %2 points at the node "
                                "itself, which may name another device after the next plug-in")
                     .arg(device->node, ComNames::name(*index)));
    }

    const QString folder = ComNames::linkFolder();
    const QString name = folder + QLatin1Char('/') + ComNames::name(*index);
    const QFileInfo existing(name);
    if (existing.exists() && !existing.isSymLink())
        return refuse(QStringLiteral("%1 is no link; it is left as it is").arg(name));
    if (!QDir().mkpath(folder))
        return refuse(QStringLiteral("cannot make the COM folder %1").arg(folder));
    // A new link under a temporary name renamed over the old one: the name never goes missing.
    const QByteArray temporary = QFile::encodeName(
        folder + QStringLiteral("/.%1.%2").arg(ComNames::name(*index)).arg(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), QFile::encodeName(name).constData()) != 0) {
        const QString error = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
        return refuse(QStringLiteral("cannot make the link %1: %2").arg(name, error));
    }
    out.result(QStringLiteral("%1 -> %2").arg(ComNames::name(*index), target));
    return Status::Done;
}

int unlink(const QString &com)
{
    const std::optional<int> index = comIndex(com);
    if (!index)
        return refuse(QStringLiteral("'%1' is no COM name: give COM1 to COM40").arg(com));
    const QString name = ComNames::linkFolder() + QLatin1Char('/') + ComNames::name(*index);
    const QFileInfo existing(name);
    if (!existing.isSymLink())
        return refuse(existing.exists()
                          ? QStringLiteral("%1 is no link; it is left as it is").arg(name)
                          : QStringLiteral("there is no link %1").arg(name));
    if (!QFile::remove(name))
        return refuse(QStringLiteral("cannot remove %1").arg(name));
    Output().result(QStringLiteral("%1 removed").arg(ComNames::name(*index)));
    return Status::Done;
}

} // namespace Commands
