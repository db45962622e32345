#pragma once
// The instrument model codes, as a unit reports them in its D*2 record and as they name the
// columns of its telemetry file.

#include <cstdint>

namespace corvane3 {

// 400 also stands for "not identified yet".
enum EInstrumentModel : std::int32_t {
    kModel7750 = 400,
    kModelChronoBeam = 401,
    kModel7730B = 402,
    kModelTq9000 = 403,
    kModel7730A = 404,
};
inline constexpr std::int32_t kModelBeforeIdentification = kModel7750;
// The model codes a unit can report; any other number in a reply is a garbled reply.
inline constexpr bool IsKnownModel(std::int32_t code) {
    return code >= kModel7750 && code <= kModel7730A;
}

}  // namespace corvane3
