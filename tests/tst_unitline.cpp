// The unit in the test's own process against the simulator on a pty behind the serial channel:
// the same exchanges through the unit link and an upload must come to the same outcomes, with
// the same bytes on the wire each way, behind no adapter and behind a slow FTDI one.

#include "device/steadyclock.h"
#include "device/unitlink.h"
#include "serial/serialchannel.h"
#include "support/simprocess.h"
#include "support/simulatedunit.h"
#include "upload/soundupload.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int ComIndex = 4; // "COM5"

QByteArray pattern(int seed)
{
    QByteArray block(512, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 13 + seed * 71) ^ 0xA5);
    return block;
}

QString hex(const std::uint8_t *bytes, int count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), count).toHex());
}

// What one scenario's exchanges came to, step by step, and every byte on the wire.
struct Run {
    QStringList steps;
    QByteArray received;
    QByteArray sent;
};

// Sim is SimProcess or SimulatedUnit: the same control words, the same answers.
template <typename Sim>
Run exchanges(const QString &scenario, Sim &sim, Line &line, const Clock &clock)
{
    Run run;
    QStringList &steps = run.steps;
    UnitLink link(line);
    int losses = 0;
    line.setLossHandler([&losses] { ++losses; });
    auto handshake = [&] {
        bool accepted = false;
        const std::uint8_t byte = link.handshake(&accepted);
        steps << QStringLiteral("handshake %1 %2").arg(accepted).arg(byte);
    };
    auto read = [&] {
        const UnitLink::BlockReply reply = link.readConfirmed();
        const bool stored =
            QByteArray(reinterpret_cast<const char *>(reply.bytes.data()), 512) == sim.block();
        steps << QStringLiteral("read %1 misaligned %2 unconfirmed %3 %4")
                     .arg(reply.received)
                     .arg(reply.misaligned)
                     .arg(reply.unconfirmed)
                     .arg(stored ? "as stored" : "other");
    };
    auto measure = [&] {
        const std::optional<UnitLink::MeasurementReply> reply = link.measure();
        steps << (reply ? QStringLiteral("measure ") + hex(reply->data(), int(reply->size()))
                        : QStringLiteral("no measurement"));
    };

    steps << QStringLiteral("open %1 settle %2")
                 .arg(line.open(ComIndex))
                 .arg(line.adapter().settleMs);
    sim.ok(QStringLiteral("measure 1 2 3 4 5 300"));
    if (scenario == QLatin1String("exchanges")) {
        handshake();
        read();
        const QByteArray block = pattern(1);
        link.writeSettings(reinterpret_cast<const std::uint8_t *>(block.constData()));
        read();
        steps << QStringLiteral("written %1").arg(sim.block() == block);
        measure();
        SoundUpload::Sounds sounds;
        sounds.set = SoundUpload::Set::Siren;
        sounds.data[0] = pattern(2) + pattern(3);
        sounds.blocks[0] = 2;
        int bar = 0;
        SoundUpload upload(
            link, clock,
            {[&](const SoundUpload::Event &event) {
                 steps
                     << QStringLiteral("upload event %1 %2").arg(int(event.kind)).arg(event.blocks);
             },
             [&bar](int value) { bar = value; }});
        steps << QStringLiteral("uploaded %1").arg(upload.send(sounds));
        QFile recording(sim.recordingsDir() + QStringLiteral("/SIREN.wav"));
        steps << QStringLiteral("recording %1")
                     .arg(recording.open(QIODevice::ReadOnly) &&
                          recording.readAll().mid(44) == sounds.data[0]);
        steps << QStringLiteral("bye %1").arg(link.disconnect());
    } else if (scenario == QLatin1String("short")) {
        sim.ok(QStringLiteral("fault short 5"));
        measure();
        sim.ok(QStringLiteral("fault none"));
        measure();
        handshake();
    } else if (scenario == QLatin1String("shift-once")) {
        sim.ok(QStringLiteral("fault shift-once 3 0"));
        read();
        handshake();
    } else if (scenario == QLatin1String("late")) {
        // Past the receive's bound; the next exchange waits out the rest of it.
        sim.ok(QStringLiteral("fault late 200"));
        measure();
        sim.ok(QStringLiteral("fault none"));
        measure();
        handshake();
    } else if (scenario == QLatin1String("hangup")) {
        steps << QStringLiteral("open COM7 %1 failure %2 %3")
                     .arg(line.open(6))
                     .arg(int(line.lastOpenFailure()))
                     .arg(line.lastOpenReason().folder);
        steps << QStringLiteral("open %1").arg(line.open(ComIndex));
        handshake();
        sim.ok(QStringLiteral("hangup"));
        steps << QStringLiteral("after the hang-up %1").arg(link.readSettings().received);
        steps << QStringLiteral("failed %1 sends %2").arg(line.hasFailed()).arg(line.sendByte('U'));
        QCoreApplication::processEvents();
        steps << QStringLiteral("open %1 losses %2").arg(line.isOpen()).arg(losses);
        sim.ok(QStringLiteral("reopen"));
        steps << QStringLiteral("can open %1").arg(line.canOpen(ComIndex));
        steps << QStringLiteral("open %1").arg(line.open(ComIndex));
        handshake();
    } else if (scenario == QLatin1String("stall")) {
        // A write cut short is dropped once the line has been silent for a second.
        handshake();
        link.writeSettings(reinterpret_cast<const std::uint8_t *>(pattern(4).constData()));
        const QByteArray part = pattern(5).left(100);
        link.sendByte(Command::WriteSettings);
        line.sendBytes(reinterpret_cast<const std::uint8_t *>(part.constData()), part.size());
        clock.sleep(1200);
        read();
        steps << QStringLiteral("written %1").arg(sim.block() == pattern(4));
    }
    run.received = sim.received();
    run.sent = sim.sent();
    steps << sim.ok(QStringLiteral("stats"));
    return run;
}

} // namespace

class UnitLineTest : public QObject {
    Q_OBJECT

private slots:
    void sameAsOnThePty_data();
    void sameAsOnThePty();
};

void UnitLineTest::sameAsOnThePty_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("scenario");
    for (const char *adapter : {"none", "ftdi16"}) {
        for (const char *scenario : {"exchanges", "short", "shift-once", "late", "hangup"})
            QTest::addRow("%s, %s", adapter, scenario) << adapter << scenario;
    }
    // The unit's own time-out, whatever stands on the line.
    QTest::addRow("none, stall") << "none"
                                 << "stall";
}

void UnitLineTest::sameAsOnThePty()
{
    QFETCH(QString, adapter);
    QFETCH(QString, scenario);

    Run pty;
    {
        // The adapter is learnt from the system's tree the simulator describes.
        QTemporaryDir sys;
        qputenv("TARVIK2_SYS_ROOT", QFile::encodeName(sys.path()));
        const auto restore = qScopeGuard([] { qunsetenv("TARVIK2_SYS_ROOT"); });
        ComFolder folder;
        SimProcess sim(
            folder.path(), QStringLiteral("COM5"),
            {QStringLiteral("--adapter"), adapter, QStringLiteral("--sys-root"), sys.path()});
        QVERIFY(sim.start());
        SerialChannel channel;
        const SteadyClock clock;
        pty = exchanges(scenario, sim, channel, clock);
    }
    SimulatedUnit unit(adapter);
    const Run inProcess = exchanges(scenario, unit, unit.line(), unit.clock());

    QCOMPARE(inProcess.steps, pty.steps);
    QCOMPARE(inProcess.received.toHex(' '), pty.received.toHex(' '));
    QCOMPARE(inProcess.sent.toHex(' '), pty.sent.toHex(' '));
}

QTEST_GUILESS_MAIN(UnitLineTest)
#include "tst_unitline.moc"
