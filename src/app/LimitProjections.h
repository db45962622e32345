#pragma once
// The lines --summary adds for readings with limits: when each one's trend over the file
// reaches its critical limit, or why that cannot be said.

#include <ostream>
#include <string>
#include <vector>

#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

// The limits file's problems on err, one line each; then on out one line per limit with a
// critical bound, in the limits' order: nothing when there are none or path is no
// current-format telemetry file (the summary has said what it is).
void PrintLimitProjections(const std::string& path, const ReadingLimits& limits,
                           std::ostream& out, std::ostream& err);

}  // namespace corvane3
