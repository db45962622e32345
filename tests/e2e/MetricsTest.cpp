// corvane3 --headless --metrics against corvane3-sim: a real Prometheus server with the packaged
// rules and dashboard, a flood of connections, and the journal's priority marks.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/PrometheusServer.h"
#include "support/RequiredTool.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct DashboardQuery {
    std::string panel;
    std::string refId;
    std::string expr;
};

// The queries of every panel of the packaged Grafana dashboard.
std::vector<DashboardQuery> DashboardQueries(const QJsonObject& dashboard) {
    std::vector<DashboardQuery> queries;
    for (const QJsonValue panel : dashboard["panels"].toArray()) {
        for (const QJsonValue target : panel["targets"].toArray()) {
            queries.push_back({panel["title"].toString().toStdString(),
                               target["refId"].toString().toStdString(),
                               target["expr"].toString().toStdString()});
        }
    }
    return queries;
}

// Template variables as Grafana fills them in for the selected values.
std::string Substituted(std::string expr, const std::string& variable, const std::string& value) {
    for (const std::string& form : {"${" + variable + "}", "$" + variable}) {
        for (std::size_t at = expr.find(form); at != std::string::npos; at = expr.find(form, at)) {
            expr.replace(at, form.size(), value);
            at += value.size();
        }
    }
    return expr;
}

// The value of the series of an instant query's answer that has the instance (and, in the
// API's order of labels, the job corvane3); "" when there is none.
std::string ValueOf(const std::string& answer, const std::string& instance) {
    std::smatch value;
    const std::regex series("\"instance\":\"" +
                            std::regex_replace(instance, std::regex("\\."), "\\.") +
                            "\",\"job\":\"corvane3\"[^}]*\\},\"value\":\\[[^,]+,\"([^\"]*)\"\\]");
    return std::regex_search(answer, value, series) ? value[1].str() : "";
}

// Each line of a run's standard output starts with its journal priority.
void ExpectEveryLineHasAPriority(const std::string& output) {
    std::stringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, std::regex("<[346]>.*"))) << line;
    }
}

// A logger with its own simulated unit, folder and limits (one the chassis temperature stays
// inside, so the limit panels have a series to show).
struct Logger {
    explicit Logger(const fs::path& folder, const std::vector<std::string>& simulator = {})
        : dir(folder) {
        fs::create_directories(dir);
        std::ofstream(dir / "Corvane3-limits.ini") << "[TChassis]\nWarningHigh = 1000\n";
        unit = std::make_unique<SimulatedUnit>(dir, simulator);
        if (unit->Started()) {
            run = StartMetricsRun(dir, unit->Link());
            instance = "127.0.0.1:" + std::to_string(run.port);
        }
    }
    fs::path dir;
    std::unique_ptr<SimulatedUnit> unit;
    MetricsRun run;
    std::string instance;
};

// Two units, one with an alarm pending, each logged by its own run and scraped as the README's
// job: every panel's query answers for them, the units table has one row for each with its job
// and instance, and a logger that stopped stays in it as down. When a simulator stops, the link
// is down and its alert fires.
TEST(MetricsTest, PrometheusAnswersEveryDashboardQueryForTwoUnitsAndAStoppedLogger) {
    CORVANE3_REQUIRE_TOOL(kPrometheusProgram, "prometheus");
    QFile file(QString::fromUtf8(CORVANE3_SOURCE_DIR "/packaging/grafana/corvane3.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();

    // The unit selector lists the endpoints the job scrapes.
    std::string unitQuery;
    for (const QJsonValue variable : dashboard["templating"]["list"].toArray()) {
        if (variable["name"] == QStringLiteral("unit")) {
            unitQuery = variable["query"]["query"].toString().toStdString();
        }
    }
    const std::regex labelValues(R"(label_values\(([^,]+), *(\w+)\))");
    std::smatch unitParts;
    ASSERT_TRUE(std::regex_match(unitQuery, unitParts, labelValues)) << unitQuery;

    const std::vector<DashboardQuery> queries = DashboardQueries(dashboard);
    ASSERT_GE(queries.size(), 10u);
    const auto query = [&](const std::string& panel, const std::string& refId) {
        const auto found = std::ranges::find_if(
            queries, [&](const DashboardQuery& q) { return q.panel == panel && q.refId == refId; });
        return found == queries.end() ? std::string() : found->expr;
    };

    TempDir dir;
    // As under a service manager, whose journal takes each line's priority from its start.
    ::setenv("JOURNAL_STREAM", "8:12345", 1);
    Logger alarmed(dir.Path() / "alarmed", {"--alarm", "16"});
    ::unsetenv("JOURNAL_STREAM");
    Logger quiet(dir.Path() / "quiet");
    for (const Logger* logger : {&alarmed, &quiet}) {
        ASSERT_GT(logger->run.port, 0) << logger->run.firstLine << logger->run.program->Err();
    }

    // The packaged rules, with the link-down alert waiting seconds rather than minutes.
    std::string rules =
        FileText(fs::path(CORVANE3_SOURCE_DIR) / "packaging/prometheus/corvane3.rules.yml");
    const std::string waitOfLinkDown = "for: 2m";
    ASSERT_NE(rules.find(waitOfLinkDown), std::string::npos);
    rules.replace(rules.find(waitOfLinkDown), waitOfLinkDown.size(), "for: 3s");
    std::ofstream(dir.Path() / "rules.yml") << rules;
    const PrometheusServer prometheus(dir.Path(), {alarmed.run.port, quiet.run.port}, "corvane3",
                                      (dir.Path() / "rules.yml").string());

    // The first scrapes that hold a fitted decay have every metric the panels show.
    const auto bothIn = [&](const std::string& answer) {
        return answer.find(alarmed.instance) != std::string::npos &&
               answer.find(quiet.instance) != std::string::npos;
    };
    ASSERT_TRUE(WaitUntil(
        std::chrono::seconds(90),
        [&] { return bothIn(prometheus.Query("corvane3_beam_signal_fit_span_seconds > 0")); }))
        << prometheus.Query("up") << prometheus.Err();

    // The selector's own query finds both units; their values go into the panels' queries as
    // Grafana fills in a selection of several.
    EXPECT_TRUE(bothIn(prometheus.Query(unitParts[1].str())))
        << prometheus.Query(unitParts[1].str());
    const std::string selected = alarmed.instance + "|" + quiet.instance;
    for (const DashboardQuery& q : queries) {
        SCOPED_TRACE(q.panel + " " + q.refId + ": " + q.expr);
        const std::string expr = Substituted(q.expr, "unit", selected);
        EXPECT_EQ(expr.find('$'), std::string::npos) << "a variable left unfilled";
        const std::string answer = prometheus.Query(expr);
        EXPECT_NE(answer.find(R"("status":"success")"), std::string::npos) << answer;
        EXPECT_NE(answer.find(alarmed.instance), std::string::npos) << answer;
        EXPECT_EQ(answer.find(quiet.instance) != std::string::npos, q.panel != "Pending alarms")
            << answer;
    }

    // The units table: one row per unit with its job, the alarms counted on each; then the quiet
    // unit's logger stops and its row says so.
    const std::string alarmCount =
        prometheus.Query(Substituted(query("Units", "E"), "unit", selected));
    EXPECT_EQ(ValueOf(alarmCount, alarmed.instance), "1") << alarmCount;
    EXPECT_EQ(ValueOf(alarmCount, quiet.instance), "0") << alarmCount;
    const std::string loggerUp = Substituted(query("Units", "C"), "unit", selected);
    EXPECT_EQ(ValueOf(prometheus.Query(loggerUp), quiet.instance), "1");
    quiet.run.Stop();
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(60), [&] {
        return ValueOf(prometheus.Query(loggerUp), quiet.instance) == "0";
    })) << prometheus.Query(loggerUp);
    EXPECT_EQ(ValueOf(prometheus.Query(loggerUp), alarmed.instance), "1");

    // The alarmed unit goes away: the link is down, and after its wait the alert fires.
    alarmed.unit.reset();
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(60), [&] {
        return ValueOf(prometheus.Query("corvane3_up"), alarmed.instance) == "0";
    })) << prometheus.Query("corvane3_up");
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(60), [&] {
        const std::string alerts = HttpGetBody(prometheus.Port(), "/api/v1/alerts");
        return std::regex_search(alerts,
                                 std::regex(R"(\{"labels":\{"alertname":"Corvane3LinkDown"[^}]*\},)"
                                            R"("annotations":\{[^}]*\},"state":"firing")"));
    })) << HttpGetBody(prometheus.Port(), "/api/v1/alerts");

    const std::string journal = alarmed.run.firstLine + "\n" + alarmed.run.Stop();
    EXPECT_NE(journal.find("\n<6>Unit Online\n"), std::string::npos) << journal;
    // The first record brings the alarm: a warning; the second, with the same alarm, is not.
    EXPECT_TRUE(
        std::regex_search(journal, std::regex(R"(\n<4>MJD [^\n]*alarms 16[^\n]*\n<6>MJD )")))
        << journal;
    ExpectEveryLineHasAPriority(journal);
}

// A record folder whose name is not UTF-8 (Latin-1, as on old lab PCs), which then cannot be
// written: Prometheus keeps the target up and shows why writing fails. (promtool's check of such
// a text is the exposition's own test; the way back, the recording failure's.)
TEST(MetricsTest, AFolderNameThatIsNotUtf8KeepsTheTargetHealthyWhileWritingFails) {
    CORVANE3_REQUIRE_TOOL(kPrometheusProgram, "prometheus");
    TempDir dir;
    SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const fs::path records = dir.Path() / "Ger\xE4te";
    fs::create_directory(records);
    MetricsRun run = StartMetricsRun(dir.Path(), unit.Link(), {"--record", records.string()});
    ASSERT_GT(run.port, 0) << run.firstLine << run.program->Err();
    const std::string instance = "127.0.0.1:" + std::to_string(run.port);
    const PrometheusServer prometheus(dir.Path(), {run.port}, "corvane3");
    ASSERT_TRUE(WaitUntil(
        std::chrono::seconds(60),
        [&] {
            return ValueOf(prometheus.Query("corvane3_records_recorded_total > 0"), instance) != "";
        }))
        << prometheus.Query("up") << prometheus.Err();

    // A file takes the folder's place: writing fails, and says where.
    fs::rename(records, dir.Path() / "away");
    std::ofstream(records) << "not a folder\n";
    const std::string replaced = "Ger\xEF\xBF\xBDte";
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(60),
                          [&] {
                              const std::string failure =
                                  prometheus.Query("corvane3_recording_failure_info");
                              return failure.find(replaced) != std::string::npos ||
                                     failure.find("Ger\\ufffdte") != std::string::npos;
                          }))
        << prometheus.Query("corvane3_recording_failure_info") << prometheus.Query("up");
    EXPECT_EQ(ValueOf(prometheus.Query("up"), instance), "1");
    EXPECT_EQ(ValueOf(prometheus.Query("corvane3_recording_failing"), instance), "1");
}

// What the endpoint guarantees under a flood of connections and clients that never finish their
// request: records go on being taken and written (the flood lasts until three more are in the
// file), every connection ends by the server's limit, and scrapes among the flood are answered.
// How late records come under such load is measured by bench/metrics_bench, not here.
TEST(MetricsTest, FloodsAndSlowClientsNeitherStopRecordsNorStayConnected) {
    TempDir dir;
    SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    MetricsRun run = StartMetricsRun(dir.Path(), unit.Link());
    ASSERT_GT(run.port, 0) << run.firstLine << run.program->Err();
    const fs::path records = dir.Path() / "Unit1234.csd";
    const auto recordCount = [&] { return CsdRecords(records).size(); };
    ASSERT_TRUE(WaitUntil(std::chrono::seconds(60), [&] { return recordCount() >= 1; }));

    constexpr int kSlowClients = 20;
    constexpr int kFlood = 200;
    constexpr std::size_t kRecordsDuringFlood = 3;
    // Far beyond the server's 10 s limit of a connection: a bound for a server that never closes.
    constexpr auto kGiveUpAfter = std::chrono::seconds(90);
    std::vector<std::thread> clients;
    std::atomic<int> slowClosed{0};
    for (int i = 0; i < kSlowClients; ++i) {
        clients.emplace_back([&, i] {
            const int fd = Connect(run.port);
            if (fd < 0) {
                return;
            }
            const std::string request = "GET /metrics HTTP/1.1\r\nHost: x" + std::to_string(i);
            const auto started = Clock::now();
            // One byte a second, never the end of the request, until the server hangs up.
            for (std::size_t sent = 0; Clock::now() - started < kGiveUpAfter; ++sent) {
                pollfd pfd{fd, POLLIN, 0};
                char c;
                if (::poll(&pfd, 1, 1000) > 0 && ::read(fd, &c, 1) <= 0) {
                    ++slowClosed;
                    break;
                }
                ::send(fd, &request[sent % request.size()], 1, MSG_NOSIGNAL);
            }
            ::close(fd);
        });
    }
    const std::size_t recordsBefore = recordCount();
    const auto floodStarted = Clock::now();
    int floodsAnswered = 0, floodsClosed = 0, floodsOpened = 0, scrapesAnswered = 0, scrapes = 0;
    while (recordCount() < recordsBefore + kRecordsDuringFlood &&
           Clock::now() - floodStarted < kGiveUpAfter) {
        std::vector<int> flood;
        for (int i = 0; i < kFlood; ++i) {
            flood.push_back(Connect(run.port));
            const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
            ::send(flood.back(), request.data(), request.size(), MSG_NOSIGNAL);
        }
        floodsOpened += kFlood;
        for (const int fd : flood) {
            bool closed = false;
            // The server answers or hangs up within its limit; a minute is far beyond it.
            floodsAnswered += ReadUntilClosed(fd, 60'000, &closed).starts_with("HTTP/1.1 200");
            floodsClosed += closed;
            ::close(fd);
        }
        ++scrapes;
        scrapesAnswered +=
            HttpGetBody(run.port, "/metrics").find("corvane3_up 1") != std::string::npos;
    }
    EXPECT_GE(recordCount(), recordsBefore + kRecordsDuringFlood)
        << "records stopped during the flood";
    std::ranges::for_each(clients, &std::thread::join);
    EXPECT_EQ(slowClosed, kSlowClients) << "every slow client is hung up on";
    EXPECT_EQ(floodsClosed, floodsOpened) << "every flooding connection ends";
    EXPECT_GT(floodsAnswered, 0);
    EXPECT_EQ(scrapesAnswered, scrapes) << "scrapes among the flood";

    const std::string output = run.Stop();
    // Every record the run took is in the file, in order.
    EXPECT_EQ(recordCount(), Occurrences("\n" + output, "\nMJD ")) << output;
    EXPECT_TRUE(std::ranges::is_sorted(CsdRecords(records), {},
                                       [](const std::string& line) { return std::stod(line); }));
}

// A run that waits for its port under a service manager: each line carries its journal
// priority, on standard error too (the records' lines are the Prometheus test's; a terminal's
// lines have none: the exact lines of ProgramTest show it).
TEST(MetricsTest, LinesCarryJournalPrioritiesWhenTheyGoToTheJournal) {
    TempDir dir;
    const std::string missing = (dir.Path() / "ttyUSB9").string();
    ::setenv("JOURNAL_STREAM", "8:12345", 1);
    ChildProcess program(HeadlessArguments(dir.Path(), missing, {"--timeout", "2"}));
    ::unsetenv("JOURNAL_STREAM");
    const std::string out = program.ReadAll();
    EXPECT_EQ(program.Wait(), 3) << out << program.Err();
    EXPECT_NE(out.find("<4>RS232 open failed: " + missing + ": not present\n"), std::string::npos)
        << out;
    EXPECT_TRUE(program.Err().starts_with("<4>corvane3: " + missing)) << program.Err();
    EXPECT_NE(program.Err().find("\n<3>corvane3: timed out"), std::string::npos) << program.Err();
    ExpectEveryLineHasAPriority(out);
}

// The record folder goes away for a while (a file stands in its place): the run says so once,
// shows it in its metrics and writes the records it kept once the folder is back; a run that
// ends meanwhile says how many were not written and ends with status 1.
TEST(MetricsTest, RecordingThatFailsForAWhileIsShownAndLosesNothing) {
    TempDir dir;
    SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const std::string& link = unit.Link();
    const fs::path records = dir.Path() / "records";
    MetricsRun run = StartMetricsRun(dir.Path(), link, {"--record", records.string()});
    ASSERT_GT(run.port, 0) << run.firstLine << run.program->Err();
    const auto metric = [&](const std::string& name) {
        const std::string text = HttpGetBody(run.port, "/metrics");
        const std::size_t at = text.find("\n" + name + " ");
        return at == std::string::npos ? -1.0 : std::stod(text.substr(at + name.size() + 2));
    };
    ASSERT_TRUE(WaitUntil(std::chrono::seconds(30),
                          [&] { return metric("corvane3_records_recorded_total") >= 1.0; }));
    const auto takeAway = [](const fs::path& folder, const fs::path& to) {
        fs::rename(folder, to);
        std::ofstream(folder) << "not a folder\n";
    };
    takeAway(records, dir.Path() / "away");
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(30),
                          [&] { return metric("corvane3_recording_failing") == 1.0; }));
    // That the failure names the folder, for an alert to quote, the non-UTF-8 folder's test shows.
    const double kept = metric("corvane3_records_recorded_total");
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(30),
                          [&] { return metric("corvane3_status_records_total") >= kept + 2.0; }));
    fs::remove(records);
    fs::rename(dir.Path() / "away", records);
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(30), [&] {
        return metric("corvane3_recording_failing") == 0.0 &&
               metric("corvane3_records_recorded_total") == metric("corvane3_status_records_total");
    }));
    EXPECT_EQ(metric("corvane3_records_lost_total"), 0.0);
    EXPECT_EQ(HttpGetBody(run.port, "/metrics").find("corvane3_recording_failure_info"),
              std::string::npos);
    run.Stop();
    EXPECT_EQ(Occurrences(run.program->Err(), "Unable to save"), 1u)
        << "said once: " << run.program->Err();
    EXPECT_GE(CsdRecords(records / "Unit1234.csd").size(), static_cast<std::size_t>(kept) + 2);

    // Ended while the folder is gone: the records it held are not kept, and it says so.
    fs::rename(records, dir.Path() / "away");
    ChildProcess ended(HeadlessArguments(
        dir.Path(), link, {"--record", (dir.Path() / "away").string(), "--polls", "3"}));
    ended.ReadThrough("MJD ");
    takeAway(dir.Path() / "away", dir.Path() / "gone");
    ended.ReadAll();
    EXPECT_EQ(ended.Wait(), 1) << ended.Err();
    EXPECT_NE(ended.Err().find("records were not recorded"), std::string::npos) << ended.Err();
}

}  // namespace
}  // namespace corvane3::testing
