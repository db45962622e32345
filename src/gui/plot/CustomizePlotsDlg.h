#pragma once
// "Customize ... Plots": which channel each of the five panes of a Plot view shows. The lists
// offer the channels a unit of the given model has; the two derived decay channels are not
// offered. A box whose pane shows a channel not in its list starts with no entry selected and
// then leaves that pane's channel as it was.

#include <QDialog>
#include <array>
#include <cstdint>

#include "core/config/ProgramSettings.h"

class QComboBox;
class QPushButton;

namespace corvane3 {

class CPlotData;

class CCustomizePlotsDlg : public QDialog {
    Q_OBJECT

  public:
    CCustomizePlotsDlg(const CPlotData& store, std::int32_t instrumentModel,
                       const std::array<int, kPlotPanes>& channels, QWidget* parent = nullptr);

    // The panes' channels, bottom pane first: as given until "Apply Changes" was pressed.
    const std::array<int, kPlotPanes>& Channels() const { return channels_; }
    // The box of pane 0 (bottom) to 4 (top).
    QComboBox* Box(int pane) const { return boxes_[static_cast<std::size_t>(pane)]; }
    QPushButton* ApplyButton() const { return apply_; }

  private:
    void Apply();

    const CPlotData& store_;
    std::array<int, kPlotPanes> channels_;
    std::array<QComboBox*, kPlotPanes> boxes_{};
    QPushButton* apply_;
};

// The channel numbers the lists offer, in their order: 0 to 25, then 32 to 36 for a Tq9000
// (the only model with the system supplies), then 26 to 29.
std::array<int, 35> OfferedChannelNumbers(std::int32_t instrumentModel, int& count);

}  // namespace corvane3
