#pragma once

#include <QtGlobal>

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
