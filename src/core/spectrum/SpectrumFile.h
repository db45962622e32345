#pragma once
// Spectrum files (".css"): a heading line, then one "detuning,signal" line per point, detuning
// in Hz from the sweep's centre and the averaged signal in mV, each with six significant digits.
//
//     Detuning, Signal
//     -5000,1234.5
//     -4500,1240.25

#include <string>
#include <vector>

namespace corvane3 {

inline constexpr char kSpectrumFileHeading[] = "Detuning, Signal";

struct SpectrumPoints {
    std::vector<double> detuning;  // Hz
    std::vector<double> signal;    // mV
};

enum class ESpectrumFileRead {
    kRead,
    kCannotOpen,   // "Unable to open file:  PATH"
    kInvalidData,  // "Invalid data in file"; the points before the bad line were read
};

struct SpectrumFileResult {
    ESpectrumFileRead status = ESpectrumFileRead::kRead;
    std::string message;  // the text for the user; empty when the file was read
    int badLine = 0;      // kInvalidData: the line's number, from 1 (the heading)
    std::string reason;   // kCannotOpen: why ("not a regular file", "Is a directory", ...)
};

// Writes the heading and the first count points of detuning and signal. False with the message
// for the user when the file could not be created or written.
bool WriteSpectrumFile(const std::string& path, const std::vector<double>& detuning,
                       const std::vector<double>& signal, std::size_t count, std::string& message);

// Reads path into points (replaced). The first line is skipped whatever it holds. Each further
// line must start with two numbers separated by a comma; the first that does not ends the
// reading. Blank lines at the end of the file are not points. Lines end in LF, CR LF or CR; a
// line longer than 64 KiB is invalid data. Only a regular file is read: a FIFO, a device or a
// folder cannot be opened (kCannotOpen, with the reason).
SpectrumFileResult ReadSpectrumFile(const std::string& path, SpectrumPoints& points);

}  // namespace corvane3
