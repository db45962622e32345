#include "app/ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane3 {

namespace {

// How often the serving thread looks at the clients' queues while nothing happens, so that a
// stalled one is cut about on time.
constexpr int kServePeriodMs = 200;
// Connections waiting to be accepted.
constexpr int kListenBacklog = 16;
// Bytes read from a client at once.
constexpr std::size_t kReadChunk = 64 * 1024;
// A user id's name: getpwuid_r's buffer.
constexpr std::size_t kPasswdBuffer = 4096;

std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[kPasswdBuffer];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return "uid " + std::to_string(uid);
}

// The user of the process at the other end of fd, from the kernel, never from the client.
std::string PeerUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        return "an unknown user";
    }
    return UserName(credentials.uid);
}

bool FillAddress(const std::string& path, sockaddr_un& address, std::string& problem) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        problem =
            "the path must have 1 to " + std::to_string(sizeof address.sun_path - 1) + " bytes";
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// A socket file left at path by a run that ended is removed; one a run still serves, or any
// other file, is not.
bool ClearStaleSocket(const std::string& path, const sockaddr_un& address, std::string& problem) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return true;
    }
    if (!S_ISSOCK(status.st_mode)) {
        problem = "the path exists and is not a socket";
        return false;
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool served = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                              sizeof address) == 0;
    if (probe >= 0) {
        close(probe);
    }
    if (served) {
        problem = "another run serves this socket";
        return false;
    }
    unlink(path.c_str());
    return true;
}

}  // namespace

CControlServer::CControlServer(Exchange exchange, ControlClientLimits limits)
    : exchange_(std::move(exchange)), limits_(limits) {}

CControlServer::~CControlServer() {
    Stop();
}

bool CControlServer::Start(const std::string& path, std::string& problem) {
    sockaddr_un address{};
    if (!FillAddress(path, address, problem) || !ClearStaleSocket(path, address, problem)) {
        return false;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int pipeFds[2] = {-1, -1};
    // The mode is set before listen: no one can connect while the socket is still wider open.
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), kControlSocketMode) != 0 || listen(fd, kListenBacklog) != 0 ||
        pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        problem = std::strerror(errno);
        if (fd >= 0) {
            close(fd);
            unlink(path.c_str());
        }
        return false;
    }
    path_ = path;
    listenFd_ = fd;
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    stopping_ = false;
    jobsClosed_ = false;
    server_ = std::thread([this] { Serve(); });
    exchanges_ = std::thread([this] { RunJobs(); });
    return true;
}

void CControlServer::Stop() {
    if (!server_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        while (!clients_.empty()) {
            DropLocked(clients_.begin()->first, "the service stops");
        }
    }
    Wake();
    server_.join();
    {
        std::lock_guard lock(mutex_);
        jobsClosed_ = true;
    }
    jobsChanged_.notify_all();
    exchanges_.join();  // after the closing commands of every client
    close(listenFd_);
    unlink(path_.c_str());
    close(wakeRead_);
    close(wakeWrite_);
    listenFd_ = wakeRead_ = wakeWrite_ = -1;
}

void CControlServer::Push(const ServerMessage& message) {
    const std::string line = EncodeServerMessage(message);
    {
        std::lock_guard lock(mutex_);
        QueueAllLocked(line);
    }
    Wake();
}

bool CControlServer::PollsHeld() const {
    std::lock_guard lock(mutex_);
    return sweepHolder_ != 0;
}

std::size_t CControlServer::ClientCount() const {
    std::lock_guard lock(mutex_);
    return clients_.size();
}

std::vector<CControlServer::Note> CControlServer::TakeNotes() {
    std::lock_guard lock(mutex_);
    std::vector<Note> notes;
    notes.swap(notes_);
    return notes;
}

void CControlServer::Wake() {
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t ignored = write(wakeWrite_, &byte, 1);
}

void CControlServer::Serve() {
    for (;;) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        std::vector<int> ids;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            for (const auto& [id, client] : clients_) {
                const short events = client.queue.empty() ? POLLIN : POLLIN | POLLOUT;
                fds.push_back({client.fd, events, 0});
                ids.push_back(id);
            }
        }
        if (poll(fds.data(), fds.size(), kServePeriodMs) < 0 && errno != EINTR) {
            return;
        }
        char drain[64];
        while (read(wakeRead_, drain, sizeof drain) > 0) {
        }
        if (fds[0].revents & POLLIN) {
            Accept();
        }
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const auto found = clients_.find(ids[i]);
            if (found == clients_.end()) {
                continue;
            }
            const short revents = fds[i + 2].revents;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) && !ReadFrom(ids[i], found->second)) {
                DropLocked(ids[i], "it closed the connection");
                continue;
            }
            if ((revents & POLLOUT) && !WriteTo(found->second)) {
                DropLocked(ids[i], "the connection broke");
            }
        }
        // The clients that stopped reading, and those refused once told why.
        const auto now = std::chrono::steady_clock::now();
        std::vector<std::pair<int, std::string>> ended;
        for (const auto& [id, client] : clients_) {
            if (client.endAfterQueue && client.queue.empty()) {
                ended.emplace_back(id, "it was refused");
            } else if (client.queuedBytes > limits_.queueBytes ||
                       (!client.queue.empty() && now - client.waitingSince > limits_.stall)) {
                ended.emplace_back(id, "it stopped reading; cut off");
            }
        }
        for (const auto& [id, why] : ended) {
            DropLocked(id, why);
        }
    }
}

void CControlServer::Accept() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // none waiting, or out of descriptors: the next look tries again
        }
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &limits_.sendBuffer, sizeof limits_.sendBuffer);
        const std::string user = PeerUser(fd);
        std::lock_guard lock(mutex_);
        const int id = nextId_++;
        Client& client = clients_[id];
        client.fd = fd;
        client.user = user;
        QueueLocked(client, EncodeServerMessage(HelloMessage{kControlProtocolVersion, user}));
        if (sweepHolder_ != 0) {
            QueueLocked(client, EncodeServerMessage(SweepMessage{true, sweepHolderUser_}));
        }
        notes_.push_back({ELinePriority::kInfo, "Control client " + user + " attached"});
    }
}

bool CControlServer::ReadFrom(int id, Client& client) {
    char buffer[kReadChunk];
    const ssize_t got = read(client.fd, buffer, sizeof buffer);
    if (got < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (got == 0) {
        return false;
    }
    client.reader.Append(std::string_view(buffer, static_cast<std::size_t>(got)));
    while (const auto line = client.reader.NextLine()) {
        Handle(id, client, *line);
    }
    if (client.reader.Overflowed() && !client.endAfterQueue) {
        QueueLocked(client, EncodeServerMessage(ErrorMessage{
                                std::nullopt, "A line is longer than " +
                                                  std::to_string(kControlLineLimit) + " bytes."}));
        client.endAfterQueue = true;
    }
    return true;
}

void CControlServer::Handle(int id, Client& client, const std::string& line) {
    if (client.endAfterQueue) {
        return;
    }
    std::string problem;
    const std::optional<ClientMessage> message = DecodeClientMessage(line, problem);
    if (!message) {
        QueueLocked(client, EncodeServerMessage(
                                ErrorMessage{std::nullopt, "Not a message: " + problem + "."}));
        return;
    }
    if (const auto* hello = std::get_if<HelloMessage>(&*message)) {
        if (hello->version != kControlProtocolVersion) {
            QueueLocked(client,
                        EncodeServerMessage(ErrorMessage{
                            std::nullopt, "The service speaks version " +
                                              std::to_string(kControlProtocolVersion) +
                                              " of the control protocol, the client version " +
                                              std::to_string(hello->version) + "."}));
            client.endAfterQueue = true;
        }
    } else if (const auto* exchange = std::get_if<ExchangeRequest>(&*message)) {
        if (client.exchangeRunning) {
            QueueLocked(client, EncodeServerMessage(ErrorMessage{
                                    exchange->id,
                                    "An exchange of this client is still running: wait "
                                    "for its reply."}));
            return;
        }
        client.exchangeRunning = true;
        jobs_.push_back(Job{id, client.user, *exchange, {}, false});
        jobsChanged_.notify_one();
    } else if (const auto* closing = std::get_if<ClosingRegistration>(&*message)) {
        client.closing = closing->commands;
        QueueLocked(client, EncodeServerMessage(ClosingMessage{client.closing.size()}));
    } else if (const auto* sweep = std::get_if<SweepRequest>(&*message)) {
        HandleSweep(id, client, sweep->hold);
    }
}

void CControlServer::HandleSweep(int id, Client& client, bool hold) {
    if (sweepHolder_ != 0 && sweepHolder_ != id) {
        const std::string text =
            hold ? "A sweep is already running for " + sweepHolderUser_ +
                       "; try again when it has ended."
                 : "This client does not hold the sweep; " + sweepHolderUser_ + " does.";
        QueueLocked(client, EncodeServerMessage(ErrorMessage{std::nullopt, text}));
        return;
    }
    if (!hold && sweepHolder_ == 0) {
        QueueLocked(client, EncodeServerMessage(SweepMessage{false, ""}));
        return;
    }
    sweepHolder_ = hold ? id : 0;
    sweepHolderUser_ = hold ? client.user : "";
    QueueAllLocked(EncodeServerMessage(SweepMessage{hold, sweepHolderUser_}));
    notes_.push_back({ELinePriority::kInfo, hold ? "Polls paused: " + client.user + " sweeps"
                                                 : "Polls resumed: the sweep has ended"});
}

bool CControlServer::WriteTo(Client& client) {
    while (!client.queue.empty()) {
        const std::string& front = client.queue.front();
        const ssize_t sent = send(client.fd, front.data() + client.frontWritten,
                                  front.size() - client.frontWritten, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        client.frontWritten += static_cast<std::size_t>(sent);
        if (client.frontWritten < front.size()) {
            return true;
        }
        client.queuedBytes -= front.size();
        client.queue.pop_front();
        client.frontWritten = 0;
        client.waitingSince = std::chrono::steady_clock::now();
    }
    return true;
}

void CControlServer::QueueLocked(Client& client, std::string line) {
    if (client.queue.empty()) {
        client.waitingSince = std::chrono::steady_clock::now();
    }
    client.queuedBytes += line.size();
    client.queue.push_back(std::move(line));
}

void CControlServer::QueueAllLocked(const std::string& line) {
    for (auto& [id, client] : clients_) {
        QueueLocked(client, line);
    }
}

void CControlServer::DropLocked(int id, const std::string& why) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    Client& client = found->second;
    close(client.fd);
    const bool holdsSweep = sweepHolder_ == id;
    const std::size_t closing = client.closing.size();
    notes_.push_back(
        {why.find("cut off") != std::string::npos ? ELinePriority::kWarning : ELinePriority::kInfo,
         "Control client " + client.user + " detached: " + why +
             (closing == 0 ? std::string()
                           : "; sending its " + std::to_string(closing) + " closing command" +
                                 (closing == 1 ? "" : "s"))});
    if (closing != 0 || holdsSweep) {
        jobs_.push_back(Job{id, client.user, std::nullopt, std::move(client.closing), holdsSweep});
        jobsChanged_.notify_one();
    }
    clients_.erase(found);
}

void CControlServer::RunJobs() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            jobsChanged_.wait(lock, [this] { return !jobs_.empty() || jobsClosed_; });
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (job.exchange) {
            ReplyMessage reply = exchange_(job.exchange->command, job.user);
            reply.id = job.exchange->id;
            {
                std::lock_guard lock(mutex_);
                if (const auto found = clients_.find(job.client); found != clients_.end()) {
                    found->second.exchangeRunning = false;
                    QueueLocked(found->second, EncodeServerMessage(reply));
                }
            }
            Wake();
            continue;
        }
        for (const ControlCommand& command : job.closing) {
            exchange_(command, job.user);
        }
        if (job.releaseSweep) {
            std::lock_guard lock(mutex_);
            if (sweepHolder_ == job.client) {
                sweepHolder_ = 0;
                sweepHolderUser_.clear();
                QueueAllLocked(EncodeServerMessage(SweepMessage{false, ""}));
                notes_.push_back({ELinePriority::kInfo, "Polls resumed: the sweep has ended"});
            }
        }
        Wake();
    }
}

}  // namespace corvane3
