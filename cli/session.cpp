#include "cli/session.h"

#include "cli/status.h"
#include "device/settingsread.h"
#include "serial/comnames.h"

#include <algorithm>

int clockSpeedup()
{
    // A test-only knob: the 10 s pause and the upload's reply bound run faster; serial
    // time-outs stay real.
    static const int speedup = std::max(1, qEnvironmentVariableIntValue("TARVIK2_CLOCK_SPEEDUP"));
    return speedup;
}

Session::Session(const Port &port, Output out, UnitSession &unit)
    : m_port(port), m_out(std::move(out)), m_unit(unit), m_channel(unit.line()), m_link(unit.link())
{
}

Session::~Session()
{
    // Ends the unit's session as the window's exit does. Its answer would change nothing,
    // so the tool does not wait for it.
    if (m_connected && !m_channel.hasFailed())
        m_link.sendDisconnect();
}

QString openFailureText(Line::OpenFailure failure)
{
    using Failure = Line::OpenFailure;
    switch (failure) {
    case Failure::NoDevice:
        return QStringLiteral("no such device");
    case Failure::Permission:
        return QStringLiteral("permission denied");
    case Failure::Busy:
        return QStringLiteral("busy: another program holds the port");
    case Failure::NotSerial:
        return QStringLiteral("not a serial port");
    case Failure::NoIndex:
    case Failure::None:
    case Failure::Other:
        break;
    }
    return QStringLiteral("the system refused to open it");
}

int Session::openPort()
{
    const bool opened =
        m_port.index >= 0 ? m_channel.open(m_port.index) : m_channel.openDevice(m_port.path);
    if (opened)
        return Status::Done;
    QString reason = openFailureText(m_channel.lastOpenFailure());
    if (m_channel.lastOpenFailure() == Line::OpenFailure::Permission)
        reason += QStringLiteral("; add yourself to the dialout group (sudo usermod -aG dialout "
                                 "$USER) and log in again");
    m_out.note(QStringLiteral("cannot open %1 (%2): %3")
                   .arg(m_port.name, m_channel.lastOpenDevice(), reason));
    return Status::NoPort;
}

int Session::connect()
{
    if (const int status = openPort())
        return status;
    bool accepted = false;
    m_link.handshake(&accepted);
    if (accepted) {
        m_connected = true;
        return Status::Done;
    }
    if (m_channel.hasFailed()) {
        m_out.note(QStringLiteral("the line was lost during the handshake"));
        return Status::NoAnswer;
    }
    m_link.sendDisconnect();
    m_out.note(QStringLiteral("no unit answered the handshake"));
    return Status::NoAnswer;
}

QString Session::devicePath() const
{
    return m_port.index >= 0 ? ComNames::devicePath(m_port.index) : m_port.path;
}

void Session::letGo()
{
    m_channel.close();
    m_connected = false;
}

Session::Rejoin Session::reconnect(const KnownAdapter &adapter)
{
    const std::optional<QString> node = adapter.locate();
    if (!node || !m_channel.openDevice(*node))
        return Rejoin::Away;
    // The adapter may have gone again between the look and the open, and its node passed on.
    if (adapter.locate() != node) {
        m_channel.close();
        return Rejoin::Away;
    }
    bool accepted = false;
    m_link.handshake(&accepted);
    if (!accepted) {
        m_channel.close();
        return Rejoin::Unanswered;
    }
    m_connected = true;
    return Rejoin::Connected;
}

int Session::incomplete(const UnitLink::BlockReply &reply, const QString &what)
{
    if (m_channel.hasFailed())
        m_out.note(QStringLiteral("the line was lost during the %1").arg(what));
    else if (reply.unconfirmed)
        m_out.note(QStringLiteral("the %1 did not come the same twice in %2 reads; not taken")
                       .arg(what)
                       .arg(UnitLink::ConfirmReads));
    else if (reply.misaligned)
        m_out.note(
            QStringLiteral("the %1 was followed by more bytes at once; not taken").arg(what));
    else if (reply.received == 0)
        m_out.note(QStringLiteral("no answer to the %1").arg(what));
    else
        m_out.note(QStringLiteral("the %1 came short: %2 of %3 bytes; not taken")
                       .arg(what)
                       .arg(reply.received)
                       .arg(SettingsBlock::Size));
    return Status::NoAnswer;
}

int Session::connectAndRead(SettingsBlock::Block &block)
{
    if (const int status = connect())
        return status;
    return readBlock(block);
}

int Session::readBlock(SettingsBlock::Block &block)
{
    const UnitLink::BlockReply reply = SettingsRead(m_link).run();
    if (!reply.complete())
        return incomplete(reply, QStringLiteral("settings read"));
    block = *reply.block();
    return Status::Done;
}
