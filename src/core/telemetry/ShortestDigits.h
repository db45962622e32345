#pragma once
// The fewest digits that read back to a value as the plot store keeps it (as double, as float,
// or as a whole number kept as double), written as std::to_chars writes them: fixed or
// scientific, whichever is shorter. The CSV export writes every number this way. Working the
// digits out is slow; when the value came from plain decimal text of few enough significant
// digits, those digits are the answer, and the text's own digits are taken instead.
//
//   std::string line;
//   if (!CopyShortestText(line, field, parsed, stored, storage) &&
//       !AppendDigitsOfText(line, field, parsed, stored, storage)) {
//       AppendNumber(line, stored, storage);
//   }

#include <string>
#include <string_view>

#include "core/plot/PlotData.h"

namespace corvane3 {

// Appends the fewest digits that read back to value as storage keeps it; nothing for an absent
// (NaN) value, so that its CSV field is empty.
void AppendNumber(std::string& text, double value, EPlotStorage storage);

// The common case of AppendDigitsOfText, in one walk and one copy: blanks, a minus and plain
// decimal text that is written as it is once its trailing zeros (and a point left bare) are
// dropped ("35.540" as "35.54", "2.00" as "2"). parsed is the value the text gave, stored the
// value kept in storage. False (nothing appended) for any other text, zero, or a value its
// digits do not read back to.
bool CopyShortestText(std::string& out, std::string_view field, double parsed, double stored,
                      EPlotStorage storage);

// Appends what AppendNumber would for stored, taken from the field's own text: possible when the
// text is plain decimal ("-15.500", " 7.51", "0.000120") of few enough significant digits; zero
// is always written ("0", "-0"). Fields are at most kMaxTelemetryFieldCharacters long. False
// (nothing appended) when the text is no such text or the value is not the one it reads back to.
bool AppendDigitsOfText(std::string& out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage);

// The same written into a buffer, for a writer of many values (the CSV export), which then
// needs no string operation per value. Each writes at most kMaxNumberCharacters at out and
// returns the end of what it wrote; WriteDigitsOfText returns nullptr where AppendDigitsOfText
// returns false, and ShortestTextOf gives the part of the field CopyShortestText copies (empty
// where it returns false).
inline constexpr std::size_t kMaxNumberCharacters = 32;  // fields and doubles' digits are shorter
char* WriteNumber(char* out, double value, EPlotStorage storage);
char* WriteDigitsOfText(char* out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage);
std::string_view ShortestTextOf(std::string_view field, double parsed, double stored,
                                EPlotStorage storage);

}  // namespace corvane3
