// A window's connection to the logging service, against a peer on a real Unix socket that
// speaks the protocol line by line: what the service pushes lands where the window's own
// polling would put it, exchanges travel whole, and every failure is said in a sentence.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <future>

#include "core/control/ControlClient.h"
#include "core/control/UnitDetails.h"
#include "core/link/CommandFrame.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/ForbiddenPort.h"
#include "support/RecordingSink.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;

const ControlCommand kC10{"C10", "", 0, kOrdinaryReplyLimit, EReplyEnd::kEtx};

// The service's end of the socket, driven by the test.
class ServicePeer {
  public:
    explicit ServicePeer(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener_, 1), 0);
    }
    ~ServicePeer() {
        CloseClient();
        ::close(listener_);
    }
    void CloseClient() { ::close(std::exchange(client_, -1)); }
    void Send(const ServerMessage& message) {
        const std::string line = EncodeServerMessage(message);
        ASSERT_EQ(::send(client_, line.data(), line.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(line.size()));
    }
    // The next message of the client; nothing when none came within the bound.
    std::optional<ClientMessage> Next() {
        std::optional<std::string> line;
        char chunk[4096];
        pollfd ready{client_, POLLIN, 0};
        while (!(line = lines_.NextLine())) {
            const ssize_t count =
                ::poll(&ready, 1, 30000) == 1 ? ::recv(client_, chunk, sizeof(chunk), 0) : -1;
            if (count <= 0) {
                return std::nullopt;
            }
            lines_.Append(std::string_view(chunk, static_cast<std::size_t>(count)));
        }
        std::string problem;
        return DecodeClientMessage(*line, problem);
    }
    // Accepts the client and greets it as version.
    void Greet(int version) {
        client_ = ::accept(listener_, nullptr, nullptr);
        Send(HelloMessage{version, "alice"});
    }

  private:
    int listener_ = -1;
    int client_ = -1;
    CControlLineReader lines_;
};

class ControlClientTest : public ::testing::Test {
  protected:
    // Connects with the peer greeting as version; the connect's problem, if any.
    std::optional<std::string> Attach(int version = kControlProtocolVersion) {
        auto greeting = std::async(std::launch::async, [&] { peer_.Greet(version); });
        std::optional<std::string> problem = client_.Connect(path_);
        greeting.get();
        return problem;
    }

    testing::TempDir dir_;
    std::string path_ = (dir_.Path() / "unit.sock").string();
    ServicePeer peer_{path_};
    CLinkStatus status_;
    testing::StatusLog statusLog_{status_};
    CUnitState unit_;
    testing::RecordingSink sink_;
    CControlClient client_{unit_, status_, sink_};
};

// Every byte of command and reply travels as it is, with the reply's end and limit.
TEST_F(ControlClientTest, ExchangesTravelWholeAndCarryTheirEnd) {
    ASSERT_EQ(Attach(), std::nullopt);
    ASSERT_TRUE(std::holds_alternative<HelloMessage>(peer_.Next().value()));
    const struct {
        RelayedCommand command;
        EReplyEnd end;
        ReplyMessage answer;
        bool sentAndComplete;
    } cases[] = {
        {{"W00", 12345, "+0020\xe9", kEtx, 256},
         EReplyEnd::kEtx,
         {0, true, true, "\x02W00 \xff\x03"},
         true},
        {{"", 0, "", kLf, 80}, EReplyEnd::kLf, {0, true, false, "half a li"}, false},
        {{"A02", kFactoryAccessOption, "0", 0, 0}, EReplyEnd::kNone, {0, true, true, ""}, true},
        {{"C10", 0, "", kEtx, 64}, EReplyEnd::kEtx, {0, false, false, ""}, false},
    };
    for (const auto& c : cases) {
        auto reply = std::async(std::launch::async, [&] { return client_.Relay(c.command); });
        const std::optional<ClientMessage> asked = peer_.Next();
        ASSERT_TRUE(asked && std::holds_alternative<ExchangeRequest>(*asked));
        const auto& request = std::get<ExchangeRequest>(*asked);
        const ControlCommand& sent = request.command;
        EXPECT_EQ(
            std::tie(sent.code, sent.data, sent.parameter, sent.replyLimit, sent.end),
            std::tie(c.command.code, c.command.data, c.command.parameter, c.command.limit, c.end));
        ReplyMessage answer = c.answer;
        peer_.Send(ReplyMessage{request.id + 1, true, true, "another's"});  // not this one's
        answer.id = request.id;
        peer_.Send(answer);
        const RelayedReply got = reply.get();
        EXPECT_EQ(got.reply, c.answer.reply);
        EXPECT_EQ(got.sent && got.complete, c.sentAndComplete);
    }
    // A refused exchange gives the service's sentence.
    std::string problem;
    auto refused = std::async(std::launch::async, [&] { return client_.Exchange(kC10, problem); });
    const auto asked = peer_.Next();
    ASSERT_TRUE(asked);
    peer_.Send(ErrorMessage{std::get<ExchangeRequest>(*asked).id, "One exchange at a time."});
    EXPECT_FALSE(refused.get());
    EXPECT_EQ(problem, "One exchange at a time.");
}

// Closing commands and the sweep hold are answered by their own kind of message; another
// client's sweep passing by answers neither.
TEST_F(ControlClientTest, ClosingAndSweepRequestsWaitForTheirAnswer) {
    ASSERT_EQ(Attach(), std::nullopt);
    ASSERT_TRUE(peer_.Next());  // the client's hello
    std::string problem;
    auto registered = std::async(std::launch::async, [&] {
        return client_.RegisterClosing({{"A02", kFactoryAccessOption, "0", kEtx, 64}}, problem);
    });
    const auto closing = peer_.Next();
    ASSERT_TRUE(closing && std::holds_alternative<ClosingRegistration>(*closing));
    EXPECT_EQ(std::get<ClosingRegistration>(*closing).commands.at(0).code, "A02");
    peer_.Send(SweepMessage{true, "bob"});
    peer_.Send(ClosingMessage{1});
    EXPECT_TRUE(registered.get());

    const struct {
        ServerMessage answer;
        bool held;
        std::string problem;
    } holds[] = {
        {SweepMessage{true, "alice"}, true, ""},
        {SweepMessage{true, "bob"}, false, "The sweep is held by bob."},
        {ErrorMessage{std::nullopt, "The sweep is held by bob."}, false,
         "The sweep is held by bob."},
    };
    for (const auto& hold : holds) {
        problem.clear();
        auto held =
            std::async(std::launch::async, [&] { return client_.HoldPolls(true, problem); });
        const auto asked = peer_.Next();
        ASSERT_TRUE(asked && std::holds_alternative<SweepRequest>(*asked));
        peer_.Send(hold.answer);
        EXPECT_EQ(held.get(), hold.held);
        EXPECT_EQ(problem, hold.problem);
    }
}

// Pushed states and records land where the window's own polling puts them. The service gone
// mid-exchange: the wait ends at once, the window is told, the unit no longer shown online.
TEST_F(ControlClientTest, PushesLandAsPolledAndAServiceThatGoesEndsTheWait) {
    ASSERT_EQ(Attach(), std::nullopt);
    EXPECT_EQ(client_.User(), "alice");
    const std::string line = TelemetryRecordLine(testing::SampleRecord(), kModelTq9000);
    const UnitDetails details{"2026-12-09 08:00:00", "F 1.2", true, 2019, 3, 14, 123456, 1};
    peer_.Send(RecordMessage{kModelTq9000, 1234, "garbled", details});  // nothing shown
    peer_.Send(RecordMessage{kModelTq9000, 1234, line, details});
    peer_.Send(LinkMessage{ELinkState::kCountdown, "Ready: 9", true});
    ASSERT_TRUE(statusLog_.Texts().WaitForCount("Ready: 9", 1));
    EXPECT_TRUE(unit_.Online);
    const PostedRecord posted = unit_.TakeRecord();
    EXPECT_EQ(TelemetryRecordLine(posted.data, posted.model), line);
    EXPECT_EQ(UnitDetailsOf(posted.data), details);
    EXPECT_EQ(sink_.Codes(), std::vector<int>{kNotifyStatusRecord});
    std::string problem;
    auto exchange = std::async(std::launch::async, [&] { return client_.Exchange(kC10, problem); });
    ASSERT_TRUE(peer_.Next());  // hello
    ASSERT_TRUE(peer_.Next());  // the exchange
    peer_.CloseClient();
    EXPECT_FALSE(exchange.get());
    EXPECT_EQ(problem, "The logging service is gone.");
    ASSERT_TRUE(sink_.WaitForCount(kNotifyServiceGone, 1));
    EXPECT_TRUE(client_.Gone());
    EXPECT_FALSE(unit_.Online);
    EXPECT_FALSE(client_.Relay({"C10", 0, "", kEtx, 64}).sent);
}

using ControlClientConnectTest = ControlClientTest;

TEST_F(ControlClientConnectTest, FailuresSayWhatToDo) {
    const std::string absent = (dir_.Path() / "absent.sock").string();
    const std::string stale = (dir_.Path() / "stale.sock").string();
    { ServicePeer gone(stale); }  // its socket file stays, nobody listens
    const struct {
        std::string path;
        std::string problem;
    } cases[] = {
        {absent, "No logging service serves " + absent +
                     ": none is running, or it was started without --control."},
        {stale, "The logging service of " + stale + " is gone."},
        {(dir_.Path() / std::string(200, 'x')).string(), "is too long"},
    };
    for (const auto& c : cases) {
        CControlClient client(unit_, status_, sink_);
        const std::optional<std::string> problem = client.Connect(c.path);
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
    }
    // A live service whose socket only its group may open: the group to join, as for a port.
    const std::string forbidden = (dir_.Path() / "forbidden.sock").string();
    ServicePeer live(forbidden);
    const std::optional<gid_t> group = testing::GroupId(testing::kSerialGroup);
    if (!group || !testing::NobodysFileAccess().Active()) {
        GTEST_SKIP() << "needs root and the group " << testing::kSerialGroup
                     << ": a refusal is made by connecting as nobody to a socket of that group";
    }
    ASSERT_TRUE(testing::GiveDevice(forbidden, *group, 0660));
    std::filesystem::permissions(dir_.Path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    const testing::NobodysFileAccess nobody;
    ASSERT_TRUE(nobody.Active());
    EXPECT_EQ(client_.Connect(forbidden),
              "Cannot open " + forbidden +
                  ". Permission denied: add your user to the group dialout and log in again.");
}

TEST_F(ControlClientTest, AnotherProtocolVersionIsRefusedNamingBoth) {
    EXPECT_EQ(Attach(2),
              "The logging service speaks version 2 of the control protocol, this "
              "program version 1: use the same release for both.");
}

}  // namespace
}  // namespace corvane3
