#include "cli/runner.h"

#include "cli/status.h"

#include <QThread>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

int runOnPorts(const QList<Port> &ports, const PortJob &job)
{
    if (ports.size() == 1)
        return job(ports.first(), Output());
    // A port's status stays unset when its thread never ran: the system would not start it.
    std::vector<std::optional<int>> statuses(std::size_t(ports.size()));
    std::vector<std::unique_ptr<QThread>> threads;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        const Port port = ports[i];
        std::optional<int> *status = &statuses[std::size_t(i)];
        threads.emplace_back(QThread::create([port, status, &job] {
            *status = job(port, Output(port.name + QStringLiteral(": ")));
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        thread->wait();
    int worst = Status::Done;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        std::optional<int> &status = statuses[std::size_t(i)];
        if (!status) {
            Output(ports[i].name + QStringLiteral(": "))
                .note(QStringLiteral("not tried: the system would not start a thread for it"));
            status = Status::NoPort;
        }
        worst = std::max(worst, *status);
    }
    return worst;
}

QString isoNow(bool milliseconds)
{
    const QDateTime local = QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc())
        .toString(milliseconds ? Qt::ISODateWithMs : Qt::ISODate);
}
