#pragma once
// What the window and the headless run do alike with each link change, status record and
// recording outcome: follow the readings' limits and hand every event to the user's program.
//
// One thread (the window's or the headless run's) calls it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/alerts/UnitEvents.h"
#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

// A projected crossing this close leaves a month to order and fit a replacement part.
inline constexpr double kProjectionWarningDays = 30.0;

class CUnitWatch {
  public:
    using EventFunction = std::function<void(const UnitEvent& event)>;
    // Each event goes to onEvent (the user's program); none when it is empty.
    CUnitWatch(std::vector<ReadingLimit> limits, EventFunction onEvent)
        : limits_(std::move(limits)), onEvent_(std::move(onEvent)) {}

    const CReadingLimitWatch& Limits() const { return limits_; }

    void LinkState(bool online, const AlertUnit& unit);
    // The record's alarm and limit events go to the program; the limit crossings come back
    // for the caller to show.
    std::vector<LimitCrossing> StatusRecord(const UnitStateData& data, std::int32_t model,
                                            const AlertUnit& unit);
    // A record was written (or recording is off), or could not be written for reason.
    void Recording(bool written, const std::string& reason, const AlertUnit& unit);
    // The projected crossings of the critical limits (MJD, in the order of the limits): an
    // event when one comes within kProjectionWarningDays of nowMjd, again only after it has
    // moved further away in between.
    void Projections(const std::vector<std::optional<double>>& reachedMjd, double nowMjd,
                     const AlertUnit& unit);

  private:
    void Run(const UnitEvent& event);

    CUnitEvents events_;
    CReadingLimitWatch limits_;
    EventFunction onEvent_;
    std::vector<bool> projectedSoon_;  // per limit: its crossing was said to be near
    std::optional<std::uint32_t> limitsOf_;  // serial number of the unit the limits follow
};

}  // namespace corvane3
