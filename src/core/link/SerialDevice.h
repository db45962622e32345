#pragma once
// Whether a path can be the instrument's serial port at all.

#include <string>

namespace corvane3 {

// The reason devicePath cannot be used as a serial port, or "" when it names a terminal device
// (a UART, a USB adapter or a pseudo-terminal) that no other program holds. Reasons: "not a
// serial port" for anything that is not a terminal (a regular file, a directory, a FIFO,
// /dev/null), "in use by process N" for a port another program has open, else the system's
// error text ("No such file or directory", "Permission denied", ...). Never blocks; any thread.
std::string SerialDeviceProblem(const std::string& devicePath);

// The reason given for a path that exists but is not a terminal.
inline constexpr char kNotASerialPort[] = "not a serial port";
// The start of the reason given for a port another program holds.
inline constexpr char kPortInUse[] = "in use";

// Takes the advisory lock on an open port that serial programs on Linux take (flock), which
// holds for root too, unlike TIOCEXCL. False when another open of the device holds it.
bool LockSerialDevice(int fd);

// "in use by process N" for the device at devicePath, N found in /proc/locks; "in use by
// another program" when the holder cannot be found.
std::string SerialDeviceInUse(const std::string& devicePath);

}  // namespace corvane3
