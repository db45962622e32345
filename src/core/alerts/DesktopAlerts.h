#pragma once
// Which events of the monitored unit deserve a desktop notification, worked out from what the
// main window sees one after another: the link's state, each status record's alarm slots and
// the telemetry recorder's outcomes. Three events count, each once:
//   - the link going down: once per change from answering to not answering (a program started
//     while the unit is silent has lost nothing);
//   - an alarm: once when its code appears in the record's five slots, not again while it stays
//     pending (a link that drops and returns does not clear it); once more if it clears and
//     comes back; every alarm of a unit the window sees first (or another unit) is new;
//   - recording failing: once per run of failures, which ends when a record is written again
//     or recording is switched off.
// A link that comes back, or an alarm that clears, is shown by the window itself and needs no
// one's attention, so it raises nothing.
// Urgency follows the alert rules' severity: critical (a person now) for the link down,
// recording failing and an alarm of a unit in a major fault; low for a warm-up alarm, which a
// unit raises after every power-up; normal for the other alarms.
//
// No Qt, no I/O: the window feeds it and hands what comes back to an IDesktopAlertSink.
// One thread (the user interface's).
//
//   CDesktopAlerts alerts;
//   for (const DesktopAlert& alert : alerts.StatusRecord(slots, unit)) sink.Raise(alert);

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

// The freedesktop urgency levels.
enum class EAlertUrgency : std::uint8_t { kLow = 0, kNormal = 1, kCritical = 2 };

enum class EAlertKind { kLinkDown, kAlarm, kRecordingFailed, kReadingLimit };

struct DesktopAlert {
    EAlertKind kind = EAlertKind::kLinkDown;
    EAlertUrgency urgency = EAlertUrgency::kNormal;
    std::string summary;
    std::string body;  // plain text; the sender escapes it for servers that read markup
    std::string icon;  // a freedesktop icon name
    // Alerts with the same key replace each other on the desktop rather than pile up (a link
    // that keeps dropping shows one notification).
    std::string replaceKey;
};

// Where the alerts go. Raise must not block and must never fail in a way the user has to
// dismiss: without a notification service the alert is simply not shown.
class IDesktopAlertSink {
  public:
    virtual ~IDesktopAlertSink() = default;
    virtual void Raise(const DesktopAlert& alert) = 0;
};

// The unit as the window's title names it.
struct AlertUnit {
    std::int32_t model = 0;
    std::uint32_t serialNumber = 0;
    std::string portName;
};

// "Model Tq9000 SN 1234", or "SN 1234" for a model without a name.
std::string AlertUnitName(const AlertUnit& unit);

// The five alarm slots of a D1 record (Alarm1 to Alarm5); 0 is an empty slot.
using AlarmSlots = std::array<std::uint32_t, 5>;

// The alert for a reading that left a band: critical urgency for the critical band, normal for
// the warning band; nothing for a reading coming back inside, which the window shows itself.
std::optional<DesktopAlert> ReadingLimitAlert(const LimitCrossing& crossing,
                                              const AlertUnit& unit);

class CDesktopAlerts {
  public:
    // The link as the window last saw it: online is the Online flag at a link status change.
    // Gives the link-down alert when it was online before.
    std::optional<DesktopAlert> LinkState(bool online, const AlertUnit& unit);
    // A status record arrived (so the link is up): one alert per alarm code in slots that was
    // not pending in this unit's previous record, in slot order. unitStatus is the record's
    // unit-status code (0 operating, 1 warming up, 10 minor fault, 11 major fault).
    std::vector<DesktopAlert> StatusRecord(const AlarmSlots& slots, std::uint32_t unitStatus,
                                           const AlertUnit& unit);
    // A record could not be written; reason is the sentence the user is (or was) shown. Gives
    // the alert only for the first failure of a run.
    std::optional<DesktopAlert> RecordingFailed(const std::string& reason, const AlertUnit& unit);
    // A record was written, or recording is off: the next failure starts a new run.
    void RecordingFine() { recordingFailing_ = false; }

  private:
    bool online_ = false;
    bool recordingFailing_ = false;
    std::optional<std::uint32_t> alarmsOf_;  // serial number of the unit whose alarms are held
    std::set<std::uint32_t> pendingAlarms_;
};

}  // namespace corvane3
