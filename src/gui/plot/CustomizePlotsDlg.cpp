#include "gui/plot/CustomizePlotsDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/base/ModelCodes.h"
#include "core/plot/PlotData.h"

namespace corvane3 {

namespace {

// The control ids of the boxes, bottom pane first.
constexpr std::array<int, kPlotPanes> kBoxIds = {1099, 1100, 1101, 1102, 1103};

}  // namespace

std::array<int, 35> OfferedChannelNumbers(std::int32_t instrumentModel, int& count) {
    std::array<int, 35> numbers{};
    count = 0;
    const auto addRange = [&](int first, int last) {
        for (int channel = first; channel <= last; ++channel) {
            numbers[static_cast<std::size_t>(count++)] = channel;
        }
    };
    addRange(0, 25);
    if (instrumentModel == kModelTq9000) {
        addRange(32, 36);
    }
    addRange(26, 29);
    return numbers;
}

CCustomizePlotsDlg::CCustomizePlotsDlg(const CPlotData& store, std::int32_t instrumentModel,
                                       const std::array<int, kPlotPanes>& channels, QWidget* parent)
    : QDialog(parent), store_(store), channels_(channels) {
    setObjectName(QStringLiteral("customizePlots"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    int count = 0;
    const std::array<int, 35> offered = OfferedChannelNumbers(instrumentModel, count);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << QString::fromStdString(store.Channel(offered[static_cast<std::size_t>(i)]).Name());
    }
    auto* buttons = new QDialogButtonBox;
    apply_ = buttons->addButton(QStringLiteral("Apply Changes"), QDialogButtonBox::AcceptRole);
    apply_->setObjectName(QStringLiteral("applyChanges"));
    apply_->setDefault(true);
    apply_->setEnabled(false);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    // Top pane first on screen.
    for (int pane = kPlotPanes - 1; pane >= 0; --pane) {
        auto* box = new QComboBox;
        box->setObjectName(
            QStringLiteral("customizeBox%1").arg(kBoxIds[static_cast<std::size_t>(pane)]));
        box->addItems(names);
        const QString current =
            QString::fromStdString(store.Channel(channels_[static_cast<std::size_t>(pane)]).Name());
        box->setCurrentIndex(box->findText(current, Qt::MatchStartsWith));
        connect(box, &QComboBox::currentIndexChanged, apply_, [this] { apply_->setEnabled(true); });
        boxes_[static_cast<std::size_t>(pane)] = box;
        const QString label = pane == kPlotPanes - 1 ? QStringLiteral("Top Plot")
                              : pane == 0            ? QStringLiteral("Bottom Plot")
                                                     : QString();
        form->addRow(label, box);
    }
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCustomizePlotsDlg::Apply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CCustomizePlotsDlg::Apply() {
    for (std::size_t pane = 0; pane < boxes_.size(); ++pane) {
        const int number = store_.FindChannel(boxes_[pane]->currentText().toStdString());
        // A box without a selected entry names nothing: its pane keeps its channel.
        if (boxes_[pane]->currentIndex() >= 0 && number >= 0) {
            channels_[pane] = number;
        }
    }
    accept();
}

}  // namespace corvane3
