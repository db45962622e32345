#include "core/config/Configuration.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "core/base/Text.h"

namespace corvane3 {

namespace {

constexpr char kMain[] = "Main";
constexpr char kCom[] = "COM";
constexpr char kPlot[] = "Plot";
constexpr char kBrandName[] = "Quillmarket";

// Line speeds the instrument link offers; any other stored rate is ignored.
constexpr std::array<int, 10> kAcceptedBaudRates = {300,  600,   1200,  2400,  4800,
                                                    9600, 19200, 38400, 57600, 115200};

std::string Lower(std::string text) {
    return AsciiLower(std::move(text));
}

bool ReadBool(const CProfileFile& profile, const char* key, const char* defaultValue) {
    return Lower(CleanIniValue(profile.GetString(kMain, key, defaultValue))) == "true";
}

// For a key that is on unless switched off: only "false" or "0" (in any case) turn it off, so
// a missing key or a typing slip never silences it.
bool ReadDefaultOn(const CProfileFile& profile, const char* key) {
    const std::string value = Lower(CleanIniValue(profile.GetString(kMain, key, "true")));
    return value != "false" && value != "0";
}

const char* BoolText(bool value) {
    return value ? "true" : "false";
}

// Decimal text to integer like atoi, but without overflow: out-of-range values saturate.
long long TextToInteger(const std::string& text) {
    return std::strtoll(text.c_str(), nullptr, 10);
}

// Parses "%d:%d:%d:%d:%d" the way scanf does: each number may have leading blanks and a sign;
// parsing stops at the first piece that does not match, and only the numbers before it change.
void ParsePlotView(const std::string& text, std::array<int, kPlotPanes>& channels) {
    const char* p = text.c_str();
    for (int pane = 0; pane < kPlotPanes; ++pane) {
        if (pane > 0) {
            if (*p != ':') {
                return;
            }
            ++p;
        }
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (end == p || value < INT_MIN || value > INT_MAX) {
            return;
        }
        channels[static_cast<std::size_t>(pane)] = static_cast<int>(value);
        p = end;
    }
}

std::string FormatPlotView(const std::array<int, kPlotPanes>& channels) {
    std::string text;
    for (int pane = 0; pane < kPlotPanes; ++pane) {
        if (pane > 0) {
            text += ':';
        }
        text += std::to_string(channels[static_cast<std::size_t>(pane)]);
    }
    return text;
}

const char* ParityText(std::uint32_t parity) {
    switch (parity) {
        case kParityOdd:
            return "Odd";
        case kParityEven:
            return "Even";
        case kParityMark:
            return "Mark";
        case kParitySpace:
            return "Space";
        default:
            return "None";
    }
}

}  // namespace

std::string CleanIniValue(const std::string& value) {
    std::string cleaned = value.substr(0, value.find(';'));
    const auto last = cleaned.find_last_not_of(" \t");
    cleaned.erase(last == std::string::npos ? 0 : last + 1);
    return cleaned;
}

void LoadConfiguration(const CProfileFile& profile, CProgramSettings& settings,
                       SerialLineSettings& line) {
    settings.PollingEnabled = ReadBool(profile, "PollingEnabled", "true");
    const long long interval =
        TextToInteger(CleanIniValue(profile.GetString(kMain, "PollingInterval", "10")));
    settings.PollingInterval = static_cast<std::int32_t>(
        std::clamp<long long>(interval, kMinPollingInterval, kMaxPollingInterval));
    settings.RecordDataFile = ReadBool(profile, "RecordDataFile", "false");
    settings.DatafileDirectory = CleanIniValue(profile.GetString(kMain, "DatafileDirectory", ""));
    settings.DataFilenameTemplate =
        CleanIniValue(profile.GetString(kMain, "DataFilenameTemplate", kDefaultFilenameTemplate));
    settings.DesktopNotifications = ReadDefaultOn(profile, "DesktopNotifications");

    line.name = CleanIniValue(profile.GetString(kCom, "PortName", "COM1"));
    const int baud = profile.GetInt(kCom, "BaudRate", 9600);
    if (std::find(kAcceptedBaudRates.begin(), kAcceptedBaudRates.end(), baud) !=
        kAcceptedBaudRates.end()) {
        line.baudRate = static_cast<std::uint32_t>(baud);
    }
    const std::string parity = CleanIniValue(profile.GetString(kCom, "Parity", "Odd"));
    if (!parity.empty()) {
        switch (AsciiLower(parity[0])) {
            case 'o':
                line.parity = kParityOdd;
                break;
            case 'e':
                line.parity = kParityEven;
                break;
            case 'n':
                line.parity = kParityNone;
                break;
            case 'm':
                line.parity = kParityMark;
                break;
            case 's':
                line.parity = kParitySpace;
                break;
            default:
                break;
        }
    }
    const std::string stopBits = CleanIniValue(profile.GetString(kCom, "StopBits", "2"));
    if (stopBits == "1") {
        line.stopBits = kStopBitsOne;
    } else if (stopBits == "2") {
        line.stopBits = kStopBitsTwo;
    }
    const int dataBits = profile.GetInt(kCom, "DataBits", 7);
    if (dataBits == 7 || dataBits == 8) {
        line.dataBits = static_cast<std::uint32_t>(dataBits);
    }

    settings.Xscale = profile.GetInt(kPlot, "Xscale", 0);
    settings.Yscale = profile.GetInt(kPlot, "Yscale", 1);
    settings.Xunits = profile.GetInt(kPlot, "Xunits", 0);
    for (PlotView& view : settings.PlotViews) {
        ParsePlotView(profile.GetString(kPlot, view.iniKey, FormatPlotView(view.channels)),
                      view.channels);
    }
}

void SaveConfiguration(CProfileFile& profile, const CProgramSettings& settings,
                       const SerialLineSettings& line) {
    profile.WriteString(kMain, "PollingEnabled", BoolText(settings.PollingEnabled));
    profile.WriteString(kMain, "PollingInterval", std::to_string(settings.PollingInterval.load()));
    profile.WriteString(kMain, "RecordDataFile", BoolText(settings.RecordDataFile));
    profile.WriteString(kMain, "DatafileDirectory", settings.DatafileDirectory);
    profile.WriteString(kMain, "DataFilenameTemplate", settings.DataFilenameTemplate);
    profile.WriteString(kMain, "DesktopNotifications", BoolText(settings.DesktopNotifications));
    profile.WriteString(kCom, "PortName", line.name);
    profile.WriteString(kCom, "BaudRate", std::to_string(line.baudRate));
    profile.WriteString(kCom, "Parity", ParityText(line.parity));
    profile.WriteString(kCom, "StopBits", line.stopBits != kStopBitsOne ? "2" : "1");
    profile.WriteString(kCom, "DataBits", std::to_string(line.dataBits));
    profile.WriteString(kPlot, "Xscale", std::to_string(settings.Xscale));
    profile.WriteString(kPlot, "Xunits", std::to_string(settings.Xunits));
    profile.WriteString(kPlot, "Yscale", std::to_string(settings.Yscale));
    for (const PlotView& view : settings.PlotViews) {
        profile.WriteString(kPlot, view.iniKey, FormatPlotView(view.channels));
    }
}

std::filesystem::path ResolveConfigurationPath(const std::filesystem::path& executablePath,
                                               const std::filesystem::path& overridePath,
                                               const std::filesystem::path& installFolder) {
    namespace fs = std::filesystem;
    if (!overridePath.empty()) {
        return overridePath;
    }
    const fs::path folder = executablePath.parent_path();
    const fs::path besideExecutable = folder / kConfigurationFileName;
    std::error_code error;
    const bool installed = !installFolder.empty() &&
                           fs::equivalent(folder.empty() ? "." : folder, installFolder, error);
    if (!installed && (fs::exists(besideExecutable, error) ||
                       ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0)) {
        return besideExecutable;
    }
    fs::path configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
        configHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        configHome = fs::path(home) / ".config";
    } else {
        return besideExecutable;
    }
    return configHome / "corvane3" / kConfigurationFileName;
}

std::string BrandNameForExecutable(const std::filesystem::path& executablePath) {
    const std::string folder = Lower(executablePath.parent_path().filename().string());
    for (const char* name : {"quillmarket", "quillm~1", "release", "debug"}) {
        if (folder == name) {
            return kBrandName;
        }
    }
    return "";
}

}  // namespace corvane3
