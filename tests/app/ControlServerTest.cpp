// The control socket's server with a stand-in for the unit's link: sweeps, closing commands,
// refusals and the cut of a client that stops reading.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <mutex>

#include "app/ControlExchange.h"
#include "app/ControlServer.h"
#include "core/link/CommandFrame.h"
#include "support/ControlClient.h"
#include "support/PortFixture.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using testing::ControlClient;

// Every command the link was given, with its user; replies with its code and data.
struct LinkStandIn {
    std::mutex mutex;
    std::vector<std::string> sent;
    ReplyMessage operator()(const ControlCommand& command, const std::string& user) {
        std::lock_guard lock(mutex);
        sent.push_back(command.code + " " + command.data + " " + user);
        return {0, true, true, "\x02" + command.code + " " + command.data + "\x03"};
    }
    std::vector<std::string> Sent() {
        std::lock_guard lock(mutex);
        return sent;
    }
};

struct ServerRig {
    explicit ServerRig(ControlClientLimits limits = {})
        : server([this](const ControlCommand& c, const std::string& u) { return link(c, u); },
                 limits) {
        std::string problem;
        started = server.Start(path, problem);
    }
    testing::TempDir dir;
    std::string path = (dir.Path() / "c.sock").string();
    LinkStandIn link;
    CControlServer server;
    bool started = false;
};

TEST(ControlServerTest, ASweepIsHeldByOneClientAndEndsWithItsClosingCommandsWhenItGoes) {
    ServerRig rig;
    ASSERT_TRUE(rig.started);
    ControlClient holder(rig.path);
    ControlClient other(rig.path);
    const std::string user = holder.NextOf<HelloMessage>()->user;
    ASSERT_TRUE(other.NextOf<HelloMessage>());

    holder.Send(ClosingRegistration{
        {{"A05", "off", 0, 0, EReplyEnd::kNone}, {"A02", "0", 0, 0, EReplyEnd::kNone}}});
    EXPECT_EQ(holder.NextOf<ClosingMessage>()->count, 2u);
    EXPECT_FALSE(rig.server.PollsHeld());
    holder.Send(SweepRequest{true});
    EXPECT_TRUE(holder.NextOf<SweepMessage>()->held);
    const auto seen = other.NextOf<SweepMessage>();
    EXPECT_TRUE(seen->held);
    EXPECT_EQ(seen->holder, user);
    EXPECT_TRUE(rig.server.PollsHeld());
    // A second sweep, and a release by a client that does not hold it, are refused.
    other.Send(SweepRequest{true});
    EXPECT_EQ(other.NextOf<ErrorMessage>()->message,
              "A sweep is already running for " + user + "; try again when it has ended.");
    other.Send(SweepRequest{false});
    EXPECT_EQ(other.NextOf<ErrorMessage>()->message,
              "This client does not hold the sweep; " + user + " does.");
    EXPECT_TRUE(rig.server.PollsHeld());
    // An exchange still runs while the sweep is held.
    const auto reply = other.Exchange({"C03", "", 0, 256, EReplyEnd::kEtx});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->reply, "\002C03 \003");

    holder.Close();
    const auto released = other.NextOf<SweepMessage>();
    ASSERT_TRUE(released);
    EXPECT_FALSE(released->held);
    EXPECT_FALSE(rig.server.PollsHeld());
    // The closing commands went out, in order, before the release.
    EXPECT_EQ(rig.link.Sent(),
              (std::vector<std::string>{"C03  " + user, "A05 off " + user, "A02 0 " + user}));
}

TEST(ControlServerTest, StoppingTheServiceSendsEveryClientsClosingCommands) {
    ServerRig rig;
    // A socket another run serves is never taken over.
    CControlServer second([](const ControlCommand&, const std::string&) { return ReplyMessage{}; });
    std::string problem;
    EXPECT_FALSE(second.Start(rig.path, problem));
    EXPECT_EQ(problem, "another run serves this socket");
    ControlClient client(rig.path);
    client.Send(ClosingRegistration{{{"A02", "0", 0, 0, EReplyEnd::kNone}}});
    ASSERT_TRUE(client.NextOf<ClosingMessage>());
    client.Send(ClosingRegistration{});  // an empty list clears them
    EXPECT_EQ(client.NextOf<ClosingMessage>()->count, 0u);
    client.Send(ClosingRegistration{{{"A05", "off", 0, 0, EReplyEnd::kNone}}});
    ASSERT_TRUE(client.NextOf<ClosingMessage>());
    rig.server.Stop();
    EXPECT_EQ(rig.link.Sent().size(), 1u);
    EXPECT_TRUE(rig.link.Sent().at(0).starts_with("A05 off "));
    EXPECT_FALSE(std::filesystem::exists(rig.path));
    EXPECT_FALSE(client.Next());
    EXPECT_TRUE(client.Ended());
}

TEST(ControlServerTest, RequestsThatCannotBeServedAreAnsweredWithTheReason) {
    ServerRig rig;
    ControlClient client(rig.path);
    ASSERT_TRUE(client.NextOf<HelloMessage>());
    client.SendLine("nonsense\n");
    const auto error = client.NextOf<ErrorMessage>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "Not a message: the line is not a JSON object.");
    // The connection stays: an exchange is still answered.
    EXPECT_TRUE(client.Exchange({"C03", "", 0, 256, EReplyEnd::kEtx}));
    client.SendLine(std::string(kControlLineLimit, 'x'));
    EXPECT_TRUE(client.NextOf<ErrorMessage>()->message.starts_with("A line is longer than"));
    EXPECT_FALSE(client.Next());
    EXPECT_TRUE(client.Ended());
}

TEST(ControlServerTest, AClientThatStopsReadingIsCutWhileTheOthersGetEveryPush) {
    // The service's queue bound and send buffer; the stall bound short, then out of reach.
    const ControlClientLimits kCases[] = {
        {.stall = std::chrono::milliseconds(300)},  // its oldest message too old
        {.stall = std::chrono::seconds(600)},       // its queue too large
    };
    for (const ControlClientLimits& limits : kCases) {
        ServerRig rig(limits);
        ControlClient reader(rig.path);
        ControlClient stalled(rig.path);
        ASSERT_TRUE(reader.NextOf<HelloMessage>() && stalled.NextOf<HelloMessage>());
        // The reader keeps up and gets every push in order; the stalled one takes nothing more.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int pushed = 0;
        while (rig.server.ClientCount() != 1 && std::chrono::steady_clock::now() < until) {
            rig.server.Push(RecordMessage{403, 1234, "record " + std::to_string(pushed), {}});
            const auto record = reader.NextOf<RecordMessage>();
            ASSERT_TRUE(record);
            EXPECT_EQ(record->line, "record " + std::to_string(pushed++));
        }
        EXPECT_EQ(rig.server.ClientCount(), 1u);
        bool said = false;
        for (const auto& note : rig.server.TakeNotes()) {
            said = said || note.text.ends_with("detached: it stopped reading; cut off");
        }
        EXPECT_TRUE(said);
        rig.server.Push(RecordMessage{403, 1234, "after", {}});
        EXPECT_EQ(reader.NextOf<RecordMessage>().value().line, "after");
    }
}

// A client's exchange holds the port's lock from its command to its reply: a poll, which takes
// the same lock for each pass, cannot come between them.
using ControlExchangeTest = testing::PortFixture;
TEST_F(ControlExchangeTest, HoldsThePortFromItsCommandToItsReply) {
    CUnitState unit;
    CChangeLog log;
    testing::TempDir logDir;
    log.SetDirectory(logDir.Path().string());
    auto exchange = std::async(std::launch::async, [&] {
        return RunControlExchange(port_, unit, log, ControlCommand{.code = "C03", .data = ""}, "tester");
    });
    std::string frame;
    for (int reads = 0; reads < 600 && frame.find(kEtx) == std::string::npos; ++reads) {
        frame += pty_.Read(std::chrono::milliseconds(100));
    }
    ASSERT_NE(frame.find("C03"), std::string::npos) << frame;
    const bool freeBeforeTheReply = port_.ExchangeMutex().try_lock();
    if (freeBeforeTheReply) {
        port_.ExchangeMutex().unlock();
    }
    EXPECT_FALSE(freeBeforeTheReply);
    ASSERT_TRUE(pty_.Write(std::string{kStx} + "C03 1.0" + kEtx));
    EXPECT_TRUE(exchange.get().complete);
    ASSERT_TRUE(port_.ExchangeMutex().try_lock());
    port_.ExchangeMutex().unlock();
}

}  // namespace
}  // namespace corvane3
