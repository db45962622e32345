#include "gui/mainwin/MainStatusDlg.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QStatusBar>
#include <QVBoxLayout>

#include <QPrinter>

#include "core/link/MainStatusText.h"
#include "core/poll/PollingThread.h"
#include "core/telemetry/TelemetryRecorder.h"
#include "gui/common/AppIcon.h"
#include "gui/common/DesktopNotifier.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/UpdatingMessage.h"
#include "gui/common/WindowPrinter.h"
#include "gui/config/MonitoringOptionsDlg.h"
#include "gui/mainwin/TraceCommand.h"
#include "gui/serial/CommandSelectDlg.h"
#include "gui/serial/SerialSetupDlg.h"
#include "gui/settings/AlarmsDlg.h"
#include "gui/settings/ChronoBeamTelecomDlg.h"
#include "gui/settings/EthernetDlg.h"
#include "gui/settings/EventLogDlg.h"
#include "gui/settings/PpsSyncDlg.h"
#include "gui/settings/TestDiagnosticsDlg.h"
#include "gui/settings/TimeOfDayDlg.h"
#include "gui/settings/Tq9000TelecomDlg.h"
#include "gui/settings/TtlOutputDlg.h"

namespace corvane3 {

namespace {

// Status pane widths in pixels; the middle pane takes the rest.
constexpr int kPane0Width = 193;
constexpr int kPane2Width = 150;
// Value boxes fit this many monospaced characters; the fault list needs five hex pairs.
constexpr int kValueBoxCharacters = 9;
constexpr int kFaultListCharacters = 15;
constexpr int kColumnSpacing = 15;
// The right-hand column is exactly what "Less" hides.
constexpr int kRightColumnWidth = kMoreLessWidth - kColumnSpacing;

// The longest text of status pane 1.
const QString kWidestTimePane = QStringLiteral("Cesium TOD: 2000/00/00 00:00:00");

// A reading outside its warning band shows amber, outside its critical band red: the colours
// of a warning and an alarm lamp, readable with the box's black text.
const QColor kWarningBoxColour(0xff, 0xc0, 0x00);
const QColor kCriticalBoxColour(0xff, 0x40, 0x40);
// A stale value in a band: the band's colour faded halfway to white behind dark grey text, so
// that it reads as greyed and stays legible (contrast above 4.5:1 on either band).
constexpr int kStaleBandFadePercent = 50;
const QColor kStaleBandTextColour(0x40, 0x40, 0x40);

QColor Faded(const QColor& colour) {
    const auto towardsWhite = [](int channel) {
        return channel + (255 - channel) * kStaleBandFadePercent / 100;
    };
    return QColor(towardsWhite(colour.red()), towardsWhite(colour.green()),
                  towardsWhite(colour.blue()));
}

const char* const kPaneIndicators[3] = {"Comm Status...                    ", "   ",
                                        "Unit Status...        "};

QLabel* NewValueBox(QWidget* parent, const char* name) {
    auto* box = new QLabel(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont font(QStringLiteral("Monospace"));
    font.setStyleHint(QFont::TypeWriter);
    box->setFont(font);
    const int characters =
        std::string(name) == "valueFaultList" ? kFaultListCharacters : kValueBoxCharacters;
    box->setMinimumWidth(
        QFontMetrics(font).horizontalAdvance(QString(characters, QLatin1Char('0'))));
    return box;
}

// The recorder's messages over the main window, each in a box that does not wait for the user:
// the records that arrive meanwhile are written (or kept) as usual. A message that comes while
// its box is still up replaces the text there. Its failures are handed to notWritten first.
class CTelemetryWindowUi : public ITelemetryUi {
  public:
    CTelemetryWindowUi(QWidget* owner, std::function<void(const std::string&)> notWritten)
        : notWritten_(std::move(notWritten)),
          message_(owner, QStringLiteral("recorderMessage"), QMessageBox::Warning),
          notice_(owner, QStringLiteral("recorderMessage"), QMessageBox::Information) {}
    void RecordNotWritten(const std::string& reason) override { notWritten_(reason); }
    void ShowMessage(const std::string& text, const std::string& title) override {
        message_.Show(QString::fromStdString(text), QString::fromStdString(title));
    }
    void ShowNotice(const std::string& text, const std::string& title) override {
        notice_.Show(QString::fromStdString(text), QString::fromStdString(title));
    }

  private:
    std::function<void(const std::string&)> notWritten_;
    CUpdatingMessage message_;
    CUpdatingMessage notice_;
};

}  // namespace

CMainStatusDlg::~CMainStatusDlg() = default;

CMainStatusDlg::CMainStatusDlg(Corvane3App& app, CQueuedNotificationSink& notifications,
                               CPollingThread* polling, QWidget* parent)
    : QDialog(parent), app_(app) {
    setObjectName(QStringLiteral("mainStatusWindow"));
    setWindowIcon(AppIcon());
    setWindowTitle(QStringLiteral("Corvane3"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* menuBar = new QMenuBar(this);
    layout->setMenuBar(menuBar);
    menus_ = new CMainMenus(menuBar);
    trace_ = std::make_unique<CTraceCommand>(app_.serialPort, menus_->Action(kCmdTrace));
    connect(menus_, &CMainMenus::Command, this, &CMainStatusDlg::RunCommand);
    for (QMenu* menu : {menus_->FileMenu(), menus_->ViewMenu(), menus_->OutputsMenu(),
                        menus_->SystemMenu(), menus_->HelpMenu()}) {
        connect(menu, &QMenu::aboutToShow, this,
                [this] { menus_->ComposeMenus(app_.unitState.InstrumentModel); });
    }
    menus_->ComposeMenus(app_.unitState.InstrumentModel);

    // The value area keeps its full size; the viewport around it shows all of it (More) or
    // cuts off the right-hand column (Less).
    viewport_ = new QWidget(this);
    values_ = BuildValueArea();
    values_->setParent(viewport_);
    values_->adjustSize();
    viewport_->setFixedHeight(values_->height());
    layout->addWidget(viewport_, 0, Qt::AlignLeft);

    statusBar_ = new QStatusBar(this);
    statusBar_->setSizeGripEnabled(false);
    for (int pane = 0; pane < 3; ++pane) {
        panes_[pane] = new QLabel(QString::fromLatin1(kPaneIndicators[pane]), statusBar_);
        panes_[pane]->setObjectName(QStringLiteral("statusPane%1").arg(pane));
        panes_[pane]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar_->addWidget(panes_[pane], pane == 1 ? 1 : 0);
    }
    panes_[0]->setFixedWidth(kPane0Width);
    panes_[2]->setFixedWidth(kPane2Width);
    // The middle pane takes what is left, and never less than a whole time of day: the narrow
    // layout keeps the window that wide. Its text never widens the window.
    panes_[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    panes_[1]->setMinimumWidth(panes_[1]->fontMetrics().horizontalAdvance(kWidestTimePane) +
                               2 * panes_[1]->frameWidth() +
                               panes_[1]->fontMetrics().averageCharWidth());
    layout->addWidget(statusBar_);

    wideWidth_ = values_->width();
    moreView_ = false;
    SetMoreView(true);
    ShowPortPane();

    monitoring_ = new CMonitoringOptionsDlg(app_.settings, this);
    telemetryUi_ = std::make_unique<CTelemetryWindowUi>(
        this, [this](const std::string& reason) { RecordNotWritten(reason); });
    notifier_ = new CDesktopNotifier(this);
    alertSink_ = notifier_;
    recorder_ = std::make_unique<CTelemetryRecorder>(*telemetryUi_);
    serialSetup_ = new CSerialSetupDlg(app_.serialPort, app_.polling, app_.unitState, {}, this);
    commandSelect_ = new CCommandSelectDlg(app_.polling, app_.unitState, this);
    tq9000Telecom_ = new CTq9000TelecomDlg(app_.polling, this);
    chronoBeamTelecom_ = new CChronoBeamTelecomDlg(app_.polling, app_.unitState, this);
    ethernet_ = new CEthernetDlg(app_.polling, this);
    alarms_ = new CAlarmsDlg(app_.polling, app_.unitState, this);
    eventLog_ = new CEventLogDlg(app_.polling, app_.unitState, this);
    factoryEventLog_ = new CFactoryEventLogDlg(app_.polling, app_.unitState, this);
    ppsSync_ = new CPpsSyncDlg(app_.polling, this);
    ttlOutput_ = new CTtlOutputDlg(app_.polling, app_.unitState, this);
    timeOfDay_ = new CTimeOfDayDlg(app_.polling, app_.unitState, this);
    testDiagnostics_ = new CTestDiagnosticsDlg(app_.polling, this);
    polling_ = polling;
    UpdateChangeLogDirectory();

    connect(&notifications, &CQueuedNotificationSink::Notified, this,
            &CMainStatusDlg::OnNotification);
    if (polling != nullptr) {
        polling->StartBackgroundThread();
    }
}

QWidget* CMainStatusDlg::BuildValueArea() {
    std::map<std::string, std::vector<const ValueBox*>> byGroup;
    for (const ValueBox& box : MainStatusValueBoxes()) {
        byGroup[box.group].push_back(&box);
    }
    auto* area = new QWidget;
    auto* columns = new QHBoxLayout(area);
    columns->setSpacing(kColumnSpacing);
    const auto column = [&](std::initializer_list<const char*> groups) {
        auto* stack = new QVBoxLayout;
        std::vector<QGroupBox*> built;
        for (const char* group : groups) {
            built.push_back(BuildGroup(QString::fromLatin1(group), byGroup[group]));
            stack->addWidget(built.back());
        }
        stack->addStretch();
        AlignColumns(built);
        return stack;
    };
    columns->addLayout(column({"Clock Servo", "Zeeman Servo", "Gain Servo", "Microwave Power Servo",
                               "Frequency Offset"}));
    columns->addLayout(column({"CBT Supplies", "Power Supplies", "System Information"}));

    // The right-hand column sits in a frame of its own.
    auto* right = new QGroupBox(area);
    right->setObjectName(QStringLiteral("group1118"));
    right->setFixedWidth(kRightColumnWidth);
    auto* rightStack = new QVBoxLayout(right);
    QGroupBox* signalQuality = BuildSignalQualityGroup();
    rightStack->addWidget(signalQuality);
    system24Group_ = BuildGroup(QStringLiteral("System 24 VDC"), byGroup["System 24 VDC"]);
    rightStack->addWidget(system24Group_);
    QGroupBox* nominals = BuildGroup(QStringLiteral("Nominals"), byGroup["Nominals"]);
    rightStack->addWidget(nominals);
    rightStack->addStretch();
    AlignColumns({signalQuality, system24Group_, nominals});
    columns->addWidget(right, 0, Qt::AlignTop);
    system24Group_->hide();
    return area;
}

QGroupBox* CMainStatusDlg::BuildGroup(const QString& title,
                                      const std::vector<const ValueBox*>& boxes) {
    auto* group = new QGroupBox(title);
    auto* grid = new QGridLayout(group);
    int row = 0;
    for (const ValueBox* box : boxes) {
        auto* label = new QLabel(QString::fromLatin1(box->label), group);
        QLabel* value = NewValueBox(group, box->name);
        auto* unit = new QLabel(QString::fromLatin1(box->unit), group);
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        grid->addWidget(unit, row, 2);
        valueBoxes_[box->name] = value;
        companions_[box->name] = {label, unit};
        // Shown by the first record of a model that has it, never before the unit is known.
        if (box->visibility != EValueVisibility::kAlways) {
            for (QWidget* widget : {static_cast<QWidget*>(label), static_cast<QWidget*>(value),
                                    static_cast<QWidget*>(unit)}) {
                widget->hide();
            }
        }
        if (std::string(box->name) == "valuePos21V") {
            supplyLabel_ = label;
            label->setObjectName(QStringLiteral("labelMainSupply"));
        }
        ++row;
    }
    return group;
}

void CMainStatusDlg::AlignColumns(const std::vector<QGroupBox*>& groups) {
    // Labels, value boxes and units of one column of groups share their widths, so the value
    // boxes line up from one group to the next; spare room goes to the right of the units.
    constexpr int kGridColumns = 3;
    int widths[kGridColumns] = {};
    for (QGroupBox* group : groups) {
        auto* grid = static_cast<QGridLayout*>(group->layout());
        for (int row = 0; row < grid->rowCount(); ++row) {
            for (int column = 0; column < kGridColumns; ++column) {
                if (QLayoutItem* item = grid->itemAtPosition(row, column)) {
                    // A widget hidden until a model shows it still takes its room.
                    const int width = item->widget() != nullptr
                                          ? std::max(item->widget()->sizeHint().width(),
                                                     item->widget()->minimumWidth())
                                          : item->sizeHint().width();
                    widths[column] = std::max(widths[column], width);
                }
            }
        }
    }
    for (QGroupBox* group : groups) {
        auto* grid = static_cast<QGridLayout*>(group->layout());
        for (int column = 0; column < kGridColumns; ++column) {
            grid->setColumnMinimumWidth(column, widths[column]);
        }
        grid->setColumnStretch(kGridColumns, 1);
    }
}

QGroupBox* CMainStatusDlg::BuildSignalQualityGroup() {
    auto* group = new QGroupBox(QStringLiteral("SIgnal Quality"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Total"), group), 0, 1, Qt::AlignCenter);
    grid->addWidget(new QLabel(QStringLiteral("Today"), group), 0, 2, Qt::AlignCenter);
    const struct {
        const char* label;
        const char* total;
        const char* today;
    } rows[] = {{"Burps:", "valueCBTT", "valueCBTD"}, {"Hops:", "valueOCXOT", "valueOCXOD"}};
    int row = 1;
    for (const auto& r : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(r.label), group), row, 0);
        for (const char* name : {r.total, r.today}) {
            QLabel* value = NewValueBox(group, name);
            grid->addWidget(value, row, name == r.total ? 1 : 2);
            valueBoxes_[name] = value;
        }
        ++row;
    }
    return group;
}

void CMainStatusDlg::SetMoreView(bool more) {
    menus_->Action(kCmdMore)->setChecked(more);
    menus_->Action(kCmdLess)->setChecked(!more);
    if (more != moreView_) {
        const int width = more ? wideWidth_ : wideWidth_ - kMoreLessWidth;
        viewport_->setFixedWidth(width);
        moreView_ = more;
        adjustSize();
        setFixedSize(sizeHint());
    }
    UpdateTitle();
}

void CMainStatusDlg::UpdateTitle() {
    TitleInputs inputs;
    inputs.online = app_.unitState.Online;
    inputs.minimised = isMinimized();
    inputs.moreView = moreView_;
    inputs.brand = app_.BrandName();
    inputs.model = app_.unitState.InstrumentModel;
    inputs.serialNumber = app_.unitState.Snapshot().d1.serialNumber;
    inputs.portName = app_.serialPort.Settings().name;
    inputs.viaService = viaService_;
    setWindowTitle(QString::fromStdString(MainWindowTitle(inputs)));
}

void CMainStatusDlg::ShowViaService() {
    viaService_ = true;
    UpdateTitle();
    ShowPortPane();
}

void CMainStatusDlg::ShowPortPane() {
    const std::string pane =
        PortPaneText(app_.serialPort.Settings().name, app_.serialPort.LastOpenError());
    const QString text = QString::fromStdString(
        viaService_ ? "Port " + app_.serialPort.Settings().name + " " + kViaService : pane);
    panes_[1]->setText(text);
    // The pane may be too narrow for the whole reason.
    panes_[1]->setToolTip(text);
    panes_[1]->setEnabled(true);
    OfferToAttach();
}

void CMainStatusDlg::SetStale(bool stale) {
    stale_ = stale;
    for (const auto& [name, box] : valueBoxes_) {
        box->setEnabled(!stale);
    }
    panes_[1]->setEnabled(!stale);
    panes_[2]->setEnabled(!stale);
}

void CMainStatusDlg::Refresh() {
    const UnitStateData data = app_.unitState.Snapshot();
    const std::int32_t model = app_.unitState.InstrumentModel;
    UpdateTitle();
    panes_[2]->setText(QString::fromStdString(UnitStatusText(data.d1.state)));
    panes_[1]->setText(QString::fromStdString(TimePaneText(data.timeText)));
    panes_[1]->setToolTip(QString());
    const bool tq9000 = model == kModelTq9000;
    system24Group_->setVisible(tq9000);
    supplyLabel_->setText(QString::fromStdString(MainSupplyLabel(model)));
    for (const ValueBox& box : MainStatusValueBoxes()) {
        QLabel* value = valueBoxes_.at(box.name);
        const bool shown = box.visibility == EValueVisibility::kAlways || tq9000;
        value->setVisible(shown);
        for (QWidget* companion : companions_[box.name]) {
            companion->setVisible(shown);
        }
        if (shown) {
            value->setText(QString::fromStdString(ValueBoxText(box, data, model)));
        }
    }
}

void CMainStatusDlg::ShowLimits() {
    const CReadingLimitWatch& limits = watch_->Limits();
    for (std::size_t i = 0; i < limits.Limits().size(); ++i) {
        const ReadingLimit& limit = limits.Limits()[i];
        const auto box = valueBoxes_.find("value" + limit.channel);
        if (box == valueBoxes_.end()) {
            continue;
        }
        const ELimitLevel level = limits.Levels()[i];
        box->second->setProperty("limitLevel", QString::fromLatin1(LimitLevelWord(level)));
        // The palette keeps the box's sunken frame, which a style sheet would replace.
        QLabel* value = box->second;
        value->setAutoFillBackground(level != ELimitLevel::kInside);
        QPalette palette = value->parentWidget()->palette();
        if (level != ELimitLevel::kInside) {
            const QColor band =
                level == ELimitLevel::kCritical ? kCriticalBoxColour : kWarningBoxColour;
            palette.setColor(QPalette::Window, band);
            // Greyed (stale) text of the usual shade would vanish on the band's colour.
            palette.setColor(QPalette::Disabled, QPalette::Window, Faded(band));
            palette.setColor(QPalette::Disabled, QPalette::WindowText, kStaleBandTextColour);
        }
        value->setPalette(palette);
        box->second->setToolTip(
            QString::fromStdString(limit.channel + ": " + LimitBandText(limit)));
    }
}

void CMainStatusDlg::ShowLimitsProblems(const std::vector<std::string>& problems) {
    if (problems.empty()) {
        return;
    }
    QStringList lines;
    for (const std::string& problem : problems) {
        lines << QString::fromStdString(problem);
    }
    auto* pane = new QLabel(problems.size() == 1
                                ? QStringLiteral("Limits file: 1 problem")
                                : QStringLiteral("Limits file: %1 problems").arg(problems.size()),
                            statusBar_);
    pane->setObjectName(QStringLiteral("limitsProblemsPane"));
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane->setToolTip(lines.join(QLatin1Char('\n')));
    statusBar_->addPermanentWidget(pane);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Corvane3"),
                                QStringLiteral("The limits file has problems; what they name is "
                                               "left out, the rest of the file counts."),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("limitsProblems"));
    box->setInformativeText(lines.join(QLatin1Char('\n')));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

AlertUnit CMainStatusDlg::CurrentAlertUnit() const {
    AlertUnit unit;
    unit.model = app_.unitState.InstrumentModel;
    unit.serialNumber = app_.unitState.Snapshot().d1.serialNumber;
    unit.portName = app_.serialPort.Settings().name;
    return unit;
}

void CMainStatusDlg::RaiseAlert(const DesktopAlert& alert) {
    if (app_.settings.DesktopNotifications) {
        alertSink_->Raise(alert);
    }
}

void CMainStatusDlg::RecordNotWritten(const std::string& reason) {
    recordingProblem_ = QString::fromStdString(reason).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (const auto alert = alerts_.RecordingFailed(reason, CurrentAlertUnit())) {
        RaiseAlert(*alert);
    }
    if (watch_ != nullptr) {
        watch_->Recording(false, reason, CurrentAlertUnit());
    }
}

void CMainStatusDlg::ShowRecordingState(bool failing) {
    if (!failing) {
        recordingProblem_.clear();
        panes_[1]->setToolTip(QString());
        return;
    }
    // Where the time of the record would be: records not reaching their file matter more.
    const std::size_t lost = recorder_->DroppedRecords();
    const QString kept =
        lost == 0 ? QStringLiteral("Not recording (%1 kept): ").arg(recorder_->QueuedRecords())
                  : QStringLiteral("Not recording (%1 kept, %2 lost): ")
                        .arg(recorder_->QueuedRecords())
                        .arg(lost);
    const QString text = kept + recordingProblem_;
    panes_[1]->setText(text);
    panes_[1]->setToolTip(text);
}

std::string CMainStatusDlg::RecordsNotKeptText() const {
    return RecordsNotRecordedText(recorder_->QueuedRecords() + recorder_->DroppedRecords());
}

void CMainStatusDlg::Print() {
    WindowPrintHooks hooks;
    hooks.choosePrinter = printerChooser_;
    hooks.windowName = QStringLiteral("Main");
    hooks.isWide = [this] { return moreView_; };
    hooks.setWide = [this](bool wide) { SetMoreView(wide); };
    // The pane has one line: the time is shown without asctime's line end.
    // The print time is current even while the values are stale.
    hooks.showPrintTime = [this](const QString& time) {
        panes_[1]->setText(time.trimmed());
        panes_[1]->setEnabled(true);
    };
    hooks.clearPrintTime = [this] {
        panes_[1]->clear();
        panes_[1]->setEnabled(!stale_);
        if (!app_.unitState.Online) {
            ShowPortPane();
        }
    };
    // Before the first record there is nothing to show: a refresh would fill the boxes with
    // zeros and call the unit "Operating".
    hooks.refresh = [this] {
        if (recordShown_) {
            Refresh();
        }
    };
    hooks.grab = printGrabber_;
    PrintWindowImage(this, hooks);
}

void CMainStatusDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape end the program as Exit does. While the unit is being watched a stray
    // key (one meant for a message that had already closed itself) must not end years of
    // recording, so they ask first, with No as the answer a second stray key gives.
    const int key = event->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    const bool escape = key == Qt::Key_Escape && event->modifiers() == Qt::NoModifier;
    if (!enter && !escape) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (app_.settings.PollingEnabled && !ConfirmStopMonitoring()) {
        return;
    }
    accept();
}

bool CMainStatusDlg::ConfirmStopMonitoring() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Corvane3"),
                    QStringLiteral("Stop monitoring and exit Corvane3?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("stopMonitoringQuestion"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CMainStatusDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        UpdateTitle();
    }
}

}  // namespace corvane3
