#include "cli/runner.h"

#include "cli/status.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

int runOnPort(const Port &port, const Output &out, const PortJob &job)
{
    const auto unit = UnitSession::serialPort(clockSpeedup());
    if (!unit->running()) {
        out.note(QStringLiteral("not tried: the system would not start a thread for it"));
        return Status::NoPort;
    }
    UnitSession &on = *unit;
    return unit
        ->call([&](UnitLink &) {
            Session session(port, out, on);
            return job(session, out);
        })
        .result();
}

int runOnPorts(const QList<Port> &ports, const PortJob &job)
{
    if (ports.size() == 1)
        return runOnPort(ports.first(), Output(), job);
    // Every port's job is given to its own session at once; they run side by side.
    std::vector<std::unique_ptr<UnitSession>> units;
    std::vector<std::optional<QFuture<int>>> results;
    for (const Port &port : ports) {
        units.push_back(UnitSession::serialPort(clockSpeedup()));
        UnitSession &unit = *units.back();
        if (!unit.running()) {
            results.emplace_back();
            continue;
        }
        const Output out(port.name + QStringLiteral(": "));
        results.emplace_back(unit.call([&job, port, out, &unit](UnitLink &) {
            Session session(port, out, unit);
            return job(session, out);
        }));
    }
    int worst = Status::Done;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        std::optional<QFuture<int>> &result = results[std::size_t(i)];
        int status = Status::NoPort;
        if (result)
            status = result->result();
        else
            Output(ports[i].name + QStringLiteral(": "))
                .note(QStringLiteral("not tried: the system would not start a thread for it"));
        worst = std::max(worst, status);
    }
    return worst;
}

QString isoNow(bool milliseconds)
{
    const QDateTime local = QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc())
        .toString(milliseconds ? Qt::ISODateWithMs : Qt::ISODate);
}
