#pragma once
// Exit statuses of the corvane3 program.

namespace corvane3 {

inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;  // a file or the port was refused
inline constexpr int kExitBadOptions = 2;
inline constexpr int kExitTimedOut = 3;

}  // namespace corvane3
