#include "serial/adapter.h"

#include "serial/systemtree.h"

#include <QFile>
#include <QFileInfo>

namespace {

// A native line delivers each byte within a character time (87 us at 115200 baud); the rest
// is for the system's scheduling, so that a unit's reply is not cut by a busy desktop.
constexpr int NativeSettleMs = 5;
// Above an FTDI chip's latency timer: the next 1 ms USB frame, and scheduling.
constexpr int FtdiMarginMs = 4;
// An FTDI chip whose timer cannot be read is taken at its default.
constexpr int FtdiDefaultLatencyMs = 16;
// Chips whose delay the system does not report are taken as slow as the slowest common one:
// a 16 ms timer and the margin.
constexpr int UsbSettleMs = 20;

struct DriverRow {
    const char *driver;
    Adapter::Kind kind;
};

// The drivers of the common USB serial chips; any other driver of a ttyUSB or ttyACM node
// counts as USB too.
const DriverRow Drivers[] = {
    {"ftdi_sio", Adapter::Kind::Ftdi},  {"cp210x", Adapter::Kind::Usb},
    {"ch341-uart", Adapter::Kind::Usb}, {"ch341", Adapter::Kind::Usb},
    {"pl2303", Adapter::Kind::Usb},     {"cdc_acm", Adapter::Kind::Usb},
};

int settleFor(Adapter::Kind kind, int latencyMs)
{
    switch (kind) {
    case Adapter::Kind::Native:
        return NativeSettleMs;
    case Adapter::Kind::Ftdi:
        return (latencyMs >= 0 ? latencyMs : FtdiDefaultLatencyMs) + FtdiMarginMs;
    case Adapter::Kind::Usb:
        break;
    }
    return UsbSettleMs;
}

} // namespace

Adapter Adapter::fromDriver(const QString &driver, int latencyMs)
{
    Adapter adapter;
    adapter.driver = driver;
    for (const DriverRow &row : Drivers) {
        if (driver == QLatin1String(row.driver))
            adapter.kind = row.kind;
    }
    if (adapter.kind == Kind::Ftdi && latencyMs >= 0)
        adapter.latencyMs = latencyMs;
    adapter.settleMs = settleFor(adapter.kind, adapter.latencyMs);
    return adapter;
}

Adapter Adapter::lookup(const QString &devicePath)
{
    const QString name = SystemTree::ttyName(devicePath);
    const QString device =
        SystemTree::sys(QStringLiteral("class/tty/") + name + QStringLiteral("/device"));
    const QString driver =
        QFileInfo(QFileInfo(device + QStringLiteral("/driver")).symLinkTarget()).fileName();
    Adapter adapter = fromDriver(driver);
    if (adapter.kind == Kind::Ftdi) {
        QFile timer(device + QStringLiteral("/latency_timer"));
        bool ok = false;
        int latencyMs = -1;
        if (timer.open(QIODevice::ReadOnly))
            latencyMs = timer.readAll().trimmed().toInt(&ok);
        adapter = fromDriver(driver, ok ? latencyMs : -1);
    } else if (adapter.kind == Kind::Native && (name.startsWith(QLatin1String("ttyUSB")) ||
                                                name.startsWith(QLatin1String("ttyACM")))) {
        adapter.kind = Kind::Usb;
        adapter.settleMs = settleFor(Kind::Usb, -1);
    }
    return adapter;
}
