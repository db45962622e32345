#pragma once
// The steps the polling thread runs against the instrument: identification when the unit comes
// online, the status poll, the one-shot queries that windows request, and the search for an
// instrument whose port and line settings are unknown. Each announces itself in the Link status
// text ("D1...", "D1...OK", ...). All run on the polling thread with the port's exchange lock held.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/base/Mjd.h"
#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/LinkStatus.h"
#include "core/link/Notification.h"
#include "core/link/TolvexLink.h"
#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"

namespace corvane3 {

// Everything a step works on. All references outlive the steps.
struct PollContext {
    CSerialPort& port;
    CTolvexLink& link;
    CUnitState& unit;
    CLinkStatus& status;
    CPollingShared& shared;
    INotificationSink& sink;
    // Pauses the thread for up to the given time, ending early when the thread is asked to stop
    // (then true). Empty: no pause.
    std::function<bool(std::chrono::milliseconds)> waitForStop;
    // Writes a change the thread makes outside the mailbox (the serial reconfiguration, the end
    // of a test, a sweep's start and end) to the change log; nullopt: no reply was read. Empty:
    // nothing is logged.
    std::function<void(const MailboxCommand&, std::optional<EReplyVerdict>)> logChange;
};

// Lists the ports the search tries, in order.
using PortLister = std::function<std::vector<std::string>()>;
// The serial ports of this machine followed by the configured port when it is not among them
// (a USB adapter with another name, a pseudo-terminal).
std::vector<std::string> DefaultPortList(const CSerialPort& port);

class CQuerySteps {
  public:
    explicit CQuerySteps(PollContext context) : c_(context) {}

    // "Version..." (C03) and, on a Tq9000, "DCC Version..." (B21).
    bool Identification();
    // D*1, D*2, D*5, B20, outlier counts and the unit's date and time, as the model has them,
    // each only while all before succeeded; "Ready" or "Error" (then the port is reset).
    bool PollStep();
    bool EventLog();
    bool FactoryEventLog();
    bool DccTelecom();
    bool TimeOfDay();
    bool Ethernet();
    bool DateAndTime();
    bool SecurityCheck();
    // Tries line settings on every listed port until the unit answers or keepSearching()
    // turns false. Posts 19 before each attempt, then 20 (found) or 21 (not found).
    bool AutoDetect(const PortLister& listPorts, const std::function<bool()>& keepSearching);

    // One attempt of the search: the settings, notification 19, a port reset and the
    // identity poll. Its result becomes the Online flag.
    bool Attempt(const SerialLineSettings& settings);

  private:
    void Status(const std::string& stepLine) { c_.status.SetStepProgress(stepLine); }
    void Status(ELinkState state) { c_.status.SetLinkStatus(state); }
    // SendCmd, then GetResponse with ETX into reply, as much as the command's reply limit.
    bool Exchange(ECommand command, std::uint32_t parameter, const char* data, std::string& reply);
    bool ReadEventLog(ECommand command, std::uint32_t parameter, std::string QueryResults::*log);

    PollContext c_;
};

}  // namespace corvane3
