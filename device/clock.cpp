#include "device/clock.h"

#include <QThread>
#include <algorithm>

SteadyClock::SteadyClock(int speedup) : m_speedup(std::max(1, speedup)) { m_timer.start(); }

qint64 SteadyClock::now() const { return m_timer.elapsed() * m_speedup; }

void SteadyClock::sleep(int ms) const
{
    const qint64 end = now() + ms;
    for (;;) {
        if (m_idle)
            m_idle();
        const qint64 left = end - now();
        if (left <= 0)
            return;
        // Real milliseconds to sleep, in slices no longer than the idle hook may wait.
        const qint64 realLeft = (left + m_speedup - 1) / m_speedup;
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(realLeft, 20)));
    }
}
