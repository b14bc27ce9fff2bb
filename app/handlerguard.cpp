#include "app/handlerguard.h"

#include "app/apperror.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <exception>

HandlerGuard &HandlerGuard::instance()
{
    static HandlerGuard guard;
    return guard;
}

std::optional<QString> HandlerGuard::attempt(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const AppError &e) {
        return e.message();
    } catch (const std::exception &) {
        return QString(); // not one of ours: the box shows an empty message
    }
    return std::nullopt;
}

void HandlerGuard::run(const std::function<void()> &handler)
{
    if (m_depth == 0)
        qApp->installEventFilter(this);
    ++m_depth;
    const std::optional<QString> error = attempt(handler);
    if (m_depth == 1)
        pump(); // what the user did meanwhile is dropped, not replayed after the handler
    --m_depth;
    if (m_depth == 0)
        qApp->removeEventFilter(this);
    if (error)
        showOutsideFilter(*error);
    if (m_depth == 0)
        emit idle();
}

void HandlerGuard::runTick(const std::function<void()> &handler)
{
    if (const std::optional<QString> error = attempt(handler))
        showOutsideFilter(*error);
    if (m_depth == 0)
        emit idle();
}

void HandlerGuard::showOutsideFilter(const QString &message)
{
    // Inside a nested handler the outer one's filter is still up; it goes down for the box.
    if (m_depth > 0)
        qApp->removeEventFilter(this);
    showError(message);
    if (m_depth > 0)
        qApp->installEventFilter(this);
}

void HandlerGuard::pump()
{
    // Outside a handler nothing would hold back a tick, so nothing is pumped there.
    if (m_depth > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool HandlerGuard::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
        return event->spontaneous();
    case QEvent::Timer:
        return watched == m_timer;
    default:
        return false;
    }
}

QString HandlerGuard::caption()
{
    const QString file = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return file.section(QLatin1Char('.'), 0, 0);
}

QString HandlerGuard::boxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void HandlerGuard::showError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, caption(), boxText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}
