// The status records as the program's readers cut them: fixed columns counted from the STX,
// the identity scan pattern, the nvram field list and the DCC supply record.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "sim/SimClient.h"
#include "sim/StatusRecords.h"

namespace corvane3::testing {
namespace {

// One column of a record: where the reader cuts it, how it scans it and what it accepts.
struct Column {
    std::size_t start;
    std::size_t length;
    char conversion;  // 'u' unsigned, 'd' signed, 'x' hexadecimal, 'f' float
    double low;
    double high;
};

// Cuts the column and scans it; the whole cut (after leading blanks) must be one number, so a
// field that is one column off shows up as unscanned text.
std::optional<double> ScanColumn(const std::string& record, const Column& column) {
    const std::string cut = record.substr(column.start, column.length);
    int used = 0;
    double value = 0;
    if (column.conversion == 'f') {
        float f = 0;
        if (std::sscanf(cut.c_str(), "%f%n", &f, &used) != 1)
            return std::nullopt;
        value = f;
    } else if (column.conversion == 'x') {
        unsigned x = 0;
        if (std::sscanf(cut.c_str(), "%x%n", &x, &used) != 1)
            return std::nullopt;
        value = x;
    } else {
        long d = 0;
        if (std::sscanf(cut.c_str(), "%ld%n", &d, &used) != 1)
            return std::nullopt;
        if (column.conversion == 'u' && (cut.find_first_of("+-") != std::string::npos)) {
            return std::nullopt;
        }
        value = static_cast<double>(d);
    }
    if (static_cast<std::size_t>(used) != cut.size())
        return std::nullopt;
    return value;
}

// The D*1 columns and ranges of the record reader (row 6, mode text, and row 33, oven state,
// are characters and are checked separately).
const Column kD1Columns[] = {
    {5, 5, 'u', 0, 99999},        {11, 3, 'u', 0, 999},          {15, 2, 'u', 0, 23},
    {18, 2, 'u', 0, 59},          {22, 2, 'u', 0, 59},           {26, 1, 'u', 1, 2},
    {36, 2, 'u', 0, 17},          {39, 2, 'x', 0, 255},          {42, 2, 'x', 0, 255},
    {45, 2, 'x', 0, 255},         {48, 2, 'x', 0, 255},          {51, 2, 'x', 0, 255},
    {55, 4, 'd', -999, 999},      {61, 7, 'd', -999999, 999999}, {69, 6, 'f', -100, 100},
    {79, 4, 'f', 0.1, 100},       {86, 4, 'd', -999, 999},       {93, 5, 'd', -9999, 9999},
    {99, 4, 'd', -999, 999},      {106, 5, 'd', -9999, 9999},    {113, 5, 'd', -9999, 9999},
    {120, 4, 'd', 0, 9999},       {126, 5, 'd', -9999, 9999},    {133, 4, 'd', 0, 9999},
    {139, 5, 'd', -99999, 99999}, {147, 4, 'f', 0.1, 9.99},      {153, 5, 'd', -9999, 9999},
    {160, 5, 'd', -9999, 9999},   {167, 5, 'f', -9.99, 9.99},    {175, 5, 'f', -99.9, 99.9},
    {181, 5, 'f', -99.9, 99.9},   {188, 5, 'f', -99.9, 99.9},    {201, 4, 'f', 0, 99.9},
    {208, 4, 'f', 0, 99.9},       {215, 4, 'f', 0, 9.99},        {222, 4, 'f', 0, 99.9},
    {229, 4, 'f', 0, 99.9},       {236, 3, 'd', 0, 999},         {240, 4, 'd', -999, 999},
};

const Column kD2Columns[] = {
    {5, 5, 'u', 0, 99999},     {11, 3, 'u', 0, 999},      {15, 2, 'u', 0, 23},
    {18, 2, 'u', 0, 59},       {22, 2, 'u', 0, 59},       {28, 4, 'f', 0, 99.9},
    {37, 4, 'f', 0, 9.99},     {48, 3, 'd', 1, 256},      {56, 3, 'd', -99, 99},
    {64, 3, 'd', -99, 99},     {72, 3, 'd', -99, 99},     {80, 3, 'd', -99, 99},
    {87, 5, 'd', -9999, 9999}, {95, 5, 'd', -9999, 9999}, {104, 4, 'f', 0, 999},
    {135, 3, 'd', 400, 404},   {139, 3, 'f', 0, 999},
};

void ExpectColumnsValid(const std::string& record, const Column* begin, const Column* end) {
    for (const Column* column = begin; column != end; ++column) {
        const auto value = ScanColumn(record, *column);
        ASSERT_TRUE(value) << "column " << column->start << ": '"
                           << record.substr(column->start, column->length) << "'";
        EXPECT_GE(*value, column->low) << "column " << column->start;
        EXPECT_LE(*value, column->high) << "column " << column->start;
    }
}

struct ModelCase {
    int model;
    bool hasNvram;
    bool hasDcc;
};

class StatusRecordsForEveryModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(StatusRecordsForEveryModel, RecordsCutCleanlyAtTheReadersColumns) {
    const ModelCase& c = GetParam();
    sim::SimulatorOptions options = QuickOptions(c.model);
    options.instrument.serial = 4321;
    options.instrument.instrumentSweep = c.model == 401;
    SimClient client(options);
    ASSERT_TRUE(client.Opened());

    const std::string d1 = client.ReadRecord("D*1", 250);
    ASSERT_EQ(d1.size(), 250u);
    EXPECT_EQ(d1.front(), kStx);
    EXPECT_EQ(d1.back(), kEtx);
    ExpectColumnsValid(d1, std::begin(kD1Columns), std::end(kD1Columns));
    EXPECT_EQ(d1.substr(5, 5), "04321");
    EXPECT_TRUE(d1.substr(28, 3) == "R+Z" || d1.substr(28, 3) == "R+T") << d1.substr(28, 3);
    EXPECT_TRUE(d1[197] == 'c' || d1[197] == 'f');

    const std::string d2 = client.ReadRecord("D*2", 145);
    ASSERT_EQ(d2.size(), 145u);
    EXPECT_EQ(d2.substr(0, 5), "\x02\r\nID");
    ExpectColumnsValid(d2, std::begin(kD2Columns), std::end(kD2Columns));
    EXPECT_EQ(d2.substr(135, 3), std::to_string(c.model));
    EXPECT_EQ(d2.substr(117, 2), c.model == 401 ? "US" : "NS");

    // The identity poll scans the same text as a whole.
    unsigned serial = 0, days = 0, hours = 0, minutes = 0, seconds = 0;
    float vms = 0, vion = 0, dds = 0, value18 = 0;
    int dac = 0, m15 = 0, p15 = 0, p45 = 0, p75 = 0, pi = 0, oz = 0, model = 0;
    char sweep[3] = {}, text[11] = {};
    EXPECT_EQ(std::sscanf(d2.c_str(),
                          "\x02 ID%u %u %uh %umn %u Vs %fV Vf %fV GDAC %d -15:%d +15:%d +45:%d "
                          "+75:%d Pi%d Oz%d Fo:%f MHZ CDU:%2s TXT:%10s %3d %f",
                          &serial, &days, &hours, &minutes, &seconds, &vms, &vion, &dac, &m15, &p15,
                          &p45, &p75, &pi, &oz, &dds, sweep, text, &model, &value18),
              19);
    EXPECT_EQ(serial, 4321u);
    EXPECT_EQ(model, c.model);
    EXPECT_EQ(std::string(text), d2.substr(124, 10));

    const std::string d5 = client.Exchange("D*5");
    if (c.hasNvram) {
        long l1 = 0, l5 = 0, l6 = 0, l13 = 0;
        int i[16] = {};
        float f17 = 0, f18 = 0;
        char text19[12] = {}, ch[6] = {};
        unsigned x[7] = {};
        EXPECT_EQ(std::sscanf(d5.c_str(),
                              "\x02%ld,%d,%d,%d,%ld,%ld,%d,%d,%d,%d,%d,%d,%ld,%d,%d,%d,%f,%f,"
                              "%11[^,],%d,%d,%x,%x,%x,%x,%x,%c,%c,%c,%x,%c,%c,%c,%x,%d,%d",
                              &l1, &i[0], &i[1], &i[2], &l5, &l6, &i[3], &i[4], &i[5], &i[6], &i[7],
                              &i[8], &l13, &i[9], &i[10], &i[11], &f17, &f18, text19, &i[12],
                              &i[13], &x[0], &x[1], &x[2], &x[3], &x[4], &ch[0], &ch[1], &ch[2],
                              &x[5], &ch[3], &ch[4], &ch[5], &x[6], &i[14], &i[15]),
                  36)
            << d5;
        EXPECT_LT(d5.size(), 152u);  // the reader takes it in one read of at most 152
    } else {
        EXPECT_EQ(d5.substr(0, 11),
                  "\x02"
                  "D*5 00000 ");
        EXPECT_EQ(d5[11], '?');
    }

    const std::string b20 = c.hasDcc ? client.ReadRecord("B20", 39) : client.Exchange("B20");
    if (c.hasDcc) {
        ASSERT_EQ(b20.size(), 39u);
        EXPECT_EQ(b20[0], kStx);
        EXPECT_EQ(b20[38], kEtx);
        std::string text = b20.substr(1, 36);
        char token[8] = {}, source[8] = {};
        float supply[4] = {};
        int charge = 0;
        EXPECT_EQ(std::sscanf(text.c_str(), "%7s %f %f %f %f %d %7s ", token, &supply[0],
                              &supply[1], &supply[2], &supply[3], &charge, source),
                  7)
            << b20;
    } else {
        EXPECT_EQ(b20[11], '?');
    }
}

INSTANTIATE_TEST_SUITE_P(Models, StatusRecordsForEveryModel,
                         ::testing::Values(ModelCase{400, true, false}, ModelCase{401, true, false},
                                           ModelCase{402, true, false}, ModelCase{403, true, true},
                                           ModelCase{404, false, false}),
                         [](const auto& info) {
                             return "Model" + std::to_string(info.param.model);
                         });

TEST(StatusRecordBuilder, ValuesAtTheEdgesOfTheirColumnsReadBackUnchanged) {
    sim::D1Values v;
    v.serial = 99999;
    v.days = 999;
    v.hours = 23;
    v.freqTune = -999999;
    v.pos21V = -21.37;
    v.clockRabiError = -9999;
    v.dcLevel = -1234;
    v.neg15V = -15.04;
    v.alarms = {0xF1, 0x26, 0, 0, 0x80};
    v.ionPumpCurrent = 999;
    v.deviation = -999;
    const std::string d1 = sim::BuildD1Record(v);
    ASSERT_EQ(d1.size(), 250u);
    const struct {
        Column column;
        double expected;
    } rows[] = {
        {{5, 5, 'u', 0, 0}, 99999},    {{11, 3, 'u', 0, 0}, 999},    {{15, 2, 'u', 0, 0}, 23},
        {{61, 7, 'd', 0, 0}, -999999}, {{69, 6, 'f', 0, 0}, -21.37}, {{93, 5, 'd', 0, 0}, -9999},
        {{139, 5, 'd', 0, 0}, -1234},  {{188, 5, 'f', 0, 0}, -15.0}, {{39, 2, 'x', 0, 0}, 0xF1},
        {{42, 2, 'x', 0, 0}, 0x26},    {{51, 2, 'x', 0, 0}, 0x80},   {{236, 3, 'd', 0, 0}, 999},
        {{240, 4, 'd', 0, 0}, -999},
    };
    for (const auto& row : rows) {
        const auto value = ScanColumn(d1, row.column);
        ASSERT_TRUE(value) << row.column.start;
        EXPECT_NEAR(*value, row.expected, 0.005) << row.column.start;
    }

    // Values too wide for their columns are clamped instead of shifting their neighbours.
    v.freqTune = 12345678;
    v.clockLevel = 123456;
    const std::string clamped = sim::BuildD1Record(v);
    ASSERT_EQ(clamped.size(), 250u);
    EXPECT_EQ(clamped.substr(61, 7), "+999999");
    EXPECT_EQ(clamped.substr(120, 4), "9999");
    EXPECT_EQ(clamped.substr(126, 5), d1.substr(126, 5));
}

}  // namespace
}  // namespace corvane3::testing
