#pragma once
// Whether a path can be the instrument's serial port at all.

#include <string>

namespace corvane3 {

// The reason devicePath cannot be used as a serial port, or "" when it names a terminal device
// (a UART, a USB adapter or a pseudo-terminal). Reasons: "not a serial port" for anything that is
// not a terminal (a regular file, a directory, a FIFO, /dev/null), else the system's error text
// ("No such file or directory", "Permission denied", ...). Never blocks; any thread.
std::string SerialDeviceProblem(const std::string& devicePath);

// The reason given for a path that exists but is not a terminal.
inline constexpr char kNotASerialPort[] = "not a serial port";

}  // namespace corvane3
