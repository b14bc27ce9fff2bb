#pragma once

#include "sim/inprocessunit.h"

#include <QTest>

// The in-process unit as the tests drive it: a control command that must be taken fails the
// running test otherwise, as SimProcess::ok() does.
class SimulatedUnit : public InProcessUnit {
public:
    using InProcessUnit::InProcessUnit;

    QString ok(const QString &line)
    {
        const QString said = command(line);
        if (!said.startsWith(QStringLiteral("ok")))
            QTest::qFail(
                qPrintable(QStringLiteral("simulated unit refused '%1': %2").arg(line, said)),
                __FILE__, __LINE__);
        return said;
    }
};
