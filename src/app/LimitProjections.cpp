#include "app/LimitProjections.h"

#include <atomic>
#include <limits>

#include "core/plot/PlotData.h"
#include "core/telemetry/ReadingTrends.h"
#include "core/telemetry/TelemetryColumns.h"

namespace corvane3 {

void PrintLimitProjections(const std::string& path, const ReadingLimits& readingLimits,
                           std::ostream& out, std::ostream& err) {
    for (const std::string& problem : readingLimits.problems) {
        err << "corvane3: " << problem << "\n";
    }
    err << std::flush;
    const std::vector<ReadingLimit>& limits = readingLimits.readings;
    if (limits.empty()) {
        return;
    }
    const std::atomic<bool> never{false};
    const auto trends =
        ScanReadingTrends(path, limits, std::numeric_limits<std::uint64_t>::max(), never);
    if (!trends) {
        return;
    }
    const CPlotData names;  // the readings' units, as the summary's table gives them
    for (std::size_t i = 0; i < limits.size(); ++i) {
        const std::optional<int> channel = PlotChannelOfColumn(limits[i].channel);
        const std::string unit = channel ? names.Channel(*channel).Unit() : std::string();
        if (const std::string line =
                LimitProjectionText(limits[i], ProjectLimit(limits[i], (*trends)[i]), unit);
            !line.empty()) {
            out << line << "\n";
        }
    }
}

}  // namespace corvane3
