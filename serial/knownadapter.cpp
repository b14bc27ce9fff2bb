#include "serial/knownadapter.h"

#include "serial/serialdevice.h"

KnownAdapter::KnownAdapter(const QString &path, bool named) : m_path(path), m_named(named)
{
    const std::optional<SerialDevice> device = SerialDevice::describe(path);
    if (!device) {
        m_identity = QStringLiteral("node ") + path;
        return;
    }
    m_usb = device->usb();
    m_identity = device->identity(SerialDevice::present());
}

std::optional<QString> KnownAdapter::locate() const
{
    const QList<SerialDevice> present = SerialDevice::present();
    const std::optional<SerialDevice> there = SerialDevice::describe(m_path);
    if (m_named) {
        if (there && (!m_usb || there->identity(present) == m_identity))
            return there->node;
        return std::nullopt;
    }
    // The path first: a device that is no USB adapter is known by its node alone, and is in
    // the system's list only when the driver found hardware behind it.
    if (there && there->identity(present) == m_identity)
        return there->node;
    for (const SerialDevice &device : present) {
        if (device.identity(present) == m_identity)
            return device.node;
    }
    return std::nullopt;
}
