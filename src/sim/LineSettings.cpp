#include "sim/LineSettings.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

#include "core/base/Text.h"

namespace corvane3::sim {

namespace {
struct SpeedRow {
    unsigned baud;
    speed_t speed;
};
constexpr std::array kSpeeds = {
    SpeedRow{300, B300},       SpeedRow{600, B600},     SpeedRow{1200, B1200},
    SpeedRow{2400, B2400},     SpeedRow{4800, B4800},   SpeedRow{9600, B9600},
    SpeedRow{19200, B19200},   SpeedRow{38400, B38400}, SpeedRow{57600, B57600},
    SpeedRow{115200, B115200},
};

std::optional<speed_t> SpeedFor(unsigned baud) {
    for (const SpeedRow& row : kSpeeds) {
        if (row.baud == baud) {
            return row.speed;
        }
    }
    return std::nullopt;
}

std::optional<unsigned> ParseUnsigned(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t comma = text.find(',');; comma = text.find(',')) {
        parts.push_back(TrimBlanks(text.substr(0, comma)));
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    if (parts.size() != 4 || parts[2].size() != 1) {
        return std::nullopt;
    }
    const auto baud = ParseUnsigned(parts[0]);
    const auto bits = ParseUnsigned(parts[1]);
    const auto stop = ParseUnsigned(parts[3]);
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[2][0])));
    if (!baud || !SpeedFor(*baud) || !bits || *bits < 5 || *bits > 8 || !stop ||
        (*stop != 1 && *stop != 2) ||
        std::string_view("NOEMS").find(parity) == std::string_view::npos) {
        return std::nullopt;
    }
    return LineSettings{*baud, *bits, parity, *stop};
}

std::string FormatLineSettings(const LineSettings& line) {
    char text[48];
    std::snprintf(text, sizeof text, "%u,%u,%c,%u", line.baudRate, line.dataBits, line.parity,
                  line.stopBits);
    return text;
}

bool VisibleSettingsMatch(const LineSettings& line, const termios& tio) {
    const auto speed = SpeedFor(line.baudRate);
    // Mark parity is PARENB|CMSPAR|PARODD, so it shows PARODD like odd parity does.
    const bool wantOdd = line.parity == 'O' || line.parity == 'M';
    return speed && ::cfgetospeed(&tio) == *speed &&
           ((tio.c_cflag & CSTOPB) != 0) == (line.stopBits == 2) &&
           ((tio.c_cflag & PARODD) != 0) == wantOdd;
}

unsigned BitsPerCharacter(const LineSettings& line) {
    const unsigned startBit = 1;
    const unsigned parityBit = line.parity == 'N' ? 0 : 1;
    return startBit + line.dataBits + parityBit + line.stopBits;
}

std::chrono::nanoseconds CharacterTime(const LineSettings& line) {
    using std::chrono::nanoseconds;
    const auto perSecond = nanoseconds(std::chrono::seconds(1)).count();
    return nanoseconds(perSecond * BitsPerCharacter(line) / line.baudRate);
}

}  // namespace corvane3::sim
