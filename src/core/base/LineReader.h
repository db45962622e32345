#pragma once
// Reads the lines of a text file one at a time, with a bound on a line's length, so that a file
// without line ends (a sparse file, NULs) never makes the reader hold more than the bound.
// Lines end in LF, CR LF or CR alike; the line end is not part of the line.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace corvane3 {

class CLineReader {
  public:
    enum class ENext {
        kLine,     // line holds the next line
        kEnd,      // no more lines
        kTooLong,  // the next line is longer than the bound; reading stops here
        kError,    // a read failed (errno says why)
    };

    // Reads fd, which stays the caller's, from its current offset.
    CLineReader(int fd, std::size_t maxLineBytes);

    ENext Next(std::string& line);
    // Lines returned so far (the number of the last one, from 1).
    int LineNumber() const { return lineNumber_; }

  private:
    bool Fill();

    int fd_;
    std::size_t maxLineBytes_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    bool skipLf_ = false;  // the last line ended in CR: an LF right after it belongs to it
    int lineNumber_ = 0;
};

// Calls visit for each line of the file at path, lines of at most maxLineBytes, until visit
// returns false or a line is too long. The file is open close-on-exec meanwhile: a program
// another thread starts does not inherit it. False when it cannot be opened.
bool ReadLinesOf(const std::string& path, std::size_t maxLineBytes,
                 const std::function<bool(const std::string& line)>& visit);

}  // namespace corvane3
