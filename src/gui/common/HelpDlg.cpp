#include "gui/common/HelpDlg.h"

#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterHelpResource() {
    Q_INIT_RESOURCE(help);
}

namespace corvane3 {

namespace {
// The window's starting size in character cells: a comfortable reading width.
constexpr int kWidthCharacters = 90;
constexpr int kHeightLines = 36;
}  // namespace

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent) {
    RegisterHelpResource();
    setWindowTitle(QStringLiteral("Corvane3 Help"));
    setObjectName(QStringLiteral("helpDialog"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("helpText"));
    browser_->setOpenExternalLinks(true);
    browser_->setSource(QUrl(QStringLiteral("qrc:/help/help.html")));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
    layout->addWidget(buttons);
    const QFontMetrics metrics = fontMetrics();
    resize(metrics.averageCharWidth() * kWidthCharacters, metrics.lineSpacing() * kHeightLines);
}

}  // namespace corvane3
