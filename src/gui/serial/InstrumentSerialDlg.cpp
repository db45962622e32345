#include "gui/serial/InstrumentSerialDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/security/AuthorizedCommand.h"
#include "gui/serial/LineSettingsWidget.h"

namespace corvane3 {

CInstrumentSerialDlg::CInstrumentSerialDlg(CGuarded<SerialLineSettings>& rs232,
                                           CPollingShared& shared, const CUnitState& unit,
                                           ParameterSource parameter, QWidget* parent)
    : QDialog(parent), rs232_(rs232), shared_(shared), parameter_(std::move(parameter)) {
    if (!parameter_) {
        parameter_ = [&shared, &unit](QWidget* owner) {
            return ProtectedCommandParameter(shared, unit, owner);
        };
    }
    setWindowTitle(QStringLiteral("RS-232"));
    setObjectName(QStringLiteral("instrumentSerialDialog"));

    auto* group = new QGroupBox(QStringLiteral("Instrument Settings"), this);
    auto* groupLayout = new QVBoxLayout(group);
    line_ = new CLineSettingsWidget(group);
    groupLayout->addWidget(line_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons.layout);

    line_->SetBaudRates(unit.InstrumentModel != kModelTq9000);
    line_->Load(rs232_.Snapshot());
    apply_->setEnabled(false);

    connect(line_, &CLineSettingsWidget::Changed, this, [this] { apply_->setEnabled(true); });
    connect(apply_, &QPushButton::clicked, this, &CInstrumentSerialDlg::ApplyChanges);
    KeepTitleWhole(*this);
}

void CInstrumentSerialDlg::ApplyChanges() {
    rs232_.Update([this](SerialLineSettings& line) { line_->Store(line); });
    const std::optional<std::uint32_t> parameter = parameter_(this);
    if (!parameter) {
        return;  // password prompt cancelled: stay open, nothing sent
    }
    shared_.SerialReconfigurationParameter = *parameter;
    shared_.SetRequest(ERequest::kSerialReconfiguration);
    accept();
}

}  // namespace corvane3
