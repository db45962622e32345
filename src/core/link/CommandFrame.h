#pragma once
// The command frame the instrument understands:
//   STX, code (3 chars, blank-padded on the left), blank, 5-char parameter field, blank, data, ETX.
// There is no checksum and no length field. Replies begin with STX and end with ETX; line-oriented
// output (diagnostics, instrument sweeps) ends each line with LF.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/base/ModelCodes.h"

namespace corvane3 {

inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kLf = 0x0A;
inline constexpr char kCr = 0x0D;

// Parameter value that asks for the Factory access field instead of a number. Only a model 401
// unit gets the field; every other model receives "00000".
inline constexpr std::uint32_t kFactoryAccessOption = 0x20000;
// The only model that understands the Factory access field.
inline constexpr std::int32_t kFactoryAccessModel = kModelChronoBeam;

// Length of a frame head: STX, code, blank, parameter field, blank.
inline constexpr std::size_t kFrameHeadLength = 11;
// Width of the command code and the parameter field.
inline constexpr std::size_t kCodeWidth = 3;
inline constexpr std::size_t kParameterFieldWidth = 5;

// The Factory access field: two fixed letters and three lower-case hexadecimal digits. It is
// built at run time so that the text does not sit in the binary as a plain string.
std::string FactoryAccessField();

// The five-character parameter field for a parameter value: "00000" for 0, the Factory access
// field for kFactoryAccessOption on model 401 ("00000" on other models), otherwise the value
// zero-padded to at least five digits.
std::string BuildParameterField(std::uint32_t parameter, std::int32_t modelCode);

// STX, code (padded on the left to three characters), blank, parameter field, blank.
std::string BuildFrameHead(std::string_view code, std::uint32_t parameter, std::int32_t modelCode);

// The whole frame: head, data, ETX.
std::string BuildFrame(std::string_view code, std::uint32_t parameter, std::string_view data,
                       std::int32_t modelCode);

// True for a command whose data is a password ("C08", the new user password): logs and traces
// never show such data.
bool CarriesPasswordData(std::string_view code);

// True when a reply refuses a password-protected command: the third character before the final
// ETX (index length - 4) is '!'. A reply shorter than four characters carries no mark.
bool IsRefusal(std::string_view reply);

// How the unit answered a command.
enum class EReplyVerdict {
    kAccepted,
    kRefused,        // the refusal mark
    kNotUnderstood,  // '?' where the refusal mark would be
    kUnanswered,     // no reply, or one cut short before its end mark
};
// The one judgement of a reply that every sender uses. A reply counts only when it is whole:
// without endMark as its last character it is kUnanswered, whatever it holds. The mark sits
// before the CR LF (and ETX) that end the reply: length - 4 for ETX, length - 3 for a line read
// up to LF.
EReplyVerdict JudgeReply(std::string_view reply, char endMark = kEtx);

}  // namespace corvane3
