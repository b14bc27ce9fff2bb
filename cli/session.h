#pragma once

#include "cli/output.h"
#include "cli/port.h"
#include "device/clock.h"
#include "device/settingsblock.h"
#include "device/unitlink.h"
#include "device/unitsession.h"
#include "serial/knownadapter.h"

#include <QList>
#include <QString>
#include <optional>

// The clock of the unit's long pauses. Tests speed it up through $TARVIK2_CLOCK_SPEEDUP.
int clockSpeedup();

// Why a port did not open, in the tool's words: "no such device", "busy: ...".
QString openFailureText(Line::OpenFailure failure);

// One port's conversation with one unit, on the unit session's thread (see runOnPorts). Every
// step says on the output what went wrong and returns the exit status it calls for
// (Status::Done when it went well). The session keeps its own copy of the output, so that a
// caller may hand it one made for the occasion.
class Session {
public:
    Session(const Port &port, Output out, UnitSession &unit);
    ~Session();

    UnitLink &link() { return m_unit.link(); }
    const Clock &clock() const { return m_unit.clock(); }
    const Port &port() const { return m_port; }

    // Opens the port and asks for the handshake.
    int connect();
    // The path the port is opened by: a COM name's link (or fixed device), or the path given.
    QString devicePath() const;
    // Lets go of a lost line at once, so that the system may give its node to the next device.
    void letGo();
    // After a loss: the adapter away, or back and connected again (its node opened and the
    // handshake taken), or back with no unit that took the handshake, the port let go again.
    // Says nothing: each is one try of many.
    enum class Rejoin { Away, Unanswered, Connected };
    Rejoin reconnect(const KnownAdapter &adapter);
    // The unit's settings block; only a complete reply is taken.
    int readBlock(SettingsBlock::Block &block);
    // connect(), then readBlock().
    int connectAndRead(SettingsBlock::Block &block);
    // The status for a reply that was not complete, after saying why.
    int incomplete(const UnitLink::BlockReply &reply, const QString &what);
    bool lineLost() const { return m_unit.line().hasFailed(); }

private:
    int openPort();

    Port m_port;
    Output m_out;
    UnitSession &m_unit;
    Line &m_channel;
    UnitLink &m_link;
    bool m_connected = false;
};
