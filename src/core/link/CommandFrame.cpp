#include "core/link/CommandFrame.h"

#include <cstdio>

#include "core/link/CommandCodes.h"

namespace corvane3 {

namespace {
// Source of the Factory access field: a format and a constant combined at run time.
constexpr char kFactoryAccessFormat[] = "%c%c%03x";
constexpr char kFactoryAccessLetters[2] = {'Q', 'M'};
constexpr unsigned kFactoryAccessKey = 0x5e3;
// Distance from the end of a reply to its refusal mark: the mark is the third character before
// the final ETX.
constexpr std::size_t kRefusalMarkOffset = 4;
}  // namespace

std::string FactoryAccessField() {
    char field[16];
    std::snprintf(field, sizeof field, kFactoryAccessFormat, kFactoryAccessLetters[0],
                  kFactoryAccessLetters[1], kFactoryAccessKey & 0xfffu);
    return field;
}

std::string BuildParameterField(std::uint32_t parameter, std::int32_t modelCode) {
    if (parameter == kFactoryAccessOption) {
        return modelCode == kFactoryAccessModel ? FactoryAccessField() : std::string("00000");
    }
    char field[16];
    std::snprintf(field, sizeof field, "%05lu", static_cast<unsigned long>(parameter));
    return field;
}

std::string BuildFrameHead(std::string_view code, std::uint32_t parameter, std::int32_t modelCode) {
    std::string head(1, kStx);
    if (code.size() < kCodeWidth) {
        head.append(kCodeWidth - code.size(), ' ');
    }
    head.append(code);
    head += ' ';
    head += BuildParameterField(parameter, modelCode);
    head += ' ';
    return head;
}

std::string BuildFrame(std::string_view code, std::uint32_t parameter, std::string_view data,
                       std::int32_t modelCode) {
    std::string frame = BuildFrameHead(code, parameter, modelCode);
    frame.append(data);
    frame += kEtx;
    return frame;
}

bool CarriesPasswordData(std::string_view code) {
    return code == CommandCode(ECommand::kSetPassword);
}

bool IsRefusal(std::string_view reply) {
    return reply.size() >= kRefusalMarkOffset && reply[reply.size() - kRefusalMarkOffset] == '!';
}

EReplyVerdict JudgeReply(std::string_view reply, char endMark) {
    if (reply.empty() || reply.back() != endMark) {
        return EReplyVerdict::kUnanswered;
    }
    // A line read up to LF lacks the ETX that follows it.
    const std::size_t markFromEnd = endMark == kEtx ? kRefusalMarkOffset : kRefusalMarkOffset - 1;
    if (reply.size() < markFromEnd) {
        return EReplyVerdict::kAccepted;
    }
    // The unit answers a command it cannot carry out as it answers a refusal, with '?' in place
    // of the mark.
    switch (reply[reply.size() - markFromEnd]) {
        case '!':
            return EReplyVerdict::kRefused;
        case '?':
            return EReplyVerdict::kNotUnderstood;
        default:
            return EReplyVerdict::kAccepted;
    }
}

}  // namespace corvane3
