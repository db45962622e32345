#include "sim/SimulatorServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "core/base/CLocale.h"
#include "sim/PseudoTerminal.h"

namespace corvane3::sim {

namespace {
using namespace std::chrono_literals;

// The serving loop looks at its timers at least this often.
constexpr auto kLongestWait = 100ms;
// A terminal that cannot be reopened is tried again after this long.
constexpr auto kReopenRetry = 1s;
// Disconnect() waits at most this long for the serving thread.
constexpr auto kRequestTimeout = 5s;
constexpr unsigned char kSevenBitMask = 0x7f;
constexpr std::size_t kReadBlock = 4096;
}  // namespace

CSimulatorServer::CSimulatorServer(SimulatorOptions options)
    : options_(std::move(options)), instrument_(options_.instrument, SimClock::now()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::error_code ignored;
    if (wakeFd_ < 0) {
        error_ = "cannot create an event descriptor";
    } else if (!options_.link.empty() && std::filesystem::exists(options_.link, ignored) &&
               !std::filesystem::is_symlink(options_.link, ignored)) {
        error_ = options_.link.string() + " exists and is not a symbolic link";
    } else if (!options_.log.empty() && !log_.Open(options_.log)) {
        error_ = "cannot write " + options_.log.string();
    } else if (!OpenTerminal()) {
        error_ = "cannot open a pseudo-terminal";
    }
    if (!error_.empty()) {
        return;
    }
    if (options_.pace) {
        writer_.SetCharacterTime(CharacterTime(instrument_.Line()));
    }
    thread_ = std::thread(&CSimulatorServer::Serve, this);
}

CSimulatorServer::~CSimulatorServer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    Wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    CloseTerminal();
    std::error_code ignored;
    if (!options_.link.empty() && std::filesystem::is_symlink(options_.link, ignored)) {
        std::filesystem::remove(options_.link, ignored);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool CSimulatorServer::IsOpen() const {
    std::lock_guard lock(mutex_);
    return error_.empty();
}

std::string CSimulatorServer::Error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::string CSimulatorServer::SlavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

SimFaults CSimulatorServer::Faults() const {
    std::lock_guard lock(mutex_);
    return options_.faults;
}

void CSimulatorServer::SetFaults(const SimFaults& faults) {
    std::lock_guard lock(mutex_);
    options_.faults = faults;
}

void CSimulatorServer::UpdateFaults(const std::function<void(SimFaults&)>& change) {
    std::lock_guard lock(mutex_);
    change(options_.faults);
}

void CSimulatorServer::SetOverride(const std::string& code,
                                   const std::vector<std::string>& replies) {
    std::lock_guard lock(mutex_);
    options_.overrides.Set(code, replies);
}

void CSimulatorServer::Disconnect(std::optional<std::chrono::milliseconds> reconnectAfter) {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) {
        return;
    }
    disconnectRequested_ = true;
    requestedReconnect_ = reconnectAfter;
    Wake();
    changed_.wait_for(lock, kRequestTimeout, [&] { return !disconnectRequested_; });
}

bool CSimulatorServer::IsConnected() const {
    std::lock_guard lock(mutex_);
    return terminal_ != nullptr;
}

bool CSimulatorServer::WaitConnected(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return terminal_ != nullptr; });
}

std::vector<ReceivedFrame> CSimulatorServer::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<std::string> CSimulatorServer::Codes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> codes;
    for (const ReceivedFrame& frame : frames_) {
        codes.push_back(frame.code);
    }
    return codes;
}

void CSimulatorServer::ClearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    replies_.clear();
}

std::vector<ReceivedFrame> CSimulatorServer::WaitForFrames(
    std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
    return frames_;
}

std::optional<ReceivedFrame> CSimulatorServer::WaitForFrame(
    const std::string& code, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    const auto find = [&] {
        return std::find_if(frames_.begin(), frames_.end(),
                            [&](const ReceivedFrame& frame) { return frame.code == code; });
    };
    if (!changed_.wait_for(lock, timeout, [&] { return find() != frames_.end(); })) {
        return std::nullopt;
    }
    return *find();
}

std::vector<std::string> CSimulatorServer::Replies() const {
    std::lock_guard lock(mutex_);
    return replies_;
}

void CSimulatorServer::Wake() const {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool CSimulatorServer::OpenTerminal() {
    auto terminal = std::make_unique<CPseudoTerminal>();
    if (!terminal->IsOpen()) {
        return false;
    }
    terminal_ = std::move(terminal);
    slavePath_ = terminal_->SlavePath();
    parser_.Reset();
    writer_.Clear();
    PointLink();
    log_.Write(ETrafficDirection::kNote, "terminal " + slavePath_);
    changed_.notify_all();
    return true;
}

void CSimulatorServer::CloseTerminal() {
    if (!terminal_) {
        return;
    }
    terminal_.reset();
    slavePath_.clear();
    parser_.Reset();
    writer_.Clear();
    log_.Write(ETrafficDirection::kNote, "disconnected");
    changed_.notify_all();
}

void CSimulatorServer::PointLink() {
    if (options_.link.empty()) {
        return;
    }
    // A new link under a temporary name, renamed over the old one: the path never dangles.
    std::error_code error;
    std::filesystem::path fresh = options_.link;
    fresh += ".new";
    std::filesystem::remove(fresh, error);
    std::filesystem::create_symlink(slavePath_, fresh, error);
    if (!error) {
        std::filesystem::rename(fresh, options_.link, error);
    }
    if (error) {
        error_ = "cannot link " + options_.link.string() + ": " + error.message();
    }
}

bool CSimulatorServer::LineMatches() const {
    termios tio{};
    return terminal_ && ::tcgetattr(terminal_->MasterFd(), &tio) == 0 &&
           VisibleSettingsMatch(instrument_.Line(), tio);
}

void CSimulatorServer::Serve() {
    // The instrument's replies and lines have decimal points, whatever the host's locale.
    const CScopedCLocale numbers;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        ServeOnce(lock);
    }
}

void CSimulatorServer::ServeOnce(std::unique_lock<std::mutex>& lock) {
    auto now = SimClock::now();
    if (disconnectRequested_) {
        CloseTerminal();
        const auto after = requestedReconnect_ ? requestedReconnect_ : options_.reconnectAfter;
        reconnectAt_.reset();
        if (after) {
            reconnectAt_ = now + *after;
        }
        disconnectRequested_ = false;
        changed_.notify_all();
    }
    if (!terminal_ && reconnectAt_ && now >= *reconnectAt_) {
        reconnectAt_.reset();
        if (!OpenTerminal()) {
            reconnectAt_ = now + kReopenRetry;
        }
    }

    auto wakeAt = now + kLongestWait;
    const auto earlier = [&](std::optional<SimClock::time_point> t) {
        if (t) {
            wakeAt = std::min(wakeAt, *t);
        }
    };
    const int master = terminal_ ? terminal_->MasterFd() : -1;
    if (terminal_) {
        earlier(writer_.NextDue());
        earlier(instrument_.NextUnsolicited());
    }
    earlier(reconnectAt_);
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {master, POLLIN, 0}};
    if (writer_.WaitsForWritable()) {
        fds[1].events |= POLLOUT;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::max(SimClock::duration::zero(), wakeAt - now));
    const timespec timeout{static_cast<time_t>(wait / std::chrono::seconds(1)),
                           static_cast<long>((wait % std::chrono::seconds(1)).count())};

    // The terminal is only opened and closed on this thread, so master stays valid unlocked.
    lock.unlock();
    ::ppoll(fds, master >= 0 ? 2 : 1, &timeout, nullptr);
    lock.lock();

    std::uint64_t wakes = 0;
    while (::read(wakeFd_, &wakes, sizeof wakes) > 0) {
    }
    if (stop_ || !terminal_) {
        return;
    }
    now = SimClock::now();
    if (fds[1].revents & POLLIN) {
        std::string bytes;
        char block[kReadBlock];
        ssize_t n = 0;
        while ((n = ::read(master, block, sizeof block)) > 0) {
            bytes.append(block, static_cast<std::size_t>(n));
        }
        if (instrument_.Line().dataBits == 7) {
            for (char& c : bytes) {
                c = static_cast<char>(c & kSevenBitMask);
            }
        }
        for (const ReceivedFrame& frame : parser_.Feed(bytes, now)) {
            HandleFrame(frame, now);
        }
    }
    std::string own = instrument_.TakeUnsolicited(now);
    if (!own.empty() && !options_.faults.silent && LineMatches()) {
        log_.Write(ETrafficDirection::kSent, own);
        writer_.Enqueue(std::move(own), {}, now);
    }
    if (!writer_.Pump(master, now)) {
        writer_.Clear();
        log_.Write(ETrafficDirection::kNote, "write failed");
    }
    if (lineChange_ && writer_.Idle()) {
        instrument_.SetLine(*lineChange_);
        writer_.SetCharacterTime(options_.pace ? CharacterTime(*lineChange_)
                                               : std::chrono::nanoseconds::zero());
        log_.Write(ETrafficDirection::kNote, "line " + FormatLineSettings(*lineChange_));
        lineChange_.reset();
    }
}

void CSimulatorServer::HandleFrame(const ReceivedFrame& frame, SimClock::time_point now) {
    frames_.push_back(frame);
    log_.Write(ETrafficDirection::kReceived, frame.raw);
    changed_.notify_all();
    if (options_.faults.silent) {
        return;
    }
    if (options_.replay) {
        SendReplayed(frame, now);
        return;
    }
    if (!LineMatches()) {
        log_.Write(ETrafficDirection::kNote, "line settings differ, not answered");
        return;
    }
    std::optional<std::string> reply;
    if (options_.overrides.Covers(frame.code)) {
        reply = options_.overrides.Next(frame.code);
    } else if (options_.faults.refuseProtected && IsProtectedCommand(frame.code)) {
        reply = RefusalReply(frame);
    } else {
        reply = instrument_.HandleFrame(frame, now);
        if (auto change = instrument_.TakeLineChange()) {
            lineChange_ = change;
        }
    }
    if (reply) {
        Send(frame.code, std::move(*reply), now);
    }
}

void CSimulatorServer::Send(const std::string& code, std::string reply, SimClock::time_point now) {
    std::string sent;
    for (OutputPiece& piece : ApplyFaults(options_.faults, code, std::move(reply))) {
        log_.Write(ETrafficDirection::kSent, piece.bytes);
        sent += piece.bytes;
        writer_.Enqueue(std::move(piece.bytes), piece.pauseBefore, now);
    }
    replies_.push_back(std::move(sent));
}

void CSimulatorServer::SendReplayed(const ReceivedFrame& frame, SimClock::time_point now) {
    std::optional<ReplayReply> reply = options_.replay->Next(frame.code);
    if (!reply) {
        log_.Write(ETrafficDirection::kNote, "not in the replayed transcript, not answered");
        return;
    }
    std::string sent;
    for (ReplayPiece& piece : *reply) {
        log_.Write(ETrafficDirection::kSent, piece.bytes);
        sent += piece.bytes;
        const std::chrono::nanoseconds pause = options_.replayPaced
                                                   ? std::chrono::nanoseconds(piece.pauseBefore)
                                                   : std::chrono::nanoseconds::zero();
        writer_.Enqueue(std::move(piece.bytes), pause, now);
    }
    replies_.push_back(std::move(sent));
}

}  // namespace corvane3::sim
