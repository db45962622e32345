// A headless run serving its link on a control socket, against the simulator, with real socket
// clients: what they see, what reaches the unit and when, who the change log names, what is
// sent when a client dies mid-sweep, and a client that stops reading.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "core/link/CommandFrame.h"
#include "core/link/TrafficLog.h"
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

// The simulator (logging what it receives) and a headless run recording and serving the socket.
struct ControlRig {
    explicit ControlRig(std::vector<std::string> simOptions = {},
                        std::vector<std::string> runOptions = {}) {
        simOptions.insert(simOptions.end(), {"--log", SimLog().string()});
        unit = std::make_unique<SimulatedUnit>(dir.Path(), simOptions);
        std::vector<std::string> arguments{CORVANE3_PROGRAM, "--headless",
                                           "--config",       (dir.Path() / "Corvane3.ini").string(),
                                           "--port",         unit->Link(),
                                           "--interval",     "2",
                                           "--record",       Records().string(),
                                           "--control",      Socket()};
        for (std::string& option : runOptions) {
            arguments.push_back(option == "TRACE" ? Trace().string() : option);
        }
        run = std::make_unique<ChildProcess>(arguments);
    }
    std::filesystem::path SimLog() const { return dir.Path() / "sim.log"; }
    std::filesystem::path Records() const { return dir.Path() / "records"; }
    std::string Socket() const { return (dir.Path() / "control.sock").string(); }
    std::filesystem::path Trace() const { return dir.Path() / "trace"; }
    std::filesystem::path ChangeLog() const { return Records() / "Corvane3-changes.log"; }
    // The frames the unit received, in order.
    std::vector<std::string> Received() const {
        std::vector<std::string> frames;
        std::ifstream in(SimLog());
        for (std::string line; std::getline(in, line);) {
            const auto entry = ParseTrafficLine(line);
            if (entry && entry->direction == ETrafficDirection::kReceived) {
                frames.push_back(entry->bytes);
            }
        }
        return frames;
    }
    // Reads the run's output until a line holds part; all that was read.
    std::string OutputUntil(const std::string& part) {
        std::string all;
        for (int lines = 0; lines < 10000; ++lines) {
            const std::string line = run->ReadLine();
            all += line;
            if (line.empty() || line.find(part) != std::string::npos) {
                break;
            }
        }
        return all;
    }
    // Stops the run as a service manager does; its exit status.
    int Stop() {
        run->Signal(SIGTERM);
        return run->Wait();
    }

    TempDir dir;
    std::unique_ptr<SimulatedUnit> unit;
    std::unique_ptr<ChildProcess> run;
};

std::size_t FramesOf(const std::vector<std::string>& frames, const std::string& head) {
    return std::count_if(frames.begin(), frames.end(),
                         [&](const std::string& f) { return f.starts_with(head); });
}

TEST(ControlSocketTest, ClientsSeeTheFilesRecordsAndTheirChangeReachesTheUnitOnceBetweenPolls) {
    ControlRig rig;
    ASSERT_TRUE(rig.unit->Started());
    ControlClient client(rig.Socket());
    ASSERT_TRUE(client.Connected()) << rig.run->Err();
    const auto hello = client.NextOf<HelloMessage>();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->version, kControlProtocolVersion);
    EXPECT_EQ(hello->user, Me());

    const auto record = client.NextOf<RecordMessage>();
    ASSERT_TRUE(record) << rig.run->Err();
    EXPECT_EQ(record->serial, 1234u);
    const auto link = client.NextOf<LinkMessage>();
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->online);

    const ControlCommand offset{"W01", "+000123  ", 0, 64, EReplyEnd::kEtx};
    const auto reply = client.Exchange(offset);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->sent && reply->complete);
    EXPECT_TRUE(reply->reply.starts_with("\x02W01 ")) << reply->reply;
    EXPECT_EQ(JudgeReply(reply->reply), EReplyVerdict::kAccepted) << reply->reply;
    // Polling goes on after it: a later record.
    ASSERT_TRUE(client.NextOf<RecordMessage>());
    ASSERT_TRUE(client.NextOf<RecordMessage>());

    // Once, and not inside a poll (D*1, D*2, D*5, B20, A24 follow each other within one).
    const std::vector<std::string> frames = rig.Received();
    ASSERT_EQ(FramesOf(frames, "\x02W01 "), 1u);
    const auto at = std::find_if(frames.begin(), frames.end(),
                                 [](const std::string& f) { return f.starts_with("\x02W01 "); });
    ASSERT_TRUE(at != frames.begin() && at + 1 != frames.end());
    EXPECT_EQ(*at, "\x02W01 00000 +000123  \x03");
    for (const char* inside : {"\002D*1", "\002D*2", "\002D*5", "\002B20"}) {
        EXPECT_FALSE(at[-1].starts_with(inside)) << "after " << at[-1];
    }
    for (const char* inside : {"\002D*2", "\002D*5", "\002B20", "\002A24"}) {
        EXPECT_FALSE(at[1].starts_with(inside)) << "before " << at[1];
    }

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
    // The record pushed is the file's, the file has each record once, and the change log names
    // the user.
    const std::vector<std::string> lines = CsdLines(rig.Records() / "Unit1234.csd");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), record->line), 1) << record->line;
    EXPECT_EQ(std::set<std::string>(lines.begin() + 1, lines.end()).size(), lines.size() - 1);
    const std::string changes = FileText(rig.ChangeLog());
    EXPECT_NE(
        changes.find("\tW01\t+000123  \tnone\taccepted\tby " + Me() + " via the logging service\n"),
        std::string::npos)
        << changes;
}

// A python client that registers its closing command, holds the sweep, then sends exchanges as
// a sweep's points ("A14", which no poll sends) for a few seconds, longer than the polling
// interval, and waits to be killed.
constexpr char kSweepingClient[] = R"(
import json, socket, sys, time
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); f = s.makefile("rw")
def send(m): f.write(json.dumps(m) + "\n"); f.flush()
def until(kind):
    while True:
        m = json.loads(f.readline())
        if m["class"] == kind: return m
until("hello")
send({"class": "closing", "commands": [json.loads(sys.argv[2])]}); until("closing")
send({"class": "sweep", "hold": True}); until("sweep")
start = time.monotonic(); n = 0
while time.monotonic() - start < 3:
    n += 1; send({"class": "exchange", "id": n, "code": "A14"}); until("reply")
print("held", n, flush=True)
time.sleep(3600)
)";

TEST(ControlSocketTest, AClientKilledMidSweepHasItsClosingCommandSentAndPollingResumes) {
    const struct {
        std::vector<std::string> simOptions;
        std::string closing;  // the registered command, as the client writes it
        std::string frame;    // what the unit must then receive
    } kCases[] = {
        {{}, R"({"code":"A02","data":"0","parameter":131072,"end":"none"})", "\002A02 "},
        {{"--instrument-sweep"},
         R"({"code":"A05","data":"off","end":"none"})",
         "\002A05 00000 off\003"},
    };
    for (const auto& c : kCases) {
        ControlRig rig(c.simOptions);
        ASSERT_TRUE(rig.unit->Started());
        ControlClient watcher(rig.Socket());
        ASSERT_TRUE(watcher.NextOf<RecordMessage>()) << rig.run->Err();
        ChildProcess sweeper(
            {"/usr/bin/env", "python3", "-c", kSweepingClient, rig.Socket(), c.closing});
        const std::string held = sweeper.ReadLine();
        ASSERT_TRUE(held.starts_with("held")) << held << sweeper.Err();
        const auto sweep = watcher.NextOf<SweepMessage>();
        ASSERT_TRUE(sweep && sweep->held);
        EXPECT_EQ(sweep->holder, Me());

        sweeper.Signal(SIGKILL);
        sweeper.Wait();
        // Released only after the closing command went out; then the polls come back.
        const auto released = watcher.NextOf<SweepMessage>();
        ASSERT_TRUE(released && !released->held);
        ASSERT_TRUE(watcher.NextOf<RecordMessage>()) << c.frame;
        const std::vector<std::string> frames = rig.Received();
        const auto first = std::find(frames.begin(), frames.end(), "\002A14 00000 \003");
        const auto closing = std::find_if(frames.begin(), frames.end(), [&](const std::string& f) {
            return f.starts_with(c.frame);
        });
        ASSERT_TRUE(first != frames.end() && closing != frames.end()) << c.frame;
        EXPECT_EQ(FramesOf(frames, c.frame), 1u);
        // No status poll between the sweep's first point and its end.
        EXPECT_EQ(std::count_if(first, closing,
                                [](const std::string& f) { return f.starts_with("\002D*1"); }),
                  0);
        EXPECT_NE(FileText(rig.ChangeLog()).find("by " + Me() + " via the logging service"),
                  std::string::npos);
        EXPECT_EQ(rig.Stop(), 0) << rig.run->Err();
    }
}

TEST(ControlSocketTest, AClientThatStopsReadingIsCutAndTheOthersGoOn) {
    ControlRig rig;
    ASSERT_TRUE(rig.unit->Started());
    ControlClient fast(rig.Socket());
    ControlClient slow(rig.Socket());
    ASSERT_TRUE(fast.Connected() && slow.Connected());
    // Asks and asks and never reads an answer.
    std::string requests;
    for (int i = 0; i < 40000; ++i) {
        requests += "{\"class\":\"sweep\",\"hold\":false}\n";
    }
    slow.SendLine(requests);  // may be cut off before it has sent them all
    const std::string said = rig.OutputUntil("cut off");
    EXPECT_NE(said.find("Control client " + Me() + " detached: it stopped reading; cut off"),
              std::string::npos)
        << said;
    std::vector<std::string> seen;
    while (seen.size() < 3) {
        const auto record = fast.NextOf<RecordMessage>();
        ASSERT_TRUE(record) << "records seen: " << seen.size();
        seen.push_back(record->line);
    }
    EXPECT_EQ(rig.Stop(), 0) << rig.run->Err();
    // Every record the client got is in the file, once, in the same order.
    const std::vector<std::string> lines = CsdLines(rig.Records() / "Unit1234.csd");
    auto from = lines.begin();
    for (const std::string& line : seen) {
        from = std::find(from, lines.end(), line);
        ASSERT_TRUE(from != lines.end()) << line;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1);
    }
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

TEST(ControlSocketTest, TheSocketIsForTheGroupAndOneRunServesIt) {
    ControlRig rig;
    ASSERT_TRUE(rig.unit->Started());
    ControlClient client(rig.Socket());
    ASSERT_TRUE(client.NextOf<HelloMessage>());
    struct stat status {};
    ASSERT_EQ(lstat(rig.Socket().c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0660u);

    const std::string plainFile = (rig.dir.Path() / "plain").string();
    std::ofstream(plainFile) << "keep";
    const struct {
        std::string socket;
        std::string said;
    } kRefused[] = {
        {rig.Socket(), "cannot serve on " + rig.Socket() + ": another run serves this socket"},
        {plainFile, "cannot serve on " + plainFile + ": the path exists and is not a socket"},
    };
    for (const auto& c : kRefused) {
        // A port of its own: the unit's is held by the first run.
        ChildProcess second({CORVANE3_PROGRAM, "--headless", "--port",
                             (rig.dir.Path() / "absent").string(), "--control", c.socket});
        EXPECT_EQ(second.Wait(), 1) << c.socket;
        EXPECT_NE(second.Err().find(c.said), std::string::npos) << second.Err();
    }
    EXPECT_EQ(FileText(plainFile), "keep");
    EXPECT_EQ(rig.Stop(), 0) << rig.run->Err();
    EXPECT_FALSE(std::filesystem::exists(rig.Socket()));
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
