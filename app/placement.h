#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where the main window starts on the screen. Positions are the top-left corner of the window
// frame, in Qt's device-independent pixels, so the stored position scales with the window.
namespace Placement {

// The rule: a frame that fits the available area at the stored position stays there; one that
// fits the area elsewhere moves the least distance that brings it wholly inside; one larger
// than the area, in either direction, starts at the area's top-left corner, which keeps its
// title bar on the screen.
QPoint framePosition(QPoint stored, QSize frame, const QRect &available);

// Puts a top-level window by the rule within the available area of the screen that holds the
// stored position, or of the primary screen when none does. The frame is counted once the
// window manager has drawn it: the window is placed again when it is first shown, and not
// after that, so the user's own moves stand. Where the platform leaves the placement of
// windows to the compositor (Wayland), the window is not moved at all.
void place(QWidget *window, QPoint stored);

} // namespace Placement
