#pragma once
// Room for a window's title: a dialog laid out for its controls alone can be narrower than its
// title, which the window manager then cuts short.

#include <QString>

class QFont;
class QWidget;

namespace corvane3 {

// Width a title bar needs to show title whole: the text in the bold face window managers
// commonly use, plus the icon and the buttons beside it.
int TitleBarWidth(const QString& title, const QFont& font);

// Sets window's title and makes its minimum width at least TitleBarWidth of it.
void SetTitleShownWhole(QWidget* window, const QString& title);

}  // namespace corvane3
