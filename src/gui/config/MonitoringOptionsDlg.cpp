#include "gui/config/MonitoringOptionsDlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/config/TelemetryPath.h"
#include "gui/common/WholeTitle.h"

namespace corvane3 {

namespace {

constexpr char kBrowseTitle[] = "Set the destination directory";
// Wide enough for "100000" with room to spare; the rate edit is short beside its labels.
constexpr int kRateEditCharacters = 8;
// The directory and template edits show a typical path without scrolling.
constexpr int kPathEditCharacters = 36;

QString DefaultChooseFolder(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, title, start);
}

// A folder is bytes: shown as the file system's name decodes, written back as it encodes.
QString FolderText(const std::string& folder) {
    return QFile::decodeName(QByteArray::fromStdString(folder));
}

std::string FolderBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

int CharacterWidth(const QWidget* widget, int characters) {
    return widget->fontMetrics().horizontalAdvance(QLatin1Char('0')) * characters;
}

}  // namespace

CMonitoringOptionsDlg::CMonitoringOptionsDlg(CProgramSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), chooseFolder_(DefaultChooseFolder) {
    refuse_ = [this](const QString& title, const QString& text) {
        QMessageBox::warning(this, title, text);
    };
    setWindowTitle("Unit Monitoring Options");
    setObjectName("monitoringOptionsDialog");

    auto* pollingGroup = new QGroupBox("Polling", this);
    pollingGroup->setObjectName("pollingGroup");
    pollingEnable_ = new QCheckBox("Enable", pollingGroup);
    pollingEnable_->setObjectName("pollingEnableCheck");
    auto* rateLabel = new QLabel("Rate", pollingGroup);
    pollingRate_ = new QLineEdit(pollingGroup);
    pollingRate_->setObjectName("pollingRateEdit");
    pollingRate_->setFixedWidth(CharacterWidth(pollingRate_, kRateEditCharacters));
    rateLabel->setBuddy(pollingRate_);
    auto* secondsLabel = new QLabel("seconds", pollingGroup);
    auto* pollingLayout = new QHBoxLayout(pollingGroup);
    pollingLayout->addWidget(pollingEnable_);
    pollingLayout->addSpacing(CharacterWidth(this, 2));
    pollingLayout->addWidget(rateLabel);
    pollingLayout->addWidget(pollingRate_);
    pollingLayout->addWidget(secondsLabel);
    pollingLayout->addStretch(1);

    auto* saveGroup = new QGroupBox("Save to Disk", this);
    saveGroup->setObjectName("saveToDiskGroup");
    recordEnable_ = new QCheckBox("Enable", saveGroup);
    recordEnable_->setObjectName("recordEnableCheck");
    auto* directoryLabel = new QLabel("Directory", saveGroup);
    directory_ = new QLineEdit(saveGroup);
    directory_->setObjectName("directoryEdit");
    directory_->setMinimumWidth(CharacterWidth(directory_, kPathEditCharacters));
    directoryLabel->setBuddy(directory_);
    browse_ = new QPushButton("Browse...", saveGroup);
    browse_->setObjectName("browseButton");
    auto* templateLabel = new QLabel("Data Filename Template", saveGroup);
    filenameTemplate_ = new QLineEdit(saveGroup);
    filenameTemplate_->setObjectName("filenameTemplateEdit");
    templateLabel->setBuddy(filenameTemplate_);
    auto* saveLayout = new QGridLayout(saveGroup);
    saveLayout->addWidget(recordEnable_, 0, 0, 1, 3);
    saveLayout->addWidget(directoryLabel, 1, 0);
    saveLayout->addWidget(directory_, 1, 1);
    saveLayout->addWidget(browse_, 1, 2);
    saveLayout->addWidget(templateLabel, 2, 0);
    saveLayout->addWidget(filenameTemplate_, 2, 1);
    saveLayout->setColumnStretch(1, 1);

    apply_ = new QPushButton("Apply Changes", this);
    apply_->setObjectName("applyButton");
    apply_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("cancelButton");
    cancel_->setAutoDefault(false);
    // Beside the buttons, where it moves no other control; made last, it comes last in the
    // tab order.
    desktopNotifications_ = new QCheckBox("Desktop notifications", this);
    desktopNotifications_->setObjectName("desktopNotificationsCheck");
    desktopNotifications_->setToolTip(
        "Notify the desktop when the unit stops answering, an alarm appears or recording fails");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(desktopNotifications_);
    buttons->addStretch(1);
    buttons->addWidget(apply_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pollingGroup);
    layout->addWidget(saveGroup);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const auto enableApply = [this] { apply_->setEnabled(true); };
    connect(pollingEnable_, &QCheckBox::clicked, this, [this, enableApply] {
        UpdateEnabling();
        enableApply();
    });
    connect(recordEnable_, &QCheckBox::clicked, this, [this, enableApply] {
        UpdateEnabling();
        enableApply();
    });
    connect(desktopNotifications_, &QCheckBox::clicked, this, enableApply);
    for (QLineEdit* edit : {pollingRate_, directory_, filenameTemplate_}) {
        connect(edit, &QLineEdit::textChanged, this, enableApply);
    }
    connect(browse_, &QPushButton::clicked, this, &CMonitoringOptionsDlg::BrowseForDataDirectory);
    connect(apply_, &QPushButton::clicked, this, &CMonitoringOptionsDlg::ApplyChanges);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    FillFromSettings();
    KeepTitleWhole(*this);
}

void CMonitoringOptionsDlg::showEvent(QShowEvent* event) {
    // Every opening starts from the current settings; a restore from minimised does not.
    if (!event->spontaneous()) {
        FillFromSettings();
    }
    QDialog::showEvent(event);
}

void CMonitoringOptionsDlg::FillFromSettings() {
    pollingEnable_->setChecked(settings_.PollingEnabled);
    recordEnable_->setChecked(settings_.RecordDataFile);
    desktopNotifications_->setChecked(settings_.DesktopNotifications);
    pollingRate_->setText(QString::number(settings_.PollingInterval.load()));
    shownDirectory_ = FolderText(settings_.DatafileDirectory);
    directory_->setText(shownDirectory_);
    filenameTemplate_->setText(QString::fromStdString(settings_.DataFilenameTemplate));
    UpdateEnabling();
    // Filling the edits counts as a change; only the user's own edits may enable Apply.
    apply_->setEnabled(false);
}

void CMonitoringOptionsDlg::UpdateEnabling() {
    pollingRate_->setEnabled(pollingEnable_->isChecked());
    const bool recording = recordEnable_->isChecked();
    directory_->setEnabled(recording);
    filenameTemplate_->setEnabled(recording);
    browse_->setEnabled(recording);
}

void CMonitoringOptionsDlg::ApplyChanges() {
    // Refused input keeps the dialog open with the user's text, so it can be corrected.
    bool isNumber = false;
    const int rate = pollingRate_->text().trimmed().toInt(&isNumber, 10);
    if (!isNumber || rate < kMinPollingInterval || rate > kMaxPollingInterval) {
        refuse_(QStringLiteral("Range Error"),
                QStringLiteral("The polling rate must be a whole number of seconds from %1 to %2.")
                    .arg(kMinPollingInterval)
                    .arg(kMaxPollingInterval));
        pollingRate_->setFocus();
        return;
    }
    const std::string nameTemplate = filenameTemplate_->text().toStdString();
    if (const std::string problem = FilenameTemplateProblem(nameTemplate); !problem.empty()) {
        refuse_(QStringLiteral("Data Filename Template"), QString::fromStdString(problem));
        filenameTemplate_->setFocus();
        return;
    }
    settings_.PollingEnabled = pollingEnable_->isChecked();
    settings_.RecordDataFile = recordEnable_->isChecked();
    settings_.DesktopNotifications = desktopNotifications_->isChecked();
    settings_.PollingInterval = rate;
    // A folder whose name is not valid text is shown with replacement characters: its bytes
    // stay unless the user gave another folder.
    if (directory_->text() != shownDirectory_) {
        settings_.DatafileDirectory = FolderBytes(directory_->text());
    }
    settings_.DataFilenameTemplate = nameTemplate;
    accept();
}

void CMonitoringOptionsDlg::BrowseForDataDirectory() {
    const bool open = isVisible();
    QString start = FolderText(lastBrowsedDirectory_);
    if (start.isEmpty()) {
        start = FolderText(settings_.DatafileDirectory);
    }
    if (start.isEmpty() || !QDir(start).exists()) {
        start = QDir::homePath();
    }
    QString chosen = chooseFolder_(open ? this : nullptr, kBrowseTitle, start);
    if (chosen.isEmpty()) {
        return;
    }
    if (!chosen.endsWith(QLatin1Char('/'))) {
        chosen += QLatin1Char('/');
    }
    if (open) {
        directory_->setText(chosen);
    }
    lastBrowsedDirectory_ = FolderBytes(chosen);
}

}  // namespace corvane3
