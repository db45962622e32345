#include "app/Corvane3App.h"

#include "app/Configuration.h"
#include "app/ProfileFile.h"
#include "poll/SerialReconfiguration.h"

namespace corvane3 {

Corvane3App::Corvane3App() = default;

void Corvane3App::InitialiseStartup(const std::filesystem::path& executablePath,
                                    const std::filesystem::path& configOverride) {
    settings.PollingInterval = kDefaultPollingInterval;
    unitState.InstrumentModel = kModelBeforeIdentification;
    brandName_ = BrandNameForExecutable(executablePath);
    configurationPath_ = ResolveConfigurationPath(executablePath, configOverride);
}

void Corvane3App::LoadConfiguration() {
    const CProfileFile profile(configurationPath_);
    SerialLineSettings line = serialPort.Settings();
    corvane3::LoadConfiguration(profile, settings, line);
    serialPort.SetSettings(line);
    rs232Settings.Update([&](SerialLineSettings& copy) { copy = line; });
}

PollingHooks Corvane3App::MakePollingHooks(ITimedMessageSink& messages) {
    PollingHooks hooks;
    hooks.reconfigureSerial = [this, &messages](PollContext& context) {
        ReconfigureSerial(context, rs232Settings.Snapshot(), messages);
    };
    return hooks;
}

bool Corvane3App::SaveConfiguration(std::string& error) {
    // Re-read first so that keys and comments written by others since start-up are kept.
    CProfileFile profile(configurationPath_);
    corvane3::SaveConfiguration(profile, settings, serialPort.Settings());
    if (!profile.Save()) {
        error = "Unable to save the configuration to " + configurationPath_.string();
        return false;
    }
    return true;
}

}  // namespace corvane3
