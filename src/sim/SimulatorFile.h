#pragma once
// The text files the simulator is given (override files, transcripts to replay).

#include <filesystem>
#include <optional>
#include <string>

namespace corvane3::sim {

// The whole text of file, or nullopt with error "cannot read FILE: REASON" (a folder, a FIFO
// or a device is refused without being read).
std::optional<std::string> ReadSimulatorFile(const std::filesystem::path& file, std::string& error);

}  // namespace corvane3::sim
