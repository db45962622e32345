#pragma once
// The process-wide records and the start-up and shut-down steps that do not need a window.
// The program's main() creates one instance and passes its members to whoever needs them.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/base/Guarded.h"
#include "core/config/ProgramSettings.h"
#include "core/link/LinkStatus.h"
#include "core/link/SerialPort.h"
#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"
#include "core/poll/PollingThread.h"
#include "core/poll/TimedMessageSink.h"
#include "core/spectrum/SpectrumAcquisition.h"

namespace corvane3 {

class Corvane3App {
  public:
    Corvane3App();

    // Start-up initialisation: brand name from the executable's folder, polling interval and
    // model code to their start values, the configuration path worked out (configOverride
    // wins when not empty).
    void InitialiseStartup(const std::filesystem::path& executablePath,
                           const std::filesystem::path& configOverride);

    // Reads the configuration file into the settings and the serial port, then takes the
    // RS-232 settings copy. A missing file or missing keys leave the defaults. A file that
    // exists but cannot be read also leaves the defaults, and is then never written; an
    // unusable DataFilenameTemplate is replaced by the default. Each such problem becomes a
    // start-up message, also written at once to the warning stream (standard error).
    void LoadConfiguration();
    // What the user should be told about the configuration after loading it.
    const std::vector<std::string>& StartupMessages() const { return startupMessages_; }
    // Where start-up messages are written as they arise; null writes none.
    void SetWarningStream(std::ostream* stream) { warnings_ = stream; }

    // Writes the settings and the serial port's settings back. False, with a sentence for the
    // user in error, when they were not saved: the file could not be read at start, it is
    // read-only, or writing failed. The file is then left as it was.
    bool SaveConfiguration(std::string& error);

    // The polling thread's steps that work on these records: moving the instrument and the
    // port to the RS-232 settings, with its messages shown through messages (which must outlive
    // the thread), and the spectrum sweeps.
    PollingHooks MakePollingHooks(ITimedMessageSink& messages);

    const std::filesystem::path& ConfigurationPath() const { return configurationPath_; }
    const std::string& BrandName() const { return brandName_; }
    bool HasBrand() const { return !brandName_.empty(); }

    CLinkStatus linkStatus;
    CSerialPort serialPort{linkStatus};
    CProgramSettings settings;
    CUnitState unitState;
    CPollingShared polling;
    // The spectrum window's sweeps, run by the polling thread through its hooks.
    CSpectrumAcquisition spectrum{polling, settings};
    // The line settings the instrument-side serial dialog edits, copied after loading; the
    // polling thread reads them when it moves the instrument to them.
    CGuarded<SerialLineSettings> rs232Settings;

  private:
    void Warn(std::string message);

    std::filesystem::path configurationPath_;
    std::string brandName_;
    std::vector<std::string> startupMessages_;
    std::string unreadableReason_;  // why the file could not be read at start; empty when it could
    std::ostream* warnings_;
};

}  // namespace corvane3
