#pragma once
// One connection to a serial device server, on libgensio: raw TCP, or telnet with the
// COM-PORT-OPTION (RFC 2217), whose telnet layer escapes IAC bytes both ways and sets the remote
// line. The library's own synchronous mode stops reading while no read is asked for, so the
// server's answers to line settings would never arrive; this class therefore drives the library
// in its callback mode on an event loop of its own, run only inside its calls.
//
// Not thread-safe: one caller at a time (the port's I/O lock serialises them).

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/link/NetworkPortName.h"

struct gensio;
struct gensio_os_funcs;
struct gensio_waiter;

namespace corvane3 {

// How a request for new line settings on the remote port ended.
enum class ELineRequest {
    kSet,          // the server set them
    kNotAnswered,  // the server did not answer the COM-PORT-OPTION (or refused it)
    kRawPort,      // a raw TCP connection has no way to ask
};

class CNetworkConnection {
  public:
    CNetworkConnection();
    ~CNetworkConnection();
    CNetworkConnection(const CNetworkConnection&) = delete;
    CNetworkConnection& operator=(const CNetworkConnection&) = delete;

    // Connects, waiting at most timeout. "" on success, else the reason as the user is told it
    // ("Connection refused", "Host unreachable", "Name does not resolve", ...).
    std::string Open(const NetworkPortAddress& address, std::chrono::milliseconds timeout);
    // Asks the server to set the line (codes as SerialLineSettings has them), waiting at most
    // timeout for each answer.
    ELineRequest SetLine(std::uint32_t baudRate, std::uint32_t dataBits, std::uint32_t parity,
                         std::uint32_t stopBits, std::chrono::milliseconds timeout);
    // Moves up to max received bytes to out, waiting up to wait for the first. Returns the count,
    // 0 on time-out, -1 when the connection is gone (Problem() says why).
    long Read(char* out, std::size_t max, std::chrono::milliseconds wait);
    // Writes all bytes; false when the connection is gone or no byte went for stallLimit.
    bool Write(std::string_view bytes, std::chrono::milliseconds stallLimit);
    // Why the connection is gone, "" while it works.
    const std::string& Problem() const { return problem_; }
    // Closes and frees the connection; Open may follow.
    void Close();

  private:
    static int Event(gensio* io, void* self, int event, int err, unsigned char* buf,
                     std::size_t* length, const char* const* aux);
    static void OpenDone(gensio* io, int err, void* self);
    static void CloseDone(gensio* io, void* self);
    template <typename Done>
    void WaitUntil(Done done, std::chrono::steady_clock::time_point deadline);
    void Lost(int err);

    gensio_os_funcs* os_ = nullptr;
    gensio_waiter* waiter_ = nullptr;
    gensio* io_ = nullptr;
    ENetworkProtocol protocol_ = ENetworkProtocol::kRawTcp;
    bool opened_ = false;
    bool openDone_ = false;
    int openError_ = 0;
    bool closeDone_ = false;
    // Answers to line requests so far; a late answer to a request given up on only counts.
    unsigned lineAnswers_ = 0;
    int lineError_ = 0;
    // A request that went unanswered: the server is treated as raw from then on.
    bool lineUnanswered_ = false;
    bool writeReady_ = false;
    std::string received_;
    std::string problem_;
};

// The reason the user is told for a library error code of a connection.
std::string NetworkErrorReason(int gensioError);

}  // namespace corvane3
