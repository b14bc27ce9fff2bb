#pragma once

#include "app/tform1.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QTimer>

// The window hands its exchanges to the unit session and returns at once; a test waits for
// them to end before it looks at what they did.

// Until nothing runs any more (true), or ms have passed (false).
inline bool waitIdle(TForm1 &form, int ms = 60000)
{
    if (!form.busy())
        return true;
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&form, &TForm1::idle, &loop, &QEventLoop::quit);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(ms);
    while (form.busy() && bound.isActive())
        loop.exec();
    return !form.busy();
}

// A click, as the program's own code gives it, and the operation it starts run to its end.
inline bool press(QAbstractButton *button)
{
    button->click();
    auto *form = qobject_cast<TForm1 *>(button->window());
    return form && waitIdle(*form);
}

// One service tick, as the timer gives it, run to its end.
inline bool tick(TForm1 &form)
{
    form.Timer1Timer();
    return waitIdle(form);
}
