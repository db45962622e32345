#pragma once
// Dialogs are laid out for their contents, and a short dialog with a long title would have the
// window system cut its title ("Adjust Ou...requency"). These make a dialog wide enough for
// its title to show whole beside the title bar's icon and buttons.

class QString;
class QWidget;

namespace corvane3 {

// The width a window needs for title to show whole in its title bar.
int WholeTitleWidth(const QString& title);

// Raises window's minimum width (never below what its layout needs) to WholeTitleWidth of its
// title. Call once the window has its title and layout.
void KeepTitleWhole(QWidget& window);

}  // namespace corvane3
