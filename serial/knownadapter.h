#pragma once

#include <QString>
#include <optional>

// The adapter behind a port as it was when the port was connected, and how to find it again
// once it has gone (pulled out and plugged in again, its unit powered off and on): only the
// system's account of its devices is read for that, which opens nothing, so that no other
// device that turns up meanwhile is ever touched.
class KnownAdapter {
public:
    // path: what the port was opened by. named: path is a name that is pointed at a device (a
    // COM link, a COM name's fixed device): the adapter is the device it names again, provided
    // that is the same USB adapter where it was one. Otherwise the adapter is the device of
    // the same identity (SerialDevice::identity), at whatever node it comes back.
    KnownAdapter(const QString &path, bool named);

    const QString &identity() const { return m_identity; }

    // The node the adapter stands at now; none while it is away. A node held open cannot pass
    // to another device, so a node found again once it is open proves it the adapter.
    std::optional<QString> locate() const;

private:
    QString m_path;
    bool m_named = false;
    bool m_usb = false;
    QString m_identity;
};
