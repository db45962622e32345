#include "sim/Faults.h"

#include "core/link/CommandCodes.h"
#include "sim/StatusRecords.h"

namespace corvane3::sim {

namespace {
constexpr unsigned char kHighBit = 0x80;
}  // namespace

ColumnPatch D1ModeTextCorruption() {
    return {kD1ModeTextColumn, "R-Z"};
}
ColumnPatch D1StatusCodeCorruption() {
    return {kD1UnitStatusColumn, "99"};
}

std::vector<OutputPiece> ApplyFaults(const SimFaults& faults, const std::string& code,
                                     std::string reply) {
    if (code == CommandCode(ECommand::kReportVariables) && faults.d1Patch &&
        faults.d1Patch->column < reply.size()) {
        const ColumnPatch& patch = *faults.d1Patch;
        reply.replace(patch.column, std::min(patch.text.size(), reply.size() - patch.column),
                      patch.text.substr(0, reply.size() - patch.column));
    }
    reply.resize(reply.size() > faults.truncateBy ? reply.size() - faults.truncateBy : 0);
    if (faults.highBit) {
        for (char& c : reply) {
            c = static_cast<char>(static_cast<unsigned char>(c) | kHighBit);
        }
    }
    reply.insert(0, faults.garbageBeforeReplies);
    std::vector<OutputPiece> pieces;
    if (faults.gapInReplies && reply.size() >= 2) {
        const std::size_t half = reply.size() / 2;
        pieces.push_back({reply.substr(0, half), {}});
        pieces.push_back({reply.substr(half), kReplyGap});
    } else if (!reply.empty()) {
        pieces.push_back({std::move(reply), {}});
    }
    return pieces;
}

}  // namespace corvane3::sim
