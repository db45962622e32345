#include "gui/common/WholeTitle.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLayout>
#include <QString>
#include <QWidget>
#include <algorithm>

namespace corvane3 {

namespace {
// Window managers draw titles bold and often a little larger than the title font says.
constexpr double kTitleFontAllowance = 1.25;
// The title bar's icon and its close, maximise and minimise buttons, with their margins.
constexpr int kTitleBarControlsWidth = 140;
}  // namespace

int WholeTitleWidth(const QString& title) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const int text = QFontMetrics(font).horizontalAdvance(title);
    return static_cast<int>(text * kTitleFontAllowance) + kTitleBarControlsWidth;
}

void KeepTitleWhole(QWidget& window) {
    const int contents = window.layout() != nullptr ? window.layout()->minimumSize().width()
                                                    : window.minimumSizeHint().width();
    window.setMinimumWidth(
        std::max({window.minimumWidth(), contents, WholeTitleWidth(window.windowTitle())}));
}

}  // namespace corvane3
