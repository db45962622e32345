#include "core/alerts/DesktopAlerts.h"

#include <cstdio>

#include "core/base/Text.h"
#include "core/link/MainStatusText.h"
#include "core/link/StatusRecords.h"

namespace corvane3 {

namespace {

// Standard icon names every icon theme has.
constexpr char kErrorIcon[] = "dialog-error";
constexpr char kWarningIcon[] = "dialog-warning";
constexpr char kInformationIcon[] = "dialog-information";

constexpr std::uint32_t kUnitStatusMajorFault = 11;
// The alarms a unit raises while its ovens warm up after a power-up.
constexpr std::uint32_t kCesiumOvenWarmUpAlarm = 0xF1;
constexpr std::uint32_t kOcxoOvenWarmUpAlarm = 0xF2;

// How urgent a new alarm is, and the icon that says so.
void SetAlarmUrgency(DesktopAlert& alert, std::uint32_t code, std::uint32_t unitStatus) {
    if (unitStatus == kUnitStatusMajorFault) {
        alert.urgency = EAlertUrgency::kCritical;
        alert.icon = kErrorIcon;
    } else if (code == kCesiumOvenWarmUpAlarm || code == kOcxoOvenWarmUpAlarm) {
        alert.urgency = EAlertUrgency::kLow;
        alert.icon = kInformationIcon;
    } else {
        alert.urgency = EAlertUrgency::kNormal;
        alert.icon = kWarningIcon;
    }
}

// The code as the Alarms dialog lists it: two lower-case hexadecimal digits.
std::string AlarmCodeText(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x", code);
    return text;
}

}  // namespace

std::string AlertUnitName(const AlertUnit& unit) {
    const std::string model = ModelText(unit.model);
    std::string name = model.empty() ? std::string() : "Model " + model + " ";
    return name + "SN " + std::to_string(unit.serialNumber);
}

std::optional<DesktopAlert> ReadingLimitAlert(const LimitCrossing& crossing,
                                              const AlertUnit& unit) {
    if (crossing.cleared) {
        return std::nullopt;
    }
    DesktopAlert alert;
    alert.kind = EAlertKind::kReadingLimit;
    const bool critical = crossing.level == ELimitLevel::kCritical;
    alert.urgency = critical ? EAlertUrgency::kCritical : EAlertUrgency::kNormal;
    alert.icon = critical ? kErrorIcon : kWarningIcon;
    alert.summary = AlertUnitName(unit) + ": " + crossing.channel + " outside its limits";
    alert.body = LimitCrossingText(crossing) + ".";
    alert.replaceKey = "limit " + crossing.channel;
    return alert;
}

std::optional<DesktopAlert> CDesktopAlerts::LinkState(bool online, const AlertUnit& unit) {
    const bool wasOnline = online_;
    online_ = online;
    if (!wasOnline || online) {
        return std::nullopt;
    }
    DesktopAlert alert;
    alert.kind = EAlertKind::kLinkDown;
    alert.urgency = EAlertUrgency::kCritical;
    alert.summary = AlertUnitName(unit) + ": Unit Not Responding";
    alert.body = "The unit stopped answering on " + unit.portName + ".";
    alert.icon = kErrorIcon;
    alert.replaceKey = "link";
    return alert;
}

std::vector<DesktopAlert> CDesktopAlerts::StatusRecord(const AlarmSlots& slots,
                                                       std::uint32_t unitStatus,
                                                       const AlertUnit& unit) {
    online_ = true;
    // Another unit on the port brings alarms of its own; none of them was seen before.
    if (alarmsOf_ != unit.serialNumber) {
        pendingAlarms_.clear();
        alarmsOf_ = unit.serialNumber;
    }
    std::set<std::uint32_t> now;
    std::vector<DesktopAlert> alerts;
    for (const std::uint32_t code : slots) {
        if (code == 0 || !now.insert(code).second || pendingAlarms_.count(code) != 0) {
            continue;
        }
        const std::string codeText = AlarmCodeText(code);
        const std::string name(TrimBlanks(AlarmName(code)));
        DesktopAlert alert;
        alert.kind = EAlertKind::kAlarm;
        SetAlarmUrgency(alert, code, unitStatus);
        alert.summary = AlertUnitName(unit) + ": " + (name.empty() ? "Alarm " + codeText : name);
        alert.body = "Alarm " + codeText + " is pending.";
        alert.replaceKey = "alarm " + codeText;
        alerts.push_back(std::move(alert));
    }
    pendingAlarms_ = std::move(now);
    return alerts;
}

std::optional<DesktopAlert> CDesktopAlerts::RecordingFailed(const std::string& reason,
                                                            const AlertUnit& unit) {
    if (recordingFailing_) {
        return std::nullopt;
    }
    recordingFailing_ = true;
    DesktopAlert alert;
    alert.kind = EAlertKind::kRecordingFailed;
    // Records are held for a while, then lost: someone has to free the disk or fix the folder.
    alert.urgency = EAlertUrgency::kCritical;
    alert.summary = AlertUnitName(unit) + ": Save data record error";
    alert.body = reason;
    alert.icon = kErrorIcon;
    alert.replaceKey = "recording";
    return alert;
}

}  // namespace corvane3
