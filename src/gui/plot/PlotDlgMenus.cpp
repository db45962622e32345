// The plot window's menus and what their commands do apart from loading files: views, scales,
// units, customizing, pictures, printing and help.

#include <QActionGroup>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QRegularExpression>
#include <algorithm>

#include "core/base/ModelCodes.h"
#include "gui/common/HelpDlg.h"
#include "gui/common/WholeTitle.h"
#include "gui/common/WindowPrinter.h"
#include "gui/plot/CustomizePlotsDlg.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/PlotMenus.h"

namespace corvane3 {

namespace {

// The Stuff menu's items with their access keys, by Plot view index.
constexpr std::array<const char*, kPlotViewCount> kViewMenuTexts = {
    "&Clock Servo",    "&Zeeman Servo", "&Gain Servo", "&CBT Supplies", "Power &Supplies",
    "System Supplies", "Hops 'n Burps", "User 1",      "User 2"};

struct MenuChoice {
    int index;
    int id;
    const char* text;
};
// In menu order; the X scale's index order differs from it.
constexpr MenuChoice kXUnitChoices[] = {
    {0, kPlotCmdXUnitMjd, "&MJD"},         {1, kPlotCmdXUnitDays, "&Days"},
    {2, kPlotCmdXUnitHours, "&Hours"},     {3, kPlotCmdXUnitMinutes, "&Minutes"},
    {4, kPlotCmdXUnitSeconds, "&Seconds"}, {kXUnitUtc, kPlotCmdXUnitUtc, "&UTC Date and Time"}};
constexpr MenuChoice kXScaleChoices[] = {{kXScaleAll, kPlotCmdXScaleAll, "&All"},
                                         {kXScaleLastWeek, kPlotCmdXScaleLastWeek, "Last &Week"},
                                         {kXScaleLastDay, kPlotCmdXScaleLastDay, "Last &24 Hours"},
                                         {kXScaleLastHour, kPlotCmdXScaleLastHour, "Last &Hour"}};
constexpr MenuChoice kYScaleChoices[] = {{kYScaleAll, kPlotCmdYScaleAll, "&All"},
                                         {kYScaleAllPlus, kPlotCmdYScaleAllPlus, "All +"},
                                         {kYScaleOneSigma, kPlotCmdYScaleOneSigma, "&1-sigma"},
                                         {kYScaleThreeSigma, kPlotCmdYScaleThreeSigma, "&3-sigma"},
                                         {kYScaleSixSigma, kPlotCmdYScaleSixSigma, "&6-sigma"}};

constexpr char kPrintDocumentName[] = "Corvane3 Cesium Data Plot";
// A print leaves this share of the page's width and height free on each side.
constexpr int kPrintMarginDivisor = 20;
// A PDF page is measured in points, 72 to the inch; the panes are drawn one pixel per point.
constexpr int kPdfPointsPerInch = 72;

QString ViewFileName(const std::string& name) {
    QString text = QString::fromStdString(name);
    text.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-"));
    return text;
}

}  // namespace

QAction* CPlotDlg::Command(int id) const {
    const auto actions = findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->property("commandId").toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void CPlotDlg::BuildMenus(QMenuBar* bar) {
    const auto add = [this](QMenu* menu, int id, const QString& text, auto handler) {
        QAction* action = menu->addAction(text);
        action->setProperty("commandId", id);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    add(file, kPlotCmdLiveData, QStringLiteral("Live Data"), [this] {
        StartLive();
    })->setCheckable(true);
    add(file, kPlotCmdPurge, QStringLiteral("Purge Live Data"), [this] { PurgeLive(); });
    file->addSeparator();
    add(file, kPlotCmdOpen, QStringLiteral("&Open..."), [this] { OpenDialog(); });
    add(file, kPlotCmdPrint, QStringLiteral("&Print..."), [this] { Print(); });
    add(file, kPlotCmdSavePicture, QStringLiteral("Save Pict&ure..."),
        [this] { SavePictureDialog(); });
    file->addSeparator();
    add(file, kPlotCmdExit, QStringLiteral("E&xit"), [this] { accept(); });

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    add(view, kPlotCmdCursors, QStringLiteral("Cursors"), [this] {
        ToggleCursors();
    })->setCheckable(true);
    add(view, kPlotCmdSignalDecay, QStringLiteral("Signal Decay"), [this] { EnterDecayDisplay(); });
    add(view, kPlotCmdData, QStringLiteral("Data"), [this] { EnterDataDisplay(); });
    view->addSeparator();
    QAction* follow = add(view, kPlotCmdFollowFile, QStringLiteral("Follow File"),
                          [this](bool checked) { SetFollowFile(checked); });
    follow->setCheckable(true);

    stuffMenu_ = bar->addMenu(QStringLiteral("Stuff"));
    viewGroup_ = new QActionGroup(this);
    for (std::size_t v = 0; v < kPlotViewCount; ++v) {
        QAction* action = add(stuffMenu_, kPlotViewCommands[v],
                              QString::fromLatin1(kViewMenuTexts[v]), [this, v] {
                                  SetPlotView(static_cast<int>(v));
                                  RebuildPlots();
                              });
        action->setCheckable(true);
        action->setActionGroup(viewGroup_);
    }
    stuffMenu_->addSeparator();
    add(stuffMenu_, kPlotCmdCustomize, QStringLiteral("Customize..."), [this] { Customize(); });

    const auto radioMenu = [&](const QString& title, const auto& choices, QActionGroup*& group,
                               auto handler) {
        QMenu* menu = bar->addMenu(title);
        group = new QActionGroup(this);
        for (const MenuChoice& choice : choices) {
            QAction* action = add(menu, choice.id, QString::fromLatin1(choice.text),
                                  [handler, index = choice.index] { handler(index); });
            action->setProperty("index", choice.index);
            action->setCheckable(true);
            action->setActionGroup(group);
        }
        return menu;
    };
    radioMenu(QStringLiteral("&Y-Scale"), kYScaleChoices, yScaleGroup_,
              [this](int index) { SetYScale(index); });
    radioMenu(QStringLiteral("X-&Scale"), kXScaleChoices, xScaleGroup_,
              [this](int index) { SetXScale(index); });
    unitsMenu_ = radioMenu(QStringLiteral("X-Units"), kXUnitChoices, xUnitGroup_,
                           [this](int index) { SetXUnit(index); });

    helpMenu_ = bar->addMenu(QStringLiteral("&Help"));
    add(helpMenu_, kPlotCmdHelpTopics, QStringLiteral("Help Topics"), [this] { ShowHelp(); });
    add(helpMenu_, kPlotCmdAbout, QStringLiteral("About Corvane3..."), [this] { ShowAbout(); });

    for (QMenu* menu : bar->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToShow, this, &CPlotDlg::PrepareMenus);
    }
    PrepareMenus();
}

void CPlotDlg::PrepareMenus() {
    Command(kPlotCmdLiveData)->setVisible(!fileMode_);
    Command(kPlotCmdPurge)->setVisible(!fileMode_);
    Command(kPlotCmdSignalDecay)->setVisible(!decayDisplay_);
    Command(kPlotCmdData)->setVisible(decayDisplay_);
    Command(kPlotCmdFollowFile)->setEnabled(!live_ && !shownFile_.empty());
    Command(kPlotCmdSystemSupplies)->setVisible(context_.instrumentModel.load() == kModelTq9000);
}

void CPlotDlg::SetPlotView(int view) {
    view_ = std::clamp(view, 0, static_cast<int>(kPlotViewCount) - 1);
    viewGroup_->actions().at(view_)->setChecked(true);
}

void CPlotDlg::SetXScale(int scale) {
    context_.settings.Xscale = scale;
    paused_ = false;
    ApplyScales();
}

void CPlotDlg::SetYScale(int scale) {
    context_.settings.Yscale = scale;
    ApplyScales();
}

void CPlotDlg::SetXUnit(int unit) {
    context_.settings.Xunits = unit;
    RebuildPlots();
}

void CPlotDlg::Customize() {
    PlotView& view = context_.settings.PlotViews[static_cast<std::size_t>(view_)];
    CCustomizePlotsDlg dialog(store_, context_.instrumentModel.load(), view.channels, this);
    dialog.setWindowTitle(
        QStringLiteral("Customize %1 Plots").arg(QString::fromStdString(view.displayName)));
    KeepTitleWhole(dialog);
    dialog.exec();
    view.channels = dialog.Channels();
    RebuildPlots();
}

bool CPlotDlg::SavePicture(const QString& path) {
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        QPdfWriter writer(path);
        writer.setPageSize(
            QPageSize(QSizeF(paneArea_->width(), paneArea_->height()), QPageSize::Point));
        writer.setPageMargins(QMarginsF());
        writer.setResolution(kPdfPointsPerInch);
        QPainter painter;
        if (!painter.begin(&writer)) {
            return false;
        }
        paneArea_->render(&painter);
        return painter.end();
    }
    return paneArea_->grab().save(path, "PNG");
}

void CPlotDlg::SavePictureDialog() {
    const PlotView& view = context_.settings.PlotViews[static_cast<std::size_t>(view_)];
    const QString name =
        QStringLiteral("Unit%1-%2.png")
            .arg(store_.SerialNumber())
            .arg(decayDisplay_ ? QStringLiteral("Signal-Decay") : ViewFileName(view.displayName));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Picture"), name,
                                     QStringLiteral("PNG Pictures (*.png);;PDF Documents (*.pdf)"));
    if (path.isEmpty()) {
        return;
    }
    if (!SavePicture(path)) {
        QMessageBox::warning(this, QStringLiteral("Corvane3"),
                             QStringLiteral("The picture could not be saved to %1.").arg(path));
    }
}

void CPlotDlg::Print() {
    WindowPrintHooks hooks;
    hooks.choosePrinter = printerChooser_;
    hooks.windowName = QStringLiteral("Plot");
    hooks.grab = printGrabber_;
    ShowPrintTimeBeforeTitle(this, hooks);
    hooks.page.documentName = QString::fromLatin1(kPrintDocumentName);
    hooks.page.orientation = QPageLayout::Landscape;
    hooks.page.placement = [](int width, int height) {
        const int dx = width / kPrintMarginDivisor;
        const int dy = height / kPrintMarginDivisor;
        return QRect(dx, dy, width - 2 * dx, height - 2 * dy);
    };
    PrintWindowImage(this, hooks);
}

void CPlotDlg::ShowHelp() {
    CHelpDlg help(this);
    help.exec();
}

void CPlotDlg::ShowAbout() {
    QMessageBox::about(this, QStringLiteral("About Corvane3"),
                       QStringLiteral("Corvane3 %1\nMonitor and control of a cesium-beam "
                                      "frequency standard.")
                           .arg(QCoreApplication::applicationVersion()));
}

}  // namespace corvane3
