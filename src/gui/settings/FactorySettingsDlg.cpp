#include "gui/settings/FactorySettingsDlg.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>

#include "core/base/CLocale.h"
#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/settings/SettingsEntries.h"
#include "core/settings/SettingsText.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/CommandSequence.h"

namespace corvane3 {

namespace {

const QString kTitle = QStringLiteral("Factory Settings Notification");
const QString kRangeError = QStringLiteral("Range Error");
// Reply limit of every factory command.
// What the unit's fields hold.
constexpr long kMaxUnitId = 99999;
constexpr long kMaxPowerOnHours = 99999;
// The tilt is sent as a sign and four digits.
constexpr long kMaxTilt = 9999;
constexpr int kYearsPerCentury = 100;

QLineEdit* NewEdit(QWidget* parent, const char* name, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QString Printf(const char* format, auto... values) {
    return QString::asprintf(format, values...);
}

}  // namespace

CFactorySettingsDlg::CFactorySettingsDlg(CPollingShared& shared, const CUnitState& unit,
                                         QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Factory Settings"));
    setObjectName(QStringLiteral("factorySettingsDialog"));
    const UnitStateData state = unit.Snapshot();

    auto* user = new QGroupBox(QStringLiteral("User Settings"), this);
    unitId_ = NewEdit(user, "unitId", Printf("%05u", state.d1.serialNumber));
    loopTau_ = NewEdit(user, "loopTau", Printf("%5.2f", static_cast<double>(state.d1.ocxoTau)));
    auto* tauRow = new QHBoxLayout;
    tauRow->addWidget(loopTau_);
    tauRow->addWidget(new QLabel(QStringLiteral("sec."), user));
    auto* userLayout = new QFormLayout(user);
    userLayout->addRow(QStringLiteral("Unit ID"), unitId_);
    userLayout->addRow(QStringLiteral("Loop Tau"), tauRow);

    auto* factory = new QGroupBox(QStringLiteral("Factory Settings"), this);
    manufacturingDate_ =
        NewEdit(factory, "manufacturingDate",
                Printf("%02d/%02d/%02d", state.d5.manufactureDateA, state.d5.manufactureDateB,
                       state.d5.yearOfManufacture % kYearsPerCentury));
    powerOnHours_ = NewEdit(factory, "powerOnHours", Printf("%ld", state.d5.powerOnHours));
    zeemanRabiTilt_ = NewEdit(factory, "zeemanRabiTilt", Printf("%+05d", state.d2.nomZRabi));
    // Only a unit that sweeps by itself takes a tilt.
    zeemanRabiTilt_->setEnabled(state.instrumentSweep);
    memorize_ = new QPushButton(QStringLiteral("Memorize Nominals"), factory);
    memorize_->setObjectName(QStringLiteral("memorizeNominals"));
    memorize_->setAutoDefault(false);
    auto* factoryLayout = new QFormLayout(factory);
    factoryLayout->addRow(QStringLiteral("Manufacturing Date"), manufacturingDate_);
    factoryLayout->addRow(QStringLiteral("Power On Hours"), powerOnHours_);
    factoryLayout->addRow(QStringLiteral("Zeeman Rabi Tilt"), zeemanRabiTilt_);
    factoryLayout->addRow(QStringLiteral("Push to Memorize Nominals:"), memorize_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;
    apply_->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(user);
    layout->addWidget(factory);
    layout->addLayout(buttons.layout);

    for (QLineEdit* edit :
         {unitId_, loopTau_, manufacturingDate_, powerOnHours_, zeemanRabiTilt_}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { apply_->setEnabled(true); });
    }
    connect(memorize_, &QPushButton::clicked, this, &CFactorySettingsDlg::MemorizeNominals);
    connect(apply_, &QPushButton::clicked, this, &CFactorySettingsDlg::ApplyChanges);
    KeepTitleWhole(*this);
}

void CFactorySettingsDlg::MemorizeNominals() {
    const std::vector<SequenceCommand> commands{
        {"Nominals",
         {.code = CommandCode(ECommand::kSetNominals),
          .parameter = kFactoryAccessOption,
          .replyLimit = ReplyLimit(ECommand::kSetNominals)}}};
    if (SendCommandSequence(shared_, commands, kTitle, this).AllAccepted()) {
        memorize_->setText(QStringLiteral("Done"));
    }
}

void CFactorySettingsDlg::RangeError(const QString& text, QLineEdit* edit) {
    QMessageBox box(QMessageBox::Warning, kRangeError, text, QMessageBox::Ok, this);
    box.exec();
    edit->setFocus();
}

void CFactorySettingsDlg::ApplyChanges() {
    const std::optional<long> unitId = ParseWholeNumber(unitId_->text().toStdString());
    if (!unitId || *unitId < 0 || *unitId > kMaxUnitId) {
        RangeError(QStringLiteral("UnitID must be between 0-99999"), unitId_);
        return;
    }
    // An out-of-range time constant is corrected, shown and sent.
    const LoopTimeConstant tau = ReadLoopTimeConstant(loopTau_->text().toStdString());
    if (tau.correction != LoopTimeConstant::ECorrection::kNone) {
        loopTau_->setText(QString::fromStdString(ShowLoopTimeConstant(tau.seconds)));
        QMessageBox box(QMessageBox::Warning, kRangeError,
                        tau.correction == LoopTimeConstant::ECorrection::kRaised
                            ? QStringLiteral("Time Constant set to 0.1 sec")
                            : QStringLiteral("Time Constant set to 99.99 sec"),
                        QMessageBox::Ok, this);
        box.exec();
    }
    const std::string date = manufacturingDate_->text().toStdString();
    if (!HasDateLayout(date)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Corvane3"),
                        QStringLiteral("Please enter Manufacturing date in the form \"mm/dd/yy\""),
                        QMessageBox::Ok, this);
        box.exec();
        manufacturingDate_->setFocus();
        return;
    }
    if (!IsExistingDate(date)) {
        RangeError(QStringLiteral("Manufacturing date %1 does not exist (mm/dd/yy)")
                       .arg(QString::fromStdString(date)),
                   manufacturingDate_);
        return;
    }
    const std::optional<long> hours = ParseWholeNumber(powerOnHours_->text().toStdString());
    if (!hours || *hours < 1 || *hours > kMaxPowerOnHours) {
        RangeError(QStringLiteral("Power On Hours must be >0 and <100000"), powerOnHours_);
        return;
    }
    const bool withTilt = zeemanRabiTilt_->isEnabled();
    const std::optional<long> tilt = ParseWholeNumber(zeemanRabiTilt_->text().toStdString());
    if (withTilt && (!tilt || *tilt < -kMaxTilt || *tilt > kMaxTilt)) {
        RangeError(QStringLiteral("Zeeman Rabi Tilt must be between -9999 and +9999"),
                   zeemanRabiTilt_);
        return;
    }

    const auto command = [](ECommand sent, const QString& data) {
        return MailboxCommand{.code = CommandCode(sent),
                              .data = data.toStdString(),
                              .parameter = kFactoryAccessOption,
                              .replyLimit = ReplyLimit(sent)};
    };
    std::vector<SequenceCommand> commands{
        {"Unit ID", command(ECommand::kSetUnitId, Printf("%05ld", *unitId))},
        {"Loop Tau", command(ECommand::kFilterOrderAndTimeConstant,
                             QString::fromStdString(LoopTimeConstantArgument(tau.seconds)))},
        {"Manufacturing Date",
         command(ECommand::kSetManufacturingDate, QString::fromStdString(date))},
        {"Power On Hours", command(ECommand::kSetPowerOnHours, Printf("%ld", *hours))},
    };
    if (withTilt) {
        commands.push_back(
            {"Zeeman Rabi Tilt", command(ECommand::kSetZeemanRabiTilt, Printf("%+05ld", *tilt))});
    }
    if (SendCommandSequence(shared_, commands, kTitle, this).AllAccepted()) {
        accept();
    }
}

}  // namespace corvane3
