#pragma once

#include <QElapsedTimer>
#include <functional>

// The program's long pauses (the 1 s and 10 s waits, the upload's reply bound) run on a clock.
// The shipped program uses real time; a unit in the same process brings a virtual clock of
// its own, on which those pauses pass at once.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds of program time since the clock was made.
    virtual qint64 now() const = 0;
    // Blocks for ms of program time.
    virtual void sleep(int ms) const = 0;
};

// Real time; tests on a real port may make it run faster (a 10 s pause in 100 ms) while
// serial time-outs stay real.
class SteadyClock : public Clock {
public:
    explicit SteadyClock(int speedup = 1);

    qint64 now() const override;
    // The idle hook (when set) is called every few milliseconds meanwhile, so that a caller on
    // an event loop keeps it turning through the wait.
    void sleep(int ms) const override;

    void setIdleHook(std::function<void()> hook) { m_idle = std::move(hook); }

private:
    int m_speedup;
    QElapsedTimer m_timer;
    std::function<void()> m_idle;
};
