#pragma once
// "RS-232": the instrument's own line settings. "Apply Changes" keeps the chosen settings in the
// RS-232 settings copy, asks for the password when the unit is protected, and leaves the rest
// to the polling thread: it sends C05 and moves the PC's port to the same settings. A new
// instance is made for each opening. User-interface thread only.

#include <QDialog>
#include <functional>
#include <optional>

#include "core/base/Guarded.h"
#include "core/link/SerialPort.h"
#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"

class QPushButton;

namespace corvane3 {

class CLineSettingsWidget;

class CInstrumentSerialDlg : public QDialog {
    Q_OBJECT
  public:
    // Gives the parameter for the protected command, or nothing when the user cancelled the
    // password prompt.
    using ParameterSource = std::function<std::optional<std::uint32_t>(QWidget* parent)>;

    // parameter: by default the Factory access option on a ChronoBeam, the password prompt on a
    // protected unit, else 0.
    CInstrumentSerialDlg(CGuarded<SerialLineSettings>& rs232, CPollingShared& shared,
                         const CUnitState& unit, ParameterSource parameter = {},
                         QWidget* parent = nullptr);

  private:
    void ApplyChanges();

    CGuarded<SerialLineSettings>& rs232_;
    CPollingShared& shared_;
    ParameterSource parameter_;
    CLineSettingsWidget* line_;
    QPushButton* apply_;
};

}  // namespace corvane3
