#pragma once
// What a program of the user's writes, cut into lines for this program's own output: a line
// without its end is ended, control characters cannot forge journal lines or priorities, and
// at most a bounded number of bytes is passed on per run, the rest counted and said.
//
// No I/O. One thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3 {

class CProgramOutput {
  public:
    explicit CProgramOutput(std::size_t limit) : limit_(limit) {}
    // The whole lines the bytes complete.
    std::vector<std::string> Add(std::string_view bytes);
    // The program ended: its unfinished last line and, when output was cut, how much was.
    std::vector<std::string> End();

  private:
    std::size_t limit_;
    std::size_t passed_ = 0;
    std::size_t cut_ = 0;
    std::string line_;
};

}  // namespace corvane3
