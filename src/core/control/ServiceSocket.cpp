#include "core/control/ServiceSocket.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/base/LineReader.h"
#include "core/link/SerialDevice.h"

namespace corvane3 {

namespace {

constexpr char kDevicePrefix[] = "/dev/";
constexpr char kControlOption[] = "--control";
// Longest command line read; a longer one is not searched for its socket.
constexpr std::size_t kCommandLineBytes = 1 << 16;

bool IsSocket(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// systemd's escaping of a unit instance: '/' becomes '-'; ASCII letters, digits, ':', '_' and
// '.' (but a leading one) stay; every other byte becomes \xNN.
std::string EscapeInstance(const std::string& name) {
    std::string escaped;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == ':' || c == '_' || (c == '.' && i > 0);
        if (c == '/') {
            escaped += '-';
        } else if (plain) {
            escaped += static_cast<char>(c);
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            escaped += code;
        }
    }
    return escaped;
}

}  // namespace

std::optional<std::string> PackagedControlSocket(const std::string& devicePath) {
    // The path as systemd takes it: no repeated or trailing slashes.
    std::string path = std::filesystem::path(devicePath).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (!path.starts_with(kDevicePrefix) || path.size() == sizeof kDevicePrefix - 1) {
        return std::nullopt;
    }
    return std::string(kServiceSocketFolder) + "/" +
           EscapeInstance(path.substr(sizeof kDevicePrefix - 1)) + ".sock";
}

std::optional<std::string> ControlSocketOfProcess(int pid) {
    const std::string process = "/proc/" + std::to_string(pid);
    // The arguments, NUL-separated, as one "line" without a line end; read close-on-exec.
    std::string all;
    ReadLinesOf(process + "/cmdline", kCommandLineBytes, [&all](const std::string& line) {
        all = line;
        return false;
    });
    std::vector<std::string> arguments;
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = std::min(all.find('\0', at), all.size());
        arguments.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    std::optional<std::string> socket;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            break;
        }
        if (argument == kControlOption && i + 1 < arguments.size()) {
            socket = arguments[++i];
        } else if (argument.starts_with(std::string(kControlOption) + "=")) {
            socket = argument.substr(sizeof kControlOption);
        }
    }
    if (!socket || socket->empty()) {
        return std::nullopt;
    }
    if (socket->front() == '/') {
        return socket;
    }
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::read_symlink(process + "/cwd", error);
    if (error) {
        return std::nullopt;
    }
    return (folder / *socket).lexically_normal().string();
}

std::optional<std::string> HolderControlSocket(const std::string& devicePath) {
    if (const std::optional<int> pid = SerialDeviceHolder(devicePath)) {
        if (const auto own = ControlSocketOfProcess(*pid); own && IsSocket(*own)) {
            return own;
        }
    }
    if (const auto packaged = PackagedControlSocket(devicePath); packaged && IsSocket(*packaged)) {
        return packaged;
    }
    return std::nullopt;
}

}  // namespace corvane3
