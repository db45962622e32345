#include "sim/SimulatorFile.h"

#include <fstream>
#include <sstream>

namespace corvane3::sim {

std::optional<std::string> ReadSimulatorFile(const std::filesystem::path& file,
                                             std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file.string();
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace corvane3::sim
