#pragma once
// syslog priorities of the lines a headless run writes to the journal.

namespace corvane3 {

enum class ELinePriority { kError = 3, kWarning = 4, kInfo = 6 };

}  // namespace corvane3
