#pragma once
// The control protocol between the logging service and its clients (windows, scripts): one JSON
// object per line, each with a "class" naming what it is. docs/control-protocol.md describes
// the wire; this header is the one codec both sides use.
//
// Bytes of the instrument (command data, replies) are not always UTF-8. On the wire each byte
// is one character U+0000..U+00FF (byte 0xE9 is "\u00e9"); the encoder writes everything that
// is not printable ASCII as a \u escape, so every line is plain ASCII. Python's
// text.encode("latin-1") gives the bytes back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/link/LinkState.h"

namespace corvane3 {

// Raised when a message changes meaning; a side that sees another version refuses.
inline constexpr int kControlProtocolVersion = 1;
// The longest line either side accepts, '\n' included: the longest reply (an event log of
// 25000 bytes) written as \u escapes, with room to spare.
inline constexpr std::size_t kControlLineLimit = 256 * 1024;

// The most bytes of reply an exchange may ask for: the longest reply the program reads (an
// event log).
inline constexpr std::int32_t kControlReplyLimit = 25000;

// What ends the reply an exchange reads.
enum class EReplyEnd {
    kEtx,   // an ordinary reply, up to and including ETX
    kLf,    // a line of line-oriented output (tests, instrument sweeps), up to and including LF
    kNone,  // nothing is read: the command is only sent
};

// One command for the unit, as a client gives it.
struct ControlCommand {
    std::string code;  // three printable ASCII characters; empty in a read, which sends nothing
    std::string data;  // raw bytes but STX and ETX, which would end the frame early
    std::uint32_t parameter = 0;    // 0, a password 1..99999 or the Factory access option
    std::int32_t replyLimit = 256;  // 0 .. kControlReplyLimit
    EReplyEnd end = EReplyEnd::kEtx;
};

// Messages of both directions. "hello" goes both ways: the service sends it first with the
// client's user; a client may send its own version, which the service checks.
struct HelloMessage {
    int version = kControlProtocolVersion;
    std::string user;  // from the service: who the service takes the client for
};
// Client: one exchange, answered by a ReplyMessage with the same id.
struct ExchangeRequest {
    std::uint64_t id = 0;
    ControlCommand command;
};
// Client: the commands the service sends when this client goes away for any reason, replacing
// those registered before (an empty list clears them). Answered by a ClosingMessage.
struct ClosingRegistration {
    std::vector<ControlCommand> commands;
};
// Client: hold (polls pause) or release the sweep. Answered by a SweepMessage or an error.
struct SweepRequest {
    bool hold = false;
};

// Service: every change of the link's state, as the Link status shows it.
struct LinkMessage {
    ELinkState state = ELinkState::kNone;
    std::string text;
    bool online = false;
};
// What a window shows of the unit that the record line does not hold: the unit's clock, its
// firmware, whether it sweeps by itself, and its memory's dates and hours.
struct UnitDetails {
    std::string timeText;  // raw bytes
    std::string firmware;  // raw bytes
    bool instrumentSweep = false;
    std::int32_t yearOfManufacture = 0, manufactureDateA = 0, manufactureDateB = 0;
    std::int64_t powerOnHours = 0;
    std::int32_t restartFaultLevel = 0;
    bool operator==(const UnitDetails&) const = default;
};
// Service: every status record, as the line the telemetry file gets, and the details beside it
// (absent from a service that does not send them).
struct RecordMessage {
    std::int32_t model = 0;
    std::uint32_t serial = 0;
    std::string line;  // without the line end
    std::optional<UnitDetails> unit;
};
// Service: the answer to an exchange: the whole reply as the wire gave it.
struct ReplyMessage {
    std::uint64_t id = 0;
    bool sent = false;      // every byte of the command was written
    bool complete = false;  // the reply ended as asked (always true for kNone)
    std::string reply;      // raw bytes
};
// Service: the registered closing commands were taken.
struct ClosingMessage {
    std::size_t count = 0;
};
// Service: the sweep is held (by whom) or free. Sent to every client when it changes.
struct SweepMessage {
    bool held = false;
    std::string holder;  // user of the client holding it; empty when free
};
// Service: a request that was refused, or a problem that ends the connection.
struct ErrorMessage {
    std::optional<std::uint64_t> id;  // the exchange it answers, if any
    std::string message;              // a sentence for a person
};

using ClientMessage =
    std::variant<HelloMessage, ExchangeRequest, ClosingRegistration, SweepRequest>;
using ServerMessage = std::variant<HelloMessage, LinkMessage, RecordMessage, ReplyMessage,
                                   ClosingMessage, SweepMessage, ErrorMessage>;

// One line of plain ASCII, ending in '\n'.
std::string EncodeClientMessage(const ClientMessage& message);
std::string EncodeServerMessage(const ServerMessage& message);

// line with or without its '\n'. Nothing when the line is not a message of its direction:
// problem then says why, in a sentence for a person. Fields a message does not know are
// ignored, so that a newer peer of the same version may add some.
std::optional<ClientMessage> DecodeClientMessage(std::string_view line, std::string& problem);
std::optional<ServerMessage> DecodeServerMessage(std::string_view line, std::string& problem);

// Each byte as the character of the same number, in UTF-8; and back. WireTextToBytes is
// nothing for a character above U+00FF.
std::string BytesToWireText(std::string_view bytes);
std::optional<std::string> WireTextToBytes(std::string_view utf8);

// The name a link state has on the wire ("unit-online"), and back.
std::string_view LinkStateName(ELinkState state);
std::optional<ELinkState> LinkStateFromName(std::string_view name);

// Cuts a byte stream into lines. A line longer than kControlLineLimit makes the stream
// unusable (Overflowed); the connection is then ended.
class CControlLineReader {
  public:
    void Append(std::string_view bytes);
    // The next whole line without its '\n', or nothing until one has arrived.
    std::optional<std::string> NextLine();
    bool Overflowed() const { return overflowed_; }

  private:
    std::string pending_;
    std::size_t scanned_ = 0;  // bytes of pending_ known to hold no '\n'
    bool overflowed_ = false;
};

}  // namespace corvane3
