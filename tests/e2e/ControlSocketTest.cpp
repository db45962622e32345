// A headless run serving its link on a control socket, against the simulator, with real socket
// clients: what they see and what the run says of them, a protected command, and the packaged
// service's socket. When an exchange reaches the unit and what a client killed mid-sweep leaves
// sent, the attached window's tests pin against the same service.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "core/link/CommandFrame.h"
#include "support/ChildProcess.h"
#include "support/ControlClient.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

std::string Me() {
    return getpwuid(getuid())->pw_name;
}

// The lines a run writes around its first few records, a bound on a search of its output.
constexpr int kFirstLines = 20;

// The simulator and a headless run recording and serving the socket.
struct ControlRig {
    explicit ControlRig(const std::vector<std::string>& simOptions = {},
                        std::vector<std::string> runOptions = {}) {
        unit = std::make_unique<SimulatedUnit>(dir.Path(), simOptions);
        std::vector<std::string> arguments = HeadlessArguments(
            dir.Path(), unit->Link(), {"--record", Records().string(), "--control", Socket()});
        for (std::string& option : runOptions) {
            arguments.push_back(option == "TRACE" ? Trace().string() : option);
        }
        run = std::make_unique<ChildProcess>(arguments);
    }
    std::filesystem::path Records() const { return dir.Path() / "records"; }
    std::string Socket() const { return (dir.Path() / "control.sock").string(); }
    std::filesystem::path Trace() const { return dir.Path() / "trace"; }
    std::filesystem::path ChangeLog() const { return Records() / "Corvane3-changes.log"; }
    // Stops the run as a service manager does; its exit status.
    int Stop() {
        run->Signal(SIGTERM);
        return run->Wait();
    }

    TempDir dir;
    std::unique_ptr<SimulatedUnit> unit;
    std::unique_ptr<ChildProcess> run;
};

TEST(ControlSocketTest, ClientsSeeTheFilesRecordsAndTheirExchangeIsAnswered) {
    ControlRig rig;
    ASSERT_TRUE(rig.unit->Started());
    ControlClient client(rig.Socket());
    ASSERT_TRUE(client.Connected()) << rig.run->Err();
    const auto hello = client.NextOf<HelloMessage>();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->version, kControlProtocolVersion);
    EXPECT_EQ(hello->user, Me());
    const std::string attached = "Control client " + Me() + " attached";
    EXPECT_NE(rig.run->ReadThrough(attached, kFirstLines).find(attached), std::string::npos)
        << rig.run->Err();

    const auto record = client.NextOf<RecordMessage>();
    ASSERT_TRUE(record) << rig.run->Err();
    EXPECT_EQ(record->serial, 1234u);
    const auto link = client.NextOf<LinkMessage>();
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->online);

    const auto reply = client.Exchange({"W01", "+000123  ", 0, 64, EReplyEnd::kEtx});
    ASSERT_TRUE(reply && reply->sent && reply->complete);
    EXPECT_EQ(JudgeReply(reply->reply), EReplyVerdict::kAccepted) << reply->reply;

    // A version the service does not speak ends the connection with the reason.
    ControlClient newer(rig.Socket());
    newer.SendLine("{\"class\":\"hello\",\"version\":2}\n");
    const auto refusal = newer.NextOf<ErrorMessage>();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->message,
              "The service speaks version 1 of the control protocol, the client version 2.");
    EXPECT_FALSE(newer.Next());
    EXPECT_TRUE(newer.Ended());

    client.Close();
    EXPECT_EQ(rig.Stop(), 0) << rig.run->Err();
    // The record pushed is the file's.
    const std::vector<std::string> lines = CsdLines(rig.Records() / "Unit1234.csd");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), record->line), 1) << record->line;
}

TEST(ControlSocketTest, APasswordOpensAProtectedCommandAndIsWrittenNowhere) {
    ControlRig rig({"--password", "4321"}, {"--trace", "TRACE"});
    ASSERT_TRUE(rig.unit->Started());
    ControlClient client(rig.Socket());
    ASSERT_TRUE(client.NextOf<RecordMessage>()) << rig.run->Err();
    const struct {
        std::uint32_t password;
        EReplyVerdict verdict;
        const char* logged;
    } kCases[] = {{4321, EReplyVerdict::kAccepted, "\tpassword\taccepted\tby "},
                  {1111, EReplyVerdict::kRefused, "\tpassword\trefused\tby "}};
    for (const auto& c : kCases) {
        const auto reply = client.Exchange({"W18", "", c.password, 64, EReplyEnd::kEtx});
        ASSERT_TRUE(reply);
        EXPECT_EQ(JudgeReply(reply->reply), c.verdict) << reply->reply;
        EXPECT_NE(FileText(rig.ChangeLog()).find(c.logged), std::string::npos) << c.password;
    }
    client.Close();
    ASSERT_EQ(rig.Stop(), 0) << rig.run->Err();
    const std::string out = rig.run->ReadAll();
    EXPECT_NE(FileText(rig.Trace()).find("W18"), std::string::npos);
    for (const std::string& text :
         {FileText(rig.ChangeLog()), FileText(rig.Trace()), out, rig.run->Err()}) {
        EXPECT_EQ(text.find("4321"), std::string::npos) << text;
        EXPECT_EQ(text.find("1111"), std::string::npos) << text;
    }
}

// --attach alone attaches to the packaged service's socket named after the configured port.
TEST(ControlSocketTest, AttachAloneTakesThePackagedSocketOfThePort) {
    TempDir dir;
    const std::string config = (dir.Path() / "Corvane3.ini").string();
    const std::string notDevice = (dir.Path() / "ttyS9").string();
    const struct {
        std::string port;
        std::string said;
    } kCases[] = {
        {"/dev/ttyCv3Absent", "No logging service serves /run/corvane3/ttyCv3Absent.sock: "},
        {notDevice, "--attach needs the logging service's socket: the port " + notDevice +
                        " is not under /dev"},
    };
    for (const auto& c : kCases) {
        std::ofstream(config) << "[COM]\nPortName=" << c.port << "\n";
        // A screenshot run asks nobody: the reason goes to standard error alone.
        ChildProcess window({CORVANE3_PROGRAM, "--attach", "--config", config, "--screenshot",
                             (dir.Path() / "shot.png").string()});
        EXPECT_EQ(window.Wait(), 1) << c.port;
        EXPECT_NE(window.Err().find(c.said), std::string::npos) << window.Err();
    }
}

}  // namespace
}  // namespace corvane3::testing
