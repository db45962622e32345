#include "widgets/TitleWidth.h"

#include <QFont>
#include <QFontMetrics>
#include <QWidget>
#include <algorithm>

namespace corvane3 {

namespace {
// The window icon and the minimise, maximise and close buttons of a common title bar, with
// the margins between them.
constexpr int kTitleBarDecorationPixels = 160;
// Title bars often use a slightly larger face than the dialog's own.
constexpr double kTitleFontScale = 1.1;
}  // namespace

int TitleBarWidth(const QString& title, const QFont& font) {
    QFont titleFont = font;
    titleFont.setBold(true);
    if (titleFont.pointSizeF() > 0) {
        titleFont.setPointSizeF(titleFont.pointSizeF() * kTitleFontScale);
    } else if (titleFont.pixelSize() > 0) {
        titleFont.setPixelSize(static_cast<int>(titleFont.pixelSize() * kTitleFontScale));
    }
    return QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarDecorationPixels;
}

void SetTitleShownWhole(QWidget* window, const QString& title) {
    window->setWindowTitle(title);
    window->setMinimumWidth(std::max(window->minimumWidth(), TitleBarWidth(title, window->font())));
}

}  // namespace corvane3
