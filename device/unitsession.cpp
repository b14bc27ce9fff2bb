#include "device/unitsession.h"

#include "device/steadyclock.h"
#include "serial/serialchannel.h"

UnitSession::UnitSession(const LineMaker &makeLine, std::unique_ptr<Clock> clock)
    : m_ownClock(std::move(clock)), m_clock(m_ownClock.get())
{
    start();
    if (m_running)
        QMetaObject::invokeMethod(
            m_worker, [this, &makeLine] { m_ownLine = makeLine(); }, Qt::BlockingQueuedConnection);
    else
        m_ownLine = makeLine(); // never used: no job runs
    m_line = m_ownLine.get();
    m_link.emplace(*m_line);
    m_line->setLossHandler([this] { emit lineLost(); });
}

UnitSession::UnitSession(Line &line, const Clock &clock) : m_line(&line), m_clock(&clock)
{
    start();
    m_link.emplace(*m_line);
    m_line->setLossHandler([this] { emit lineLost(); });
}

std::unique_ptr<UnitSession> UnitSession::serialPort(int clockSpeedup)
{
    return std::make_unique<UnitSession>([] { return std::make_unique<SerialChannel>(); },
                                         std::make_unique<SteadyClock>(clockSpeedup));
}

void UnitSession::start()
{
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    m_running = m_thread.isRunning();
}

UnitSession::~UnitSession()
{
    // The line's last words (a lost line's queued close) and its end happen on its own thread.
    if (!m_running)
        return;
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            m_line->setLossHandler({});
            m_ownLine.reset();
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void UnitSession::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_worker, std::move(work), Qt::QueuedConnection);
}
