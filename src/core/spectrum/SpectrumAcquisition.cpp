#include "core/spectrum/SpectrumAcquisition.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "core/base/CLocale.h"
#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/Notification.h"
#include "core/spectrum/DdsWord.h"

namespace corvane3 {

namespace {
constexpr double kMillivoltsPerVolt = 1000.0;
// A point line of the unit's sweep: twelve hexadecimal digits, a comma, six characters of volts.
constexpr std::size_t kPointCommaIndex = 12;
constexpr std::size_t kPointVoltsLength = 6;
constexpr std::size_t kClosingLineMark = 9;  // "Sweep Off", "Sweep End"

// A line in the change log for the sweep: its words are not settings, so a sweep is logged
// once as it starts and once as it ends.
void LogSweep(PollContext& context, const char* code, std::string text) {
    if (context.logChange) {
        context.logChange({code, std::move(text), kFactoryAccessOption, 0, 0}, std::nullopt);
    }
}

void LogSweepEnd(PollContext& context, int pointsRead, const SweepPlan& plan) {
    LogSweep(context, CommandCode(ECommand::kSingleDdsPoint),
             "sweep end: " + std::to_string(pointsRead) + " of " + std::to_string(plan.pointCount) +
                 " points");
}

void Pause(PollContext& context, std::chrono::milliseconds time, bool& stopping) {
    if (context.waitForStop) {
        stopping = context.waitForStop(time);
    } else {
        std::this_thread::sleep_for(time);
    }
}
}  // namespace

double HostReadingVolts(const std::string& reply) {
    const std::size_t first = !reply.empty() && reply[0] == kStx ? 1 : 0;
    const CScopedCLocale numbers;  // the unit sends decimal points
    const double volts = std::strtod(reply.c_str() + first, nullptr);
    return std::isfinite(volts) ? volts : 0.0;
}

std::optional<double> PointLineVolts(const std::string& field) {
    char* end = nullptr;
    const CScopedCLocale numbers;
    const double volts = std::strtod(field.c_str(), &end);
    if (end == field.c_str() || !std::isfinite(volts)) {
        return std::nullopt;
    }
    return volts;
}

CSpectrumAcquisition::CSpectrumAcquisition(CPollingShared& shared, CProgramSettings& settings)
    : shared_(shared), settings_(settings) {
    ResizeLocked(1);
}

void CSpectrumAcquisition::QueueResetPort() {
    QueuedCommand command;
    command.kind = QueuedCommand::EKind::kResetPort;
    queue_.push_back(std::move(command));
}

void CSpectrumAcquisition::QueueSend(std::string code, std::string data, char replyTerminator,
                                     int replyLimit, std::chrono::milliseconds pauseAfter) {
    QueuedCommand command;
    command.code = std::move(code);
    command.data = std::move(data);
    command.replyTerminator = replyTerminator;
    command.replyLimit = replyLimit;
    command.pauseAfter = pauseAfter;
    queue_.push_back(std::move(command));
}

void CSpectrumAcquisition::ResizeLocked(int points) {
    const auto size = static_cast<std::size_t>(std::max(points, 0));
    detuning_.assign(size, 0.0);
    signal_.assign(size, 0.0);
    sum_.assign(size, 0.0);
    average_.assign(size, 0.0);
    plan_.pointCount = static_cast<int>(size);
}

void CSpectrumAcquisition::Open(ESweepMode mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    open_ = true;
    closeQueued_ = false;
    savedPollingEnabled_ = settings_.PollingEnabled;
    ZeemanFrequency = kDefaultZeemanFrequencyHz;
    ++run_;
    running_ = false;
    sweepEnded_ = false;
    plan_ = SweepPlan{};
    ResizeLocked(1);
    pointsAcquired_ = 0;
    completed_ = 0;
    if (mode == ESweepMode::kHost) {
        QueueResetPort();
        QueueSend(CommandCode(ECommand::kSingleDdsPoint), kOpeningDdsWord);
    }
}

bool CSpectrumAcquisition::Start(const SweepParameters& parameters, int ntot) {
    std::lock_guard lock(mutex_);
    if (running_) {
        return false;
    }
    ++run_;
    plan_ = PlanSweep(parameters, ZeemanFrequency);
    const SweepPlan plan = plan_;
    ResizeLocked(plan.pointCount);
    plan_ = plan;
    // Points not (yet) acquired sit at their planned place with no signal.
    for (int i = 0; i < plan.pointCount; ++i) {
        detuning_[static_cast<std::size_t>(i)] = plan.PointHz(i) - plan.centre;
    }
    pointsAcquired_ = 0;
    completed_ = 0;
    ntot_ = ntot;
    sweepEnded_ = false;
    closingLine_.clear();
    running_ = true;
    settings_.PollingEnabled = false;
    QueueResetPort();
    if (mode_ == ESweepMode::kInstrument) {
        QueueSend(CommandCode(ECommand::kDdsSweep), InstrumentSweepArgument(plan));
    }
    shared_.SweepActive = true;
    return true;
}

void CSpectrumAcquisition::Abort() {
    std::lock_guard lock(mutex_);
    if (!running_) {
        return;
    }
    if (mode_ == ESweepMode::kInstrument) {
        QueueSend(CommandCode(ECommand::kDdsSweep), "off");
        return;
    }
    shared_.SweepActive = false;
    ntot_ = 0;
    running_ = false;
}

void CSpectrumAcquisition::SetNtot(int ntot) {
    std::lock_guard lock(mutex_);
    ntot_ = ntot;
}

void CSpectrumAcquisition::SetDds(double hz) {
    std::lock_guard lock(mutex_);
    QueueSend(CommandCode(ECommand::kSingleDdsPoint), FormatDdsWord(HzToDdsWord(hz)));
}

void CSpectrumAcquisition::Halt() {
    std::lock_guard lock(mutex_);
    shared_.SweepActive = false;
    ntot_ = 0;
    running_ = false;
    sweepEnded_ = false;
    ++run_;  // a step still finishing a point files nothing more
}

void CSpectrumAcquisition::Close() {
    Halt();
    std::lock_guard lock(mutex_);
    closeQueued_ = true;
    if (mode_ == ESweepMode::kInstrument) {
        QueueSend(CommandCode(ECommand::kDdsSweep), "off", kEtx, kClosingReplyLimit);
        // The closing line and points already on their way would otherwise lie in front of
        // the next poll's reply.
        QueueResetPort();
    } else {
        QueueSend(CommandCode(ECommand::kTestMode2), "0", kEtx, kClosingReplyLimit, kRebootPause);
    }
    settings_.PollingEnabled = savedPollingEnabled_;
}

void CSpectrumAcquisition::LoadPoints(const std::vector<double>& detuning,
                                      const std::vector<double>& signal) {
    std::lock_guard lock(mutex_);
    shared_.SweepActive = false;
    ++run_;
    running_ = false;
    sweepEnded_ = false;
    const std::size_t n = std::min(detuning.size(), signal.size());
    ResizeLocked(static_cast<int>(n));
    std::copy_n(detuning.begin(), n, detuning_.begin());
    std::copy_n(signal.begin(), n, signal_.begin());
    sum_ = signal_;
    average_ = signal_;
    pointsAcquired_ = static_cast<int>(n);
    completed_ = 1;
    ntot_ = 1;
}

SweepProgress CSpectrumAcquisition::HandleProgress() {
    std::lock_guard lock(mutex_);
    SweepProgress progress;
    if (sweepEnded_) {
        sweepEnded_ = false;
        if (mode_ == ESweepMode::kHost) {
            EndOfHostSweepLocked(progress);
        } else {
            EndOfInstrumentSweepLocked(progress);
        }
    }
    progress.pointsAcquired = std::min(pointsAcquired_, plan_.pointCount);
    progress.step = mode_ == ESweepMode::kHost ? std::max(pointsAcquired_ - 1, 0) : pointsAcquired_;
    progress.completedSweeps = completed_;
    return progress;
}

void CSpectrumAcquisition::EndOfHostSweepLocked(SweepProgress& progress) {
    const double count = completed_ + 1;
    for (std::size_t i = 0; i < signal_.size(); ++i) {
        sum_[i] = completed_ == 0 ? signal_[i] : sum_[i] + signal_[i];
        average_[i] = sum_[i] / count;
    }
    ++completed_;
    progress.sweepCompleted = true;
    progress.rescale = completed_ == 1;
    if (running_ && (completed_ < ntot_ || ntot_ < 0)) {
        shared_.SweepActive = true;  // the polling thread starts the next sweep at once
        return;
    }
    running_ = false;
    progress.runEnded = true;
}

void CSpectrumAcquisition::EndOfInstrumentSweepLocked(SweepProgress& progress) {
    // One "A05" is one sweep: the average is that sweep.
    sum_ = signal_;
    average_ = signal_;
    running_ = false;
    progress.sweepCompleted = true;
    progress.rescale = true;
    progress.runEnded = true;
    progress.closingLine = closingLine_;
    settings_.PollingEnabled = savedPollingEnabled_;
}

SpectrumData CSpectrumAcquisition::Data() const {
    std::lock_guard lock(mutex_);
    SpectrumData data;
    data.plan = plan_;
    data.detuning = detuning_;
    data.signal = signal_;
    data.average = average_;
    data.pointsAcquired = std::min(pointsAcquired_, plan_.pointCount);
    data.completedSweeps = completed_;
    data.ntot = ntot_;
    data.running = running_;
    return data;
}

ESweepMode CSpectrumAcquisition::Mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

bool CSpectrumAcquisition::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void CSpectrumAcquisition::ServeCommands(PollContext& context) {
    while (true) {
        QueuedCommand command;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                // Whatever Close queued has gone out: nothing is left to end.
                if (closeQueued_) {
                    open_ = false;
                    closeQueued_ = false;
                }
                return;
            }
            command = std::move(queue_.front());
            queue_.pop_front();
        }
        if (command.kind == QueuedCommand::EKind::kResetPort) {
            context.port.ResetPort();
            continue;
        }
        if (!context.link.SendCmd(command.code, kFactoryAccessOption, command.data)) {
            continue;
        }
        std::optional<EReplyVerdict> verdict;
        if (command.replyTerminator != 0) {
            std::string reply;
            context.link.GetResponse(reply, command.replyTerminator, command.replyLimit);
            verdict = JudgeReply(reply, command.replyTerminator);
        }
        if (context.logChange) {
            context.logChange(
                {command.code, command.data, kFactoryAccessOption, command.replyLimit, 0}, verdict);
        }
        bool stopping = false;
        if (command.pauseAfter.count() > 0) {
            Pause(context, command.pauseAfter, stopping);
        }
        if (stopping) {
            return;
        }
    }
}

bool CSpectrumAcquisition::SweepStep(PollContext& context) {
    // Commands queued before the flag was set go out first ("A05" before its lines are read).
    ServeCommands(context);
    std::uint64_t run = 0;
    SweepPlan plan;
    ESweepMode mode = ESweepMode::kHost;
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            // Nothing of ours is running: a stale flag.
            shared_.SweepActive = false;
            return false;
        }
        run = run_;
        plan = plan_;
        mode = mode_;
    }
    if (mode == ESweepMode::kHost) {
        HostSweep(context, run, plan);
    } else {
        InstrumentLines(context, run);
    }
    return false;
}

void CSpectrumAcquisition::HostSweep(PollContext& context, std::uint64_t run,
                                     const SweepPlan& plan) {
    CTolvexLink& link = context.link;
    const int every = std::max(plan.pointCount / kMaxNotificationsPerSweep, 1);
    const auto current = [&] {
        std::lock_guard lock(mutex_);
        return run == run_;
    };
    LogSweep(context, CommandCode(ECommand::kSingleDdsPoint),
             "sweep start: " + std::to_string(plan.pointCount) + " points from " +
                 FormatDdsWord(HzToDdsWord(plan.start)) + " to " +
                 FormatDdsWord(HzToDdsWord(plan.PointHz(plan.pointCount - 1))));
    // The first reading after the synthesizer jumped back to the start is not trusted.
    std::string reply;
    link.SendCmd(CommandCode(ECommand::kSingleDdsPoint), kFactoryAccessOption,
                 FormatDdsWord(HzToDdsWord(plan.start)));
    if (link.SendCmd(CommandCode(ECommand::kSingleDdsPoint), kFactoryAccessOption, "?")) {
        link.GetResponse(reply, kEtx, kDdsReadbackLimit);
    }
    int renewed = 0;
    for (int i = 0; i < plan.pointCount && shared_.SweepActive && current(); ++i) {
        const double hz = plan.PointHz(i);
        link.SendCmd(CommandCode(ECommand::kSingleDdsPoint), kFactoryAccessOption,
                     FormatDdsWord(HzToDdsWord(hz)));
        bool stopping = false;
        Pause(context, kDdsSettleTime, stopping);
        if (stopping) {
            LogSweepEnd(context, renewed, plan);
            return;
        }
        reply.clear();
        if (link.SendCmd(CommandCode(ECommand::kSingleDdsPoint), kFactoryAccessOption, "?")) {
            link.GetResponse(reply, kEtx, kDdsReadbackLimit);
        }
        reply.resize(std::min(reply.size(), static_cast<std::size_t>(kDdsReadbackLimit)));
        {
            std::lock_guard lock(mutex_);
            if (run != run_) {
                LogSweepEnd(context, renewed, plan);
                return;
            }
            const auto index = static_cast<std::size_t>(i);
            detuning_[index] = hz - plan.centre;
            signal_[index] = HostReadingVolts(reply) * kMillivoltsPerVolt;
            pointsAcquired_ = i + 1;
        }
        ++renewed;
        if (i % every == 0) {
            context.sink.PostNotification(kNotifySweepProgress);
        }
    }
    LogSweepEnd(context, renewed, plan);
    {
        std::lock_guard lock(mutex_);
        if (run != run_) {
            return;  // a new run has begun: its flag is not ours to clear
        }
        shared_.SweepActive = false;
        // A sweep stopped before its first point has nothing to add to the average.
        sweepEnded_ = renewed > 0;
    }
    context.sink.PostNotification(kNotifySweepProgress);
}

void CSpectrumAcquisition::InstrumentLines(PollContext& context, std::uint64_t run) {
    const auto until = std::chrono::steady_clock::now() + kLineReadingPerStep;
    bool read = false;
    do {
        std::string line;
        context.link.GetResponse(line, kLf, kSweepLineLimit);
        if (line.empty()) {
            break;  // the unit is silent
        }
        read = true;
        std::string closing = line;
        if (AcceptLine(std::move(line), run)) {
            while (!closing.empty() && (closing.back() == kLf || closing.back() == '\r')) {
                closing.pop_back();
            }
            LogSweep(context, CommandCode(ECommand::kDdsSweep), "sweep end: " + closing);
            break;
        }
    } while (std::chrono::steady_clock::now() < until && shared_.SweepActive);
    if (read) {
        context.sink.PostNotification(kNotifySweepProgress);
    }
}

bool CSpectrumAcquisition::AcceptLine(std::string line, std::uint64_t run) {
    if (!line.empty() && line.back() == kLf) {
        line.pop_back();
    }
    // Empty lines and the echo of a command (STX ... ETX) carry no point.
    if (line.empty() || line[0] == kStx || line[0] == kEtx) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (run != run_) {
        return false;
    }
    const std::string mark = line.substr(0, kClosingLineMark);
    if (mark == "Sweep Off" || mark == "Sweep End") {
        closingLine_ = line;
        sweepEnded_ = true;
        shared_.SweepActive = false;
        return true;
    }
    if (line.size() <= kPointCommaIndex || line[kPointCommaIndex] != ',') {
        return false;
    }
    const auto word = ParseDdsWord(std::string_view(line).substr(0, kPointCommaIndex));
    const auto volts = PointLineVolts(line.substr(kPointCommaIndex + 1, kPointVoltsLength));
    // The arrays hold the point count; a garbled line or one beyond the count is dropped.
    if (!word || !volts || pointsAcquired_ >= plan_.pointCount) {
        return false;
    }
    const auto index = static_cast<std::size_t>(pointsAcquired_);
    detuning_[index] = DdsWordToHz(*word) - plan_.centre;
    signal_[index] = *volts * kMillivoltsPerVolt;
    ++pointsAcquired_;
    return false;
}

void CSpectrumAcquisition::InstallHooks(PollingHooks& hooks) {
    hooks.directCommands = [this](PollContext& context) { ServeCommands(context); };
    hooks.sweepStep = [this](PollContext& context) { return SweepStep(context); };
    hooks.closingCommands = [this] { return ClosingCommands(); };
}

std::vector<RelayedCommand> CSpectrumAcquisition::ClosingCommands() const {
    std::lock_guard lock(mutex_);
    if (!open_) {
        return {};
    }
    // As Close sends them.
    if (mode_ == ESweepMode::kInstrument) {
        return {{CommandCode(ECommand::kDdsSweep), kFactoryAccessOption, "off", kEtx,
                 kClosingReplyLimit}};
    }
    return {{CommandCode(ECommand::kTestMode2), kFactoryAccessOption, "0", kEtx,
             kClosingReplyLimit}};
}

}  // namespace corvane3
