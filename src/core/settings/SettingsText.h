#pragma once
// The texts the instrument settings dialogs send and show: command arguments, event-log list
// lines, alarm lines and clock texts. Pure functions, safe on any thread.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3 {

// Characters of an edit box that are read as a number; the rest is ignored.
inline constexpr std::size_t kNumberInputLimit = 255;

// The number at the start of text (after blanks, with an optional sign), as a standard
// text-to-integer conversion reads it: 0 when there is none. Out-of-range numbers saturate, so
// a huge entry stays out of range instead of wrapping into range.
long LeadingInteger(std::string_view text);

// The decimal number at the start of text (after blanks), as a standard text-to-double
// conversion reads it with a decimal point whatever the locale: "1.5s" is 1.5, a text without
// a number 0.
double LeadingNumber(std::string_view text);

// "W01" data: sign, six digits, two blanks ("+000123  ").
std::string DeltaFArgument(long offset);
// "W03" data of the Delta-T dialog: sign, four digits, two blanks ("-9999  ").
std::string DeltaTArgument(long slew);
// The largest slew the diagnostics dialog sends either way: what five digits hold.
inline constexpr long kMaxTimeUpdatingSlew = 99999;
// "W03" data of the diagnostics dialog: sign, five digits and 'f' ("+00020f"), for a slew
// within kMaxTimeUpdatingSlew either way.
std::string TimeUpdatingArgument(long slew);
// "B03" data: sign, five digits, two blanks.
std::string DccAdjustArgument(std::int32_t seconds);
// "A07" data "hh:mm:ss" and "A06" data "mm/dd/yy" of a local broken-down time; years before
// 2000 count from 1900, later ones from 2000.
std::string UnitTimeArgument(const std::tm& local);
std::string UnitDateArgument(const std::tm& local);

// The event count of a fetched log: the number that starts at its character 23 (0 when the
// text is shorter).
int EventCount(std::string_view log);
// The list lines of a fetched log: everything after its first LF, LF dropped, TAB as six
// blanks, each line ended by CR; text after the last CR is not shown. Lines are not cut.
std::vector<std::string> EventLogLines(std::string_view log);

// A pending alarm's line: the code in two lower-case hex digits, a colon, four blanks (slots
// 1 to 3) or three (slots 4 and 5), then the padded name ("" for an unknown code).
std::string AlarmLine(int slot, unsigned code);

// seconds since 1970 as UTC in asctime's 24-character form without the line end
// ("Thu Jan  1 00:00:00 1970").
std::string AscTimeText(std::int64_t utcSeconds);
// The "B01" data for the PC clock now = utcSeconds: "%010u" of the UTC seconds, or of the local
// time counted as if it were UTC (east of Greenwich a larger number) when local is true.
std::string DccTimeArgument(std::time_t utcSeconds, bool local);

// The "A03" value of a gain DAC list item: "01h" ... "80h" read as hex, "AlignGainPot" 0xB7,
// "End Test" 0.
int GainDacValue(std::string_view item);

// A reply or test line as the diagnostics list shows it: without the STX that starts a reply
// and without the CR, LF and ETX that end it (a test line may end in LF alone).
std::string DiagnosticListText(std::string text);

}  // namespace corvane3
