// Arbitrary configuration files through the INI reader and the settings loaded from it, and the
// telemetry file name they give: a loaded configuration saves and loads back to the same
// settings, and the file name template either is refused or names a file in one folder.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "core/config/Configuration.h"
#include "core/config/ProfileFile.h"
#include "core/config/ProgramSettings.h"
#include "core/config/TelemetryPath.h"

using namespace corvane3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("configuration", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
    CProfileFile profile("/proc/self/fd/" + std::to_string(fd));
    CProgramSettings settings;
    SerialLineSettings line;
    LoadConfiguration(profile, settings, line);

    CProfileFile saved("/nonexistent/Corvane3.ini");
    SaveConfiguration(saved, settings, line);
    CProgramSettings again;
    SerialLineSettings lineAgain;
    LoadConfiguration(saved, again, lineAgain);
    FUZZ_CHECK(again.DatafileDirectory == settings.DatafileDirectory);
    FUZZ_CHECK(again.DataFilenameTemplate == settings.DataFilenameTemplate);
    FUZZ_CHECK(again.PollingInterval.load() == settings.PollingInterval.load());

    std::string name;
    if (FilenameTemplateProblem(settings.DataFilenameTemplate).empty()) {
        for (long serial : {0L, 1234L, -2147483647L - 1}) {
            FUZZ_CHECK(FormatFilenameTemplate(settings.DataFilenameTemplate, serial, name));
            FUZZ_CHECK(!name.empty() && name != "." && name != "..");
            FUZZ_CHECK(name.find('/') == std::string::npos);
            FUZZ_CHECK(name.find('\0') == std::string::npos);
        }
    }
    ::close(fd);
    return 0;
}
