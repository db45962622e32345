#pragma once
// A window's connection to the logging service that owns the unit's link. What the service
// pushes goes where the window's own polling thread would put it: link states into the Link
// status, status records into the Unit state (posted, with the status-record notification).
// Exchanges go to the service whole, one at a time, and the caller waits for their reply.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/control/ControlProtocol.h"
#include "core/link/LinkStatus.h"
#include "core/link/TolvexLink.h"
#include "core/link/UnitState.h"

namespace corvane3 {

// The longest an answer of the service is waited for: the longest exchange (an event log read
// at the slowest line speed, about half a minute) behind a poll, with room to spare. A service
// that goes away ends the wait at once.
inline constexpr std::chrono::seconds kServiceAnswerLimit{120};

// Why connecting to the socket at path failed with errno error, in a sentence for a person.
std::string ControlConnectProblem(const std::string& path, int error);

class CControlClient : public IExchangeRelay {
  public:
    // Every reference must outlive this object.
    CControlClient(CUnitState& unit, CLinkStatus& status, INotificationSink& sink);
    // Closes the connection; the service then sends the registered closing commands.
    ~CControlClient() override;
    CControlClient(const CControlClient&) = delete;
    CControlClient& operator=(const CControlClient&) = delete;

    // Connects to the service's socket and takes its greeting. Nothing when attached, else why
    // not (no service there, its group, another protocol version).
    std::optional<std::string> Connect(
        const std::string& socketPath,
        std::chrono::milliseconds greetingLimit = std::chrono::seconds(10));

    // One exchange through the service; an empty code only reads. Not sent when the service is
    // gone or does not answer in time.
    RelayedReply Relay(const RelayedCommand& command) override;
    // The whole answer, or why there is none.
    std::optional<ReplyMessage> Exchange(const ControlCommand& command, std::string& problem);

    // Registers the commands the service sends if this window goes away before it sends them
    // itself; an empty list clears them. False when the service did not take them.
    bool RegisterClosing(const std::vector<RelayedCommand>& commands,
                         std::string& problem) override;
    // Holds (the service's polls pause) or releases the sweep. False, with the service's
    // sentence ("held by ..."), when refused.
    bool HoldPolls(bool hold, std::string& problem) override;

    // Who the service takes this window's user for.
    std::string User() const;
    // True once the connection has ended; GoneReason then says why.
    bool Gone() const { return gone_.load(); }
    std::string GoneReason() const;

  private:
    void ReadLoop();
    void Handle(ServerMessage message);
    void ShowRecord(const RecordMessage& record);
    void EndConnection(const std::string& reason);
    bool SendLine(const std::string& line);
    // Waits for the next answer that is not an exchange's reply (closing, sweep or error).
    std::optional<ServerMessage> SendAndAwaitAnswer(const ClientMessage& message,
                                                    std::string& problem);

    CUnitState& unit_;
    CLinkStatus& status_;
    INotificationSink& sink_;

    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> gone_{false};
    std::atomic<bool> closing_{false};  // this side is closing: not the service's going

    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::string user_;
    std::string goneReason_;
    std::optional<HelloMessage> hello_;
    std::optional<std::string> greetingProblem_;
    // One request at a time: exchanges and the other requests each wait their turn.
    std::mutex requestMutex_;
    std::uint64_t nextId_ = 1;
    std::optional<std::uint64_t> awaitedId_;
    std::optional<ServerMessage> awaitedReply_;  // the reply or error with awaitedId_
    // The kind (ServerMessage index) of the answer a closing or sweep request waits for.
    std::optional<std::size_t> awaitedKind_;
    std::optional<ServerMessage> answer_;  // that answer, or an error without id
};

}  // namespace corvane3
