#include "core/poll/PollingThread.h"

#include "core/base/CLocale.h"
#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/StatusRecords.h"

namespace corvane3 {

namespace {
// The running tests' bits and the commands that end them, in the order they are ended.
constexpr std::pair<std::uint32_t, ECommand> kDiagnosticsTests[] = {
    {kDiagnosticsA01, ECommand::kTestMode1},
    {kDiagnosticsA02, ECommand::kTestMode2},
    {kDiagnosticsA03, ECommand::kTestMode3}};
}  // namespace

bool CPollSchedule::TakeDue(Clock::time_point now, std::chrono::seconds interval) {
    if (!lastDue_) {
        lastDue_ = now;
        return true;
    }
    const Clock::time_point due = *lastDue_ + interval;
    if (now < due) {
        return false;
    }
    lastDue_ = now - due < interval ? due : now;
    return true;
}

long long CPollSchedule::SecondsLeft(Clock::time_point now, std::chrono::seconds interval) const {
    if (!lastDue_ || now >= *lastDue_ + interval) {
        return 0;
    }
    return std::chrono::ceil<std::chrono::seconds>(*lastDue_ + interval - now).count();
}

CPollingThread::CPollingThread(CSerialPort& port, CUnitState& unit, CLinkStatus& status,
                               CPollingShared& shared, const CProgramSettings& settings,
                               INotificationSink& sink, PollingHooks hooks)
    : port_(port),
      unit_(unit),
      status_(status),
      shared_(shared),
      settings_(settings),
      sink_(sink),
      hooks_(std::move(hooks)) {
    if (!hooks_.listPorts) {
        hooks_.listPorts = [this] { return DefaultPortList(port_); };
    }
}

CPollingThread::~CPollingThread() {
    if (thread_.joinable()) {
        stopEvent_.Set();
        thread_.join();
    }
}

void CPollingThread::StartBackgroundThread() {
    if (thread_.joinable()) {
        return;
    }
    finished_ = false;
    thread_ = std::thread([this] { Run(); });
}

bool CPollingThread::StopBackgroundThread() {
    if (!thread_.joinable()) {
        return true;
    }
    stopEvent_.Set();
    for (int look = 0; look < kStopLooks && !finished_; ++look) {
        std::this_thread::sleep_for(kStopLookPeriod);
    }
    if (!finished_) {
        return false;
    }
    thread_.join();
    return true;
}

bool CPollingThread::PauseUnlessStopped(std::chrono::milliseconds time) {
    if (ending_) {
        return true;
    }
    if (!stopEvent_.WaitFor(time)) {
        return false;
    }
    stopEvent_.Set();  // the pass loop still has to see the request
    return true;
}

void CPollingThread::Run() {
    // Everything this thread reads from the unit and writes has decimal points.
    const CScopedCLocale numbers;
    schedule_ = CPollSchedule();
    failureCount_ = 0;
    ending_ = false;
    diagnosticLine_.clear();
    {
        std::lock_guard exchange(port_.ExchangeMutex());
        link_ = hooks_.relay != nullptr
                    ? std::make_unique<CTolvexLink>(port_, unit_.InstrumentModel, *hooks_.relay)
                    : std::make_unique<CTolvexLink>(port_, unit_.InstrumentModel);
        context_ = std::make_unique<PollContext>(
            PollContext{port_, *link_, unit_, status_, shared_, sink_,
                        [this](std::chrono::milliseconds time) { return PauseUnlessStopped(time); },
                        [this](const MailboxCommand& command, ChangeOutcome outcome) {
                            LogChange(command, outcome);
                        }});
        steps_ = std::make_unique<CQuerySteps>(*context_);
        // Attached, the service has set the unit up for remote operation.
        if (hooks_.relay == nullptr) {
            SetUpRemoteOperation();
        }
    }
    while (true) {
        int code = 0;
        {
            std::lock_guard exchange(port_.ExchangeMutex());
            Pass(code);
        }
        if (code != 0) {
            sink_.PostNotification(code);
        }
        if (stopEvent_.WaitFor(std::chrono::milliseconds(kPassPeriodMs))) {
            break;
        }
    }
    {
        std::lock_guard exchange(port_.ExchangeMutex());
        SendWhatWindowsHandedOver();
    }
    steps_.reset();
    context_.reset();
    link_.reset();
    finished_ = true;
}

void CPollingThread::SetUpRemoteOperation() {
    port_.ResetPort();
    // No debug messages from the unit, then remote operation on.
    // A port that did not open is left to the link-down passes, which retry it at their
    // own pace; each write here would only reopen it again.
    std::string reply;
    if (port_.IsOpen() && link_->SendCmd(CommandCode(ECommand::kSetResponseMode), 0, "0")) {
        link_->GetResponse(reply, kEtx, kOrdinaryReplyLimit);
    }
    shared_.Response.Set(reply);
    if (port_.IsOpen()) {
        link_->SendCmd(CommandCode(ECommand::kRemoteOn), 0, "");
    }
}

void CPollingThread::Pass(int& code) {
    if (hooks_.relay != nullptr) {
        // The service owns the port: nothing here searches or resets it.
        shared_.AutoDetect = false;
        shared_.PortReset = false;
        UpdateServiceHolds();
    }
    if (shared_.AutoDetect) {
        steps_->AutoDetect(hooks_.listPorts,
                           [this] { return shared_.AutoDetect.load() && !stopEvent_.IsSet(); });
        shared_.AutoDetect = false;
    }
    if (hooks_.directCommands) {
        hooks_.directCommands(*context_);
    }
    if (shared_.SweepActive) {
        if (!hooks_.sweepStep) {
            shared_.SweepActive = false;  // nothing in this program sweeps
        } else if (hooks_.sweepStep(*context_)) {
            shared_.SweepActive = false;
            sink_.PostNotification(kNotifySweepProgress);
        }
    }
    // The program is ending: no poll or query is begun, and the last exchanges come sooner.
    if (stopEvent_.IsSet()) {
        return;
    }
    if (hooks_.relay != nullptr) {
        // The service polls and checks the unit; its link states set the Online flag.
        if (!unit_.Online) {
            WithdrawUnsendableCommand(code);
        } else if (shared_.mailbox.IsPending()) {
            ServeMailbox(code);
        } else if (shared_.DiagnosticsMode != 0) {
            ListenForDiagnostics(code);
        } else {
            RunRequest(code);
        }
        link_->FlushHeldCommand();
        return;
    }
    if (shared_.PortReset.exchange(false)) {
        port_.ResetPort();
        unit_.Online = false;
    }
    if (!unit_.Online) {
        IdentityPoll();
        if (!unit_.Online) {
            WithdrawUnsendableCommand(code);
        }
        return;
    }
    if (shared_.mailbox.IsPending()) {
        ServeMailbox(code);
    } else if (shared_.DiagnosticsMode != 0) {
        ListenForDiagnostics(code);
    } else if (!RunRequest(code)) {
        PollIfDue(code);
    }
}

void CPollingThread::IdentityPoll() {
    // While the port cannot be opened every write would try to reopen it at once, and the
    // status lines would race by; the port is tried again at the fifth failure below.
    bool online = false;
    if (port_.IsOpen()) {
        link_->SendCmd(CommandCode(ECommand::kRemoteOn), 0, "");
        online = CheckIdentity(*link_, unit_);
    }
    unit_.Online = online;
    if (online) {
        status_.SetLinkStatus(ELinkState::kUnitOnline);
        steps_->Identification();
        return;
    }
    if (failureCount_ >= kFailuresBeforeReset) {
        status_.SetLinkStatus(ELinkState::kResetting);
        port_.ResetPort();
        failureCount_ = 0;
    } else {
        status_.SetLinkStatus(ELinkState::kUnitNotResponding);
        ++failureCount_;
    }
}

void CPollingThread::WithdrawUnsendableCommand(int& code) {
    // Only called in passes that cannot send: a command waiting behind a long exchange while
    // the unit answers is sent as soon as that exchange is over.
    if (shared_.mailbox.WithdrawIfOlderThan(kCommandSendLimit)) {
        code = kNotifyCommandWithdrawn;
    }
}

void CPollingThread::ServeMailbox(int& code) {
    MailboxCommand command;
    if (!shared_.mailbox.TakePending(command)) {
        return;
    }
    shared_.Response.Set("");
    shared_.CommandReply.Set("");
    std::string reply;
    bool ok = link_->SendCmd(command.code, command.parameter, command.data);
    if (ok) {
        status_.SetLinkStatus(ELinkState::kCommandSent);
        ok = link_->GetResponse(reply, kEtx, command.replyLimit);
        shared_.Response.Set(reply);
        shared_.CommandReply.Set(reply);
        shared_.mailbox.CommandAccepted = !IsRefusal(reply);
    } else if (hooks_.relay == nullptr) {
        unit_.Online = false;
        status_.SetLinkStatus(ELinkState::kSendFailed);
    }
    if (ok) {
        code = command.notificationCode;
    } else if (hooks_.relay == nullptr) {
        status_.SetLinkStatus(ELinkState::kReceiveFailed);
        shared_.PortReset = true;
    }
    // Logged before the mailbox is freed: a sender that sees its command done finds it logged.
    LogChange(command, JudgeReply(reply));
    shared_.mailbox.Finish();
}

void CPollingThread::LogChange(const MailboxCommand& command, ChangeOutcome outcome) {
    // Attached, the service logs every change with the user it came from.
    if (hooks_.relay != nullptr) {
        return;
    }
    // The identity check that brought the link up has read the serial number from D*2.
    if (!changeLog_.Record(command, outcome, unit_.Snapshot().d2.serialNumber,
                           unit_.InstrumentModel)) {
        sink_.PostNotification(kNotifyChangeLogFailed);
    }
}

void CPollingThread::SendWhatWindowsHandedOver() {
    // The windows have closed and nothing follows: the unit is left as a normal close leaves
    // it, the spectrum window's closing commands first, then the end of the tests, whether or
    // not their window asked for it. A unit that does not answer costs one read time-out per
    // command; nothing is retried.
    ending_ = true;
    if (hooks_.directCommands) {
        hooks_.directCommands(*context_);
    }
    if (shared_.DiagnosticsMode != 0) {
        EndDiagnosticsTests();
    }
    if (hooks_.relay != nullptr) {
        link_->FlushHeldCommand();
        UpdateServiceHolds();
    }
}

std::vector<RelayedCommand> CPollingThread::ClosingCommandsNow() const {
    std::vector<RelayedCommand> commands;
    if (hooks_.closingCommands) {
        commands = hooks_.closingCommands();
    }
    const std::uint32_t mode = shared_.DiagnosticsMode;
    for (const auto& [bit, test] : kDiagnosticsTests) {
        if (mode & bit) {
            commands.push_back(
                {CommandCode(test), kFactoryAccessOption, "0", kLf, kOrdinaryReplyLimit});
        }
    }
    return commands;
}

void CPollingThread::UpdateServiceHolds() {
    // As the thread's own polls stop while a sweep runs, the service's pause.
    const bool hold = shared_.SweepActive;
    std::string problem;
    if (hold != pollsHeld_) {
        if (hooks_.relay->HoldPolls(hold, problem)) {
            pollsHeld_ = hold;
        } else if (hold) {
            // Another client sweeps: this sweep does not begin, and the user is told why.
            shared_.SweepActive = false;
            status_.SetStepProgress(problem);
        }
    }
    // Registered before the commands that begin the state go out.
    std::vector<RelayedCommand> closing = ClosingCommandsNow();
    if (closing != registeredClosing_ && hooks_.relay->RegisterClosing(closing, problem)) {
        registeredClosing_ = std::move(closing);
    }
}

void CPollingThread::EndDiagnosticsTests() {
    const std::uint32_t mode = shared_.DiagnosticsMode;
    for (const auto& [bit, test] : kDiagnosticsTests) {
        const char* const testCode = CommandCode(test);
        if (mode & bit) {
            std::string reply;
            if (link_->SendCmd(testCode, kFactoryAccessOption, "0")) {
                link_->GetResponse(reply, kLf, kOrdinaryReplyLimit);
            }
            shared_.Response.Set(reply);
            LogChange({.code = testCode,
                       .data = "0",
                       .parameter = kFactoryAccessOption,
                       .replyLimit = kOrdinaryReplyLimit},
                      JudgeReply(reply, kLf));
        }
    }
    shared_.DiagnosticsMode = 0;
    port_.ResetPort();
}

void CPollingThread::ListenForDiagnostics(int& code) {
    if (shared_.DiagnosticsMode & kDiagnosticsEnd) {
        EndDiagnosticsTests();
        return;
    }
    // Bytes are read one at a time as long as they keep coming, up to the end of the line:
    // a unit that prints faster than one byte a pass would otherwise fall further and further
    // behind, and a command reply would drown in the backlog.
    if (hooks_.relay != nullptr) {
        // The service reads up to the end of the line, one read per pass between its polls;
        // a read that timed out leaves the start of the line here.
        std::string piece;
        const bool whole = link_->GetResponse(
            piece, kLf, static_cast<int>(kDiagnosticLineLimit - diagnosticLine_.size()));
        diagnosticLine_ += piece;
        if (!diagnosticLine_.empty() &&
            (whole || diagnosticLine_.size() >= kDiagnosticLineLimit)) {
            status_.SetLinkStatus(ELinkState::kResponseReceived);
            shared_.Response.Set(diagnosticLine_);
            diagnosticLine_.clear();
            code = kNotifyDiagnosticLine;
        }
        return;
    }
    std::string byte;
    while (port_.ReadBytes(1, byte)) {
        diagnosticLine_ += byte;
        // A line ends at LF; one that fills the buffer is handed on as it is.
        if (byte[0] == kLf || diagnosticLine_.size() >= kDiagnosticLineLimit) {
            status_.SetLinkStatus(ELinkState::kResponseReceived);
            shared_.Response.Set(diagnosticLine_);
            diagnosticLine_.clear();
            code = kNotifyDiagnosticLine;
            return;
        }
    }
}

bool CPollingThread::RunRequest(int& code) {
    struct Entry {
        ERequest request;
        int notification;
    };
    static constexpr Entry kTable[] = {
        {ERequest::kEventLog, kNotifyEventLogFetched},
        {ERequest::kFactoryEventLog, kNotifyFactoryEventLogFetched},
        {ERequest::kDateAndTime, kNotifyUnitDateTimeFetched},
        {ERequest::kDccTelecom, kNotifyTelecomFetched},
        {ERequest::kTimeOfDay, kNotifyTimeOfDayFetched},
        {ERequest::kEthernet, kNotifyEthernetFetched},
        {ERequest::kSerialReconfiguration, 0},
        {ERequest::kSecurityCheck, 0},
    };
    for (const Entry& entry : kTable) {
        if (!shared_.IsRequested(entry.request)) {
            continue;
        }
        // The security check's flag stays set while it runs, so a window can wait on it.
        if (entry.request != ERequest::kSecurityCheck) {
            shared_.ClearRequest(entry.request);
        }
        bool ok = false;
        switch (entry.request) {
            case ERequest::kEventLog:
                ok = steps_->EventLog();
                break;
            case ERequest::kFactoryEventLog:
                ok = steps_->FactoryEventLog();
                break;
            case ERequest::kDateAndTime:
                ok = steps_->DateAndTime();
                break;
            case ERequest::kDccTelecom:
                ok = steps_->DccTelecom();
                break;
            case ERequest::kTimeOfDay:
                ok = steps_->TimeOfDay();
                break;
            case ERequest::kEthernet:
                ok = steps_->Ethernet();
                break;
            case ERequest::kSerialReconfiguration:
                if (hooks_.reconfigureSerial) {
                    hooks_.reconfigureSerial(*context_);
                }
                break;
            case ERequest::kSecurityCheck:
                steps_->SecurityCheck();
                shared_.ClearRequest(entry.request);
                break;
            case ERequest::kCount:
                break;
        }
        if (ok) {
            code = entry.notification;
        }
        return true;
    }
    return false;
}

void CPollingThread::PollIfDue(int& code) {
    if (!settings_.PollingEnabled || (hooks_.pollsHeld && hooks_.pollsHeld())) {
        return;
    }
    const std::chrono::seconds interval(settings_.PollingInterval);
    const auto now = CPollSchedule::Clock::now();
    if (schedule_.TakeDue(now, interval)) {
        if (steps_->PollStep()) {
            unit_.PostRecord();
            code = kNotifyStatusRecord;
        } else {
            unit_.Online = false;
        }
        return;
    }
    status_.SetCountdown(schedule_.SecondsLeft(now, interval));
}

}  // namespace corvane3
