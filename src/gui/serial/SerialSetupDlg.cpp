#include "gui/serial/SerialSetupDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "core/link/NetworkPortName.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/HeldInputWait.h"
#include "gui/common/WholeTitle.h"
#include "gui/serial/LineSettingsWidget.h"
#include "gui/serial/ScanningDlg.h"

namespace corvane3 {

namespace {
// How long Detect waits for the polling thread to finish the attempt it is in before it puts
// the saved settings back; an attempt takes a few seconds at most.
constexpr std::chrono::milliseconds kSearchEndWait{15000};
// The port list shows a typical device path in full.
constexpr int kPortNameCharacters = 20;

std::vector<std::string> PortsOfThisMachine() {
    std::vector<std::string> ports;
    EnumerateComPorts(ports);
    return ports;
}

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}
}  // namespace

CSerialSetupDlg::CSerialSetupDlg(CSerialPort& port, CPollingShared& shared, const CUnitState& unit,
                                 PortLister listPorts, QWidget* parent)
    : QDialog(parent),
      port_(port),
      shared_(shared),
      unit_(unit),
      listPorts_(std::move(listPorts)),
      scanning_(new CScanningDlg(shared, this)) {
    if (!listPorts_) {
        listPorts_ = PortsOfThisMachine;
    }
    setWindowTitle(QStringLiteral("Serial Communications Setup"));
    setObjectName(QStringLiteral("serialSetupDialog"));

    auto* settingsGroup = new QGroupBox(QStringLiteral("Port Settings"), this);
    auto* settingsLayout = new QVBoxLayout(settingsGroup);
    portList_ = new QComboBox;
    portList_->setObjectName(QStringLiteral("portName"));
    // Any device path can be typed, for a port the machine does not list.
    portList_->setEditable(true);
    portList_->setInsertPolicy(QComboBox::NoInsert);
    portList_->setMinimumContentsLength(kPortNameCharacters);
    line_ = new CLineSettingsWidget(settingsGroup, portList_);
    settingsLayout->addWidget(line_);

    auto* detectGroup = new QGroupBox(QStringLiteral("Auto-Detect"), this);
    auto* detectLayout = new QHBoxLayout(detectGroup);
    detectLayout->addWidget(new QLabel(QStringLiteral("Search for valid settings:"), detectGroup));
    detect_ = new QPushButton(QStringLiteral("Detect"), detectGroup);
    detect_->setObjectName(QStringLiteral("detect"));
    detect_->setAutoDefault(false);
    detectLayout->addWidget(detect_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(settingsGroup);
    layout->addWidget(detectGroup);
    layout->addLayout(buttons.layout);

    const auto enableApply = [this] { apply_->setEnabled(true); };
    connect(line_, &CLineSettingsWidget::Changed, this, enableApply);
    connect(portList_, &QComboBox::currentTextChanged, this, enableApply);
    connect(detect_, &QPushButton::clicked, this, &CSerialSetupDlg::Detect);
    connect(apply_, &QPushButton::clicked, this, &CSerialSetupDlg::ApplyChanges);
    KeepTitleWhole(*this);
}

void CSerialSetupDlg::showEvent(QShowEvent* event) {
    // Every opening starts as a new dialog would; a restore from minimised does not.
    if (!event->spontaneous()) {
        FillPortList();
        line_->SetBaudRates(unit_.InstrumentModel != kModelTq9000);
        LoadFromPort();
        apply_->setEnabled(false);
    }
    QDialog::showEvent(event);
}

void CSerialSetupDlg::FillPortList() {
    const QSignalBlocker block(portList_);
    portList_->clear();
    // Each entry carries the name Apply stores.
    for (const std::string& port : listPorts_()) {
        portList_->addItem(FromStd(port), FromStd(port));
    }
}

void CSerialSetupDlg::SelectPort(const std::string& name) {
    const QSignalBlocker block(portList_);
    int index = portList_->findData(FromStd(name));
    if (index < 0) {
        index = portList_->findData(FromStd(CSerialPort::DevicePathForName(name)));
    }
    if (index < 0) {
        const std::string path = CSerialPort::DevicePathForName(name);
        std::error_code error;
        // A network port has no device node; whether it answers shows when it is opened.
        const bool present = IsNetworkPortName(name) || std::filesystem::exists(path, error);
        portList_->addItem(FromStd(path) + (present ? QString() : QStringLiteral(" (not present)")),
                           FromStd(name));
        index = portList_->count() - 1;
    }
    portList_->setCurrentIndex(index);
}

void CSerialSetupDlg::LoadFromPort() {
    const SerialLineSettings settings = port_.Settings();
    SelectPort(settings.name);
    line_->Load(settings);
}

void CSerialSetupDlg::ShowSearchProgress() {
    scanning_->ShowAttempt(port_.Settings());
}

bool CSerialSetupDlg::SearchCancelled() const {
    return scanning_->Cancelled();
}

void CSerialSetupDlg::EndScanning() {
    if (scanningOpen_) {
        scanning_->End();
    }
}

void CSerialSetupDlg::Detect() {
    const SerialLineSettings saved = port_.Settings();
    scanningOpen_ = true;
    shared_.AutoDetect = true;
    scanning_->ShowAttempt(saved);
    scanning_->exec();
    scanningOpen_ = false;
    RestoreAfterSearch(saved);
    shared_.PortReset = true;
    apply_->setEnabled(true);
}

void CSerialSetupDlg::RestoreAfterSearch(const SerialLineSettings& saved) {
    // The polling thread holds the exchange lock for the whole search, and a cancelled search
    // still finishes its current attempt, which sets the port's settings. Waiting for the lock
    // makes sure the saved settings are put back after the last attempt, not before it.
    // Meanwhile the dialog takes no input: an Apply made now would be undone by the restore.
    setEnabled(false);
    std::unique_lock exchange(port_.ExchangeMutex(), std::defer_lock);
    WaitWhile([&exchange] { return !exchange.try_lock(); }, kSearchEndWait);
    port_.SetSettings(saved);
    setEnabled(true);
}

void CSerialSetupDlg::ApplyChanges() {
    SerialLineSettings settings = port_.Settings();
    // A listed entry gives the name it carries; a typed path is taken as typed.
    const int index = portList_->currentIndex();
    const bool listed = index >= 0 && portList_->currentText() == portList_->itemText(index);
    const QString name =
        listed ? portList_->itemData(index).toString() : portList_->currentText().trimmed();
    if (!name.isEmpty()) {
        settings.name = name.toStdString();
    }
    line_->Store(settings);
    port_.SetSettings(settings);
    shared_.PortReset = true;
    accept();
}

}  // namespace corvane3
