#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

namespace drovanta {

struct WindowPlacement {
  QRect client;            // the client area's geometry on the desktop
  bool resizable = false;  // the fixed layout did not fit: the user may resize the window
};

// Where a window goes within a screen's available area: its client area centred, then moved so
// that no part of its frame is outside. A window that does not fit, frame included, is made
// smaller, down to `minimum`, and resizable. Where even the minimum does not fit, the frame's
// top-left corner (with the title bar) stays inside.
WindowPlacement PlaceWindow(QSize client, QSize minimum, QMargins frame, QRect available);

}  // namespace drovanta
