#include "app/ControlExchange.h"

#include <mutex>

#include "core/link/CommandFrame.h"
#include "core/link/TolvexLink.h"

namespace corvane3 {

ReplyMessage RunControlExchange(CSerialPort& port, CUnitState& unit, CChangeLog& log,
                                const ControlCommand& command, const std::string& user) {
    ReplyMessage result;
    const char terminator = command.end == EReplyEnd::kLf ? kLf : kEtx;
    const bool reads = command.end != EReplyEnd::kNone;
    {
        std::lock_guard exchange(port.ExchangeMutex());
        CTolvexLink link(port, unit.InstrumentModel);
        result.sent =
            command.code.empty() || link.SendCmd(command.code, command.parameter, command.data);
        result.complete = result.sent && (!reads || link.GetResponse(result.reply, terminator,
                                                                     command.replyLimit));
    }
    if (!command.code.empty()) {
        const ChangeOutcome outcome =
            reads ? ChangeOutcome(JudgeReply(result.reply, terminator)) : std::nullopt;
        log.Record({.code = command.code,
                    .data = command.data,
                    .parameter = command.parameter,
                    .replyLimit = command.replyLimit},
                   outcome, unit.Snapshot().d2.serialNumber, unit.InstrumentModel,
                   "by " + user + " via the logging service");
    }
    return result;
}

}  // namespace corvane3
