// The .csd reader against files written with the recorder's own line format, and small files of
// the old format made here.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <ranges>
#include <tuple>

#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;

// Channels each current-format map fills from its columns.
std::vector<int> Channels(int first, int last) {
    const auto channels = std::views::iota(first, last + 1);
    return {channels.begin(), channels.end()};
}

DataFileReadOptions WithModel(std::atomic<std::int32_t>& model) {
    DataFileReadOptions options;
    options.instrumentModel = &model;
    return options;
}

// Drops the last count fields of a line.
std::string WithoutLastFields(std::string line, int count) {
    for (int i = 0; i < count; ++i) {
        line.erase(line.rfind(','));
    }
    return line;
}

// Recorder lines of this model for MJDs 60000 + first onwards.
std::string Records(std::int32_t model, int first, int count, const char* lineEnd = "\r\n") {
    std::string text;
    UnitStateData record = SampleRecord();
    for (int i = first; i < first + count; ++i) {
        record.mjd = 60000.0 + i;
        text += TelemetryRecordLine(record, model) + lineEnd;
    }
    return text;
}

class DataFileReaderTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& text, const std::string& name = "Unit1234.csd") {
        const std::string path = (dir_.Path() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // A recorder file of this model with one record per MJD; factory 0 files lack the
    // seven nominal and counter columns.
    std::string RecorderFile(std::int32_t model, bool factory, std::vector<double> mjds) {
        std::string text = TelemetryHeaderLine(model);
        text = (factory ? text : WithoutLastFields(text, 7)) + "\r\n";
        for (double mjd : mjds) {
            UnitStateData record = SampleRecord();
            record.mjd = mjd;
            std::string line = TelemetryRecordLine(record, model);
            if (!factory) {
                line = WithoutLastFields(line, 7);
                line.replace(line.find(", 1,", line.find(", ") + 1), 4, ", 0,");
            }
            text += line + "\r\n";
        }
        return Write(text);
    }
    TempDir dir_;
};

TEST_F(DataFileReaderTest, EachCurrentMapFillsItsChannelsAsALivePointWould) {
    // Each row: the model, the factory flag, the channels filled beyond 1 to 25, the unit line.
    const std::vector<std::tuple<std::int32_t, bool, std::vector<int>, std::string>> cases{
        {402, true, Channels(26, 29), "Unit:\t7730B S/N 1234\n"},
        {401, false, {}, "Unit:\tChronoBeam S/N 1234\n"},
        {403, false, Channels(32, 36), "Unit:\tTq9000 S/N 1234\n"},
        {403, true, Channels(26, 36), "Unit:\tTq9000 S/N 1234\n"},
    };
    CPlotData live;
    live.AppendLiveRecord(SampleRecord());
    for (const auto& [fileModel, factory, extra, unitLine] : cases) {
        SCOPED_TRACE(std::to_string(fileModel) + (factory ? " factory" : ""));
        const std::string path = RecorderFile(fileModel, factory, {60100.0, 60100.5, 60102.25});
        std::atomic<std::int32_t> model{kModel7750};
        CPlotData store;
        const DataFileReadResult result = ReadDataFile(store, path, WithModel(model));
        ASSERT_EQ(result.Code(), 0);
        EXPECT_FALSE(result.HasMessage());
        EXPECT_EQ(result.progressText, "Filename:\t" + path + "\n\tType:  Corvane3 Data File\n" +
                                           unitLine + "NumPoints = 3");
        EXPECT_EQ(model, fileModel);
        EXPECT_EQ(store.PointCount(), 3);
        EXPECT_EQ(store.SerialNumber(), 1234);
        EXPECT_EQ(store.FactoryFlag(), factory ? 1 : 0);
        std::vector<int> filled = Channels(1, 25);  // and the derived 30 and 31
        filled.insert(filled.end(), {kChannelSignal, kChannelFlopBackground});
        filled.insert(filled.end(), extra.begin(), extra.end());
        for (int channel = 0; channel < kPlotChannelSlots; ++channel) {
            const bool fed = std::find(filled.begin(), filled.end(), channel) != filled.end();
            EXPECT_EQ(store.Channel(channel)[2], fed ? live.Channel(channel)[0] : 0.0)
                << "channel " << channel;
        }
        EXPECT_EQ(store.TimeAxis(0)[2], 60102.25);
        EXPECT_EQ(store.TimeAxis(2)[2], 54.0);
        EXPECT_EQ(store.TimeAxis(1).Name(), "Time since MJD 60100.0 [Days]");
        EXPECT_EQ(store.TimeAxis(4).Name(), "Time since MJD 60100.00000 [Seconds]");
    }
}

TEST_F(DataFileReaderTest, OldFormatMapsItsColumnsAndLeavesTheModelAlone) {
    // Column k holds k + 0.5 from column 15 on; the serial number column holds 777.
    std::string line = "59000.25";
    for (int column = 1; column < 51; ++column) {
        line += ',';
        line += column == 7 ? "777" : std::to_string(column) + (column < 15 ? "" : ".5");
    }
    const std::string path = Write("Year Month Day\r\n" + line + "\r\n" + line + "\r\n");
    std::atomic<std::int32_t> model{kModel7730B};
    CPlotData store;
    const DataFileReadResult result = ReadDataFile(store, path, WithModel(model));
    ASSERT_EQ(result.Code(), 0);
    EXPECT_EQ(
        result.progressText,
        "Filename:\t" + path + "\nType:\tCorvane2 Data File\nUnit:\tVelaX S/N 777\nNumPoints = 2");
    EXPECT_EQ(model, kModel7730B);
    EXPECT_EQ(store.UnitType(), kModel7750);
    const std::vector<std::pair<int, int>> columnOfChannel{{1, 15},  {16, 30}, {17, 32}, {20, 35},
                                                           {21, 42}, {24, 45}, {26, 47}, {29, 50}};
    for (const auto& [channel, column] : columnOfChannel) {
        EXPECT_EQ(store.Channel(channel)[1], column + 0.5) << "channel " << channel;
    }
    EXPECT_EQ(store.Channel(25)[1], 0.0);
    EXPECT_EQ(store.TimeAxis(0)[1], 59000.25);
}

TEST_F(DataFileReaderTest, UnreadableFilesAndLongFieldsGiveTheirMessagesAndKeepTheStore) {
    const std::string header = TelemetryHeaderLine(402) + "\r\n";
    const std::string record = TelemetryRecordLine(SampleRecord(), 402);
    const std::string field31(31, '1'), field32(32, '1');
    const std::vector<std::tuple<std::string, std::string, int, std::string, std::string>> cases{
        {"empty", Write("", "empty.csd"), -1,
         "Empty file:  " + (dir_.Path() / "empty.csd").string(), "Read Error"},
        {"header only", Write(header + "\r\n", "header.csd"), -1, "", ""},
        {"31 characters",
         Write(header + field31 + record.substr(record.find(',')) + "\r\n", "f31.csd"), 0, "", ""},
        {"32 characters",
         Write(header + record + "\r\n" + field32 + record.substr(record.find(',')) + "\r\n",
               "f32.csd"),
         -1, "File Read Error", ""},
    };
    for (const auto& [name, path, code, message, title] : cases) {
        SCOPED_TRACE(name);
        CPlotData store;
        store.AppendLiveRecord(SampleRecord());
        const DataFileReadResult result = ReadDataFile(store, path);
        EXPECT_EQ(result.Code(), code);
        EXPECT_EQ(result.message, message);
        EXPECT_EQ(result.title, title);
        EXPECT_EQ(store.PointCount(), 1);
    }
}

TEST_F(DataFileReaderTest, BlankTornAndShortLinesAndALiveContinuation) {
    const std::string header = TelemetryHeaderLine(402) + "\r\n";
    UnitStateData record = SampleRecord();
    record.mjd = 60000.0;
    const std::string full = TelemetryRecordLine(record, 402);
    const std::string shortLine = full.substr(0, full.find(",Ready"));  // ends with VCsOven
    const std::string path = Write(header + "\r\n" + full + "\r\n  \r\n" + shortLine + "\n" + full +
                                   "\r\n" + full.substr(0, 40));
    CPlotData store;
    ASSERT_EQ(ReadDataFile(store, path).Code(), 0);
    ASSERT_EQ(store.PointCount(), 3);
    EXPECT_EQ(store.Channel(16)[1], 6.25);
    EXPECT_TRUE(std::isnan(store.Channel(17)[1]));
    EXPECT_TRUE(std::isnan(store.Channel(25)[1]));
    EXPECT_EQ(store.Channel(17)[2], 12.5);

    record.mjd = 60001.5;
    store.AppendLiveRecord(record);
    EXPECT_EQ(store.PointCount(), 4);
    EXPECT_EQ(store.TimeAxis(1)[3], 1.5);
    EXPECT_EQ(store.Channel(0)[2], 0.0);
}

// Fields converted as strtod converts them, bit for bit: plain decimals of every length (the
// fast path and beyond it), exponents, leading zeros and points, signs, junk after the number.
TEST(FieldToDoubleTest, ConvertsAsStrtodDoes) {
    std::mt19937 random(5);
    const std::string alphabet = "0123456789000.e-+x ";
    for (int i = 0; i < 200000; ++i) {
        std::string field = i % 3 ? "" : " ";
        field += "+-"[random() % 2];
        const std::size_t length = 1 + random() % 24;
        for (std::size_t k = 0; k < length; ++k) {
            field += k < 4 || random() % 4 ? alphabet[random() % (k == 0 ? 14 : 10)]
                                           : alphabet[random() % 19];
        }
        const double expected = std::strtod(field.c_str(), nullptr);
        const double converted = FieldToDouble(field.data(), field.data() + field.size());
        ASSERT_EQ(std::memcmp(&expected, &converted, sizeof expected), 0) << "\"" << field << "\"";
    }
}

// Records counted but gone when parsed (the file was cut meanwhile) are absent, not garbage.
TEST_F(DataFileReaderTest, AFileCutShorterWhileReadLeavesTheLostRecordsAbsent) {
    const std::string text = TelemetryHeaderLine(402) + "\r\n" + Records(402, 0, 100);
    const std::string path = Write(text);
    const auto cutAt = static_cast<std::uintmax_t>(text.find("60040"));
    DataFileReadOptions options;
    options.started = [&](const std::string&, std::int64_t) {
        std::filesystem::resize_file(path, cutAt);
    };
    CPlotData store;
    const DataFileReadResult result = ReadDataFile(store, path, options);
    ASSERT_EQ(result.Code(), 0);
    EXPECT_EQ(result.vanishedRecords, 60);
    ASSERT_EQ(store.PointCount(), 100);
    EXPECT_EQ(store.TimeAxis(0)[39], 60039.0);
    EXPECT_TRUE(std::isnan(store.TimeAxis(0)[40]));
    EXPECT_TRUE(std::isnan(store.Channel(kChannelSignal)[99]));
}

// Two and three threads reading small windows (the three-thread one smaller than a line) must
// give the store one thread gives.
TEST_F(DataFileReaderTest, ParallelParseGivesTheSameStoreAsOneThread) {
    std::string text = TelemetryHeaderLine(403) + "\r\n";
    UnitStateData record = SampleRecord();
    for (int i = 0; i < 5000; ++i) {
        record.mjd = 60000.0 + i / 8640.0;
        record.d1.cLevel = 2000 + i % 977;
        record.d1.tChassis = 30.0f + static_cast<float>(i % 13) / 8.0f;
        record.b20.charge = i % 7 - 3;
        const std::string line = TelemetryRecordLine(record, 403);
        text +=
            (i % 500 == 7 ? line.substr(0, line.find(",Ready")) : line) + (i % 3 ? "\r\n" : "\n");
        if (i % 1000 == 0) {
            text += "\r\n";
        }
    }
    // Numbers as strtod reads them, and a text that is no number; the rest of the line is absent.
    text += "60001.0,1234, 403, 1, 0, 0, 0, 0, 0, 0,+2.5e1, 0x10,  -7 ,Cold\r\n";
    const std::string path = Write(text);
    std::vector<CPlotData> stores(3);
    std::vector<std::int64_t> progress;
    for (int threads : {1, 2, 3}) {
        DataFileReadOptions options;
        options.threads = threads;
        options.readWindow = threads == 1 ? 0 : threads == 2 ? 4096 : 64;
        options.progress = [&](std::int64_t done, std::int64_t total) {
            EXPECT_LE(done, total);
            progress.push_back(done);
        };
        ASSERT_EQ(ReadDataFile(stores[threads - 1], path, options).Code(), 0);
        EXPECT_EQ(progress.back(), 5001);
    }
    ASSERT_EQ(stores[0].PointCount(), 5001);
    const std::vector<double> converted{25.0, 16.0, -7.0, 0.0};
    for (int channel = 1; channel <= 4; ++channel) {
        EXPECT_EQ(stores[0].Channel(channel)[5000], converted[channel - 1])
            << "channel " << channel;
    }
    EXPECT_TRUE(std::isnan(stores[0].Channel(5)[5000]));
    for (int slot = 0; slot <= kPlotChannelSlots + kPlotTimeAxes - 1; ++slot) {
        const auto series = [&](const CPlotData& s) {
            return slot < kPlotChannelSlots ? s.Channel(slot)
                                            : s.TimeAxis(slot - kPlotChannelSlots);
        };
        for (std::int64_t i = 0; i < 5001; ++i) {
            const double one = series(stores[0])[i];
            for (const CPlotData* other : {&stores[1], &stores[2]}) {
                const double value = series(*other)[i];
                ASSERT_EQ(std::memcmp(&one, &value, sizeof one), 0)
                    << "slot " << slot << " point " << i;
            }
        }
    }
}

// What a power cut leaves (NULs, with records appended after them by older versions), lines
// that are too long to be records, and other line ends: every whole record is read, in order,
// whatever window the reader uses.
TEST_F(DataFileReaderTest, DamageIsSkippedAndEveryWholeRecordReadWithAnyLineEnd) {
    const std::string header = TelemetryHeaderLine(402) + "\r\n";
    const std::string nuls(4096, '\0');
    const std::string longLine(100000, '7');
    const std::vector<std::tuple<const char*, std::string, int>> cases{
        {"NUL tail with records glued to it",
         header + Records(402, 0, 10) + nuls + Records(402, 10, 2), 12},
        {"NUL line", header + Records(402, 0, 10) + nuls + "\r\n" + Records(402, 10, 2), 12},
        {"NUL tail at the end", header + Records(402, 0, 12) + nuls, 12},
        {"NUL before the first record", header + '\0' + Records(402, 0, 12), 12},
        {"CR line ends", TelemetryHeaderLine(402) + "\r" + Records(402, 0, 12, "\r"), 12},
        {"LF line ends", TelemetryHeaderLine(402) + "\n" + Records(402, 0, 12, "\n"), 12},
        {"CR LF records after CR ones",
         TelemetryHeaderLine(402) + "\r" + Records(402, 0, 6, "\r") + Records(402, 6, 6), 12},
        {"a line too long to be a record",
         header + Records(402, 0, 6) + longLine + "\r\n" + Records(402, 6, 6), 12},
        {"a long unterminated last line", header + Records(402, 0, 12) + longLine + longLine, 12},
    };
    for (const std::size_t window : {std::size_t{0}, std::size_t{1000}}) {
        for (const auto& [name, text, records] : cases) {
            SCOPED_TRACE(std::string(name) + ", window " + std::to_string(window));
            DataFileReadOptions options;
            options.readWindow = window;
            options.threads = 2;
            CPlotData store;
            const DataFileReadResult result = ReadDataFile(store, Write(text), options);
            ASSERT_EQ(result.Code(), 0) << result.message;
            ASSERT_EQ(store.PointCount(), records);
            for (int i = 0; i < records; ++i) {
                EXPECT_EQ(store.TimeAxis(0)[i], 60000.0 + i) << i;
                EXPECT_EQ(store.Channel(26)[i], 1.0) << i;  // the last column: none shifted
            }
            EXPECT_NE(result.progressText.find("Unit:\t7730B S/N 1234\n"), std::string::npos);
        }
    }
}

// The columns come from the header, the unit from the first record that fits them: a damaged
// first record neither shifts the columns nor names another unit.
TEST_F(DataFileReaderTest, TheHeaderDecidesTheColumnsAndTheFirstFittingRecordTheUnit) {
    const std::string header = TelemetryHeaderLine(403) + "\r\n";
    const std::string good = Records(403, 1, 3);
    const std::string first = Records(403, 0, 1);
    // The first record with another UnitType field (the third).
    const auto withUnitType = [&](const std::string& value) {
        std::string line = first;
        return line.replace(line.find(",1234, 403,") + 6, 4, value);
    };
    const std::vector<std::tuple<const char*, std::string, std::string, std::int32_t>> cases{
        {"overflowing UnitType", header + withUnitType(" 4030000000000") + good,
         "Unit:\tTq9000 S/N 1234\n", 403},
        {"unknown UnitType", header + withUnitType(" 7") + good, "Unit:\tTq9000 S/N 1234\n", 403},
        {"records of another model", header + Records(402, 0, 4), "Unit:\t7730B S/N 1234\n", 402},
    };
    for (const auto& [name, text, unitLine, unitModel] : cases) {
        SCOPED_TRACE(name);
        std::atomic<std::int32_t> model{401};
        CPlotData store;
        const DataFileReadResult result = ReadDataFile(store, Write(text), WithModel(model));
        ASSERT_EQ(result.Code(), 0) << result.message;
        EXPECT_NE(result.progressText.find(unitLine), std::string::npos) << result.progressText;
        EXPECT_EQ(model, unitModel);
        // The header's 51 columns: the supply board's and the counters in their places.
        EXPECT_THAT(result.channels, ::testing::Contains(36));
        ASSERT_EQ(store.PointCount(), 4);
        if (unitModel == 403) {
            EXPECT_EQ(store.Channel(35)[1], 26.75);  // Batt24
            EXPECT_EQ(store.Channel(26)[1], 1.0);    // CBTD
        }
    }
}

}  // namespace
}  // namespace corvane3
