#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QTimer;

// The boundary around every event handler. An error raised inside is caught here, shown in
// the standard error box, and the rest of the handler is skipped; the program carries on.
//
// While a handler runs it has the window to itself: waits let the window paint what the
// handler changed, but user input and the service timer's ticks are dropped until it ends.
// A service tick is different: it is short, lets nothing else run meanwhile, and so keeps
// the user's input waiting instead of dropping it.
class HandlerGuard : public QObject {
    Q_OBJECT

public:
    static HandlerGuard &instance();

    // Runs one handler inside the boundary. Nested calls run inline.
    void run(const std::function<void()> &handler);
    // Runs one service tick: errors are caught as for a handler, input is left queued.
    void runTick(const std::function<void()> &handler);

    // Lets the window paint; called from the long waits while a handler runs.
    void pump();

    // The timer whose ticks wait for the running handler to end.
    void setServiceTimer(QTimer *timer) { m_timer = timer; }
    bool busy() const { return m_depth > 0; }

    // The caption of the standard error box: the program file's name up to its first dot.
    static QString caption();
    // The text of the standard error box: the message, with a full stop added when its last
    // character sorts after "." in character code.
    static QString boxText(const QString &message);
    static void showError(const QString &message);

signals:
    // The outermost handler, or a tick, has ended.
    void idle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    HandlerGuard() = default;
    // Runs the handler; the message of what it raised, if it raised anything.
    static std::optional<QString> attempt(const std::function<void()> &handler);
    // The error box takes input, so it is shown with the filter down.
    void showOutsideFilter(const QString &message);

    int m_depth = 0;
    QTimer *m_timer = nullptr;
};
