#include "core/poll/SerialReconfiguration.h"

#include <cstdio>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"

namespace corvane3 {

namespace {
// How long the instrument is given to switch to its new settings before the PC follows.
constexpr std::chrono::milliseconds kInstrumentSwitchTime{2000};
constexpr const char* kTitle = "Serial Port Settings";
}  // namespace

std::string SerialParametersText(const SerialLineSettings& line) {
    char parity = 'N';
    if (line.parity == kParityOdd) {
        parity = 'O';
    } else if (line.parity == kParityEven) {
        parity = 'E';
    }
    const unsigned stopBits = line.stopBits != kStopBitsOne ? 2 : 1;
    char text[48];
    std::snprintf(text, sizeof text, "%u,%u,%c,%u", static_cast<unsigned>(line.baudRate),
                  static_cast<unsigned>(line.dataBits), parity, stopBits);
    return text;
}

bool ReconfigureSerial(PollContext& c, const SerialLineSettings& rs232,
                       ITimedMessageSink& messages) {
    const std::string data = SerialParametersText(rs232);
    // The instrument would move to a line the PC side cannot follow, and be lost.
    if (const std::string problem = c.port.LineChangeProblem(); !problem.empty()) {
        messages.ShowTimedMessage(problem, kTitle);
        messages.ShowTimedMessage("Serial port settings NOT modified", kTitle);
        return true;
    }
    CQuerySteps(c).SecurityCheck();
    if (c.shared.mailbox.IsPending()) {
        c.shared.SetRequest(ERequest::kSerialReconfiguration);
        return false;
    }
    c.shared.Response.Set("");
    const std::uint32_t parameter = c.shared.SerialReconfigurationParameter.exchange(0);
    if (!c.link.SendCmd(CommandCode(ECommand::kSetSerialParameters), parameter, data)) {
        return false;
    }
    c.status.SetLinkStatus(ELinkState::kCommandSent);
    std::string reply;
    const bool replied = c.link.GetResponse(reply, kEtx, kCatalogueReplyLimit);
    c.shared.Response.Set(reply);
    const EReplyVerdict verdict = JudgeReply(reply);
    if (c.logChange) {
        // The password travels in the parameter field, which the log never shows.
        c.logChange({.code = CommandCode(ECommand::kSetSerialParameters),
                     .data = data,
                     .parameter = parameter,
                     .replyLimit = kCatalogueReplyLimit},
                    verdict);
    }
    // A reply cut short decides nothing, as no reply does.
    if (!replied || verdict == EReplyVerdict::kUnanswered) {
        return false;
    }
    if (verdict == EReplyVerdict::kRefused) {
        messages.ShowTimedMessage("Password not Accepted", kTitle);
        c.status.SetLinkStatus(ELinkState::kPasswordFailed);
        messages.ShowTimedMessage("Serial port settings NOT modified", kTitle);
        return true;
    }
    // A command the unit did not understand changed nothing on its side: the PC stays too.
    if (verdict == EReplyVerdict::kNotUnderstood) {
        messages.ShowTimedMessage("Serial port settings NOT modified", kTitle);
        return true;
    }
    c.status.SetLinkStatus(ELinkState::kPasswordOk);
    SerialLineSettings line = c.port.Settings();
    line.baudRate = rs232.baudRate;
    line.dataBits = rs232.dataBits;
    line.parity = rs232.parity;
    line.stopBits = rs232.stopBits;
    c.port.SetSettings(line);
    c.status.SetLinkStatus(ELinkState::kWaitingForInstrument);
    if (c.waitForStop) {
        c.waitForStop(kInstrumentSwitchTime);
    }
    c.status.SetLinkStatus(ELinkState::kChangingPcLine);
    c.shared.PortReset = true;
    messages.ShowTimedMessage("Serial port settings modified", kTitle);
    return true;
}

}  // namespace corvane3
