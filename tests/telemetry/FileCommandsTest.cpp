// --summary and --export-csv on a file in the recorder's own format.

#include "telemetry/FileCommands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "plot/PlotData.h"
#include "support/TempDir.h"
#include "telemetry/DataFileReader.h"
#include "telemetry/TelemetryFormat.h"
#include "telemetry/TelemetryTestData.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;

class FileCommandsTest : public ::testing::Test {
  protected:
    // A Tq9000 file of three records a day apart whose clock signal and +21 V differ.
    FileCommandsTest() {
        std::ofstream file(path_, std::ios::binary);
        file << TelemetryHeaderLine(kModelTq9000) << "\r\n";
        for (int day = 0; day < 3; ++day) {
            UnitStateData record = SampleRecord();
            record.mjd = 61000.25 + day;
            record.d1.cLevel = 3000 + 100 * day;
            record.d1.pos21V = 21.1f + 0.1f * static_cast<float>(day);
            file << TelemetryRecordLine(record, kModelTq9000) << "\r\n";
        }
    }
    std::string Run(int (*command)(const std::string&, std::ostream&, std::ostream&)) {
        std::ostringstream out, err;
        status_ = command(path_, out, err);
        err_ = err.str();
        return out.str();
    }

    TempDir dir_;
    const std::string path_ = (dir_.Path() / "Unit1234.csd").string();
    int status_ = -1;
    std::string err_;
};

TEST_F(FileCommandsTest, SummaryCountsEveryRecordAndGivesEachChannelsRange) {
    const std::string summary = Run(RunSummary);
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(summary.substr(0, summary.find("Decay")),
              "File: " + path_ +
                  "\nFormat: Corvane3 Data File\nUnit: Tq9000 S/N 1234\nRecords: 3\n"
                  "First: MJD 61000.250000 (2025-11-21 06:00:00 UTC)\n"
                  "Last: MJD 61002.250000 (2025-11-23 06:00:00 UTC)\n");
    EXPECT_NE(summary.find("\nDecay = +"), std::string::npos) << summary;  // a rising signal
    EXPECT_NE(summary.find("\nChannel "), std::string::npos);
    EXPECT_NE(summary.find("\nSignal "), std::string::npos) << "the derived channels too";
    std::istringstream supply(summary.substr(summary.find("\n+21 VDC ") + 9));
    std::string unit;
    double min = 0, mean = 0, max = 0, sigma = 0;
    supply >> unit >> min >> mean >> max >> sigma;
    EXPECT_EQ(unit, "VDC");
    EXPECT_NEAR(min, 21.1, 1e-5);
    EXPECT_NEAR(mean, 21.2, 1e-5);
    EXPECT_NEAR(max, 21.3, 1e-5);
    EXPECT_NEAR(sigma, 0.0816497, 1e-5);  // population sigma of 21.1, 21.2, 21.3
}

TEST_F(FileCommandsTest, CsvHoldsEveryRecordInDigitsThatReadBackToTheStoredValues) {
    const std::string csv = Run([](const std::string& path, std::ostream& out, std::ostream& err) {
        return RunExportCsv(path, "-", out, err);
    });
    ASSERT_EQ(status_, 0) << err_;
    CPlotData store;
    ASSERT_EQ(ReadDataFile(store, path_).Code(), 0);
    std::istringstream lines(csv);
    std::string heading;
    std::getline(lines, heading);
    EXPECT_TRUE(heading.starts_with("MJD,Variance (mV),Clk Ramsey (mV),")) << heading;
    EXPECT_NE(heading.find(",DAC Gain,"), std::string::npos);  // no unit, no brackets
    EXPECT_NE(heading.find(",Signal (mV),Flop/Background,"), std::string::npos);
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
        ASSERT_TRUE(line.ends_with("\r"));
        std::istringstream fields(line);
        std::string mjd, variance, clockRamsey, clockRabi, clockSignal;
        std::getline(fields, mjd, ',');
        std::getline(fields, variance, ',');
        std::getline(fields, clockRamsey, ',');
        std::getline(fields, clockRabi, ',');
        std::getline(fields, clockSignal, ',');
        EXPECT_EQ(std::stod(mjd), store.TimeAxis(0)[records]);
        EXPECT_EQ(std::stod(clockSignal), store.Channel(4)[records]);
    }
    EXPECT_EQ(records, 3);
    EXPECT_NE(csv.find(",21.2,"), std::string::npos) << "a float in its own shortest digits";

    // By default beside the file, as .csv; never over the file itself; a refused file is told.
    std::ostringstream out, err;
    EXPECT_EQ(RunExportCsv(path_, "", out, err), 0);
    EXPECT_EQ(FileText(dir_.Path() / "Unit1234.csv"), csv);
    EXPECT_EQ(RunExportCsv(path_, path_, out, err), 1);
    EXPECT_NE(FileText(path_).find("MJD, ID"), std::string::npos);
    EXPECT_EQ(RunExportCsv(path_ + ".missing", "-", out, err), 1);
    EXPECT_NE(err.str().find("Cannot Open File:\n" + path_ + ".missing"), std::string::npos);
}

}  // namespace
}  // namespace corvane3
