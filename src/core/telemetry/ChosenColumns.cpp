#include "core/telemetry/ChosenColumns.h"

#include <algorithm>
#include <limits>

#include "core/telemetry/FieldScan.h"

namespace corvane3 {

namespace {

bool IsChosen(int code) {
    return code >= 0 || code == kColumnTime;
}

void Store(int code, double value, TelemetryRecordValues& values) {
    if (code >= 0) {
        values.channels[static_cast<std::size_t>(code)] = value;
    } else if (code == kColumnTime) {
        values.mjd = value;
    }
}

}  // namespace

TelemetryColumnChoice ChooseTelemetryColumns(const std::vector<int>& map,
                                             const std::vector<int>& channels, bool time) {
    TelemetryColumnChoice choice;
    std::vector<int> wanted = channels;
    const auto has = [&](int channel) {
        return std::find(wanted.begin(), wanted.end(), channel) != wanted.end();
    };
    choice.derive = has(kChannelSignal) || has(kChannelFlopBackground);
    if (choice.derive) {
        wanted.insert(wanted.end(), kSignalInputChannels.begin(), kSignalInputChannels.end());
    }
    choice.map = map;
    for (std::size_t k = 0; k < choice.map.size(); ++k) {
        int& code = choice.map[k];
        const bool chosen = code >= 0 ? has(code) : code == kColumnTime && time;
        code = chosen ? code : kColumnSkipped;
        choice.lastChosen = chosen ? k : choice.lastChosen;
    }
    return choice;
}

bool ParseChosenColumns(const TelemetryLine& line, const TelemetryColumnChoice& choice,
                        TelemetryRecordValues& values) {
    const std::vector<int>& map = choice.map;
    if (choice.derive) {
        // An input no column fills reads 0.0, as in a full parse.
        for (const int input : kSignalInputChannels) {
            values.channels[static_cast<std::size_t>(input)] = 0.0;
        }
    }
    // Every field of the map is measured, as a full parse refuses a line for any of them; when
    // all are short (nearly always) the walk stops at the last chosen column.
    const bool measured =
        FieldsShortAndLetterFree(line.begin, line.end, map.size(), kMaxTelemetryFieldCharacters,
                                 [](std::size_t) { return false; });
    std::size_t fields = 0;
    const bool whole =
        ForEachField(line.begin, line.end, measured ? choice.lastChosen + 1 : map.size(),
                     [&](std::size_t k, const char* begin, const char* end, bool) {
                         if (static_cast<std::size_t>(end - begin) > kMaxTelemetryFieldCharacters) {
                             return false;
                         }
                         if (IsChosen(map[k])) {
                             Store(map[k], ParseTelemetryField(begin, line.end), values);
                         }
                         fields = k + 1;
                         return true;
                     });
    if (!whole) {
        return false;
    }
    // Chosen fields the line does not have; none comes after the last chosen column.
    for (std::size_t k = fields; k <= choice.lastChosen && k < map.size(); ++k) {
        Store(map[k], std::numeric_limits<double>::quiet_NaN(), values);
    }
    if (choice.derive) {
        DeriveRecordSignalChannels(values);
    }
    return true;
}

}  // namespace corvane3
