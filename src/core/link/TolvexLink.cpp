#include "core/link/TolvexLink.h"

#include "core/link/CommandFrame.h"

namespace corvane3 {

bool CTolvexLink::SendCmd(std::string_view code, std::uint32_t parameter, std::string_view data) {
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

}  // namespace corvane3
