#include "core/control/ControlClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/control/UnitDetails.h"
#include "core/link/CommandFrame.h"
#include "core/link/SerialDevice.h"
#include "core/telemetry/TelemetryFormat.h"

namespace corvane3 {

namespace {

// How much one read of the socket takes at most.
constexpr std::size_t kReadChunk = 64 * 1024;

EReplyEnd EndOf(char terminator) {
    switch (terminator) {
        case 0:
            return EReplyEnd::kNone;
        case kLf:
            return EReplyEnd::kLf;
        default:
            return EReplyEnd::kEtx;
    }
}

ControlCommand ControlCommandOf(const RelayedCommand& command) {
    return {command.code, command.data, command.parameter, command.limit,
            EndOf(command.terminator)};
}

// The exchange's whole answer in the relay's terms; an error is a command not sent.
RelayedReply RelayedOf(const std::optional<ReplyMessage>& reply) {
    if (!reply) {
        return {};
    }
    return {reply->sent, reply->complete, reply->reply};
}

}  // namespace

std::string ControlConnectProblem(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
            return "No logging service serves " + path +
                   ": none is running, or it was started without --control.";
        case ECONNREFUSED:
            return "The logging service of " + path + " is gone.";
        case EACCES:
        case EPERM:
            return "Cannot open " + path + ". " + OpenFailureReason(path, error) + ".";
        default:
            return "Cannot open " + path + ": " + std::strerror(error) + ".";
    }
}

CControlClient::CControlClient(CUnitState& unit, CLinkStatus& status, INotificationSink& sink)
    : unit_(unit), status_(status), sink_(sink) {}

CControlClient::~CControlClient() {
    closing_ = true;
    if (fd_ >= 0) {
        // Wakes the reader out of its read.
        ::shutdown(fd_, SHUT_RDWR);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::string> CControlClient::Connect(const std::string& socketPath,
                                                   std::chrono::milliseconds greetingLimit) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(address.sun_path)) {
        return "The socket path " + socketPath + " is too long.";
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 ||
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return ControlConnectProblem(socketPath, errno);
    }
    reader_ = std::thread([this] { ReadLoop(); });
    SendLine(EncodeClientMessage(HelloMessage{}));
    std::unique_lock lock(mutex_);
    const bool greeted = answered_.wait_for(lock, greetingLimit, [this] {
        return hello_.has_value() || greetingProblem_.has_value() || gone_.load();
    });
    if (greetingProblem_) {
        return greetingProblem_;
    }
    if (hello_) {
        return std::nullopt;
    }
    return greeted
               ? "The logging service of " + socketPath + " closed the connection: " + goneReason_
               : "The logging service of " + socketPath + " does not answer.";
}

void CControlClient::ReadLoop() {
    CControlLineReader lines;
    std::string chunk(kReadChunk, '\0');
    while (true) {
        const ssize_t count = ::recv(fd_, chunk.data(), chunk.size(), 0);
        if (count == 0 || (count < 0 && errno != EINTR)) {
            EndConnection(count == 0 ? "the service closed the connection"
                                     : std::string(std::strerror(errno)));
            return;
        }
        if (count < 0) {
            continue;
        }
        lines.Append(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
        while (std::optional<std::string> line = lines.NextLine()) {
            std::string problem;
            std::optional<ServerMessage> message = DecodeServerMessage(*line, problem);
            if (!message) {
                EndConnection("the service sent a line that is not a message: " + problem);
                return;
            }
            Handle(std::move(*message));
        }
        if (lines.Overflowed()) {
            EndConnection("the service sent a line longer than the protocol allows");
            return;
        }
    }
}

void CControlClient::Handle(ServerMessage message) {
    if (const auto* link = std::get_if<LinkMessage>(&message)) {
        // Online first: a window told of the new state reads it.
        unit_.Online = link->online;
        status_.SetRelayedLine(link->state, link->text);
        return;
    }
    if (const auto* record = std::get_if<RecordMessage>(&message)) {
        ShowRecord(*record);
        return;
    }
    std::lock_guard lock(mutex_);
    if (const auto* hello = std::get_if<HelloMessage>(&message)) {
        if (hello->version != kControlProtocolVersion) {
            greetingProblem_ =
                "The logging service speaks version " + std::to_string(hello->version) +
                " of the control protocol, this program version " +
                std::to_string(kControlProtocolVersion) + ": use the same release for both.";
        } else {
            hello_ = *hello;
            user_ = hello->user;
        }
    } else if (const auto* reply = std::get_if<ReplyMessage>(&message)) {
        if (awaitedId_ == reply->id) {
            awaitedReply_ = std::move(message);
        }
    } else if (const auto* error = std::get_if<ErrorMessage>(&message); error && error->id) {
        if (awaitedId_ == error->id) {
            awaitedReply_ = std::move(message);
        }
    } else if (!hello_ && std::holds_alternative<ErrorMessage>(message)) {
        greetingProblem_ = "The logging service refused the connection: " +
                           std::get<ErrorMessage>(message).message;
    } else if (awaitedKind_ == message.index() ||
               (awaitedKind_ && std::holds_alternative<ErrorMessage>(message))) {
        answer_ = std::move(message);
    }
    // Anything else (another client's sweep) answers nothing asked for.
    answered_.notify_all();
}

void CControlClient::ShowRecord(const RecordMessage& record) {
    bool parsed = false;
    std::int32_t model = record.model;
    unit_.Update([&](UnitStateData& data) {
        parsed = ParseTelemetryRecordLine(record.line, data, model);
        if (parsed && record.unit) {
            ApplyUnitDetails(*record.unit, data);
        }
    });
    if (!parsed) {
        return;
    }
    unit_.InstrumentModel = model;
    unit_.Online = true;
    unit_.PostRecord();
    sink_.PostNotification(kNotifyStatusRecord);
}

void CControlClient::EndConnection(const std::string& reason) {
    {
        std::lock_guard lock(mutex_);
        goneReason_ = reason;
        gone_ = true;
    }
    answered_.notify_all();
    if (!closing_) {
        unit_.Online = false;
        sink_.PostNotification(kNotifyServiceGone);
    }
}

bool CControlClient::SendLine(const std::string& line) {
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t count =
            ::send(fd_, line.data() + written, line.size() - written, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

RelayedReply CControlClient::Relay(const RelayedCommand& command) {
    std::string problem;
    return RelayedOf(Exchange(ControlCommandOf(command), problem));
}

std::optional<ReplyMessage> CControlClient::Exchange(const ControlCommand& command,
                                                     std::string& problem) {
    std::lock_guard request(requestMutex_);
    std::unique_lock lock(mutex_);
    const std::uint64_t id = nextId_++;
    awaitedId_ = id;
    awaitedReply_.reset();
    lock.unlock();
    if (!SendLine(EncodeClientMessage(ExchangeRequest{id, command}))) {
        problem = "The logging service is gone.";
        return std::nullopt;
    }
    lock.lock();
    answered_.wait_for(lock, kServiceAnswerLimit,
                       [this] { return awaitedReply_.has_value() || gone_.load(); });
    awaitedId_.reset();
    if (!awaitedReply_) {
        problem = gone_ ? "The logging service is gone." : "The logging service does not answer.";
        return std::nullopt;
    }
    if (const auto* error = std::get_if<ErrorMessage>(&*awaitedReply_)) {
        problem = error->message;
        return std::nullopt;
    }
    return std::get<ReplyMessage>(*awaitedReply_);
}

std::optional<ServerMessage> CControlClient::SendAndAwaitAnswer(const ClientMessage& message,
                                                                std::string& problem) {
    std::lock_guard request(requestMutex_);
    std::unique_lock lock(mutex_);
    answer_.reset();
    awaitedKind_ = std::holds_alternative<ClosingRegistration>(message)
                       ? ServerMessage(ClosingMessage{}).index()
                       : ServerMessage(SweepMessage{}).index();
    lock.unlock();
    const bool sent = SendLine(EncodeClientMessage(message));
    lock.lock();
    if (sent) {
        answered_.wait_for(lock, kServiceAnswerLimit,
                           [this] { return answer_.has_value() || gone_.load(); });
    }
    awaitedKind_.reset();
    std::optional<ServerMessage> answer = std::move(answer_);
    answer_.reset();
    if (!answer) {
        problem = gone_ || !sent ? "The logging service is gone."
                                 : "The logging service does not answer.";
    } else if (const auto* error = std::get_if<ErrorMessage>(&*answer)) {
        problem = error->message;
        return std::nullopt;
    }
    return answer;
}

bool CControlClient::RegisterClosing(const std::vector<RelayedCommand>& commands,
                                     std::string& problem) {
    ClosingRegistration registration;
    for (const RelayedCommand& command : commands) {
        registration.commands.push_back(ControlCommandOf(command));
    }
    const std::optional<ServerMessage> answer = SendAndAwaitAnswer(registration, problem);
    const auto* closing = answer ? std::get_if<ClosingMessage>(&*answer) : nullptr;
    if (answer && (closing == nullptr || closing->count != commands.size())) {
        problem = "The logging service did not take the closing commands.";
        return false;
    }
    return closing != nullptr;
}

bool CControlClient::HoldPolls(bool hold, std::string& problem) {
    const std::optional<ServerMessage> answer = SendAndAwaitAnswer(SweepRequest{hold}, problem);
    const auto* sweep = answer ? std::get_if<SweepMessage>(&*answer) : nullptr;
    if (sweep == nullptr) {
        return false;
    }
    if (sweep->held != hold || (hold && sweep->holder != User())) {
        problem = "The sweep is held by " + sweep->holder + ".";
        return false;
    }
    return true;
}

std::string CControlClient::User() const {
    std::lock_guard lock(mutex_);
    return user_;
}

std::string CControlClient::GoneReason() const {
    std::lock_guard lock(mutex_);
    return goneReason_;
}

}  // namespace corvane3
