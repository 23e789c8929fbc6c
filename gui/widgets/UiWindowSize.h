#pragma once

#include <QSize>

class QWidget;

namespace vantero {

// Gives window an outer size, frame and title bar included, rather than a size of its contents:
// the contents get what the window system's frame leaves. The frame is known only once the
// window is shown (and changes when a window manager takes the window over), so the size is
// corrected then; the frame's centre stays where it was.
void KeepOuterSize(QWidget* window, QSize outer);

// Gives window its preferred size, or less where the screen it opens on (its parent's) has less
// room, so that on a small screen it stays whole, frame included, and can be placed on it.
void FitOnScreen(QWidget* window, QSize preferred);

} // namespace vantero
