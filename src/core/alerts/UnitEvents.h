#pragma once
// The events a person may want to hear of, for a program of theirs (--on-event) to pass on:
// the link lost or back, an alarm appearing or clearing, recording failing, a reading leaving
// or re-entering its limits. Each event is given once, when its condition starts or ends; it
// is not given again until the condition has ended (or started) in between.
//
// No Qt, no I/O. One thread (the window's or the headless run's) feeds it.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/alerts/DesktopAlerts.h"
#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

struct UnitEvent {
    std::string name;      // "link-lost", "link-back", "alarm", "alarm-cleared",
                           // "recording-failed", "limit-crossed", "limit-cleared",
                           // "limit-projected"
    std::string severity;  // "critical", "warning" or "info", as the alert rules use them
    std::string unit;      // "Model Tq9000 SN 1234"
    std::string channel;   // the reading or the alarm code; empty when none
    std::string value;     // the reading's value (its projected date for limit-projected)
    std::string text;      // one sentence for a person
};

class CUnitEvents {
  public:
    // The link at a link status change: an event when an answering unit goes silent, and when
    // it answers again. A program started while the unit is silent has lost nothing.
    std::optional<UnitEvent> LinkState(bool online, const AlertUnit& unit);
    // A status record: an event per alarm code that appeared or cleared since the last one.
    std::vector<UnitEvent> StatusRecord(const AlarmSlots& slots, const AlertUnit& unit);
    // A record could not be written: an event for the first failure of a run.
    std::optional<UnitEvent> RecordingFailed(const std::string& reason, const AlertUnit& unit);
    void RecordingFine() { recordingFailing_ = false; }
    // A reading crossed or came back inside its limits (the watch already gives each once).
    static UnitEvent Limit(const LimitCrossing& crossing, const AlertUnit& unit);
    // A reading's trend reaches its critical limit at reachedMjd, soon ("limit-projected").
    static UnitEvent Projected(const ReadingLimit& limit, double reachedMjd,
                               const AlertUnit& unit);

  private:
    bool online_ = false;
    bool lost_ = false;  // the link was lost and has not come back yet
    bool recordingFailing_ = false;
    std::optional<std::uint32_t> alarmsOf_;
    std::set<std::uint32_t> pendingAlarms_;
};

}  // namespace corvane3
