#pragma once

#include "app/tform1.h"
#include "support/simprocess.h"
#include "support/simulatedunit.h"
#include "support/windowdriver.h"

#include <optional>

// "Подключить", run to its end; a failed connect says in the test's output what the log shows.
inline bool pressConnect(TForm1 &form)
{
    const bool ended = press(form.Button1);
    if (!form.connected())
        qWarning().noquote() << (ended ? "not connected:" : "connect never ended:")
                             << form.Memo1->toPlainText();
    return form.connected();
}

// The simulated unit as the window suites read it: as with the pty simulator, its wire record
// is read, and forgotten, once what is on its way has come in, so that "nothing went out"
// cannot pass for a byte still on the line.
class WindowUnit : public SimulatedUnit {
public:
    using SimulatedUnit::SimulatedUnit;

    QByteArray received()
    {
        settle();
        return SimulatedUnit::received();
    }
    QByteArray sent()
    {
        settle();
        return SimulatedUnit::sent();
    }
    void clearRecord()
    {
        settle();
        SimulatedUnit::clearRecord();
    }
};

// A unit whose end is down: no port opens and the port scan lists none, as on a machine with
// no unit plugged in.
class AbsentUnit : public SimulatedUnit {
public:
    AbsentUnit() { command(QStringLiteral("hangup")); }
};

// The main window on the unit in the test's own process, on its virtual clock: the unit's line
// opens as COM5, which the window's start-up scan lists.
struct ConnectedWindow {
    WindowUnit sim;
    std::optional<TForm1> form;

    // Opens the window, with `block` as the unit's settings when one is given; nothing goes
    // over the line.
    bool open(const QByteArray &block = {})
    {
        if (!block.isEmpty())
            sim.setBlock(block);
        form.emplace(sim.line(), sim.clock());
        return waitIdle(*form);
    }

    // open() and "Подключить"; the wire record then starts empty. True when connected.
    bool connect(const QByteArray &block = {})
    {
        if (!open(block))
            return false;
        const bool connected = pressConnect(*form);
        sim.clearRecord();
        return connected;
    }
};

// The same on the real serial path: the unit simulator on a pty linked as COM5 in a private
// COM folder, and the window on the serial port with its long pauses sped up a hundredfold.
struct PtyWindow {
    ComFolder folder;
    SimProcess sim{folder.path(), QStringLiteral("COM5")};
    std::optional<TForm1> form;

    bool open(const QByteArray &block = {})
    {
        if (!sim.start())
            return false;
        if (!block.isEmpty())
            sim.setBlock(block);
        form.emplace(nullptr, 100);
        return waitIdle(*form);
    }

    bool connect(const QByteArray &block = {})
    {
        if (!open(block))
            return false;
        const bool connected = pressConnect(*form);
        sim.clearRecord();
        return connected;
    }
};
