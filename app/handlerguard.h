#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QTimer;

// The boundary around every event handler. An error raised inside is caught here, shown in
// the standard error box, and the rest of the handler is skipped; the program carries on.
//
// While a handler runs it has the window to itself: waits let the window paint what the
// handler changed, but user input and the service timer's ticks are dropped until it ends.
class HandlerGuard : public QObject {
public:
    static HandlerGuard &instance();

    // Runs one handler inside the boundary. Nested calls run inline.
    void run(const std::function<void()> &handler);

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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    HandlerGuard() = default;

    int m_depth = 0;
    QTimer *m_timer = nullptr;
};
