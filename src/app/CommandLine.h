#pragma once
// The file a user names on the command line: its type picks the window that opens it.

#include <string>

namespace corvane3 {

enum class ECommandLineFileKind {
    kNone,          // no file named: the main status window
    kPlotFile,      // ".csd": the plot window on that file
    kSpectrumFile,  // ".css": the spectrum window on that file
    kUnrecognized,  // anything else: an error message, and the program ends
};

struct CommandLineFile {
    ECommandLineFileKind kind = ECommandLineFileKind::kNone;
    std::string fileName;  // without surrounding quotes
    std::string type;      // the last three characters, as the name has them
};

// One file name, optionally in double quotes (the first and last characters are then dropped).
// The type is the last three characters compared without regard to case.
CommandLineFile ParseCommandLineFile(const std::string& commandLine);

// "Unrecognized file type:  %s" filled with the type.
std::string UnrecognizedFileTypeMessage(const std::string& type);

}  // namespace corvane3
