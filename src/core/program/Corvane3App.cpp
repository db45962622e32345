#include "core/program/Corvane3App.h"

#include <iostream>

#include "core/config/Configuration.h"
#include "core/config/ProfileFile.h"
#include "core/config/TelemetryPath.h"
#include "core/poll/SerialReconfiguration.h"

namespace corvane3 {

Corvane3App::Corvane3App() : warnings_(&std::cerr) {}

void Corvane3App::Warn(std::string message) {
    if (warnings_ != nullptr) {
        *warnings_ << "corvane3: " << message << std::endl;
    }
    startupMessages_.push_back(std::move(message));
}

void Corvane3App::InitialiseStartup(const std::filesystem::path& executablePath,
                                    const std::filesystem::path& configOverride) {
    settings.PollingInterval = kDefaultPollingInterval;
    unitState.InstrumentModel = kModelBeforeIdentification;
    brandName_ = BrandNameForExecutable(executablePath);
    configurationPath_ =
        ResolveConfigurationPath(executablePath, configOverride, CORVANE3_INSTALL_BINDIR);
}

void Corvane3App::LoadConfiguration() {
    startupMessages_.clear();
    const CProfileFile profile(configurationPath_);
    unreadableReason_.clear();
    if (profile.Status() == CProfileFile::ELoadStatus::kUnreadable) {
        unreadableReason_ = profile.LoadError();
        Warn("The configuration file " + configurationPath_.string() + " could not be read (" +
             profile.LoadError() +
             ").\nThe default settings are used, and the file will not be changed.");
    }
    SerialLineSettings line = serialPort.Settings();
    corvane3::LoadConfiguration(profile, settings, line);
    if (const std::string problem = FilenameTemplateProblem(settings.DataFilenameTemplate);
        !problem.empty()) {
        Warn(problem + "\nRecords are written with the default template \"" +
             kDefaultFilenameTemplate + "\" instead.");
        settings.DataFilenameTemplate = kDefaultFilenameTemplate;
    }
    serialPort.SetSettings(line);
    rs232Settings.Update([&](SerialLineSettings& copy) { copy = line; });
}

PollingHooks Corvane3App::MakePollingHooks(ITimedMessageSink& messages) {
    PollingHooks hooks;
    hooks.reconfigureSerial = [this, &messages](PollContext& context) {
        ReconfigureSerial(context, rs232Settings.Snapshot(), messages);
    };
    spectrum.InstallHooks(hooks);
    return hooks;
}

bool Corvane3App::SaveConfiguration(std::string& error) {
    // A file that could not be read at start is never written, even if it can be read now:
    // the settings in memory are defaults, not what the file holds.
    if (!unreadableReason_.empty()) {
        error = "The settings were not saved: " + configurationPath_.string() +
                " could not be read at start (" + unreadableReason_ + ").";
        return false;
    }
    // Re-read first so that keys and comments written by others since start-up are kept.
    CProfileFile profile(configurationPath_);
    corvane3::SaveConfiguration(profile, settings, serialPort.Settings());
    std::string reason;
    if (!profile.Save(&reason)) {
        error = "The settings were not saved: " + reason + ".";
        return false;
    }
    return true;
}

}  // namespace corvane3
