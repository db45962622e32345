#include "sim/ReplyText.h"

#include "core/link/CommandFrame.h"

namespace corvane3::sim {

std::string Echo(const ReceivedFrame& frame) {
    std::string parameter = frame.parameter;
    parameter.resize(kParameterFieldWidth, ' ');
    std::string code = frame.code;
    code.resize(kCodeWidth, ' ');
    return std::string(1, kStx) + code + ' ' + parameter + ' ';
}

std::string EchoReply(const ReceivedFrame& frame, const std::string& text) {
    return Echo(frame) + text + "\r\n" + kEtx;
}

std::string Accepted(const ReceivedFrame& frame) {
    return EchoReply(frame, "OK");
}

std::string NotUnderstood(const ReceivedFrame& frame) {
    return EchoReply(frame, "?");
}

std::string RefusalReply(const ReceivedFrame& frame) {
    return EchoReply(frame, "!");
}

std::string Bare(const std::string& text) {
    return kStx + text + kEtx;
}

}  // namespace corvane3::sim
