#include "gui/common/ScreenFit.h"

#include <QScreen>
#include <QSize>
#include <QStyle>
#include <QWidget>

namespace corvane3 {

void ResizeWithinScreen(QWidget& window, const QSize& wanted) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        window.resize(wanted);
        return;
    }
    // The frame is only known once the window shows; the style's title bar and the frame of its
    // own sub-windows stand in for it.
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    const int titleBar = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    const QSize frame(2 * border, titleBar + 2 * border);
    const QSize room = screen->availableGeometry().size() - frame;
    window.resize(wanted.boundedTo(room));
}

}  // namespace corvane3
