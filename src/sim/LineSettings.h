#pragma once
// The instrument's own serial line settings and how they compare with what the program set on
// the pseudo-terminal. A pseudo-terminal carries the speed, CSTOPB and PARODD of the program's
// settings but not the character size or parity enable, so only those three are compared.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <termios.h>

namespace corvane3::sim {

struct LineSettings {
    unsigned baudRate = 9600;
    unsigned dataBits = 7;
    char parity = 'O';  // 'N', 'O', 'E', 'M' or 'S'
    unsigned stopBits = 2;

    bool operator==(const LineSettings&) const = default;
};

// "BAUD,BITS,PARITY,STOP" as on the command line (parity letter in either case), or the C05
// command's "19200,8,n,1". nullopt for anything else, including speeds termios does not know.
std::optional<LineSettings> ParseLineSettings(std::string_view text);
// The same text form, for example "9600,7,O,2".
std::string FormatLineSettings(const LineSettings& line);

// True when the speed, stop bits and odd/even choice visible in tio match the line settings.
bool VisibleSettingsMatch(const LineSettings& line, const termios& tio);

// Start bit, data bits, parity bit if any, stop bits.
unsigned BitsPerCharacter(const LineSettings& line);
// How long one character takes on the line.
std::chrono::nanoseconds CharacterTime(const LineSettings& line);

}  // namespace corvane3::sim
