#include "core/link/NetworkConnection.h"

#include <gensio/gensio.h>
#include <gensio/gensio_unix.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <csignal>

namespace corvane3 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// Received bytes kept while nobody reads; a server that floods beyond it is cut.
constexpr std::size_t kReceiveLimit = 1 << 20;
// A close that the server does not complete is given up after this long.
constexpr std::chrono::milliseconds kCloseLimit{2000};

gensio_time TimeUntil(Clock::time_point deadline) {
    const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return gensio_time{ns / kNanosecondsPerSecond,
                       static_cast<std::int32_t>(ns % kNanosecondsPerSecond)};
}

unsigned GensioParity(std::uint32_t parity) {
    switch (parity) {
        case 1:
            return SERGENSIO_PARITY_ODD;
        case 2:
            return SERGENSIO_PARITY_EVEN;
        case 3:
            return SERGENSIO_PARITY_MARK;
        case 4:
            return SERGENSIO_PARITY_SPACE;
        default:
            return SERGENSIO_PARITY_NONE;
    }
}

// RFC 2217 stop-bit sizes: 1 one, 2 two, 3 one and a half; the port's codes are 0, 2 and 1.
unsigned RfcStopBits(std::uint32_t stopBits) {
    constexpr unsigned kOneAndHalf = 3;
    return stopBits == 0 ? 1 : stopBits == 1 ? kOneAndHalf : 2;
}

}  // namespace

std::string NetworkErrorReason(int gensioError) {
    switch (gensioError) {
        case GE_CONNREFUSE:
            return "Connection refused";
        case GE_HOSTDOWN:
            return "Host unreachable";
        case GE_NOTFOUND:
        case GE_UNKNOWN_NAME_ERROR:
        case GE_NAME_ERROR:
        case GE_NAME_SERVER_FAILURE:
        case GE_NAME_INVALID:
        case GE_NAME_NET_NOT_UP:
            return "Name does not resolve";
        case GE_TIMEDOUT:
            return "Connection timed out";
        case GE_REMCLOSE:
            return "Connection closed by the server";
        default:
            return gensio_err_to_str(gensioError);
    }
}

CNetworkConnection::CNetworkConnection() {
    // The library writes to its socket without MSG_NOSIGNAL: a write after the server closed
    // would raise SIGPIPE and end the program, where an error is wanted. Set once per process.
    static const bool kPipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)kPipeIgnored;
    // A selector of its own, without threads: callbacks run only while this object waits.
    if (gensio_unix_funcs_alloc(nullptr, 0, &os_) == 0) {
        waiter_ = gensio_os_funcs_alloc_waiter(os_);
    }
}

CNetworkConnection::~CNetworkConnection() {
    Close();
    if (waiter_ != nullptr) {
        gensio_os_funcs_free_waiter(os_, waiter_);
    }
    if (os_ != nullptr) {
        gensio_os_funcs_free(os_);
    }
}

template <typename Done>
void CNetworkConnection::WaitUntil(Done done, Clock::time_point deadline) {
    while (!done() && Clock::now() < deadline) {
        gensio_time left = TimeUntil(deadline);
        gensio_os_funcs_wait(os_, waiter_, 1, &left);
    }
}

std::string CNetworkConnection::Open(const NetworkPortAddress& address,
                                     std::chrono::milliseconds timeout) {
    Close();
    problem_.clear();
    received_.clear();
    if (waiter_ == nullptr) {
        return problem_ = "network library unavailable";
    }
    protocol_ = address.protocol;
    const std::string text = NetworkConnectionString(address);
    if (const int err = str_to_gensio(text.c_str(), os_, &CNetworkConnection::Event, this, &io_)) {
        io_ = nullptr;
        return problem_ = NetworkErrorReason(err);
    }
    openDone_ = false;
    openError_ = 0;
    if (const int err = gensio_open(io_, &CNetworkConnection::OpenDone, this)) {
        gensio_free(io_);
        io_ = nullptr;
        return problem_ = NetworkErrorReason(err);
    }
    WaitUntil([this] { return openDone_; }, Clock::now() + timeout);
    if (!openDone_ || openError_ != 0) {
        const int err = openDone_ ? openError_ : GE_TIMEDOUT;
        Close();
        return problem_ = NetworkErrorReason(err);
    }
    opened_ = true;
    gensio_set_read_callback_enable(io_, true);
    return "";
}

ELineRequest CNetworkConnection::SetLine(std::uint32_t baudRate, std::uint32_t dataBits,
                                         std::uint32_t parity, std::uint32_t stopBits,
                                         std::chrono::milliseconds timeout) {
    sergensio* serial = io_ != nullptr ? gensio_to_sergensio(io_) : nullptr;
    if (protocol_ == ENetworkProtocol::kRawTcp || serial == nullptr) {
        return ELineRequest::kRawPort;
    }
    if (lineUnanswered_) {
        return ELineRequest::kNotAnswered;
    }
    const auto done = [](sergensio*, int err, unsigned, void* self) {
        auto* connection = static_cast<CNetworkConnection*>(self);
        ++connection->lineAnswers_;
        connection->lineError_ = err != 0 ? err : connection->lineError_;
        gensio_os_funcs_wake(connection->os_, connection->waiter_);
    };
    using Request = int (*)(sergensio*, unsigned, sergensio_done, void*);
    const std::pair<Request, unsigned> requests[] = {
        {&sergensio_baud, baudRate},
        {&sergensio_datasize, dataBits},
        {&sergensio_parity, GensioParity(parity)},
        {&sergensio_stopbits, RfcStopBits(stopBits)},
    };
    lineError_ = 0;
    for (const auto& [request, value] : requests) {
        const unsigned expected = lineAnswers_ + 1;
        if (request(serial, value, done, this) != 0) {
            lineUnanswered_ = true;
            break;
        }
        WaitUntil([&] { return lineAnswers_ >= expected || !problem_.empty(); },
                  Clock::now() + timeout);
        if (lineAnswers_ < expected || lineError_ != 0) {
            lineUnanswered_ = true;
            break;
        }
    }
    return lineUnanswered_ ? ELineRequest::kNotAnswered : ELineRequest::kSet;
}

long CNetworkConnection::Read(char* out, std::size_t max, std::chrono::milliseconds wait) {
    if (received_.empty() && problem_.empty()) {
        WaitUntil([this] { return !received_.empty() || !problem_.empty(); }, Clock::now() + wait);
    }
    if (received_.empty()) {
        return problem_.empty() ? 0 : -1;
    }
    const std::size_t count = std::min(max, received_.size());
    std::copy_n(received_.data(), count, out);
    received_.erase(0, count);
    if (!problem_.empty() || !opened_) {
        return static_cast<long>(count);
    }
    gensio_set_read_callback_enable(io_, true);  // room again after a flood was held back
    return static_cast<long>(count);
}

bool CNetworkConnection::Write(std::string_view bytes, std::chrono::milliseconds stallLimit) {
    while (!bytes.empty() && problem_.empty() && opened_) {
        gensiods count = 0;
        if (const int err = gensio_write(io_, &count, bytes.data(), bytes.size(), nullptr)) {
            Lost(err);
            break;
        }
        bytes.remove_prefix(count);
        if (count == 0) {
            writeReady_ = false;
            gensio_set_write_callback_enable(io_, true);
            WaitUntil([this] { return writeReady_ || !problem_.empty(); },
                      Clock::now() + stallLimit);
            gensio_set_write_callback_enable(io_, false);
            if (!writeReady_ && problem_.empty()) {
                return false;
            }
        }
    }
    return bytes.empty() && problem_.empty() && opened_;
}

void CNetworkConnection::Close() {
    if (io_ == nullptr) {
        return;
    }
    closeDone_ = false;
    if (gensio_close(io_, &CNetworkConnection::CloseDone, this) == 0) {
        WaitUntil([this] { return closeDone_; }, Clock::now() + kCloseLimit);
    }
    gensio_free(io_);
    io_ = nullptr;
    opened_ = false;
    lineUnanswered_ = false;
}

void CNetworkConnection::Lost(int err) {
    if (problem_.empty()) {
        problem_ = NetworkErrorReason(err == GE_REMCLOSE || err == 0 ? GE_REMCLOSE : err);
    }
    if (io_ != nullptr) {
        gensio_set_read_callback_enable(io_, false);
    }
}

int CNetworkConnection::Event(gensio*, void* self, int event, int err, unsigned char* buf,
                              std::size_t* length, const char* const*) {
    auto* connection = static_cast<CNetworkConnection*>(self);
    switch (event) {
        case GENSIO_EVENT_READ:
            if (err != 0) {
                connection->Lost(err);
            } else if (length != nullptr) {
                connection->received_.append(reinterpret_cast<const char*>(buf), *length);
                if (connection->received_.size() > kReceiveLimit) {
                    // Held back until the reader catches up; the socket's own flow control
                    // makes the server wait.
                    gensio_set_read_callback_enable(connection->io_, false);
                }
            }
            gensio_os_funcs_wake(connection->os_, connection->waiter_);
            return 0;
        case GENSIO_EVENT_WRITE_READY:
            connection->writeReady_ = true;
            gensio_set_write_callback_enable(connection->io_, false);
            gensio_os_funcs_wake(connection->os_, connection->waiter_);
            return 0;
        default:
            return GE_NOTSUP;  // modem and line state reports of the server are not used
    }
}

void CNetworkConnection::OpenDone(gensio*, int err, void* self) {
    auto* connection = static_cast<CNetworkConnection*>(self);
    connection->openDone_ = true;
    connection->openError_ = err;
    gensio_os_funcs_wake(connection->os_, connection->waiter_);
}

void CNetworkConnection::CloseDone(gensio*, void* self) {
    auto* connection = static_cast<CNetworkConnection*>(self);
    connection->closeDone_ = true;
    gensio_os_funcs_wake(connection->os_, connection->waiter_);
}

}  // namespace corvane3
