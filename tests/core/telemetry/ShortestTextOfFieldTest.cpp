// The CSV export writes most fields from their text alone: where it does, it must write what the
// full way writes from the value as the plot store keeps it, for every storage.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "core/telemetry/ShortestDigits.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {
namespace {

// The full way: the value parsed and kept as storage keeps it (a fraction in a whole-number
// channel as double), then its digits.
std::string FullDigits(const std::string& field, EPlotStorage storage) {
    const char* stop = nullptr;
    const double parsed = ParseTelemetryNumber(field.data(), field.data() + field.size(), stop);
    double stored = parsed;
    if (storage == EPlotStorage::kFloat) {
        stored = static_cast<float>(parsed);
    } else if (storage == EPlotStorage::kInt32 && std::trunc(parsed) == parsed) {
        stored = static_cast<std::int32_t>(parsed);
    }
    std::string digits;
    if (!CopyShortestText(digits, field, parsed, stored, storage) &&
        !AppendDigitsOfText(digits, field, parsed, stored, storage)) {
        AppendNumber(digits, stored, storage);
    }
    return digits;
}

TEST(ShortestTextOfFieldTest, WritesWhatTheValueGivesAndTakesTheCommonTextsAlone) {
    // Plain decimal of every shape the files hold: read by the text alone.
    const char* const taken[] = {"35.540", " 7.51", "-15.500", "2.00", "0.000120", "0.0",
                                 "0",      "-0",    "5.",      "0.5",  "-1500",    "  -0.000",
                                 "10.000", "0.",    " 0.05",   "120"};
    // Worked out from the value: other text, text written in the scientific form, and (for a
    // float) digits the text does not decide.
    const char* const other[] = {
        "100000", "1000000", "0.0001", ".5", "-.5",   "00.5",  "007", "1e3",
        " AC",    "",        "   ",    "-",  "1.2.3", "0x1p3", "+5",  "12345678901234567"};
    const char* const floatOther[] = {"1.0000001", "16777217", "9.999999", "123456.7",
                                      "60123.000116"};
    for (EPlotStorage storage :
         {EPlotStorage::kDouble, EPlotStorage::kFloat, EPlotStorage::kInt32}) {
        const bool single = storage == EPlotStorage::kFloat;
        const auto alone = [storage](const std::string& text) {
            // The bytes after the field are read and must not matter.
            const std::string line = text + ",99999999999999999999999999999999";
            return std::string(ShortestTextOfField(line.data(), text.size(), storage));
        };
        for (const std::string text : taken) {
            EXPECT_EQ(alone(text), FullDigits(text, storage))
                << '"' << text << "\" storage " << int(storage);
        }
        for (const std::string text : floatOther) {
            EXPECT_EQ(alone(text), single ? "" : FullDigits(text, storage)) << '"' << text << '"';
        }
        for (const std::string text : other) {
            EXPECT_EQ(alone(text), "") << '"' << text << "\" storage " << int(storage);
        }
    }
}

}  // namespace
}  // namespace corvane3
