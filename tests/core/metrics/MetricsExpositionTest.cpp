// The exposition text: what each metric says about a record, and text that Prometheus's own
// checker accepts whatever the user's locale.

#include "core/metrics/MetricsExposition.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "support/ChildProcess.h"
#include "support/CommaLocale.h"
#include "support/RequiredTool.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

// Sample lines by "name{labels}", and the families in order of their TYPE lines; a failure for
// a sample outside its family's block or a family announced twice.
struct Parsed {
    std::map<std::string, std::string> samples;
    std::vector<std::string> families;
};

Parsed Parse(const std::string& text) {
    Parsed parsed;
    std::istringstream lines(text);
    std::string current;
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("# TYPE ")) {
            current = line.substr(7, line.find(' ', 7) - 7);
            EXPECT_TRUE(seen.insert(current).second) << "announced twice: " << current;
            parsed.families.push_back(current);
            continue;
        }
        if (line.starts_with("#")) {
            continue;
        }
        const std::size_t space = line.rfind(' ');
        const std::string series = line.substr(0, space);
        EXPECT_EQ(series.substr(0, series.find('{')), current) << "outside its family: " << line;
        parsed.samples[series] = line.substr(space + 1);
    }
    return parsed;
}

MetricsSnapshot RecordSnapshot(std::int32_t model) {
    MetricsSnapshot snapshot;
    snapshot.up = true;
    snapshot.hasRecord = true;
    snapshot.recordCurrent = true;
    snapshot.record = SampleRecord();
    snapshot.record.d1.valid.fill(true);
    snapshot.model = model;
    snapshot.pollingIntervalSeconds = 10;
    snapshot.statusRecords = 7;
    snapshot.recording = true;
    snapshot.recordsRecorded = 6;
    snapshot.recordsLost = 1;
    snapshot.signalSlopePerDay = -0.001;
    snapshot.signalHalvesMjd = 60823.5;
    snapshot.signalFitSpanDays = 2.0;
    snapshot.version = "3.1.4";
    snapshot.startedSeconds = 1700000000.5;
    return snapshot;
}

TEST(MetricsExpositionTest, ARecordBecomesIdentityStateAlarmsAndReadingsInBaseUnits) {
    const Parsed tq9000 = Parse(RenderMetrics(RecordSnapshot(kModelTq9000)));
    const std::map<std::string, std::string> expected{
        {"corvane3_up", "1"},
        {R"(corvane3_unit_info{serial="1234",model="Tq9000",firmware="B 12"})", "1"},
        {R"(corvane3_unit_state{state="major_fault",name="Major Fault"})", "1"},
        {R"(corvane3_unit_state{state="warming_up",name="Warming up"})", "0"},
        {"corvane3_unit_status_code", "11"},
        // Fault bytes 00 1A 03 00 FF: three alarms, the empty slots none; an unknown code
        // keeps its number with an empty name.
        {R"(corvane3_alarm{code="1a",name=""})", "1"},
        {R"(corvane3_alarm{code="03",name="Zeeman Rabi Symmetry"})", "1"},
        {R"(corvane3_alarm{code="ff",name=""})", "1"},
        // mV, mA and uA in volts and amperes; parts in 1e15 as a ratio; floats as printed.
        {R"(corvane3_reading{channel="CLevel",unit="volts"})", "2.5"},
        {R"(corvane3_reading{channel="ICField",unit="amperes"})", "0.0075"},
        {R"(corvane3_reading{channel="IIP",unit="amperes"})", "4.2e-05"},
        {R"(corvane3_reading{channel="FreqTune",unit="ratio"})", "-1.5e-12"},
        {R"(corvane3_reading{channel="TChassis",unit="celsius"})", "35.5"},
        {R"(corvane3_reading{channel="Pos21V",unit="volts"})", "24.125"},
        {R"(corvane3_reading{channel="StdDev",unit=""})", "-5"},
        {"corvane3_ocxo_oven_ready", "1"},
        // 2500 / (1.25 * 2.0) mV
        {"corvane3_beam_signal_volts", "1"},
        {"corvane3_last_record_timestamp_seconds", "1687953600"},
        {"corvane3_polling_interval_seconds", "10"},
        {"corvane3_status_records_total", "7"},
        {"corvane3_records_recorded_total", "6"},
        {"corvane3_records_lost_total", "1"},
        {"corvane3_recording_failing", "0"},
        {"corvane3_beam_signal_decay_rate_per_second", "-1.1574074074074074e-08"},
        {"corvane3_beam_signal_halves_timestamp_seconds", "1748433600"},
        {"corvane3_beam_signal_fit_span_seconds", "172800"},
        {R"(corvane3_build_info{version="3.1.4"})", "1"},
        {"process_start_time_seconds", "1700000000.5"},
    };
    EXPECT_THAT(tq9000.samples, ::testing::IsSupersetOf(expected));
    EXPECT_FALSE(tq9000.samples.contains(R"(corvane3_alarm{code="00",name=""})"));
    // As the text shows them: a model without a name by its number, a firmware letter escaped.
    for (const auto& [letter, shown] : {std::pair<char, std::string>{'"', R"(\")"},
                                        {'\\', R"(\\)"},
                                        {'\n', R"(\n)"}}) {
        MetricsSnapshot snapshot = RecordSnapshot(9999);
        snapshot.record.firmwareRevisionLetter = letter;
        EXPECT_TRUE(Parse(RenderMetrics(snapshot))
                        .samples.contains(R"(corvane3_unit_info{serial="1234",model="9999",)"
                                          R"(firmware=")" + shown + R"( 12"})"))
            << shown;
    }

    // A 7730A has no supply board and reports no outlier counts; a reading out of its range is
    // no reading.
    MetricsSnapshot other = RecordSnapshot(kModel7730A);
    other.record.d1.valid[22] = false;  // CLevel
    const Parsed a7730 = Parse(RenderMetrics(other));
    EXPECT_TRUE(a7730.samples.contains(R"(corvane3_unit_info{serial="1234",model="7730A",)"
                                       R"(firmware="B 12"})"));
    for (const char* absent : {"Batt24", "Charge", "OCXOT", "CBTD", "CLevel"}) {
        const std::string prefix = std::string(R"(corvane3_reading{channel=")") + absent + '"';
        EXPECT_EQ(a7730.samples.lower_bound(prefix)->first.rfind(prefix, 0), std::string::npos)
            << absent;
    }
    EXPECT_TRUE(a7730.samples.contains(R"(corvane3_reading{channel="ZLevel",unit="volts"})"));
}

// A record that is no longer current says nothing of the unit's condition now: a dashboard
// must not show "Operating" or last week's readings for a unit that does not answer. Before any
// record only the link and the counters are shown.
TEST(MetricsExpositionTest, OnlyACurrentRecordShowsReadingsStateAndAlarms) {
    const char* const condition[] = {"corvane3_unit_state",      "corvane3_unit_status_code",
                                     "corvane3_alarm",           "corvane3_reading",
                                     "corvane3_ocxo_oven_ready", "corvane3_beam_signal_volts"};
    const char* const ofTheRecord[] = {"corvane3_unit_info",
                                       "corvane3_last_record_timestamp_seconds",
                                       "corvane3_beam_signal_decay_rate_per_second",
                                       "corvane3_beam_signal_halves_timestamp_seconds"};
    const char* const counters[] = {"corvane3_up", "corvane3_status_records_total",
                                    "corvane3_records_lost_total"};
    for (const auto& [up, current, hasRecord] : {std::tuple{false, true, true},
                                                 {true, false, true},
                                                 {false, false, true},
                                                 {false, false, false}}) {
        SCOPED_TRACE(::testing::Message()
                     << "up " << up << ", current " << current << ", record " << hasRecord);
        MetricsSnapshot snapshot = hasRecord ? RecordSnapshot(kModelTq9000) : MetricsSnapshot{};
        snapshot.up = up;
        snapshot.recordCurrent = current;
        const Parsed parsed = Parse(RenderMetrics(snapshot));
        const auto shown = [&](const char* family) {
            return std::count(parsed.families.begin(), parsed.families.end(), family);
        };
        for (const char* family : condition) {
            EXPECT_EQ(shown(family), 0) << family;
        }
        for (const char* family : ofTheRecord) {
            EXPECT_EQ(shown(family), hasRecord ? 1 : 0) << family;
        }
        for (const char* family : counters) {
            EXPECT_EQ(shown(family), 1) << family;
        }
        EXPECT_EQ(parsed.samples.at("corvane3_up"), up ? "1" : "0");
        EXPECT_EQ(parsed.samples.at("corvane3_status_records_total"), hasRecord ? "7" : "0");
    }
}

// Each band on its own: a reading outside its critical band is outside its warning band too,
// a value on a limit is inside, and a reading the record lacks has no sample. TChassis is 35.5.
TEST(MetricsExpositionTest, EachBandTheReadingIsOutsideIsMarked) {
    using Band = LimitBand;
    // Each row: the model, its limit, and the warning and critical samples' values ("" for none).
    const std::tuple<std::int32_t, ReadingLimit, const char*, const char*> cases[] = {
        {kModelTq9000, {"TChassis", Band{{}, 35.0}, Band{{}, 40.0}}, "1", "0"},
        {kModelTq9000, {"TChassis", Band{{}, 30.0}, Band{{}, 35.0}}, "1", "1"},
        {kModelTq9000, {"TChassis", Band{30.0, 40.0}, Band{}}, "0", ""},
        {kModelTq9000, {"TChassis", Band{36.0, {}}, Band{{}, 34.0}}, "1", "1"},
        {kModelTq9000, {"TChassis", Band{}, Band{35.5, 35.5}}, "", "0"},
        {kModel7730A, {"Batt24", Band{{}, 1.0}, Band{{}, 2.0}}, "", ""},
    };
    for (const auto& [model, limit, warning, critical] : cases) {
        SCOPED_TRACE(limit.channel + " " + LimitBandText(limit));
        MetricsSnapshot snapshot = RecordSnapshot(model);
        snapshot.limits = {limit};
        const Parsed parsed = Parse(RenderMetrics(snapshot));
        for (const auto& [level, expected] :
             {std::pair{"warning", warning}, {"critical", critical}}) {
            const std::string series = "corvane3_reading_outside_limit{channel=\"" + limit.channel +
                                       "\",level=\"" + level + "\"}";
            const auto found = parsed.samples.find(series);
            EXPECT_EQ(found == parsed.samples.end() ? "" : found->second, expected) << level;
        }
    }
}

TEST(MetricsExpositionTest, LabelValuesBecomeValidUtf8) {
    const std::string replaced = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"/data/plain", "/data/plain"},
        {"/data/M\xFCller", "/data/M" + replaced + "ller"},  // Latin-1
        {"/data/M\xC3\xBCller \xF0\x9F\x98\x80", "/data/M\xC3\xBCller \xF0\x9F\x98\x80"},
        {"\xC0\xAF", replaced + replaced},                                // overlong
        {"\xED\xA0\x80", replaced + replaced + replaced},                 // a surrogate
        {"\xF4\x90\x80\x80", replaced + replaced + replaced + replaced},  // above U+10FFFF
        {"a\xE2\x82", "a" + replaced + replaced},                         // cut short
        {"\xF5\xBF", replaced + replaced},
    };
    for (const auto& [bytes, valid] : cases) {
        EXPECT_EQ(ValidUtf8(bytes), valid) << bytes;
    }
    EXPECT_EQ(EscapeLabelValue("a\"b\\c\nd\xFC"), "a\\\"b\\\\c\\nd" + replaced);
}

// Prometheus's own checker, as a server would read the text, with what the unit and the file
// system gave that is not UTF-8; and the same text under a decimal-comma locale.
TEST(MetricsExpositionTest, PromtoolAcceptsTheTextWhateverTheLocale) {
    MetricsSnapshot snapshot = RecordSnapshot(kModelTq9000);
    snapshot.record.firmwareRevisionLetter = '\xE9';
    snapshot.recordingFailing = true;
    snapshot.recordingFailure = "Unable to save to directory /data/Ger\xE4te (Permission denied)";
    snapshot.limits = {{"TChassis", LimitBand{{}, 35.0}, LimitBand{}}};
    const std::string inC = RenderMetrics(snapshot);
    {
        const ScopedCommaLocale comma;
        EXPECT_EQ(RenderMetrics(snapshot), inC);
    }
    CORVANE3_REQUIRE_TOOL("/usr/bin/promtool", "prometheus");
    TempDir dir;
    const std::string path = (dir.Path() / "metrics.txt").string();
    std::ofstream(path) << inC;
    ChildProcess promtool({"/bin/sh", "-c", "/usr/bin/promtool check metrics < " + path + " 2>&1"});
    const std::string said = promtool.ReadAll();
    EXPECT_EQ(promtool.Wait(), 0) << said;
    EXPECT_EQ(said, "") << "lint: " << said;
}

}  // namespace
}  // namespace corvane3::testing
