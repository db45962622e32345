#pragma once
// The headless run's control socket: clients (windows, scripts) attached to the logging service
// on a Unix domain socket, speaking the control protocol (core/control/ControlProtocol.h).
//
// One thread serves the sockets: it accepts, reads requests and writes each client's queue,
// never blocking on a client. A second thread runs the clients' exchanges and closing commands
// one after the other through the given exchange function, which serializes them with the polls.
// Pushes (link states, records) only append to the queues, so nothing a client does delays the
// caller. A client that stops reading is cut off once its queue is too large or too old.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/base/LinePriority.h"
#include "core/control/ControlProtocol.h"

namespace corvane3 {

// When a client that stops reading is cut off.
struct ControlClientLimits {
    // Bytes queued for it and not yet taken: about an hour of records and link states.
    std::size_t queueBytes = 1024 * 1024;
    // How long its oldest queued message may wait while it takes nothing.
    std::chrono::milliseconds stall{15000};
    // The socket's send buffer: small, so that a client that stops reading is noticed in our
    // queue (bounded, timed) instead of hidden in the kernel's.
    int sendBuffer = 16 * 1024;
};

// The socket file's permissions: the owner and the group (who may read the records) may command.
inline constexpr unsigned kControlSocketMode = 0660;

class CControlServer {
  public:
    // Runs one command for a client whose user is user; may block (on the port). Called on the
    // server's exchange thread only, one call at a time.
    using Exchange =
        std::function<ReplyMessage(const ControlCommand& command, const std::string& user)>;
    // A line for the run's output (a client attached, gone, cut off).
    struct Note {
        ELinePriority priority;
        std::string text;
    };

    explicit CControlServer(Exchange exchange, ControlClientLimits limits = {});
    // Stops as Stop does.
    ~CControlServer();
    CControlServer(const CControlServer&) = delete;
    CControlServer& operator=(const CControlServer&) = delete;

    // Listens on path (a socket left there by a run that ended is replaced; anything else is
    // not). False, with the reason, when it cannot.
    bool Start(const std::string& path, std::string& problem);
    // Ends every connection, sends the clients' closing commands, waits for them, and removes
    // the socket. Does nothing when not started.
    void Stop();

    // Queues message for every client. Thread-safe; never blocks on a client.
    void Push(const ServerMessage& message);
    // True while a client holds the sweep: the status polls pause. Thread-safe.
    bool PollsHeld() const;
    std::size_t ClientCount() const;
    // What happened to the clients since the last call, for the run's output. Thread-safe.
    std::vector<Note> TakeNotes();

  private:
    struct Client {
        int fd = -1;
        std::string user;
        std::deque<std::string> queue;  // lines not yet written; the front maybe in part
        std::size_t queuedBytes = 0;
        std::size_t frontWritten = 0;
        std::chrono::steady_clock::time_point waitingSince;  // of the front line
        CControlLineReader reader;
        std::vector<ControlCommand> closing;
        bool exchangeRunning = false;
        bool endAfterQueue = false;  // refused: written what is queued, then ended
    };
    // A client's exchange, or what is left to do for a client that went away.
    struct Job {
        int client = 0;
        std::string user;
        std::optional<ExchangeRequest> exchange;
        std::vector<ControlCommand> closing;
        bool releaseSweep = false;
    };

    void Serve();
    void RunJobs();
    void Accept();
    // Reads what fd has; false when the client is gone.
    bool ReadFrom(int id, Client& client);
    void Handle(int id, Client& client, const std::string& line);
    void HandleSweep(int id, Client& client, bool hold);
    // Writes what fd takes; false when the client is gone.
    bool WriteTo(Client& client);
    // Locked: queue line for one client / all clients.
    void QueueLocked(Client& client, std::string line);
    void QueueAllLocked(const std::string& line);
    // Locked: closes the connection and hands its closing commands to the exchange thread.
    void DropLocked(int id, const std::string& why);
    void Wake();

    Exchange exchange_;
    ControlClientLimits limits_;
    std::string path_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;

    mutable std::mutex mutex_;
    std::map<int, Client> clients_;
    int nextId_ = 1;
    int sweepHolder_ = 0;  // 0: free
    std::string sweepHolderUser_;
    std::vector<Note> notes_;
    bool stopping_ = false;
    std::deque<Job> jobs_;
    std::condition_variable jobsChanged_;
    bool jobsClosed_ = false;

    std::thread server_;
    std::thread exchanges_;
};

}  // namespace corvane3
