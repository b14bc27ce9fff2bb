// The hint line: a help text for the control under the pointer, written on every movement
// over it. Leaving a control changes nothing.

#include "app/tform1.h"

#include <QEvent>

#define TARVIK2_DEFINE_HINT_HANDLER(control)                                                       \
    void TForm1::control##MouseMove() { Edit3->setText(Hints::text(#control)); }
TARVIK2_HINTED_CONTROLS(TARVIK2_DEFINE_HINT_HANDLER)
#undef TARVIK2_DEFINE_HINT_HANDLER

void TForm1::wireHints()
{
    auto hint = [this](QWidget *control, void (TForm1::*handler)()) {
        // A text box takes the mouse on its viewport.
        QWidget *target = control;
        if (auto *box = qobject_cast<QAbstractScrollArea *>(control))
            target = box->viewport();
        target->setMouseTracking(true);
        target->installEventFilter(this);
        m_hintHandlers.insert(target, handler);
    };
#define TARVIK2_WIRE_HINT_HANDLER(control) hint(control, &TForm1::control##MouseMove);
    TARVIK2_HINTED_CONTROLS(TARVIK2_WIRE_HINT_HANDLER)
#undef TARVIK2_WIRE_HINT_HANDLER
    hint(Edit20, &TForm1::Edit9MouseMove);
    hint(Edit21, &TForm1::Edit9MouseMove);
    hint(Edit22, &TForm1::Edit6MouseMove);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    // A disabled control takes no mouse input, so its handler must not run either (the filter
    // sees the event before the control turns it away).
    const auto *control = qobject_cast<QWidget *>(watched);
    if (event->type() == QEvent::MouseMove && control && control->isEnabled()) {
        if (const auto handler = m_hintHandlers.value(watched))
            (this->*handler)();
    }
    return QWidget::eventFilter(watched, event);
}
