#pragma once
// "Configure ChronoBeam Telecomunications Outputs": the E1 and T1 pattern generators and the two
// telecom output channels of a ChronoBeam. Nothing is read from the unit; the dialog remembers
// what was last chosen while the program runs and sends it as A20, A21 and A22 for each channel,
// authorised, one after another. One instance lives as long as the main window.
// User-interface thread only.

#include <QDialog>
#include <array>

#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"
#include "core/settings/SettingsEntries.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace corvane3 {

class CChronoBeamTelecomDlg : public QDialog {
    Q_OBJECT
  public:
    CChronoBeamTelecomDlg(CPollingShared& shared, const CUnitState& unit,
                          QWidget* parent = nullptr);

    // What the dialog remembers (all zero until the first Apply or a cancelled password prompt).
    const ChronoBeamTelecomSettings& Remembered() const { return remembered_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct Channel {
        QCheckBox* clocked;
        QCheckBox* framed;
        QCheckBox* t1;
        QCheckBox* e1;
        QCheckBox* bal;
        QCheckBox* unbal;
        QComboBox* liu;
    };

    QWidget* BuildChannel(int number, Channel& channel);
    // Makes clicking any of boxes tick it and clear the others.
    void MakeOneChoice(const std::vector<QCheckBox*>& boxes);
    void Load();
    void Remember();
    void ApplyChanges();

    CPollingShared& shared_;
    const CUnitState& unit_;
    ChronoBeamTelecomSettings remembered_;
    QComboBox* e1Format_;
    QComboBox* e1SaChannel_;
    QCheckBox* e1Mute_;
    QCheckBox* e1Ssm_;
    QCheckBox* e1Crc4_;
    QCheckBox* e1Ts16_;
    QComboBox* t1Format_;
    QCheckBox* t1Mute_;
    QCheckBox* t1Ssm_;
    QCheckBox* t1Ais_;
    std::array<Channel, 2> channels_{};
    QPushButton* apply_;
};

}  // namespace corvane3
