#pragma once

#include "device/clock.h"
#include "device/unitlink.h"
#include "serial/line.h"

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

// One line's conversation with one unit, on a thread of its own: the unit link's exchanges
// block, and nothing else waits on them. Jobs run one at a time, in the order they were given,
// each with the link to itself; a job's result comes back as a future.
//
// The line belongs to the session's thread from the first job on: nobody else may touch it
// while a job is given and not yet over.
class UnitSession : public QObject {
    Q_OBJECT

public:
    // A line made, used and destroyed on the session's thread (a serial port's notifiers
    // live on the thread that opened it).
    using LineMaker = std::function<std::unique_ptr<Line>()>;
    UnitSession(const LineMaker &makeLine, std::unique_ptr<Clock> clock);
    // A line and clock owned elsewhere, which outlive the session (a unit in the same
    // process).
    UnitSession(Line &line, const Clock &clock);
    // The serial port, on real time; clockSpeedup > 1 makes the long pauses run faster
    // (tests on a real port).
    static std::unique_ptr<UnitSession> serialPort(int clockSpeedup = 1);
    // Waits for the jobs given to end, then ends the thread.
    ~UnitSession() override;
    UnitSession(const UnitSession &) = delete;
    UnitSession &operator=(const UnitSession &) = delete;

    const Clock &clock() const { return *m_clock; }
    Line &line() { return *m_line; }
    UnitLink &link() { return *m_link; }

    // Runs job(link) on the session's thread after the jobs given before it (never, when the
    // session is not running).
    template <typename Job> auto call(Job job) -> QFuture<std::invoke_result_t<Job &, UnitLink &>>
    {
        using Result = std::invoke_result_t<Job &, UnitLink &>;
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        promise->start();
        post([this, promise, job = std::move(job)]() mutable {
            if constexpr (std::is_void_v<Result>)
                job(*m_link);
            else
                promise->addResult(job(*m_link));
            promise->finish();
        });
        return future;
    }

    // False when the system would not start the session's thread: no job can run then.
    bool running() const { return m_running; }

signals:
    // The line was lost; emitted on the session's thread once the line has been closed.
    void lineLost();

private:
    void start();
    void post(std::function<void()> work);

    QThread m_thread;
    QObject *m_worker = nullptr; // lives on m_thread; runs the jobs
    std::unique_ptr<Line> m_ownLine;
    Line *m_line = nullptr;
    std::unique_ptr<Clock> m_ownClock;
    const Clock *m_clock = nullptr;
    std::optional<UnitLink> m_link;
    bool m_running = false;
};
