#pragma once
// What the window and the headless run do alike with each link change, status record and
// recording outcome: follow the readings' limits and hand every event to the user's program.
//
// One thread (the window's or the headless run's) calls it.

#include <cstdint>
#include <string>
#include <vector>

#include "core/alerts/EventProgram.h"
#include "core/alerts/UnitEvents.h"
#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

class CUnitWatch {
  public:
    // program may be null (no --on-event); it must outlive the watch.
    CUnitWatch(std::vector<ReadingLimit> limits, CEventProgram* program)
        : limits_(std::move(limits)), program_(program) {}

    const CReadingLimitWatch& Limits() const { return limits_; }

    void LinkState(bool online, const AlertUnit& unit);
    // The record's alarm and limit events go to the program; the limit crossings come back
    // for the caller to show.
    std::vector<LimitCrossing> StatusRecord(const UnitStateData& data, std::int32_t model,
                                            const AlertUnit& unit);
    // A record was written (or recording is off), or could not be written for reason.
    void Recording(bool written, const std::string& reason, const AlertUnit& unit);

  private:
    void Run(const UnitEvent& event);

    CUnitEvents events_;
    CReadingLimitWatch limits_;
    CEventProgram* program_;
};

}  // namespace corvane3
