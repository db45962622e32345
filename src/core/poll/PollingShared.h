#pragma once
// What the user interface and the polling thread hand each other besides the Unit state: the
// Command mailbox, the Request flags and one-shot flags, the Diagnostics mode word, the Response
// buffer and the settings records the query steps fill.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/base/Guarded.h"
#include "core/poll/CommandMailbox.h"

namespace corvane3 {

// One-shot queries a window asks for; the thread runs the first one set, in this order, one per
// pass.
enum class ERequest : std::size_t {
    kEventLog,
    kFactoryEventLog,
    kDateAndTime,
    kDccTelecom,
    kTimeOfDay,
    kEthernet,
    kSerialReconfiguration,
    kSecurityCheck,
    kCount,
};

// Bits of the Diagnostics mode word: the tests A01, A02, A03 running, and the request to end them.
enum EDiagnosticsBits : std::uint32_t {
    kDiagnosticsA01 = 0x01,
    kDiagnosticsA02 = 0x02,
    kDiagnosticsA03 = 0x04,
    kDiagnosticsEnd = 0x80,
};

struct DccTelecomSettings {
    bool t1Present = false;
    std::int32_t t1Framing = 0;  // 0 when the unit reports "ES", else 1
    std::int32_t t1Ssm = 0;      // 0 "SSM", 1 "MUT", 2 anything else
    bool e1Present = false;
    bool e1FlagA = false;
    bool e1FlagB = false;
    std::int32_t e1Mute = 0;  // 0 when "MUT", else 1
    std::int32_t e1Number = 0;
};

struct EthernetSettings {
    std::int32_t ethernetEnable = 0;
    std::int32_t dhcpEnable = 0;
    std::array<std::int32_t, 4> ipAddress{};
    std::array<std::int32_t, 4> netmask{};
    std::array<std::int32_t, 4> gateway{};
    std::int32_t number1 = 0;  // from B33
    std::string text1;
    std::int32_t number2 = 0;  // from B34
    std::string text2;
};

// Results of the query steps, copied out by the dialogs that show them.
struct QueryResults {
    DccTelecomSettings telecom;
    std::uint32_t dccTime = 0;  // seconds since 1970-01-01 00:00:00 UTC
    EthernetSettings ethernet;
    std::string eventLog;
    std::string factoryEventLog;
};

// A text shared between the threads; readers take a copy.
class CSharedText {
  public:
    void Set(std::string text) {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

class CPollingShared {
  public:
    CCommandMailbox mailbox;

    // Request flags: a window sets one, the thread clears it and runs the step.
    void SetRequest(ERequest request) { requests_[Index(request)].store(true); }
    void ClearRequest(ERequest request) { requests_[Index(request)].store(false); }
    bool IsRequested(ERequest request) const { return requests_[Index(request)].load(); }

    std::atomic<bool> AutoDetect{false};
    std::atomic<bool> SweepActive{false};
    std::atomic<bool> PortReset{false};
    std::atomic<bool> SecurityStatus{false};  // user security enabled on the unit
    std::atomic<std::uint32_t> DiagnosticsMode{0};
    // The parameter (password or Factory access option) for the serial reconfiguration command;
    // written before its Request flag is set, taken (and reset to 0) by the thread.
    std::atomic<std::uint32_t> SerialReconfigurationParameter{0};

    // Every reply read for the user interface, starting with its STX.
    CSharedText Response;
    // The reply to the last mailbox command. Response is overwritten by the next poll, often
    // before the window that asked for the command has handled its notification.
    CSharedText CommandReply;

    // Results of the query steps, copied out by the dialogs that show them.
    CGuarded<QueryResults> Results;

  private:
    static constexpr std::size_t Index(ERequest request) {
        return static_cast<std::size_t>(request);
    }

    std::array<std::atomic<bool>, static_cast<std::size_t>(ERequest::kCount)> requests_{};
};

}  // namespace corvane3
