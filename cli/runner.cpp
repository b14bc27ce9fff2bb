#include "cli/runner.h"

#include "cli/status.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Gives the port's job to its session; nothing when the session's thread would not start.
std::optional<QFuture<int>> give(UnitSession &unit, const Port &port, const Output &out,
                                 const PortJob &job)
{
    if (!unit.running())
        return std::nullopt;
    return unit.call([&job, port, out, &unit](UnitLink &) {
        Session session(port, out, unit);
        return job(session, out);
    });
}

// The job's status once it has ended; for one never tried, says so and counts as no port.
int statusOf(std::optional<QFuture<int>> &result, const Output &out)
{
    if (result)
        return result->result();
    out.note(QStringLiteral("not tried: the system would not start a thread for it"));
    return Status::NoPort;
}

Output prefixed(const Port &port) { return Output(port.name + QStringLiteral(": ")); }

} // namespace

int runOnPort(const Port &port, const Output &out, const PortJob &job)
{
    const auto unit = UnitSession::serialPort(clockSpeedup());
    std::optional<QFuture<int>> result = give(*unit, port, out, job);
    return statusOf(result, out);
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
        results.push_back(give(*units.back(), port, prefixed(port), job));
    }
    int worst = Status::Done;
    for (qsizetype i = 0; i < ports.size(); ++i)
        worst = std::max(worst, statusOf(results[std::size_t(i)], prefixed(ports[i])));
    return worst;
}

QString isoNow(bool milliseconds)
{
    const QDateTime local = QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc())
        .toString(milliseconds ? Qt::ISODateWithMs : Qt::ISODate);
}
