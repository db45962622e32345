#include "gui/spectrum/SpectrumDlg.h"

#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/base/CLocale.h"
#include "core/spectrum/DdsWord.h"
#include "core/spectrum/SpectrumFile.h"
#include "gui/common/AppIcon.h"
#include "gui/common/WindowPrinter.h"
#include "gui/plot/CursorReadout.h"
#include "gui/plot/TracePlot.h"

namespace corvane3 {

namespace {

constexpr char kDefaultCaption[] = "Corvane3";
constexpr char kPrintDocumentName[] = "Corvane3 Cesium Spectrum";
constexpr char kSeriesName[] = "mV";
// Y axis limits a new window starts with, mV: the detector's whole range.
constexpr double kInitialSignalTop = 5000.0;
constexpr double kInitialSignalBottom = 0.0;
// Where "Cursors" first puts the two cursors: beyond any sweep, so each lands on an end point.
constexpr double kCursorFarHz = 1000000.0;
// Room above and below the data when the axes are fitted to it.
constexpr double kFitMargin = 0.05;
// Edits of the two small dialogs read at most this many characters.
constexpr int kEditLimit = 40;
// The picture on the page: a tenth of the page in from the top left, four fifths of it in size.
constexpr int kPrintOffsetDivisor = 10;
constexpr int kPrintShrinkDivisor = 5;

// Side panel proportions, from the client width and height.
constexpr double kColumnShare = 0.1;
constexpr int kColumnMin = 50;
constexpr int kColumnMax = 75;
constexpr double kGutterFactor = 1.1;
constexpr double kRowShare = 0.06;
constexpr int kRowMin = 15;
constexpr int kRowMax = 25;
constexpr double kInnerShare = 0.9;
constexpr double kInnerMarginShare = 0.05;

class CVectorPoints : public IPlotPoints {
  public:
    CVectorPoints(std::shared_ptr<const std::vector<double>> x,
                  std::shared_ptr<const std::vector<double>> y, std::int64_t count)
        : x_(std::move(x)),
          y_(std::move(y)),
          count_(std::clamp<std::int64_t>(
              count, 0, static_cast<std::int64_t>(std::min(x_->size(), y_->size())))) {}
    std::int64_t Count() const override { return count_; }
    double X(std::int64_t index) const override { return (*x_)[static_cast<std::size_t>(index)]; }
    double Y(std::int64_t index) const override { return (*y_)[static_cast<std::size_t>(index)]; }
    XKey SharedX() const override { return {x_.get(), 0, 0}; }

  private:
    std::shared_ptr<const std::vector<double>> x_;
    std::shared_ptr<const std::vector<double>> y_;
    std::int64_t count_;
};

std::shared_ptr<const IPlotPoints> Points(std::shared_ptr<const std::vector<double>> x,
                                          std::vector<double> y, std::int64_t count) {
    return std::make_shared<CVectorPoints>(
        std::move(x), std::make_shared<const std::vector<double>>(std::move(y)), count);
}

}  // namespace

// True when the edit holds a decimal number in the C form; else says so, in the window's
// warning box, and puts the cursor back in the edit.
bool AcceptNumber(QWidget* dialog, QLineEdit* edit, const QString& field) {
    if (ParseDecimal(edit->text().toStdString())) {
        return true;
    }
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kDefaultCaption),
                    QStringLiteral("%1 must be a number of Hz, such as -12.5").arg(field),
                    QMessageBox::Ok, dialog);
    box.exec();
    edit->setFocus();
    return false;
}

// "Arbitrary DDS Setting": the offset from the clock peak. Apply stores it; Cancel keeps the
// one before.
class CArbitraryDdsDlg : public QDialog {
  public:
    CArbitraryDdsDlg(double offset, QWidget* parent) : QDialog(parent) {
        setWindowTitle(QStringLiteral("Arbitrary DDS Setting"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(
            new QLabel(QStringLiteral("Enter DDS frequency as offset from     Clock Ramsey peak "
                                      "(9192631770.872 Hz):"),
                       this));
        auto* row = new QHBoxLayout;
        edit_ = new QLineEdit(QString::asprintf("%lf", offset), this);
        edit_->setObjectName(QStringLiteral("offset"));
        edit_->setMaxLength(kEditLimit);
        row->addWidget(edit_);
        row->addWidget(new QLabel(QStringLiteral("Hz"), this));
        layout->addLayout(row);
        auto* buttons = new QDialogButtonBox(this);
        buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::AcceptRole);
        buttons->addButton(QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
    }
    // Apply closes the dialog only on a number.
    void accept() override {
        if (AcceptNumber(this, edit_, QStringLiteral("Offset"))) {
            QDialog::accept();
        }
    }
    // The offset the edit holds; meant once the dialog was accepted.
    double Offset() const { return ParseDecimal(edit_->text().toStdString()).value_or(0.0); }

  private:
    QLineEdit* edit_;
};

// "Advanced Features": the Zeeman frequency the next run is planned with.
class CAdvancedFeaturesDlg : public QDialog {
  public:
    CAdvancedFeaturesDlg(double zeeman, QWidget* parent) : QDialog(parent) {
        setWindowTitle(QStringLiteral("Advanced Features"));
        auto* layout = new QVBoxLayout(this);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(QStringLiteral("Zeeman Frequency"), this));
        edit_ = new QLineEdit(QString::asprintf("%.4f", zeeman), this);
        edit_->setObjectName(QStringLiteral("zeeman"));
        edit_->setMaxLength(kEditLimit);
        row->addWidget(edit_);
        layout->addLayout(row);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
    }
    void accept() override {
        if (AcceptNumber(this, edit_, QStringLiteral("Zeeman Frequency"))) {
            QDialog::accept();
        }
    }
    double Zeeman() const {
        return ParseDecimal(edit_->text().toStdString()).value_or(kDefaultZeemanFrequencyHz);
    }

  private:
    QLineEdit* edit_;
};

CSpectrumDlg::CSpectrumDlg(SpectrumWindowContext context, ESweepMode mode, const QString& title,
                           ArbitraryDdsOffset& arbitrary, QWidget* parent)
    : QDialog(parent), context_(context), mode_(mode), arbitrary_(&arbitrary) {
    Build();
    setWindowTitle(title);
    OpenLive();
}

CSpectrumDlg::CSpectrumDlg(SpectrumWindowContext context, std::string path, QWidget* parent)
    : QDialog(parent), context_(context), viewer_(true), initialFile_(std::move(path)) {
    Build();
    setWindowTitle(QStringLiteral("Cs Spectrum"));
}

CSpectrumDlg::~CSpectrumDlg() = default;

void CSpectrumDlg::Build() {
    setWindowIcon(AppIcon());
    setObjectName(QStringLiteral("spectrumWindow"));
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QMenuBar(this);
    layout->setMenuBar(bar);
    client_ = new QWidget(this);
    client_->installEventFilter(this);
    layout->addWidget(client_, 1);

    plot_ = new TracePlot(client_);
    plot_->setObjectName(QStringLiteral("plot1097"));
    plot_->SetLabel(TracePlot::kXTitle, QStringLiteral("Detuning"));
    plot_->SetLabel(TracePlot::kXUnit, QStringLiteral("Hz"));
    plot_->SetLabel(TracePlot::kYTitle, QStringLiteral("Signal"));
    plot_->SetLabel(TracePlot::kYUnit, QStringLiteral("mV"));
    connect(plot_, &TracePlot::MouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint) { OnMouseDown(button); });
    readout_ = new CCursorReadout(this);
    readout_->setVisible(false);
    layout->addWidget(readout_);
    connect(plot_, &TracePlot::CursorsMoved, this, &CSpectrumDlg::RefreshReadout);
    connect(this, &CSpectrumDlg::SpectrumDrawn, this, &CSpectrumDlg::RefreshReadout);

    const auto label = [this](const char* text) {
        auto* l = new QLabel(QString::fromLatin1(text), client_);
        return l;
    };
    const auto list = [this](const auto& choices, const char* name) {
        auto* combo = new QComboBox(client_);
        combo->setObjectName(QString::fromLatin1(name));
        for (const SpectrumChoice& choice : choices) {
            combo->addItem(QString::fromLatin1(choice.label), choice.value);
        }
        return combo;
    };
    sweepGroup_ = new QGroupBox(QStringLiteral("Sweep"), client_);
    averageGroup_ = new QGroupBox(QStringLiteral("Average"), client_);
    centerLabel_ = label("Center");
    center_ = list(kCenterChoices, "center");
    widthLabel_ = label("Width");
    width_ = list(kWidthChoices, "width");
    stepsLabel_ = label("Steps");
    steps_ = list(kStepsChoices, "steps");
    stepLabel_ = label("Step:");
    stepBox_ = new QLineEdit(client_);
    stepBox_->setObjectName(QStringLiteral("step"));
    stepBox_->setReadOnly(true);
    ntotLabel_ = label("Ntot");
    ntot_ = list(kNtotChoices, "ntot");
    nLabel_ = label("N:");
    nBox_ = new QLineEdit(client_);
    nBox_->setObjectName(QStringLiteral("n"));
    nBox_->setReadOnly(true);
    go_ = new QPushButton(QStringLiteral("Go!"), client_);
    go_->setObjectName(QStringLiteral("go"));
    go_->setAutoDefault(false);
    connect(go_, &QPushButton::clicked, this, &CSpectrumDlg::GoOrAbort);
    connect(width_, &QComboBox::currentIndexChanged, this, [this] { SetWidthLimits(); });
    connect(ntot_, &QComboBox::currentIndexChanged, this, [this] {
        if (!viewer_) {
            context_.acquisition.SetNtot(NtotChoice());
        }
    });
    // The sweep's controls come before the plot in the tab order, as on the panel.
    for (QWidget* panel : std::initializer_list<QWidget*>{
             sweepGroup_, averageGroup_, centerLabel_, center_, widthLabel_, width_, stepsLabel_,
             steps_, stepLabel_, stepBox_, ntotLabel_, ntot_, nLabel_, nBox_, go_}) {
        panel->setVisible(!viewer_);
        if (panel != sweepGroup_ && panel != averageGroup_) {
            panel->raise();
        }
    }

    BuildMenus();
    plot_->SetViewport(-kWidthChoices[kInitialWidthChoice].value / 2.0,
                       kWidthChoices[kInitialWidthChoice].value / 2.0, kInitialSignalTop,
                       kInitialSignalBottom);
    plot_->ApplyViewport();
    resize(800, 500);
}

void CSpectrumDlg::BuildMenus() {
    auto* bar = static_cast<QMenuBar*>(layout()->menuBar());
    const auto add = [this](QMenu* menu, int id, const QString& text, auto handler) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    add(file, kCmdOpen, QStringLiteral("Open..."), [this] { OpenDialog(); });
    add(file, kCmdSave, QStringLiteral("Save..."), [this] { SaveDialog(); });
    add(file, kCmdPrint, QStringLiteral("Print..."), [this] { Print(); });
    if (!viewer_) {
        add(file, kCmdOptions, QStringLiteral("Options..."), [this] { AdvancedFeatures(); });
    }
    add(file, kCmdExit, QStringLiteral("Exit"), [this] { reject(); });
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    add(view, kCmdCursors, QStringLiteral("Cursors"), [this] {
        ToggleCursors();
    })->setCheckable(true);
    ddsMenu_ = bar->addMenu(QStringLiteral("Set DDS"));
    auto* group = new QActionGroup(this);
    for (std::size_t i = 0; i < kDdsSettingLabels.size(); ++i) {
        ddsItems_[i] = add(ddsMenu_, kCmdFirstDds + static_cast<int>(i),
                           QString::fromLatin1(kDdsSettingLabels[i]),
                           [this, i] { SetDds(static_cast<int>(i)); });
        ddsItems_[i]->setCheckable(true);
        ddsItems_[i]->setActionGroup(group);
    }
    // Without an instrument there is nothing to set.
    ddsMenu_->setEnabled(!viewer_);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    add(help, kCmdAbout, QStringLiteral("About Corvane3..."), [this] {
        QMessageBox::about(this, QStringLiteral("About Corvane3"),
                           QStringLiteral("Corvane3 %1\nMonitor and control of a cesium-beam "
                                          "frequency standard.")
                               .arg(QCoreApplication::applicationVersion()));
    });
}

QAction* CSpectrumDlg::CommandAction(int id) const {
    for (QAction* action : findChildren<QAction*>()) {
        if (action->data().toInt() == id && action->data().isValid()) {
            return action;
        }
    }
    return nullptr;
}

void CSpectrumDlg::OpenLive() {
    context_.acquisition.Open(mode_);
    center_->setCurrentIndex(static_cast<int>(kInitialCenterChoice));
    width_->setCurrentIndex(static_cast<int>(kInitialWidthChoice));
    steps_->setCurrentIndex(static_cast<int>(kInitialStepsChoice));
    ntot_->setCurrentIndex(static_cast<int>(kInitialNtotChoice));
    SetWidthLimits();
    ResetSeries();
    DrawSpectrum(context_.acquisition.Data(), 1, true);
}

SweepParameters CSpectrumDlg::Parameters() const {
    SweepParameters parameters;
    parameters.centerMf = center_->currentData().toInt();
    parameters.widthHz = width_->currentData().toInt();
    parameters.pointCount = steps_->currentData().toInt() + 1;
    return parameters;
}

int CSpectrumDlg::NtotChoice() const {
    return ntot_->currentData().toInt();
}

void CSpectrumDlg::SetWidthLimits() {
    const double half = width_->currentData().toInt() / 2.0;
    const QCPRange y = plot_->yAxis->range();
    plot_->SetViewport(-half, half, y.upper, y.lower);
    plot_->ApplyViewport();
}

bool CSpectrumDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) {
        LayoutPanel();
    }
    return QDialog::eventFilter(watched, event);
}

void CSpectrumDlg::LayoutPanel() {
    const int clientWidth = client_->width();
    const int clientHeight = client_->height();
    if (viewer_) {
        plot_->setGeometry(0, 0, clientWidth, clientHeight);
        return;
    }
    // The column's limits are for a small dialog font: it never gets narrower than the widest
    // list needs to show its items whole.
    int widest = 0;
    for (const QComboBox* list : {center_, width_, steps_, ntot_}) {
        widest = std::max(widest, list->sizeHint().width());
    }
    const int columnMin =
        std::max(kColumnMin, static_cast<int>(std::ceil(widest / kInnerShare)) + 1);
    const int cw = std::clamp(static_cast<int>(clientWidth * kColumnShare), columnMin,
                              std::max(kColumnMax, columnMin));
    const int g = static_cast<int>(cw * kGutterFactor);
    const int r = std::clamp(static_cast<int>(clientHeight * kRowShare), kRowMin, kRowMax);
    const auto at = [r](double rows) { return static_cast<int>(r * rows); };
    plot_->setGeometry(0, 0, clientWidth - g, clientHeight);
    const int x0 = clientWidth - cw - (g - cw) / 2;
    go_->setGeometry(x0, clientHeight - at(1.1), cw, r);
    sweepGroup_->setGeometry(x0, 0, cw, at(8.5));
    averageGroup_->setGeometry(x0, at(8.5), cw, 4 * r);
    const int x1 = x0 + static_cast<int>(cw * kInnerMarginShare);
    const int w = static_cast<int>(cw * kInnerShare);
    const int h = w / 2;
    const auto row = [&](QWidget* widget, double rows) { widget->setGeometry(x1, at(rows), w, r); };
    row(centerLabel_, 0.5);
    row(center_, 1.5);
    row(widthLabel_, 2.5);
    row(width_, 3.5);
    row(stepsLabel_, 4.5);
    row(steps_, 5.5);
    row(ntotLabel_, 9.0);
    row(ntot_, 10.0);
    stepLabel_->setGeometry(x1, at(7.0), h, at(0.9));
    stepBox_->setGeometry(x1 + h, at(7.0), h, at(0.9));
    nLabel_->setGeometry(x1, at(11.0), h, r);
    nBox_->setGeometry(x1 + h, at(11.5), h, at(0.9));
}

void CSpectrumDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    LayoutPanel();
    if (viewer_ && !initialLoaded_) {
        initialLoaded_ = true;
        // Loaded from the event loop, so that the window is on screen behind any message.
        QMetaObject::invokeMethod(
            this,
            [this] {
                LoadFile(initialFile_);
                emit InitialLoadDone();
            },
            Qt::QueuedConnection);
    }
}

void CSpectrumDlg::SetRunning(bool running) {
    // The items too, so that nothing reaches them while the menu is grayed.
    ddsMenu_->setEnabled(!running && !viewer_);
    for (QAction* item : ddsItems_) {
        item->setEnabled(!running && !viewer_);
    }
    center_->setEnabled(!running);
    width_->setEnabled(!running);
    steps_->setEnabled(!running);
    go_->setText(running ? QStringLiteral("Abort!") : QStringLiteral("Go!"));
}

void CSpectrumDlg::ResetSeries() {
    plot_->ClearSeries();
    const auto none = std::make_shared<const std::vector<double>>(1, 0.0);
    plot_->AddSeries(QString::fromLatin1(kSeriesName), Points(none, {0.0}, 1));
    plot_->AddSeries(QString::fromLatin1(kSeriesName), Points(none, {0.0}, 1));
}

void CSpectrumDlg::DrawSpectrum(const SpectrumData& data, int pointsAcquired, bool average) {
    if (plot_->SeriesCount() < 2) {
        ResetSeries();
    }
    const auto detuning = std::make_shared<const std::vector<double>>(data.detuning);
    plot_->Series(0)->SetPoints(Points(detuning, data.signal, pointsAcquired));
    if (average) {
        plot_->Series(1)->SetPoints(
            Points(detuning, data.average, static_cast<std::int64_t>(data.average.size())));
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
    emit SpectrumDrawn();
}

void CSpectrumDlg::FitViewport(const SpectrumData& data) {
    if (data.detuning.empty()) {
        return;
    }
    const auto [left, right] = std::minmax_element(data.detuning.begin(), data.detuning.end());
    ValueRange y;
    for (std::size_t i = 0; i < data.average.size(); ++i) {
        y.Add(data.average[i]);
        y.Add(data.signal[i]);
    }
    if (y.Empty()) {
        return;
    }
    const double margin = std::max((y.max - y.min) * kFitMargin, 1.0);
    plot_->SetViewport(*left, *right, y.max + margin, y.min - margin);
    plot_->ApplyViewport();
}

void CSpectrumDlg::OnSweepProgress() {
    if (viewer_) {
        return;
    }
    const SweepProgress progress = context_.acquisition.HandleProgress();
    const SpectrumData data = context_.acquisition.Data();
    stepBox_->setText(QString::number(progress.step));
    if (progress.sweepCompleted && mode_ == ESweepMode::kHost) {
        nBox_->setText(QString::number(progress.completedSweeps));
    }
    if (progress.runEnded) {
        SetRunning(false);
    }
    DrawSpectrum(data, progress.pointsAcquired, progress.sweepCompleted);
    if (progress.rescale) {
        FitViewport(data);
    }
    repaint();
    if (!progress.closingLine.empty()) {
        QMessageBox box(QMessageBox::Information, QString::fromLatin1(kDefaultCaption),
                        QString::fromStdString(progress.closingLine), QMessageBox::Ok, this);
        box.exec();
    }
}

void CSpectrumDlg::GoOrAbort() {
    if (viewer_) {
        return;
    }
    CSpectrumAcquisition& acquisition = context_.acquisition;
    if (acquisition.IsRunning()) {
        acquisition.Abort();
        // A host sweep stops at once; an instrument sweep ends on the unit's closing line.
        if (mode_ == ESweepMode::kHost) {
            SetRunning(false);
        }
        return;
    }
    if (!acquisition.Start(Parameters(), NtotChoice())) {
        return;
    }
    SetRunning(true);
    nBox_->setText(QStringLiteral("0"));
    stepBox_->clear();
    ResetSeries();
    DrawSpectrum(acquisition.Data(), 0, false);
}

void CSpectrumDlg::ToggleCursors() {
    cursors_ = !cursors_;
    if (QAction* item = CommandAction(kCmdCursors)) {
        item->setChecked(cursors_);
    }
    plot_->SetCursorsShown(cursors_);
    if (cursors_) {
        plot_->SelectCursor(1);
        plot_->MoveCursorTo(kCursorFarHz);
        plot_->SelectCursor(0);
        plot_->MoveCursorTo(-kCursorFarHz);
    }
    RefreshReadout();
}

void CSpectrumDlg::RefreshReadout() {
    const CTraceSeries* sweep = plot_->Series(0);
    const std::int64_t count = sweep != nullptr ? sweep->Trace().Size() : 0;
    const bool shown = cursors_ && count > 0;
    readout_->setVisible(shown);
    if (!shown) {
        return;
    }
    const IPlotPoints& points = sweep->Points();
    const std::int64_t i1 = std::clamp<std::int64_t>(plot_->CursorIndex(0), 0, count - 1);
    const std::int64_t i2 = std::clamp<std::int64_t>(plot_->CursorIndex(1), 0, count - 1);
    readout_->Show({ValueColumn(QStringLiteral("Detuning [Hz]"), points.X(i1), points.X(i2)),
                    ValueColumn(QStringLiteral("Signal [mV]"), points.Y(i1), points.Y(i2))});
}

void CSpectrumDlg::OnMouseDown(Qt::MouseButton button) {
    if (button == Qt::LeftButton) {
        plot_->SelectCursor(0);
    } else if (button == Qt::RightButton) {
        plot_->SelectCursor(1);
    }
}

void CSpectrumDlg::SetDds(int item) {
    if (viewer_ || item < 0 || item >= static_cast<int>(ddsItems_.size())) {
        return;
    }
    ddsItems_[static_cast<std::size_t>(item)]->setChecked(true);
    const auto setting = static_cast<EDdsSetting>(item);
    if (setting == EDdsSetting::kArbitrary) {
        // The command goes out whichever button closes the dialog; Cancel keeps the offset.
        CArbitraryDdsDlg dialog(arbitrary_->hz, this);
        if (dialog.exec() == QDialog::Accepted) {
            arbitrary_->hz = dialog.Offset();
        }
        // Closed with the window (a termination request): its closing command is the last.
        if (closed_) {
            return;
        }
    }
    context_.acquisition.SetDds(
        DdsSettingHz(setting, context_.acquisition.ZeemanFrequency, arbitrary_->hz));
}

void CSpectrumDlg::AdvancedFeatures() {
    CAdvancedFeaturesDlg dialog(context_.acquisition.ZeemanFrequency, this);
    if (dialog.exec() == QDialog::Accepted) {
        context_.acquisition.ZeemanFrequency = dialog.Zeeman();
    }
}

std::string CSpectrumDlg::SuggestedFileName() const {
    return SuggestedSpectrumFileName(context_.unitState.Snapshot().d1.serialNumber,
                                     center_->currentData().toInt());
}

bool CSpectrumDlg::SaveTo(const std::string& path) {
    const SpectrumData data = context_.acquisition.Data();
    std::string message;
    if (!WriteSpectrumFile(path, data.detuning, data.average, data.detuning.size(), message)) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kDefaultCaption),
                        QString::fromStdString(message), QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    return true;
}

void CSpectrumDlg::SaveDialog() {
    const QString start = QString::fromStdString(context_.settings.DatafileDirectory);
    QFileDialog dialog(this, QStringLiteral("Save Spectrum"),
                       start.isEmpty()
                           ? QString()
                           : start + QLatin1Char('/') + QString::fromStdString(SuggestedFileName()),
                       QStringLiteral("Corvane3 Spectrum Files (*.css);;All Files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("css"));
    dialog.selectFile(QString::fromStdString(SuggestedFileName()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    SaveTo(dialog.selectedFiles().first().toStdString());
}

bool CSpectrumDlg::LoadFile(const std::string& path) {
    SpectrumPoints points;
    const SpectrumFileResult result = ReadSpectrumFile(path, points);
    if (result.status == ESpectrumFileRead::kCannotOpen) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kDefaultCaption),
                        QString::fromStdString(result.message), QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    context_.acquisition.LoadPoints(points.detuning, points.signal);
    setWindowTitle(QStringLiteral("File: %1").arg(QString::fromStdString(path)));
    SetRunning(false);
    const SpectrumData data = context_.acquisition.Data();
    stepBox_->setText(QString::number(std::max(data.pointsAcquired - 1, 0)));
    nBox_->setText(QString::number(data.completedSweeps));
    ResetSeries();
    DrawSpectrum(data, data.pointsAcquired, true);
    FitViewport(data);
    if (result.status == ESpectrumFileRead::kInvalidData) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kDefaultCaption),
                        QString::fromStdString(result.message), QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    return true;
}

void CSpectrumDlg::OpenDialog() {
    CSpectrumAcquisition& acquisition = context_.acquisition;
    if (!viewer_ && acquisition.IsRunning() && mode_ == ESweepMode::kInstrument) {
        acquisition.Abort();  // the unit stops sending points
    }
    acquisition.Halt();
    SetRunning(false);
    QFileDialog dialog(this, QStringLiteral("Select a Cesium Spectrum File"),
                       QString::fromStdString(context_.settings.DatafileDirectory),
                       QStringLiteral("Corvane3 Cesium Spectrum Files (*.css);;All Files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    LoadFile(dialog.selectedFiles().first().toStdString());
}

bool CSpectrumDlg::Confirm(const QString& text, const QString& title) {
    if (confirm_) {
        return confirm_(text, title);
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                    this);
    question_ = &box;
    return box.exec() == QMessageBox::Ok;
}

void CSpectrumDlg::Terminate() {
    terminating_ = true;
    if (question_) {
        question_->done(QMessageBox::Ok);  // the reject() waiting on it goes on to close
        return;
    }
    reject();
}

void CSpectrumDlg::reject() {
    // A close asked for while the closing question shows (a termination request closing every
    // window) is the same close, not a second one.
    if (rejecting_) {
        return;
    }
    const QScopedValueRollback<bool> rejecting(rejecting_, true);
    CSpectrumAcquisition& acquisition = context_.acquisition;
    acquisition.Halt();
    if (viewer_) {
        QDialog::reject();
        return;
    }
    SetRunning(false);
    if (mode_ == ESweepMode::kHost && !terminating_ &&
        !Confirm(QStringLiteral("This will reboot CFS.\nAre you sure?"),
                 QStringLiteral("Return to Corvane3"))) {
        return;
    }
    closed_ = true;
    acquisition.Close();
    QDialog::reject();
}

void CSpectrumDlg::Print() {
    WindowPrintHooks hooks;
    hooks.choosePrinter = printerChooser_;
    hooks.windowName = QStringLiteral("Spectrum");
    hooks.grab = printGrabber_;
    ShowPrintTimeBeforeTitle(this, hooks);
    hooks.page.documentName = QString::fromLatin1(kPrintDocumentName);
    hooks.page.orientation = QPageLayout::Landscape;
    hooks.page.placement = [](int width, int height) {
        return QRect(width / kPrintOffsetDivisor, height / kPrintOffsetDivisor,
                     width - width / kPrintShrinkDivisor, height - height / kPrintShrinkDivisor);
    };
    PrintWindowImage(this, hooks);
}

}  // namespace corvane3
