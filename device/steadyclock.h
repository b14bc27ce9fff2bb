#pragma once

#include "device/clock.h"

#include <QElapsedTimer>

// Real time; tests on a real port may make it run faster (a 10 s pause in 100 ms) while
// serial time-outs stay real.
class SteadyClock : public Clock {
public:
    explicit SteadyClock(int speedup = 1);

    qint64 now() const override;
    void sleep(int ms) const override;

private:
    int m_speedup;
    QElapsedTimer m_timer;
};
