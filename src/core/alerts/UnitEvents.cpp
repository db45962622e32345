#include "core/alerts/UnitEvents.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/base/Mjd.h"
#include "core/base/Text.h"
#include "core/link/MainStatusText.h"
#include "core/link/StatusRecords.h"

namespace corvane3 {

namespace {

std::string CodeText(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x", code);
    return text;
}

std::string ValueText(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

}  // namespace

std::optional<UnitEvent> CUnitEvents::LinkState(bool online, const AlertUnit& unit) {
    if (online == online_) {
        return std::nullopt;
    }
    online_ = online;
    const std::string name = AlertUnitName(unit);
    if (online) {
        // The first answer of a run brings nothing back that was lost.
        if (!lost_) {
            return std::nullopt;
        }
        lost_ = false;
        return UnitEvent{"link-back", "info", name, "", "",
                         name + " answers again on " + unit.portName + "."};
    }
    lost_ = true;
    return UnitEvent{"link-lost", "critical", name, "", "",
                     name + " stopped answering on " + unit.portName + "."};
}

std::vector<UnitEvent> CUnitEvents::StatusRecord(const AlarmSlots& slots, const AlertUnit& unit) {
    std::vector<UnitEvent> events;
    if (auto link = LinkState(true, unit)) {
        events.push_back(std::move(*link));
    }
    if (alarmsOf_ != unit.serialNumber) {
        pendingAlarms_.clear();
        alarmsOf_ = unit.serialNumber;
    }
    std::set<std::uint32_t> now(slots.begin(), slots.end());
    now.erase(0);
    const std::string name = AlertUnitName(unit);
    auto alarmEvent = [&](const char* event, const char* severity, std::uint32_t code,
                          const char* says) {
        const std::string alarm(TrimBlanks(AlarmName(code)));
        events.push_back(UnitEvent{event, severity, name, CodeText(code), "",
                                   name + ": alarm " + CodeText(code) +
                                       (alarm.empty() ? "" : " (" + alarm + ")") + says});
    };
    for (const std::uint32_t code : now) {
        if (pendingAlarms_.count(code) == 0) {
            alarmEvent("alarm", "warning", code, " is pending.");
        }
    }
    for (const std::uint32_t code : pendingAlarms_) {
        if (now.count(code) == 0) {
            alarmEvent("alarm-cleared", "info", code, " cleared.");
        }
    }
    pendingAlarms_ = std::move(now);
    return events;
}

std::optional<UnitEvent> CUnitEvents::RecordingFailed(const std::string& reason,
                                                      const AlertUnit& unit) {
    if (recordingFailing_) {
        return std::nullopt;
    }
    recordingFailing_ = true;
    return UnitEvent{"recording-failed", "critical", AlertUnitName(unit), "", "", reason};
}

UnitEvent CUnitEvents::Limit(const LimitCrossing& crossing, const AlertUnit& unit) {
    const std::string name = AlertUnitName(unit);
    return UnitEvent{crossing.cleared ? "limit-cleared" : "limit-crossed",
                     crossing.cleared ? "info" : LimitLevelWord(crossing.level), name,
                     crossing.channel, ValueText(crossing.value),
                     name + ": " + LimitCrossingText(crossing) + "."};
}

UnitEvent CUnitEvents::Projected(const ReadingLimit& limit, double reachedMjd,
                                 const AlertUnit& unit) {
    using namespace std::chrono;
    const auto day = static_cast<long>(std::floor(reachedMjd - kMjdOfUnixEpoch));
    const year_month_day date{sys_days{std::chrono::days{day}}};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    const std::string name = AlertUnitName(unit);
    return UnitEvent{"limit-projected", "warning", name, limit.channel, text,
                     name + ": " + limit.channel + " is projected to reach its critical limit by " +
                         text + "."};
}

}  // namespace corvane3
