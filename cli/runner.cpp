#include "cli/runner.h"

#include <QThread>
#include <algorithm>
#include <memory>
#include <vector>

int runOnPorts(const QList<Port> &ports, const PortJob &job)
{
    if (ports.size() == 1)
        return job(ports.first(), Output());
    std::vector<int> statuses(std::size_t(ports.size()), 0);
    std::vector<std::unique_ptr<QThread>> threads;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        const Port port = ports[i];
        int *status = &statuses[std::size_t(i)];
        threads.emplace_back(QThread::create([port, status, &job] {
            *status = job(port, Output(port.name + QStringLiteral(": ")));
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        thread->wait();
    return *std::max_element(statuses.begin(), statuses.end());
}

QString isoNow(bool milliseconds)
{
    const QDateTime local = QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc())
        .toString(milliseconds ? Qt::ISODateWithMs : Qt::ISODate);
}
