#pragma once
// Shared by the fuzz targets that drive the program's exchanges: a stand-in serial port that
// hands out the fuzzer's bytes as the unit's replies and keeps what the program wrote.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/link/SerialPort.h"
#include "core/poll/QuerySteps.h"

namespace corvane3::fuzz {

// A byte of the script that stands for a read time-out instead of a byte received.
inline constexpr unsigned char kTimeOut = 0xFF;
// A byte of the script that ends what one port reset may read: a reset skips to just after the
// next one (when something was read since the last reset), as a real reset drains what the
// unit sent before.
inline constexpr unsigned char kNextReset = 0xFE;

class CScriptedPort : public CSerialPort {
  public:
    // With splitAtResets false, kNextReset is an ordinary byte and resets skip nothing.
    CScriptedPort(CLinkStatus& status, std::string_view bytes, bool splitAtResets = false)
        : CSerialPort(status), bytes_(bytes), splitAtResets_(splitAtResets) {}

    bool ReadBytes(std::size_t count, std::string& out) override {
        out.clear();
        while (out.size() < count && at_ < bytes_.size()) {
            const char byte = bytes_[at_];
            if (splitAtResets_ && static_cast<unsigned char>(byte) == kNextReset) {
                return false;  // nothing more until the next reset
            }
            ++at_;
            if (static_cast<unsigned char>(byte) == kTimeOut) {
                return false;
            }
            out += byte;
            readSinceReset_ += byte;
        }
        return out.size() == count;
    }
    bool WriteBytes(std::string_view bytes) override {
        written_.append(bytes);
        return true;
    }
    bool ResetPort() override {
        ++resets_;
        if (splitAtResets_ && resets_ > 1) {
            const std::size_t mark = bytes_.find(static_cast<char>(kNextReset), at_);
            at_ = mark == std::string_view::npos ? bytes_.size() : mark + 1;
        }
        readSinceReset_.clear();
        return true;
    }

    bool Exhausted() const { return at_ >= bytes_.size(); }
    // Everything the program wrote, frames one after another.
    const std::string& Written() const { return written_; }
    // The bytes handed out since the last reset.
    const std::string& ReadSinceReset() const { return readSinceReset_; }
    int Resets() const { return resets_; }

  private:
    std::string_view bytes_;
    bool splitAtResets_;
    std::size_t at_ = 0;
    std::string written_;
    std::string readSinceReset_;
    int resets_ = 0;
};

struct CIgnoredSink : INotificationSink {
    void PostNotification(int) override {}
};

}  // namespace corvane3::fuzz
