// Telemetry files read in line-aligned pieces give the records the whole-file reader gives, however
// small the pieces and wherever they are cut.

#include "core/telemetry/TelemetryChunks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/telemetry/ChosenColumns.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;

// Records of a Tq9000 whose readings change from line to line.
std::vector<std::string> RecordLines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        UnitStateData record = SampleRecord();
        record.mjd = 60000.0 + i / 8640.0;
        record.d1.cLevel = 2500 + 7 * i;
        record.d1.pos21V = 24.0f + 0.001f * static_cast<float>(i);
        lines.push_back(TelemetryRecordLine(record, kModelTq9000));
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines, const std::string& end) {
    std::string text = TelemetryHeaderLine(kModelTq9000) + end;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

// Files as they come: line ends of every kind, a power cut's NULs, blank, short and over-long
// lines, a torn last line, the predecessor's format.
std::vector<std::pair<std::string, std::string>> Files() {
    std::vector<std::string> lines = RecordLines(40);
    std::vector<std::pair<std::string, std::string>> files = {
        {"crlf", Joined(lines, "\r\n")},
        {"lf", Joined(lines, "\n")},
        {"cr", Joined(lines, "\r")},
    };
    std::vector<std::string> damaged = lines;
    damaged[5] = std::string(300, '\0') + damaged[5];
    damaged[9] = "";
    damaged[12] = damaged[12].substr(0, 60);  // fewer fields: the rest are absent
    damaged[20] = std::string(70000, '7');    // longer than any record: skipped
    damaged[30] = "  \t";
    files.emplace_back("damaged", Joined(damaged, "\r\n") + lines[0].substr(0, 50));
    files.emplace_back("whole last line unterminated", Joined(lines, "\r\n") + lines[1]);
    std::string old = "Date Month Day Year\r\n";
    for (int i = 0; i < 30; ++i) {
        std::ostringstream line;
        line << 59000 + i << ".5";
        for (int column = 1; column < 51; ++column) {
            line << ',' << column * 3 + i;
        }
        old.append(line.str()).append("\r\n");
    }
    files.emplace_back("old format", old);
    return files;
}

// A value as a column of this storage keeps it: single precision in a float column (the values
// of these files are all well within float's range).
double Kept(double value, EPlotStorage storage) {
    return storage == EPlotStorage::kFloat ? static_cast<double>(static_cast<float>(value)) : value;
}

bool SameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

TEST(TelemetryChunksTest, PiecesOfAnySizeGiveTheRecordsOfTheWholeFileReader) {
    TempDir dir;
    for (const auto& [name, text] : Files()) {
        SCOPED_TRACE(name);
        const std::string path = (dir.Path() / "Unit.csd").string();
        std::ofstream(path, std::ios::binary) << text;
        CPlotData store;
        ASSERT_EQ(ReadDataFile(store, path).Code(), 0);

        CTelemetryFile file;
        std::string reason;
        ASSERT_EQ(file.Open(path, {}, reason), ETelemetryOpen::kOpened) << reason;
        const TelemetryFileLayout& layout = file.Layout();
        EXPECT_EQ(layout.identity.serial, store.SerialNumber());
        for (std::uint64_t pieceBytes : {1u, 13u, 97u, 700u, 1u << 20}) {
            SCOPED_TRACE(pieceBytes);
            const std::vector<TelemetryByteRange> pieces = file.SplitIntoPieces(pieceBytes);
            std::int64_t index = 0;
            std::uint64_t expectedBegin = layout.dataBegin;
            for (const TelemetryByteRange& piece : pieces) {
                // Pieces follow each other without gap, each starting at a line start.
                EXPECT_EQ(piece.begin, expectedBegin);
                expectedBegin = piece.end;
                std::uint64_t bytesRead = 0;
                ASSERT_TRUE(file.ForEachRecord(
                    piece, 64,
                    [&](const TelemetryLine& line) {
                        TelemetryRecordValues values;
                        EXPECT_TRUE(ParseTelemetryRecord(line, layout.map, values));
                        EXPECT_EQ(values.mjd, store.TimeAxis(0)[index]) << index;
                        for (int channel : layout.channels) {
                            EXPECT_TRUE(SameValue(
                                Kept(values.channels[static_cast<std::size_t>(channel)],
                                     store.ChannelStorage(channel)),
                                store.Channel(channel)[index]))
                                << "record " << index << " channel " << channel;
                        }
                        EXPECT_TRUE(SameValue(values.channels[kChannelSignal],
                                              store.Channel(kChannelSignal)[index]));
                        ++index;
                        return true;
                    },
                    &bytesRead));
                EXPECT_EQ(bytesRead, piece.end - piece.begin);
            }
            EXPECT_EQ(expectedBegin, layout.size);
            EXPECT_EQ(index, store.PointCount());
        }
    }
}

// The first frame's columns parsed alone give what a whole parse gives in their channels, and
// refuse the same lines: a long field where nothing is chosen, past the last chosen column or
// after the map's last column, a short line, exponents and blanks.
TEST(TelemetryChunksTest, ChosenColumnsParseAsTheWholeLineDoes) {
    TempDir dir;
    std::vector<std::string> lines = RecordLines(12);
    // Field k of line i becomes text.
    const auto set = [&](int i, int k, const std::string& text) {
        std::size_t at = 0;
        for (int f = 0; f < k; ++f) {
            at = lines[i].find(',', at) + 1;
        }
        lines[i].replace(at, lines[i].find(',', at) - at, text);
    };
    set(1, 40, std::string(32, '4'));  // refused
    set(2, 40, std::string(31, '4'));
    set(3, 6, std::string(40, '5'));         // refused
    lines[4] += "," + std::string(40, '6');  // beyond the header: damage, no record
    lines[5] = lines[5].substr(0, 60);       // fewer fields
    set(6, 12, " 1.5e3");                    // channel 3
    set(7, 14, "-.25E-1");                   // channel 5
    const std::string path = (dir.Path() / "Unit.csd").string();
    std::ofstream(path, std::ios::binary) << Joined(lines, "\r\n");
    CTelemetryFile file;
    std::string reason;
    ASSERT_EQ(file.Open(path, {}, reason), ETelemetryOpen::kOpened);
    const std::vector<int>& map = file.Layout().map;
    for (const std::vector<int>& channels : {std::vector<int>{3, 4}, {5, 20, kChannelSignal}, {}}) {
        const TelemetryColumnChoice choice = ChooseTelemetryColumns(map, channels, true);
        int line = 0;
        file.ForEachRecord(
            {file.Layout().dataBegin, file.Layout().size}, 4096, [&](const TelemetryLine& record) {
                TelemetryRecordValues whole, chosen;
                const bool parsed = ParseTelemetryRecord(record, map, whole);
                EXPECT_EQ(ParseChosenColumns(record, choice, chosen), parsed);
                EXPECT_EQ(parsed, line != 1 && line != 3) << line;
                EXPECT_TRUE(!parsed || SameValue(chosen.mjd, whole.mjd));
                for (const int c : channels) {
                    const auto i = static_cast<std::size_t>(c);
                    EXPECT_TRUE(!parsed || SameValue(chosen.channels[i], whole.channels[i]))
                        << "line " << line << " channel " << c;
                }
                ++line;
                return true;
            });
        EXPECT_EQ(line, 11);
    }
}

// A file without records yet keeps the identity the caller knows the unit by.
TEST(TelemetryChunksTest, AFileWithoutRecordsKeepsTheCallersIdentity) {
    TempDir dir;
    const std::string path = (dir.Path() / "Unit9.csd").string();
    for (const auto& [text, opened] :
         {std::pair(std::string(), ETelemetryOpen::kEmpty),
          {TelemetryHeaderLine(kModelTq9000) + kTelemetryLineEnd, ETelemetryOpen::kOpened}}) {
        std::ofstream(path, std::ios::binary) << text;
        CTelemetryFile file;
        std::string reason;
        EXPECT_EQ(file.Open(path, {.serial = 9, .unitType = kModelTq9000}, reason), opened);
        EXPECT_EQ(file.Layout().identity.serial, 9) << text;
        EXPECT_EQ(file.Layout().identity.unitType, kModelTq9000) << text;
        EXPECT_FALSE(file.Layout().HasData()) << text;
    }
}

}  // namespace
}  // namespace corvane3
