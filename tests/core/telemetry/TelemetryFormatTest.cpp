// The .csd record lines: whole whatever the unit sends, and read back. (Their bytes: the recorded
// sessions and the locale tests.)

#include <gtest/gtest.h>

#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using testing::Columns;
using testing::SampleRecord;

// A unit whose version reply lacked the revision, or whose supply-board text is garbled, must
// not put a NUL, a line break or an extra comma into the file.
TEST(TelemetryFormatTest, UnprintableOrSeparatingTextKeepsTheLineWhole) {
    UnitStateData data = SampleRecord();
    data.firmwareRevisionLetter = '\0';
    data.firmwareRevision = 0;
    data.b20.source = "A,C\r\n";
    const std::string line = TelemetryRecordLine(data, 403);
    EXPECT_EQ(line.find('\0'), std::string::npos);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(Columns(line), kTelemetryColumnsTq9000);
    EXPECT_NE(line.find(",-15.500,? 0,"), std::string::npos);
    EXPECT_NE(line.find(",3, A?C??,"), std::string::npos);
}

// A window attached to the logging service rebuilds the unit's state from these lines: what it
// reads writes the same line again, for both layouts; a line that is not whole changes nothing.
TEST(TelemetryFormatTest, RecordLineReadsBackIntoTheStateThatWritesIt) {
    for (const std::int32_t model : {402, 403}) {
        const std::string line = TelemetryRecordLine(SampleRecord(), model);
        UnitStateData read;
        std::int32_t readModel = 0;
        ASSERT_TRUE(ParseTelemetryRecordLine(line, read, readModel)) << line;
        EXPECT_EQ(readModel, model);
        EXPECT_EQ(TelemetryRecordLine(read, readModel), line);
        EXPECT_EQ(read.d2.serialNumber, SampleRecord().d1.serialNumber);
    }
    const std::string good = TelemetryRecordLine(SampleRecord(), 403);
    const auto replaced = [&](std::string_view what, std::string_view with) {
        std::string line = good;
        return line.replace(line.find(what), what.size(), with);
    };
    const std::string bad[] = {
        "",
        good.substr(0, good.rfind(',')),            // a column short
        good + ",5",                                // a column more
        replaced(" 403", " 402"),                   // Tq9000 columns for another model
        replaced(" 1,11", " 0,11"),                 // Factory 0: no nominal columns
        replaced(",-1500,", ",-15x0,"),             // FreqTune not a number
        replaced(",B 12,", ",B12,"),                // the revision without its blank
        replaced(",B 12,", ",B 1.2,"),              // nor a whole number
        replaced(",ff,", ",fg,"),                   // Alarm5 not hexadecimal
    };
    for (const std::string& line : bad) {
        UnitStateData read = SampleRecord();
        read.d1.freqTune = 7;
        std::int32_t model = 99;
        EXPECT_FALSE(ParseTelemetryRecordLine(line, read, model)) << line;
        EXPECT_EQ(read.d1.freqTune, 7);
        EXPECT_EQ(model, 99);
    }
}

}  // namespace
}  // namespace corvane3
