#pragma once
// Ends the file commands cleanly on Ctrl-C, a termination request or a hang-up: the temporary
// file an export is writing is removed, and the process ends with status 128 + the signal's
// number, as a shell reports a command that a signal ended.

#include <string>

namespace corvane3 {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP. Call once, before any file command.
void InstallTemporaryFileCleanup();

// The file to remove if a signal comes ("" for none). Called by the one thread that writes it.
void SetTemporaryFileToRemove(const std::string& path);

}  // namespace corvane3
