#pragma once
// Loading and saving Corvane3.ini (sections Main, COM and Plot), and where that file lives.

#include <filesystem>
#include <string>

#include "core/config/ProfileFile.h"
#include "core/config/ProgramSettings.h"
#include "core/link/SerialPort.h"

namespace corvane3 {

inline constexpr char kConfigurationFileName[] = "Corvane3.ini";

// Cuts a value at its first ';' (a trailing comment) and removes trailing blanks and tabs.
std::string CleanIniValue(const std::string& value);

// Reads every key of the three sections into settings and line. Missing keys keep the defaults;
// out-of-range values are clamped (PollingInterval) or ignored (the line settings keep theirs).
void LoadConfiguration(const CProfileFile& profile, CProgramSettings& settings,
                       SerialLineSettings& line);

// Writes every key, in the fixed save order, into profile (in memory; profile.Save() writes it).
void SaveConfiguration(CProfileFile& profile, const CProgramSettings& settings,
                       const SerialLineSettings& line);

// Where the configuration file is: overridePath when given; otherwise Corvane3.ini beside the
// executable, unless that file is absent and its folder is not writable, in which case
// $XDG_CONFIG_HOME/corvane3/Corvane3.ini (default ~/.config/corvane3/Corvane3.ini). A program run
// from installFolder (where the package installs it) always uses the XDG place: a system folder
// such as /usr/bin is writable for root, but no configuration belongs there.
std::filesystem::path ResolveConfigurationPath(const std::filesystem::path& executablePath,
                                               const std::filesystem::path& overridePath,
                                               const std::filesystem::path& installFolder = {});

// The brand name: "Quillmarket" when the executable's folder is named (without regard to case)
// "Quillmarket", "QUILLM~1", "Release" or "Debug"; otherwise empty.
std::string BrandNameForExecutable(const std::filesystem::path& executablePath);

}  // namespace corvane3
