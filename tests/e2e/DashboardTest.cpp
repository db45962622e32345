// Every query of the packaged Grafana dashboard, run by a real Prometheus server that scrapes
// corvane3 --headless --metrics against the simulator: each gives the simulated unit's series.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/PrometheusServer.h"
#include "support/SimulatedUnit.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

namespace fs = std::filesystem;

struct DashboardQuery {
    std::string panel;
    std::string expr;
};

// The queries of every panel, and the names of the dashboard's template variables.
std::vector<DashboardQuery> DashboardQueries(const QJsonObject& dashboard) {
    std::vector<DashboardQuery> queries;
    for (const QJsonValue panel : dashboard["panels"].toArray()) {
        for (const QJsonValue target : panel["targets"].toArray()) {
            queries.push_back(
                {panel["title"].toString().toStdString(), target["expr"].toString().toStdString()});
        }
    }
    return queries;
}

// Template variables as Grafana fills them in for one selected value.
std::string Substituted(std::string expr, const std::string& variable, const std::string& value) {
    for (const std::string& form : {"${" + variable + "}", "$" + variable}) {
        for (std::size_t at = expr.find(form); at != std::string::npos; at = expr.find(form, at)) {
            expr.replace(at, form.size(), value);
            at += value.size();
        }
    }
    return expr;
}

TEST(DashboardTest, EveryPanelQueryGivesTheSimulatedUnitsSeries) {
    if (!PrometheusServer::Installed()) {
        GTEST_SKIP() << "Prometheus is missing: scripts/setup-deps installs it";
    }
    QFile file(QString::fromUtf8(CORVANE3_SOURCE_DIR "/packaging/grafana/corvane3.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_GT(dashboard["schemaVersion"].toInt(), 0);

    // The unit selector lists the endpoints that expose the metrics.
    std::vector<std::string> variables;
    std::string unitQuery;
    for (const QJsonValue variable : dashboard["templating"]["list"].toArray()) {
        variables.push_back(variable["name"].toString().toStdString());
        if (variable["name"] == QStringLiteral("unit")) {
            unitQuery = variable["query"]["query"].toString().toStdString();
        }
    }
    EXPECT_EQ(variables, (std::vector<std::string>{"datasource", "unit"}));
    const std::regex labelValues(R"(label_values\((\w+), *(\w+)\))");
    std::smatch unitParts;
    ASSERT_TRUE(std::regex_match(unitQuery, unitParts, labelValues)) << unitQuery;

    const std::vector<DashboardQuery> queries = DashboardQueries(dashboard);
    ASSERT_GE(queries.size(), 10u);

    TempDir dir;
    // An alarm pending, so that the alarm panels have a series to show.
    SimulatedUnit unit(dir.Path(), {"--alarm", "16"});
    ASSERT_TRUE(unit.Started());
    const MetricsRun run = StartMetricsRun(dir.Path(), unit.Link());
    ASSERT_GT(run.port, 0) << run.firstLine << run.program->Err();
    const std::string instance = "127.0.0.1:" + std::to_string(run.port);
    PrometheusServer prometheus(dir.Path(), run.port);

    // The first scrape that holds a fitted decay has every metric the panels show.
    const std::string instanceLabel = "\"instance\":\"" + instance + "\"";
    ASSERT_TRUE(WaitUntil(std::chrono::seconds(90),
                          [&] {
                              return prometheus.Query("corvane3_beam_signal_fit_span_seconds > 0")
                                         .find(instanceLabel) != std::string::npos;
                          }))
        << prometheus.Query("corvane3_up") << prometheus.Err();

    // The selector's own query finds the unit; its value goes into the panels' queries as the
    // one selected unit would.
    const std::string selectorAnswer = prometheus.Query(unitParts[1].str());
    EXPECT_NE(selectorAnswer.find("\"" + unitParts[2].str() + "\":\"" + instance + "\""),
              std::string::npos)
        << selectorAnswer;
    for (const DashboardQuery& query : queries) {
        SCOPED_TRACE(query.panel + ": " + query.expr);
        const std::string expr = Substituted(query.expr, "unit", instance);
        EXPECT_EQ(expr.find('$'), std::string::npos) << "a variable left unfilled";
        const std::string answer = prometheus.Query(expr);
        EXPECT_NE(answer.find(R"("status":"success")"), std::string::npos) << answer;
        EXPECT_NE(answer.find(instanceLabel), std::string::npos) << answer;
    }

    run.program->Signal(SIGTERM);
    run.program->ReadAll();
    EXPECT_EQ(run.program->Wait(), 0) << run.program->Err();
}

}  // namespace
}  // namespace corvane3::testing
