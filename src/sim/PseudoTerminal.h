#pragma once
// A pseudo-terminal pair: this process holds the master side, a program under test opens the
// slave path as if it were a serial port.

#include <chrono>
#include <string>
#include <string_view>

namespace corvane3 {

class CPseudoTerminal {
  public:
    // Opens a new pair; IsOpen() tells whether that worked.
    CPseudoTerminal();
    ~CPseudoTerminal();
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    bool IsOpen() const { return master_ >= 0; }
    // Path of the slave side, for example /dev/pts/4.
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    // Writes all bytes to the master side (the slave reads them). False on error.
    bool Write(std::string_view bytes);
    // Reads what the slave side wrote: waits up to timeout for the first byte, then returns
    // everything that arrives without a gap of gap. Empty on time-out or when closed.
    std::string Read(std::chrono::milliseconds timeout,
                     std::chrono::milliseconds gap = std::chrono::milliseconds(50));
    // Reads until at least count bytes arrived or timeout passed.
    std::string ReadCount(std::size_t count, std::chrono::milliseconds timeout);
    // Closes the master: the slave's reads see end of file and its writes fail.
    void Close();

  private:
    int master_ = -1;
    // Kept open so that the pair survives while no client has the slave open.
    int slaveKeeper_ = -1;
    std::string slavePath_;
};

}  // namespace corvane3
