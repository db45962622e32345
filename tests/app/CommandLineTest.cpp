#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace corvane3 {
namespace {

TEST(CommandLineTest, TypeDecidesTheWindowWithoutRegardToCase) {
    struct Case {
        std::string line;
        CommandLineFileKind kind;
        std::string fileName;
        std::string type;
    };
    const Case cases[] = {
        {"", CommandLineFileKind::kNone, "", ""},
        {"\"/data/My Unit1234.CsD\"", CommandLineFileKind::kPlotFile, "/data/My Unit1234.CsD",
         "CsD"},
        {"/data/sweep.css", CommandLineFileKind::kSpectrumFile, "/data/sweep.css", "css"},
        {"notes.txt", CommandLineFileKind::kUnrecognized, "notes.txt", "txt"},
        {"ab", CommandLineFileKind::kUnrecognized, "ab", "ab"},
    };
    for (const Case& c : cases) {
        const CommandLineFile file = ParseCommandLineFile(c.line);
        EXPECT_EQ(file.kind, c.kind) << c.line;
        EXPECT_EQ(file.fileName, c.fileName) << c.line;
        EXPECT_EQ(file.type, c.type) << c.line;
    }
    EXPECT_EQ(UnrecognizedFileTypeMessage("txt"), "Unrecognized file type:  txt");
}

}  // namespace
}  // namespace corvane3
