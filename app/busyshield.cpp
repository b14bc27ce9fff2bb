#include "app/busyshield.h"

#include <QApplication>
#include <QEvent>

BusyShield::BusyShield(QWidget *window) : QWidget(window)
{
    // Out of the Tab chain: it takes the focus only while it is up.
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void BusyShield::raiseOver()
{
    if (!isHidden())
        return;
    setGeometry(parentWidget()->rect());
    show();
    raise();
    // A window not yet shown takes no keys; the focus it gets when it is shown stays its own.
    if (!window()->isVisible())
        return;
    m_focus = QApplication::focusWidget();
    setFocus(Qt::OtherFocusReason);
}

void BusyShield::lower()
{
    if (isHidden())
        return;
    // Hidden with the focus, the cover would hand it to the next control in the chain.
    const bool hadFocus = hasFocus();
    if (hadFocus)
        clearFocus();
    hide();
    if (hadFocus && m_focus)
        m_focus->setFocus(Qt::OtherFocusReason);
    m_focus = nullptr;
}

bool BusyShield::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride: // accepted, so that no shortcut fires either
    case QEvent::ContextMenu:
        event->accept();
        return true;
    default:
        return QWidget::event(event);
    }
}
