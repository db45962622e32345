#pragma once
// Writes command frames to the instrument and reads its replies over the serial port.
// No retries and no content checks here: callers judge the reply.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/SerialPort.h"

namespace corvane3 {

// Reply limits the callers use, in characters.
inline constexpr int kOrdinaryReplyLimit = 256;
inline constexpr int kCatalogueReplyLimit = 1024;
inline constexpr int kEthernetReplyLimit = 128;
inline constexpr int kDiagnosticsReplyLimit = 64;
inline constexpr int kDdsReadbackLimit = 6;
inline constexpr int kEventLogReplyLimit = 25000;

// One command run on a port another program owns (the logging service's).
struct RelayedCommand {
    std::string code;  // empty: nothing is sent, a reply is only read
    std::uint32_t parameter = 0;
    std::string data;
    char terminator = 0;  // what ends the reply; 0 reads none
    int limit = 0;        // the most bytes of reply

    bool operator==(const RelayedCommand&) const = default;
};

// What that program answered.
struct RelayedReply {
    bool sent = false;      // every byte of the command was written
    bool complete = false;  // the reply ended at the terminator
    std::string reply;      // what arrived, terminator included
};

// Runs whole exchanges on a port another program owns, and leaves the unit's temporary states
// to it to end if this program goes away first.
class IExchangeRelay {
  public:
    virtual ~IExchangeRelay() = default;
    virtual RelayedReply Relay(const RelayedCommand& command) = 0;
    // The commands that end the unit's temporary state, sent for this program when it goes
    // away before it sends them itself; replaces those given before, empty clears them. False,
    // with why in problem, when they were not taken.
    virtual bool RegisterClosing(const std::vector<RelayedCommand>& commands,
                                 std::string& problem) = 0;
    // Pauses (hold) or resumes the owner's own status polls, as for a sweep. False, with why,
    // when refused (another program holds them).
    virtual bool HoldPolls(bool hold, std::string& problem) = 0;
};

class CTolvexLink {
  public:
    // modelCode is the identified Instrument model code; it decides whether the Factory access
    // option becomes the Factory access field. Both references must outlive the link.
    CTolvexLink(CSerialPort& port, const std::atomic<std::int32_t>& modelCode)
        : port_(port), modelCode_(modelCode) {}
    // A link whose exchanges another program runs: a command is held until its reply is asked
    // for, so that command and reply go as one exchange and nothing can come between them.
    // port is not used for exchanges then.
    CTolvexLink(CSerialPort& port, const std::atomic<std::int32_t>& modelCode,
                IExchangeRelay& relay)
        : port_(port), modelCode_(modelCode), relay_(&relay) {}
    ~CTolvexLink() { FlushHeldCommand(); }
    CTolvexLink(const CTolvexLink&) = delete;
    CTolvexLink& operator=(const CTolvexLink&) = delete;

    // Writes the head (STX, code, blank, parameter field, blank), then the data if there is
    // any, then ETX, each as one write; stops at the first failed write (which has already
    // reset the port). True when every write performed succeeded. Reads nothing.
    bool SendCmd(std::string_view code, std::uint32_t parameter, std::string_view data);

    // Reads the reply one byte at a time into reply until terminator arrives (kept in the
    // text): true. A read time-out (about a second of silence) or limit bytes without the
    // terminator: false, with what arrived. A terminator of 0 reads nothing, leaves reply as it
    // was and returns true. Bytes after the terminator stay queued for the next exchange.
    bool GetResponse(std::string& reply, char terminator, int limit);

    CSerialPort& Port() { return port_; }

    // Relayed link: sends a command still held with no reply asked for. A step that only
    // sends ends with this. True when there was none or it was sent.
    bool FlushHeldCommand();

  private:
    struct HeldCommand {
        std::string code;
        std::uint32_t parameter = 0;
        std::string data;
    };

    CSerialPort& port_;
    const std::atomic<std::int32_t>& modelCode_;
    IExchangeRelay* relay_ = nullptr;
    std::optional<HeldCommand> held_;
};

}  // namespace corvane3
