// The CSV's numbers: the fewest digits that read back to the value as the store keeps it, and
// the field's own text standing in for them whenever it has just those digits.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <tuple>

#include "core/telemetry/ShortestDigits.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {
namespace {

std::string Shortest(double value, EPlotStorage storage) {
    std::string text;
    AppendNumber(text, value, storage);
    return text;
}

// What the CSV writes for a field's text: its own digits when they serve (fromText tells), else
// those worked out from the value parsed and kept as storage keeps it (a fraction in a
// whole-number channel as double).
std::string FieldDigits(const std::string& field, EPlotStorage storage, bool* fromText = nullptr) {
    const char* stop = nullptr;
    const double parsed = ParseTelemetryNumber(field.data(), field.data() + field.size(), stop);
    double stored = parsed;
    if (storage == EPlotStorage::kFloat) {
        stored = static_cast<float>(parsed);
    } else if (storage == EPlotStorage::kInt32 && std::trunc(parsed) == parsed) {
        stored = static_cast<std::int32_t>(parsed);
    }
    std::string text;
    const bool own = CopyShortestText(text, field, parsed, stored, storage) ||
                     AppendDigitsOfText(text, field, parsed, stored, storage);
    if (!own) {
        AppendNumber(text, stored, storage);
    }
    if (fromText != nullptr) {
        *fromText = own;
    }
    // Taken from the text or not, the digits are those of the stored value.
    EXPECT_EQ(text, Shortest(stored, storage)) << "field \"" << field << "\"";
    return text;
}

TEST(ShortestDigitsTest, WritesTheFewestDigitsThatReadBackIncludingAtTheExtremes) {
    constexpr double kDoubleMax = std::numeric_limits<double>::max();
    constexpr float kFloatMax = std::numeric_limits<float>::max();
    constexpr float kFloatDenormal = std::numeric_limits<float>::denorm_min();
    const std::tuple<double, EPlotStorage, const char*> cases[] = {
        {std::nan(""), EPlotStorage::kDouble, ""},  // an absent value: an empty field
        {0.0, EPlotStorage::kDouble, "0"},
        {0.1, EPlotStorage::kDouble, "0.1"},
        {static_cast<double>(0.1f), EPlotStorage::kFloat, "0.1"},
        {static_cast<double>(0.1f), EPlotStorage::kDouble, "0.10000000149011612"},
        {123456.0, EPlotStorage::kDouble, "123456"},
        {-kDoubleMax, EPlotStorage::kDouble, "-1.7976931348623157e+308"},
        {static_cast<double>(kFloatMax), EPlotStorage::kFloat, "3.4028235e+38"},
        {static_cast<double>(kFloatDenormal), EPlotStorage::kFloat, "1e-45"},
        {std::numeric_limits<double>::infinity(), EPlotStorage::kDouble, "inf"},
        {-1234567.0, EPlotStorage::kInt32, "-1234567"},
    };
    for (const auto& [value, storage, text] : cases) {
        EXPECT_EQ(Shortest(value, storage), text) << text;
    }
}

// Plain decimal text of few enough digits is written from its own digits, trailing zeros and a
// bare point dropped; any other text has its digits worked out. Either way the digits are those
// of the stored value (checked in FieldDigits).
TEST(ShortestDigitsTest, TakesTheFieldsOwnDigitsWhereTheyAreTheFewestThatReadBack) {
    const std::tuple<const char*, EPlotStorage, const char*, bool> cases[] = {
        {"35.540", EPlotStorage::kDouble, "35.54", true},
        {" 7.51", EPlotStorage::kFloat, "7.51", true},
        {"2.00", EPlotStorage::kDouble, "2", true},
        {"-15.500", EPlotStorage::kFloat, "-15.5", true},
        {"0.000120", EPlotStorage::kDouble, "0.00012", true},
        {".5", EPlotStorage::kDouble, "0.5", true},
        {"-.5", EPlotStorage::kDouble, "-0.5", true},
        {"+3.25", EPlotStorage::kDouble, "3.25", true},
        {"100000", EPlotStorage::kDouble, "1e+05", true},
        {"0.0001", EPlotStorage::kDouble, "1e-04", true},
        {"-0.0", EPlotStorage::kDouble, "-0", true},
        {"0", EPlotStorage::kFloat, "0", true},
        {"1203", EPlotStorage::kInt32, "1203", true},
        {"60123.456789012", EPlotStorage::kDouble, "60123.456789012", true},
        // More digits than single or double precision tell apart: worked out.
        {"60123.4567890123456", EPlotStorage::kDouble, "60123.45678901234", false},
        {"1.23456789", EPlotStorage::kFloat, "1.2345679", false},
        {"16777217", EPlotStorage::kFloat, "16777216", false},
        // Not plain decimal text: worked out.
        {"1e5", EPlotStorage::kDouble, "1e+05", false},
        {"0x10", EPlotStorage::kDouble, "16", false},
        {"4.9e-324", EPlotStorage::kDouble, "5e-324", false},
        {"1.7976931348623157e308", EPlotStorage::kDouble, "1.7976931348623157e+308", false},
        {"", EPlotStorage::kDouble, "0", true},
    };
    for (const auto& [field, storage, text, ownText] : cases) {
        bool fromText = false;
        EXPECT_EQ(FieldDigits(field, storage, &fromText), text) << "field \"" << field << "\"";
        EXPECT_EQ(fromText, ownText) << "field \"" << field << "\"";
    }
}

// The CSV export writes most fields from their text alone: where it does, it must write what the
// full way writes from the value as the plot store keeps it, for every storage.
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
            EXPECT_EQ(alone(text), FieldDigits(text, storage))
                << '"' << text << "\" storage " << int(storage);
        }
        for (const std::string text : floatOther) {
            EXPECT_EQ(alone(text), single ? "" : FieldDigits(text, storage)) << '"' << text << '"';
        }
        for (const std::string text : other) {
            EXPECT_EQ(alone(text), "") << '"' << text << "\" storage " << int(storage);
        }
    }
}

}  // namespace
}  // namespace corvane3
