#pragma once

#include "cli/output.h"

#include <QString>

// Ctrl+C (SIGINT) and SIGTERM while settings blocks go to units. A block cut short would
// leave the unit waiting for the rest, taking whatever comes next for it, so:
// - until a port has committed to sending a block, a signal ends the tool as it always has;
// - a signal that comes while a block goes out waits until it is out; each port then ends at
//   its next safe step (after the unit's pause, which nothing disturbs), says what its unit
//   holds, and the tool exits with the shell's status for the signal (130, 143);
// - a second signal ends the tool at once, as soon as no block is going out, every committed
//   port saying what its unit holds.
namespace Interrupts {

// Takes SIGINT and SIGTERM over for the rest of the run. SIGPIPE is ignored too: a closed
// standard output then fails its writes instead of ending the tool in the middle of a block.
void install();

// Whether a signal has come, and the status it calls for.
bool requested();
int status();

// One port's block, from the moment it may go out until the port is done with its unit.
class Block {
public:
    // held: what the unit holds once the block is out, should the tool end before the port is
    // done. waiting: said at the first signal once the block is out, when the port ends only
    // after a pause; empty for none.
    Block(const Output &out, QString held, QString waiting = {});
    ~Block() { done(); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;

    // False when a signal has come already: nothing may be sent. Otherwise the block may go
    // out, and a signal waits until sent() or done().
    bool begin();
    // The block is out.
    void sent();
    // The port is done with its unit, and says `last` (when given) of it; a signal no longer
    // needs it.
    void done(const QString &last = {});

    // The watch's part, under its lock.
    static void signalled(int number);

private:
    [[noreturn]] static void endNow(int number);

    Output m_out;
    QString m_held;
    QString m_waiting;
    bool m_registered = false;
    bool m_sending = false;
};

} // namespace Interrupts
