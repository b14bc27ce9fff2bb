#pragma once

#include <QElapsedTimer>
#include <functional>

// The program's long pauses (the 1 s and 10 s waits, the upload's reply bound) run on this
// clock. The shipped program uses real time; the tests make it run faster so that a 10 s
// pause takes 10 ms, while serial time-outs stay real.
class Clock {
public:
    explicit Clock(int speedup = 1);

    // Milliseconds of program time since the clock was made.
    qint64 now() const;

    // Blocks for ms of program time. The idle hook (when set) is called every few
    // milliseconds meanwhile, so that the window can paint what the handler has changed.
    void sleep(int ms) const;

    void setIdleHook(std::function<void()> hook) { m_idle = std::move(hook); }
    int speedup() const { return m_speedup; }

private:
    int m_speedup;
    QElapsedTimer m_timer;
    std::function<void()> m_idle;
};
