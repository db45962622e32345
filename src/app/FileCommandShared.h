#pragma once
// What --summary and --export-csv share: telling a spectrum file by its name, reading one, and
// checking that what went to standard output got there.

#include <ostream>
#include <string>

#include "core/spectrum/SpectrumFile.h"

namespace corvane3 {

// message, with reason in brackets after it when there is one.
std::string WithReason(const std::string& message, const std::string& reason);

// Spectrum files go by their extension, in any case, as on the program's command line.
bool IsSpectrumFile(const std::string& path);

// False (the reason on err) when the file cannot be opened or holds a line that is no point.
bool LoadSpectrum(const std::string& path, SpectrumPoints& points, std::ostream& err);

// Standard output may be a full disk or a closed pipe: what was not written whole is no
// success. The exit status: done, or refused with the reason on err.
int Written(std::ostream& out, std::ostream& err, const char* what);

}  // namespace corvane3
