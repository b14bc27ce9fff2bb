#include "app/placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace Placement {

QPoint framePosition(QPoint stored, QSize frame, const QRect &available)
{
    if (frame.width() > available.width() || frame.height() > available.height())
        return available.topLeft();
    // Each axis on its own: the nearest point of the allowed range is the least move.
    const int x = std::clamp(stored.x(), available.left(), available.right() + 1 - frame.width());
    const int y = std::clamp(stored.y(), available.top(), available.bottom() + 1 - frame.height());
    return {x, y};
}

namespace {

bool compositorPlaces()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QRect availableArea(QPoint stored)
{
    const QScreen *screen = QGuiApplication::screenAt(stored);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void placeFrame(QWidget *window, QPoint stored)
{
    const QRect available = availableArea(stored);
    if (available.isEmpty())
        return;
    const QWindow *handle = window->windowHandle();
    const QSize frame = handle ? window->frameGeometry().size() : window->size();
    window->move(framePosition(stored, frame, available));
}

// Places the window once more when it is first on the screen, now with the frame the window
// manager gave it, and then lets go.
class FirstExpose : public QObject {
public:
    FirstExpose(QWidget *window, QPoint stored)
        : QObject(window), m_widget(window), m_stored(stored)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Show) {
            m_widget->removeEventFilter(this);
            if (QWindow *handle = m_widget->windowHandle())
                handle->installEventFilter(this);
            else
                deleteLater();
        } else if (watched != m_widget && event->type() == QEvent::Expose) {
            auto *handle = static_cast<QWindow *>(watched);
            if (handle->isExposed()) {
                handle->removeEventFilter(this);
                placeFrame(m_widget, m_stored);
                deleteLater();
            }
        }
        return false;
    }

private:
    QWidget *m_widget;
    QPoint m_stored;
};

} // namespace

void place(QWidget *window, QPoint stored)
{
    if (!window->isWindow() || compositorPlaces())
        return;
    placeFrame(window, stored);
    new FirstExpose(window, stored);
}

} // namespace Placement
