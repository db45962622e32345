#include "sim/ReplyOverrides.h"

#include "core/base/Escape.h"
#include "sim/SimulatorFile.h"

namespace corvane3::sim {

std::optional<CReplyOverrides> CReplyOverrides::Parse(std::string_view text, std::string& error) {
    CReplyOverrides overrides;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t tab = line.find('\t');
        const auto reply =
            tab == std::string_view::npos ? std::nullopt : UnescapeBytes(line.substr(tab + 1));
        if (tab == 0 || !reply) {
            error =
                "line " + std::to_string(number) + ": expected CODE, TAB, REPLY with valid escapes";
            return std::nullopt;
        }
        overrides.Add(std::string(line.substr(0, tab)), *reply);
    }
    return overrides;
}

std::optional<CReplyOverrides> CReplyOverrides::Load(const std::filesystem::path& file,
                                                     std::string& error) {
    const std::optional<std::string> text = ReadSimulatorFile(file, error);
    auto overrides = text ? Parse(*text, error) : std::nullopt;
    if (text && !overrides) {
        error = file.string() + ", " + error;
    }
    return overrides;
}

void CReplyOverrides::Add(const std::string& code, std::string reply) {
    replies_[code].replies.push_back(std::move(reply));
}

void CReplyOverrides::Set(const std::string& code, const std::vector<std::string>& replies) {
    if (replies.empty()) {
        replies_.erase(code);
    } else {
        replies_[code] = Script{replies, 0};
    }
}

std::optional<std::string> CReplyOverrides::Next(const std::string& code) {
    const auto found = replies_.find(code);
    if (found == replies_.end()) {
        return std::nullopt;
    }
    Script& script = found->second;
    const std::string& reply = script.replies[script.next];
    if (script.next + 1 < script.replies.size()) {
        ++script.next;
    }
    return reply;
}

}  // namespace corvane3::sim
