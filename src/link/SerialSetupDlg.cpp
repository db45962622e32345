#include "link/SerialSetupDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "app/Corvane3App.h"
#include "link/LineSettingsWidget.h"
#include "link/ScanningDlg.h"
#include "mainwin/DialogButtonRow.h"
#include "mainwin/MainStatusDlg.h"

namespace corvane3 {

namespace {
// How long Detect waits for the polling thread to finish the attempt it is in before it puts
// the saved settings back; an attempt takes a few seconds at most.
constexpr int kSearchEndWaitMs = 15000;
constexpr int kEventSliceMs = 50;
// The port list shows a typical device path in full.
constexpr int kPortNameCharacters = 20;

std::vector<std::string> PortsOfThisMachine(const CSerialPort& port) {
    std::vector<std::string> ports;
    EnumerateComPorts(ports);
    const std::string current = CSerialPort::DevicePathForName(port.Settings().name);
    std::error_code error;
    if (std::find(ports.begin(), ports.end(), current) == ports.end() &&
        std::filesystem::exists(current, error)) {
        ports.push_back(current);
    }
    return ports;
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
        listPorts_ = [this] { return PortsOfThisMachine(port_); };
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
}

void CSerialSetupDlg::showEvent(QShowEvent* event) {
    {
        const QSignalBlocker block(portList_);
        portList_->clear();
        for (const std::string& port : listPorts_()) {
            portList_->addItem(QString::fromStdString(port));
        }
    }
    LoadFromPort();
    if (unit_.InstrumentModel == kModelTq9000) {
        line_->RemoveBaud1200();
    }
    apply_->setEnabled(false);
    QDialog::showEvent(event);
}

void CSerialSetupDlg::LoadFromPort() {
    const SerialLineSettings settings = port_.Settings();
    {
        const QSignalBlocker block(portList_);
        const int index = portList_->findText(
            QString::fromStdString(CSerialPort::DevicePathForName(settings.name)));
        portList_->setCurrentIndex(std::max(index, 0));
    }
    line_->Load(settings);
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
    QElapsedTimer waited;
    waited.start();
    std::unique_lock exchange(port_.ExchangeMutex(), std::defer_lock);
    while (!exchange.try_lock() && waited.elapsed() < kSearchEndWaitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
    }
    port_.SetSettings(saved);
}

void CSerialSetupDlg::ApplyChanges() {
    SerialLineSettings settings = port_.Settings();
    const QString name = portList_->currentText().trimmed();
    if (!name.isEmpty()) {
        settings.name = name.toStdString();
    }
    line_->Store(settings);
    port_.SetSettings(settings);
    shared_.PortReset = true;
    accept();
}

void InstallSerialSetup(CMainStatusDlg& window, Corvane3App& app) {
    auto* dialog = new CSerialSetupDlg(app.serialPort, app.polling, app.unitState, {}, &window);
    auto open = std::make_shared<bool>(false);
    window.SetCommandHandler(kCmdSerialPort, [dialog, open] {
        *open = true;
        dialog->exec();
        *open = false;
    });
    const auto follow = [dialog, open] {
        if (*open) {
            dialog->LoadFromPort();
        }
    };
    window.AddNotificationObserver(kNotifyAutoDetectProgress, follow);
    for (int code : {kNotifyAutoDetectFound, kNotifyAutoDetectNotFound}) {
        window.AddNotificationObserver(code, [dialog, follow] {
            follow();
            dialog->EndScanning();
        });
    }
}

}  // namespace corvane3
