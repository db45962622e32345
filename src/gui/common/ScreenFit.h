#pragma once
// Windows that open at a size of their own choosing open no larger than the screen they are on:
// on a small screen (or a large one at a high scale factor) a fixed size would push the window's
// lower edge, and what is drawn there, off the screen.

class QSize;
class QWidget;

namespace corvane3 {

// Resizes window to wanted, or to less where the available area of its screen (less room for
// the title bar and borders the window system adds) is smaller. User-interface thread only.
void ResizeWithinScreen(QWidget& window, const QSize& wanted);

}  // namespace corvane3
