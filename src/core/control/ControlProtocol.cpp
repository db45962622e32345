#include "core/control/ControlProtocol.h"

#include <algorithm>
#include <array>
#include <limits>
#include <nlohmann/json.hpp>

namespace corvane3 {

namespace {

using Json = nlohmann::json;

// Index i names ELinkState(i).
constexpr std::array<std::string_view, 21> kLinkStateNames = {"none",
                                                              "rs232-open",
                                                              "rs232-open-failed",
                                                              "rs232-configured",
                                                              "rs232-reset",
                                                              "unit-online",
                                                              "unit-not-responding",
                                                              "resetting",
                                                              "command-sent",
                                                              "send-failed",
                                                              "receive-failed",
                                                              "response-received",
                                                              "password-ok",
                                                              "password-failed",
                                                              "waiting-for-instrument",
                                                              "changing-pc-line",
                                                              "polling",
                                                              "poll-done",
                                                              "poll-failed",
                                                              "countdown",
                                                              "step-progress"};
static_assert(kLinkStateNames.size() == static_cast<std::size_t>(ELinkState::kStepProgress) + 1);

constexpr std::array<std::pair<EReplyEnd, std::string_view>, 3> kReplyEnds = {
    {{EReplyEnd::kEtx, "etx"}, {EReplyEnd::kLf, "lf"}, {EReplyEnd::kNone, "none"}}};

// A command code's length, and the frame's start and end marks, which data may not hold.
constexpr std::size_t kCodeLength = 3;
constexpr std::string_view kFrameMarks = "\x02\x03";

// Thrown inside the decoders only, for a field that is missing or of the wrong kind.
struct BadField {
    std::string problem;
};

std::string Dump(const Json& object) {
    // ensure_ascii: every line is plain ASCII; replace: a text that is not UTF-8 (a user name)
    // cannot stop a message from being written.
    return object.dump(-1, ' ', true, Json::error_handler_t::replace) + '\n';
}

const Json& Field(const Json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end()) {
        throw BadField{std::string("the field \"") + name + "\" is missing"};
    }
    return *found;
}

template <typename Integer>
Integer IntegerField(const Json& object, const char* name, std::optional<Integer> fallback = {}) {
    if (fallback && !object.contains(name)) {
        return *fallback;
    }
    const Json& value = Field(object, name);
    constexpr auto kLow = std::numeric_limits<Integer>::min();
    constexpr auto kHigh = std::numeric_limits<Integer>::max();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(kHigh)) {
            return static_cast<Integer>(number);
        }
    } else if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number >= static_cast<std::int64_t>(kLow) &&
            (number < 0 ||
             static_cast<std::uint64_t>(number) <= static_cast<std::uint64_t>(kHigh))) {
            return static_cast<Integer>(number);
        }
    }
    throw BadField{std::string("the field \"") + name + "\" is not a whole number in range"};
}

bool BoolField(const Json& object, const char* name) {
    const Json& value = Field(object, name);
    if (!value.is_boolean()) {
        throw BadField{std::string("the field \"") + name + "\" is not true or false"};
    }
    return value.get<bool>();
}

std::string TextField(const Json& object, const char* name, bool optional = false) {
    if (optional && !object.contains(name)) {
        return {};
    }
    const Json& value = Field(object, name);
    if (!value.is_string()) {
        throw BadField{std::string("the field \"") + name + "\" is not a text"};
    }
    return value.get<std::string>();
}

std::string BytesField(const Json& object, const char* name, bool optional = false) {
    std::optional<std::string> bytes = WireTextToBytes(TextField(object, name, optional));
    if (!bytes) {
        throw BadField{std::string("the field \"") + name + "\" holds a character above \\u00ff"};
    }
    return std::move(*bytes);
}

Json CommandJson(const ControlCommand& command) {
    std::string_view end;
    for (const auto& [value, name] : kReplyEnds) {
        if (value == command.end) {
            end = name;
        }
    }
    return Json{{"code", BytesToWireText(command.code)},
                {"data", BytesToWireText(command.data)},
                {"parameter", command.parameter},
                {"limit", command.replyLimit},
                {"end", end}};
}

ControlCommand CommandOf(const Json& object) {
    if (!object.is_object()) {
        throw BadField{"a command is not an object"};
    }
    ControlCommand command;
    command.code = BytesField(object, "code");
    if (!command.code.empty() &&
        (command.code.size() != kCodeLength ||
         !std::ranges::all_of(command.code, [](char c) { return c > ' ' && c < '\x7f'; }))) {
        throw BadField{"the field \"code\" is not three printable characters"};
    }
    command.data = BytesField(object, "data", true);
    if (command.data.find_first_of(kFrameMarks) != std::string::npos) {
        throw BadField{"the field \"data\" holds STX or ETX, which would end the frame"};
    }
    command.parameter = IntegerField<std::uint32_t>(object, "parameter", 0u);
    command.replyLimit = IntegerField<std::int32_t>(object, "limit", command.replyLimit);
    if (command.replyLimit < 0 || command.replyLimit > kControlReplyLimit) {
        throw BadField{"the field \"limit\" is not from 0 to " +
                       std::to_string(kControlReplyLimit)};
    }
    const std::string end = TextField(object, "end", true);
    bool known = end.empty();
    for (const auto& [value, name] : kReplyEnds) {
        if (end == name) {
            command.end = value;
            known = true;
        }
    }
    if (!known) {
        throw BadField{"the field \"end\" is not \"etx\", \"lf\" or \"none\""};
    }
    return command;
}

struct ClientEncoder {
    Json operator()(const HelloMessage& m) const {
        return {{"class", "hello"}, {"version", m.version}};
    }
    Json operator()(const ExchangeRequest& m) const {
        Json object = CommandJson(m.command);
        object["class"] = "exchange";
        object["id"] = m.id;
        return object;
    }
    Json operator()(const ClosingRegistration& m) const {
        Json commands = Json::array();
        for (const ControlCommand& command : m.commands) {
            commands.push_back(CommandJson(command));
        }
        return {{"class", "closing"}, {"commands", commands}};
    }
    Json operator()(const SweepRequest& m) const { return {{"class", "sweep"}, {"hold", m.hold}}; }
};

struct ServerEncoder {
    Json operator()(const HelloMessage& m) const {
        return {{"class", "hello"}, {"version", m.version}, {"user", m.user}};
    }
    Json operator()(const LinkMessage& m) const {
        return {{"class", "link"},
                {"state", LinkStateName(m.state)},
                {"text", m.text},
                {"online", m.online}};
    }
    Json operator()(const RecordMessage& m) const {
        Json object{
            {"class", "record"}, {"model", m.model}, {"serial", m.serial}, {"line", m.line}};
        if (const auto& u = m.unit) {
            object["unit"] = {{"time", BytesToWireText(u->timeText)},
                              {"firmware", BytesToWireText(u->firmware)},
                              {"instrumentSweep", u->instrumentSweep},
                              {"yearOfManufacture", u->yearOfManufacture},
                              {"manufactureDateA", u->manufactureDateA},
                              {"manufactureDateB", u->manufactureDateB},
                              {"powerOnHours", u->powerOnHours},
                              {"restartFaultLevel", u->restartFaultLevel}};
        }
        return object;
    }
    Json operator()(const ReplyMessage& m) const {
        return {{"class", "reply"},
                {"id", m.id},
                {"sent", m.sent},
                {"complete", m.complete},
                {"reply", BytesToWireText(m.reply)}};
    }
    Json operator()(const ClosingMessage& m) const {
        return {{"class", "closing"}, {"count", m.count}};
    }
    Json operator()(const SweepMessage& m) const {
        return {{"class", "sweep"}, {"held", m.held}, {"holder", m.holder}};
    }
    Json operator()(const ErrorMessage& m) const {
        Json object{{"class", "error"}, {"message", m.message}};
        if (m.id) {
            object["id"] = *m.id;
        }
        return object;
    }
};

HelloMessage HelloOf(const Json& object) {
    return {IntegerField<int>(object, "version"), TextField(object, "user", true)};
}

ClientMessage ClientOf(const std::string& kind, const Json& object) {
    if (kind == "hello") {
        return HelloOf(object);
    }
    if (kind == "exchange") {
        return ExchangeRequest{IntegerField<std::uint64_t>(object, "id"), CommandOf(object)};
    }
    if (kind == "closing") {
        const Json& list = Field(object, "commands");
        if (!list.is_array()) {
            throw BadField{"the field \"commands\" is not a list"};
        }
        ClosingRegistration registration;
        for (const Json& command : list) {
            registration.commands.push_back(CommandOf(command));
        }
        return registration;
    }
    if (kind == "sweep") {
        return SweepRequest{BoolField(object, "hold")};
    }
    throw BadField{"the class \"" + kind + "\" is not one a client sends"};
}

ServerMessage ServerOf(const std::string& kind, const Json& object) {
    if (kind == "hello") {
        return HelloOf(object);
    }
    if (kind == "link") {
        const auto state = LinkStateFromName(TextField(object, "state"));
        if (!state) {
            throw BadField{"the link state is not known"};
        }
        return LinkMessage{*state, TextField(object, "text"), BoolField(object, "online")};
    }
    if (kind == "record") {
        RecordMessage record{IntegerField<std::int32_t>(object, "model"),
                             IntegerField<std::uint32_t>(object, "serial"),
                             TextField(object, "line"), std::nullopt};
        if (object.contains("unit")) {
            const Json& u = Field(object, "unit");
            if (!u.is_object()) {
                throw BadField{"the field \"unit\" is not an object"};
            }
            record.unit = UnitDetails{BytesField(u, "time"),
                                      BytesField(u, "firmware"),
                                      BoolField(u, "instrumentSweep"),
                                      IntegerField<std::int32_t>(u, "yearOfManufacture"),
                                      IntegerField<std::int32_t>(u, "manufactureDateA"),
                                      IntegerField<std::int32_t>(u, "manufactureDateB"),
                                      IntegerField<std::int64_t>(u, "powerOnHours"),
                                      IntegerField<std::int32_t>(u, "restartFaultLevel")};
        }
        return record;
    }
    if (kind == "reply") {
        return ReplyMessage{IntegerField<std::uint64_t>(object, "id"), BoolField(object, "sent"),
                            BoolField(object, "complete"), BytesField(object, "reply")};
    }
    if (kind == "closing") {
        return ClosingMessage{IntegerField<std::size_t>(object, "count")};
    }
    if (kind == "sweep") {
        return SweepMessage{BoolField(object, "held"), TextField(object, "holder", true)};
    }
    if (kind == "error") {
        ErrorMessage error{std::nullopt, TextField(object, "message")};
        if (object.contains("id")) {
            error.id = IntegerField<std::uint64_t>(object, "id");
        }
        return error;
    }
    throw BadField{"the class \"" + kind + "\" is not one the service sends"};
}

template <typename Message, typename Of>
std::optional<Message> Decode(std::string_view line, std::string& problem, Of of) {
    if (line.ends_with('\n')) {
        line.remove_suffix(1);
    }
    const Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        problem = "the line is not a JSON object";
        return std::nullopt;
    }
    try {
        return of(TextField(object, "class"), object);
    } catch (const BadField& bad) {
        problem = bad.problem;
    } catch (const Json::exception& error) {
        problem = error.what();
    }
    return std::nullopt;
}

}  // namespace

std::string EncodeClientMessage(const ClientMessage& message) {
    return Dump(std::visit(ClientEncoder{}, message));
}

std::string EncodeServerMessage(const ServerMessage& message) {
    return Dump(std::visit(ServerEncoder{}, message));
}

std::optional<ClientMessage> DecodeClientMessage(std::string_view line, std::string& problem) {
    return Decode<ClientMessage>(line, problem, ClientOf);
}

std::optional<ServerMessage> DecodeServerMessage(std::string_view line, std::string& problem) {
    return Decode<ServerMessage>(line, problem, ServerOf);
}

std::string BytesToWireText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {  // two bytes of UTF-8: 110000xx 10xxxxxx
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::optional<std::string> WireTextToBytes(std::string_view utf8) {
    std::string bytes;
    bytes.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            bytes += utf8[i];
            continue;
        }
        // Only U+0080..U+00FF: a lead byte of 0xC2 or 0xC3 and one continuation byte.
        if ((lead != 0xC2 && lead != 0xC3) || i + 1 >= utf8.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<unsigned char>(utf8[++i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        bytes += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
    }
    return bytes;
}

std::string_view LinkStateName(ELinkState state) {
    return kLinkStateNames.at(static_cast<std::size_t>(state));
}

std::optional<ELinkState> LinkStateFromName(std::string_view name) {
    for (std::size_t i = 0; i < kLinkStateNames.size(); ++i) {
        if (kLinkStateNames[i] == name) {
            return static_cast<ELinkState>(i);
        }
    }
    return std::nullopt;
}

void CControlLineReader::Append(std::string_view bytes) {
    if (!overflowed_) {
        pending_.append(bytes);
    }
}

std::optional<std::string> CControlLineReader::NextLine() {
    if (overflowed_) {
        return std::nullopt;
    }
    const std::size_t end = pending_.find('\n', scanned_);
    if (end == std::string::npos) {
        scanned_ = pending_.size();
        if (pending_.size() >= kControlLineLimit) {
            overflowed_ = true;
            pending_.clear();
        }
        return std::nullopt;
    }
    if (end + 1 > kControlLineLimit) {
        overflowed_ = true;
        pending_.clear();
        return std::nullopt;
    }
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    scanned_ = 0;
    return line;
}

}  // namespace corvane3
