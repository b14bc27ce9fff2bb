#pragma once

#include "device/clock.h"
#include "serial/adapter.h"
#include "serial/line.h"
#include "sim/unit.h"
#include "sim/usbadapter.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>

// The unit simulator's unit in the program's own process, behind a Line that keeps the serial
// channel's contract, on a virtual clock.
//
// The line is timed as the pty simulator times it with pacing on: every byte takes its line
// time (10 bits at 115200 baud) each way; with a USB adapter profile (as --adapter names them)
// the unit's replies reach the line's input in the adapter's packets and what the line sends
// starts at the next USB frame; an open settings write or upload is dropped after a second of
// silence. Virtual time moves only while the line's user waits (a receive, settle(),
// moreFollows(), a clock pause), so a 10 s pause or a receive's time-out costs nothing.
//
// The line opens under one list index only, while the unit's end is up ("hangup" takes it
// down, "reopen" brings it back); any other index fails as a missing device does.
//
// Control goes by the simulator's words, with its answers ("fault late 200", "measure ...",
// "get block", "hangup", "reopen", "stats", ...). received() and sent() are every byte that has
// crossed the line each way so far, in order; what is still on its way comes in as the line's
// user waits.
//
// Every public member may be called from any thread while another one uses the line; none
// waits in real time. A lost line (the unit's end hung up) is noted at once: hasFailed() turns
// true and transfers fail. The line is then closed, and the loss handler called once, from the
// event loop of the thread that made the unit, never inside a call of the line.
class InProcessUnit : private Line, private Clock, private sim::UnitPort {
public:
    // adapter: none, ftdi1, ftdi16, cp210x or ch340.
    explicit InProcessUnit(const QString &adapter = QStringLiteral("none"));
    ~InProcessUnit() override;
    InProcessUnit(const InProcessUnit &) = delete;
    InProcessUnit &operator=(const InProcessUnit &) = delete;

    Line &line() { return *this; }
    Clock &clock() { return *this; }

    // The list index under which the unit's line opens (4, "COM5", unless set).
    void setComIndex(int index);

    // One control line and its answer ("ok ..." / "error ...").
    QString command(const QString &line);

    // Every byte that has reached the unit / the line's input from it, in order.
    QByteArray received() const;
    QByteArray sent() const;
    qint64 receivedCount() const;
    // Forgets the record so far.
    void clearRecord();
    // Runs the line on, in virtual time, until nothing is on its way either way: what the unit
    // still has to send (a late reply, a split reply's tail) then waits at the line's input, as
    // it would once the pty simulator's line has settled.
    void settle();

    QByteArray block() const;           // the unit's stored settings block
    void setBlock(const QByteArray &b); // replaces it
    // Where finished uploads land as PPK1.wav, PPK2.wav and SIREN.wav.
    QString recordingsDir() const;

private:
    struct Pending {
        std::uint8_t byte;
        sim::Nanos time;   // to the unit: arrival; from it: earliest start on the line
        sim::Nanos gap{0}; // from the unit: silence owed before this byte
    };

    // Line
    bool open(int index) override;
    // The unit's device is the path its COM index has in the fixed table (/dev/ttyUSB0 for
    // COM5).
    bool openDevice(const QString &path) override;
    void close() override;
    bool canOpen(int index) const override;
    OpenReason lastOpenReason() const override;
    QString lastOpenDevice() const override;
    bool isOpen() const override;
    bool hasFailed() const override;
    void setLossHandler(std::function<void()> handler) override;
    bool sendBytes(const std::uint8_t *source, int count) override;
    int receiveBytes(std::uint8_t *destination, int count) override;
    void settle(int quietMs) override;
    bool moreFollows(int quietMs) override;
    bool lineUp() override;
    const Adapter &adapter() const override { return m_adapter; }

    // Clock
    qint64 now() const override;
    void sleep(int ms) const override;

    // sim::UnitPort: the unit's end of the line
    void send(std::span<const std::uint8_t> bytes, sim::Nanos ready, sim::Nanos gap) override;
    void hangUp() override;

    // The rest runs with m_mutex held.
    void closeLine();
    void noteLoss();
    // The unit's end goes down: what was on its way is lost, and the line with it.
    void dropEnd();
    QString devicePath(int index) const;

    bool transferable() const { return m_open && !m_failed; }
    // Runs the line and the unit up to `until`, or with stopOnInput only until new bytes can
    // be read; true when some could.
    bool runUntil(sim::Nanos until, bool stopOnInput);
    std::optional<sim::Nanos> nextEvent() const;
    bool step();
    // When the first byte queued by the unit crosses the line.
    sim::Nanos crossing(const Pending &p) const;
    bool lineQuiet() const;
    bool deliver(std::uint8_t byte);
    // Waits up to ms (or until new bytes can be read); false once the line has failed.
    bool waitForInput(sim::Nanos ms);
    int take(std::uint8_t *destination, int count);
    bool drop();
    QString stats() const;
    QString answer(const QString &line);

    mutable std::mutex m_mutex;
    QTemporaryDir m_work;
    sim::AdapterProfile m_profile;
    sim::Adapter m_usb; // the adapter's receive buffer
    Adapter m_adapter;  // the same as the serial layer knows it
    sim::Unit m_unit;
    sim::Nanos m_now = 0;
    int m_index = 4;
    bool m_endUp = true;

    // The line's user's side.
    bool m_open = false;
    bool m_failed = false;
    int m_generation = 0; // counts opens and closes, so that a loss is told only to its line
    OpenReason m_openReason;
    QString m_failedDevice;
    std::function<void()> m_lossHandler;
    sim::Nanos m_quiet = 0;            // the last byte seen, or the last receive that gave up
    std::deque<std::uint8_t> m_input;  // to be read, within the serial channel's bound
    std::deque<std::uint8_t> m_beyond; // come beyond it: waits in the system's buffers

    // The line itself.
    std::deque<Pending> m_toUnit;
    std::deque<Pending> m_fromUnit;
    std::deque<std::uint8_t> m_wire; // crossed the line, in the adapter's packets
    sim::Nanos m_lastArrival = 0;
    sim::Nanos m_lastSent = 0;
    QByteArray m_received;
    QByteArray m_sent;
    std::uint64_t m_receivedTotal = 0;
    std::uint64_t m_sentTotal = 0;

    QObject m_context; // where the close after a loss is queued
};
