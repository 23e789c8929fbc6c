#pragma once

#include <QSize>

class QWidget;

namespace vantero {

// Gives window an outer size, frame and title bar included, rather than a size of its contents:
// the contents get what the window system's frame leaves. The frame is known only once the
// window is shown (and changes when a window manager takes the window over), so the size is
// corrected then; the frame's centre stays where it was.
void KeepOuterSize(QWidget* window, QSize outer);

} // namespace vantero
