#pragma once
// Where a window finds the control socket of the logging service that holds its port: the
// socket that run was started with (its --control on its command line), else the packaged
// service's socket for that port.

#include <optional>
#include <string>

namespace corvane3 {

// The folder the packaged service's sockets are in (the unit's runtime folder).
inline constexpr char kServiceSocketFolder[] = "/run/corvane3";

// The packaged service's socket for the port devicePath: kServiceSocketFolder/<instance>.sock,
// the instance being the path under /dev escaped as systemd escapes a unit's instance
// ("/dev/ttyUSB0": ttyUSB0, "/dev/serial/by-id/usb-1": serial-by\x2did-usb\x2d1). Nothing for
// a path outside /dev.
std::optional<std::string> PackagedControlSocket(const std::string& devicePath);

// The --control socket on the command line of process pid, made absolute against its working
// folder; nothing when it has none or its command line cannot be read.
std::optional<std::string> ControlSocketOfProcess(int pid);

// The socket of the logging service holding devicePath: its own --control, else the packaged
// path, whichever is a socket; nothing when neither is.
std::optional<std::string> HolderControlSocket(const std::string& devicePath);

}  // namespace corvane3
