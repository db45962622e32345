#include "core/link/TolvexLink.h"

#include "core/link/CommandFrame.h"

namespace corvane3 {

bool CTolvexLink::SendCmd(std::string_view code, std::uint32_t parameter, std::string_view data) {
    if (relay_ != nullptr) {
        const bool earlierSent = FlushHeldCommand();
        held_ = HeldCommand{std::string(code), parameter, std::string(data)};
        return earlierSent;
    }
    const std::string head = BuildFrameHead(code, parameter, modelCode_.load());
    if (!port_.WriteBytes(head)) {
        return false;
    }
    if (!data.empty() && !port_.WriteBytes(data)) {
        return false;
    }
    return port_.WriteBytes(std::string_view(&kEtx, 1));
}

bool CTolvexLink::GetResponse(std::string& reply, char terminator, int limit) {
    if (terminator == 0) {
        return true;
    }
    if (relay_ != nullptr) {
        // Without a held command this only reads: the next line of line-oriented output.
        const HeldCommand command = held_.value_or(HeldCommand{});
        held_.reset();
        RelayedReply relayed = relay_->Relay(
            {command.code, command.parameter, command.data, terminator, limit});
        reply = std::move(relayed.reply);
        return relayed.sent && relayed.complete;
    }
    reply.clear();
    std::string byte;
    for (int i = 0; i < limit; ++i) {
        if (!port_.ReadBytes(1, byte)) {
            return false;
        }
        reply += byte[0];
        if (byte[0] == terminator) {
            return true;
        }
    }
    return false;
}

bool CTolvexLink::FlushHeldCommand() {
    if (!held_) {
        return true;
    }
    const HeldCommand command = std::move(*held_);
    held_.reset();
    return relay_->Relay({command.code, command.parameter, command.data, 0, 0}).sent;
}

}  // namespace corvane3
