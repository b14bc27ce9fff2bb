#pragma once

#include <QPointer>
#include <QWidget>

// A see-through cover over the whole window while an operation runs: the window still paints
// what the operation changes, but takes no click, wheel, key or shortcut until it is over.
// The keyboard focus waits on the cover meanwhile and goes back where it was.
class BusyShield : public QWidget {
    Q_OBJECT

public:
    explicit BusyShield(QWidget *window);

    void raiseOver();
    void lower();

protected:
    bool event(QEvent *event) override;

private:
    QPointer<QWidget> m_focus;
};
