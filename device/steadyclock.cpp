#include "device/steadyclock.h"

#include <QThread>
#include <algorithm>

SteadyClock::SteadyClock(int speedup) : m_speedup(std::max(1, speedup)) { m_timer.start(); }

qint64 SteadyClock::now() const { return m_timer.elapsed() * m_speedup; }

void SteadyClock::sleep(int ms) const
{
    const qint64 end = now() + ms;
    for (;;) {
        const qint64 left = end - now();
        if (left <= 0)
            return;
        QThread::msleep(static_cast<unsigned long>((left + m_speedup - 1) / m_speedup));
    }
}
