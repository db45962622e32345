// The CSV export takes the shortcut for text the parser found plain decimal: it must give the
// same digits as the full check does, for every kind of plain text and every storage.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "core/telemetry/ShortestDigits.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {
namespace {

TEST(ShortestTextOfPlainTest, GivesWhatTheFullCheckGives) {
    const char* const texts[] = {"35.540",   " 7.51",     "-15.500",  "2.00",     "0.000120",
                                 "0.0",      "0",         "-0",       "5.",       ".5",
                                 "-.5",      "00.5",      "0.5",      "100000",   "1000000",
                                 "123456.7", "1234567",   "0.0001",   "0.00001",  "60123.000116",
                                 "-1500",    "1.0000001", "16777217", "  -0.000", "10.000",
                                 "0.",       " 0.05",     "9.999999", "120"};
    for (const char* text : texts) {
        const std::string field = text;
        const char* stop = nullptr;
        const double parsed = ParseTelemetryNumber(field.data(), field.data() + field.size(), stop);
        const std::size_t point = std::min(field.find('.'), field.size());
        for (EPlotStorage storage :
             {EPlotStorage::kDouble, EPlotStorage::kFloat, EPlotStorage::kInt32}) {
            double stored = parsed;
            if (storage == EPlotStorage::kFloat) {
                stored = static_cast<float>(parsed);
            } else if (storage == EPlotStorage::kInt32) {
                if (std::trunc(parsed) != parsed) {
                    continue;  // kept as double: the int32 digits are not asked for
                }
                stored = static_cast<std::int32_t>(parsed);
            }
            EXPECT_EQ(ShortestTextOfPlain(field, field.data() + point, parsed, stored, storage),
                      ShortestTextOf(field, parsed, stored, storage))
                << '"' << text << "\" storage " << static_cast<int>(storage);
        }
    }
}

}  // namespace
}  // namespace corvane3
