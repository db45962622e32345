#pragma once
// The connected instrument as the polling thread last read it.

#include <atomic>
#include <cstdint>

namespace corvane3 {

// Instrument model codes. 400 also stands for "not identified yet".
enum InstrumentModel : std::int32_t {
    kModel7750 = 400,
    kModelChronoBeam = 401,
    kModel7730B = 402,
    kModelTq9000 = 403,
    kModel7730A = 404,
};
inline constexpr std::int32_t kModelBeforeIdentification = kModel7750;

struct CUnitState {
    // Written by the polling thread when it identifies the unit, read everywhere.
    std::atomic<std::int32_t> InstrumentModel{kModelBeforeIdentification};
};

}  // namespace corvane3
