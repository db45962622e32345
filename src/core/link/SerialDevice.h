#pragma once
// Whether a path can be the instrument's serial port at all, and why it could not be opened.

#include <optional>
#include <string>

namespace corvane3 {

// The reason devicePath cannot be used as a serial port, or "" when it names a terminal device
// (a UART, a USB adapter or a pseudo-terminal) that no other program holds. Reasons: "not a
// serial port" for anything that is not a terminal (a regular file, a directory, a FIFO,
// /dev/null), "in use by process N (NAME)" for a port another program has open, else as
// OpenFailureReason says ("No such file or directory", "Permission denied: ...", ...). A
// network port name ("rfc2217://...", "tcp://...") gives "" when it is well formed, else
// kBadNetworkAddress; it is not connected to. Never blocks; any thread.
std::string SerialDeviceProblem(const std::string& devicePath);

// The reason given for a path that exists but is not a terminal.
inline constexpr char kNotASerialPort[] = "not a serial port";
// The start of the reason given for a port another program holds.
inline constexpr char kPortInUse[] = "in use";
// The reason the window gives for a port whose device does not exist (an adapter unplugged).
inline constexpr char kPortNotPresent[] = "not present";

// Why open(2) of devicePath failed with errno error: "in use by process N (NAME)" for EBUSY; for
// a refused permission on a device that its group may open, "Permission denied: add your user
// to the group G and log in again" (G the device's group, which this process is not in); else
// the system's error text. Any thread.
std::string OpenFailureReason(const std::string& devicePath, int error);

// Takes the advisory lock on an open port that serial programs on Linux take (flock), which
// holds for root too, unlike TIOCEXCL. False when another open of the device holds it.
bool LockSerialDevice(int fd);

// The process that holds the advisory lock on the device at devicePath (found in /proc/locks);
// nothing when none does or it cannot be found.
std::optional<int> SerialDeviceHolder(const std::string& devicePath);

// "in use by process N (NAME)" for the device at devicePath, N found in /proc/locks and NAME in
// /proc/N/comm (without the parentheses when it cannot be read); "in use by another program"
// when the holder cannot be found.
std::string SerialDeviceInUse(const std::string& devicePath);

}  // namespace corvane3
