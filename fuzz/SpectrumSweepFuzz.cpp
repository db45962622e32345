// Arbitrary replies through both ways of sweeping the synthesizer, over a stand-in port (0xFF is
// a read time-out): host sweeps read the unit's detector after each point, instrument sweeps
// file the lines the unit sends. The window's side is played as the window plays it: a run is
// started, every progress notification handled, and the window closed.
// - Every frame written is well formed, and a host sweep never moves the synthesizer outside
//   the run's planned range.
// - The arrays keep the planned point count; no more points are acquired than planned; points
//   not acquired sit at their planned detuning, and a host sweep's points all lie in the
//   planned range.
// - A host sweep notifies at most about a thousand times, runs no more sweeps than asked for,
//   and is logged as it starts and as it ends; an instrument sweep ends only on the unit's
//   closing line, which is shown as sent without its LF.
// - Closing gives polling back as it was.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "ScriptedPort.h"
#include "core/link/Notification.h"
#include "core/spectrum/DdsWord.h"
#include "core/spectrum/SpectrumAcquisition.h"

using namespace corvane3;

namespace {

// Host sweeps of at most this many steps keep an input's run short (1000 steps).
constexpr std::size_t kHostStepsChoices = 9;
// Sweeps of a host run before the fuzz target stops it.
constexpr int kMaxHostSweeps = 3;
// Instrument sweep steps before the fuzz target stops reading.
constexpr int kMaxInstrumentSteps = 64;

struct CCountingSink : INotificationSink {
    void PostNotification(int code) override { progress += code == kNotifySweepProgress; }
    int progress = 0;
};

// Checks the written frames; returns the DDS words of the "A04" frames, in order.
std::vector<std::uint64_t> WrittenWords(const std::string& written, std::int32_t model) {
    std::vector<std::uint64_t> words;
    const std::string field =
        model == kFactoryAccessModel ? FactoryAccessField() : std::string("00000");
    std::size_t at = 0;
    while (at < written.size()) {
        const std::size_t end = written.find(kEtx, at);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view frame(written.data() + at, end + 1 - at);
        FUZZ_CHECK(frame.size() >= kFrameHeadLength + 1 && frame[0] == kStx);
        FUZZ_CHECK(frame[4] == ' ' && frame.substr(5, kParameterFieldWidth) == field &&
                   frame[10] == ' ');
        const std::string_view code = frame.substr(1, kCodeWidth);
        FUZZ_CHECK(code == "A04" || code == "A05" || code == "A02");
        const std::string_view data = frame.substr(kFrameHeadLength, frame.size() - 12);
        FUZZ_CHECK(data.find(kStx) == std::string_view::npos);
        if (code == "A04" && data != "?") {
            const auto word = ParseDdsWord(data);
            FUZZ_CHECK(word.has_value());
            words.push_back(*word);
        }
        at = end + 1;
    }
    return words;
}

void CheckData(const SpectrumData& data, const SweepParameters& parameters, bool host) {
    const auto points = static_cast<std::size_t>(data.plan.pointCount);
    FUZZ_CHECK(data.plan.pointCount == parameters.pointCount);
    FUZZ_CHECK(data.detuning.size() == points && data.signal.size() == points &&
               data.average.size() == points);
    FUZZ_CHECK(data.pointsAcquired >= 0 && data.pointsAcquired <= data.plan.pointCount);
    const double half = parameters.widthHz / 2.0 + 1e-6;
    for (std::size_t i = host ? 0 : static_cast<std::size_t>(data.pointsAcquired); i < points;
         ++i) {
        FUZZ_CHECK(std::fabs(data.detuning[i]) <= half);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    // The first bytes choose the mode and model, the width, the steps and the number of sweeps.
    const bool host = (data[0] & 1) == 0;
    SweepParameters parameters;
    parameters.centerMf = kCenterChoices[(data[0] >> 1) % kCenterChoices.size()].value;
    parameters.widthHz = kWidthChoices[data[1] % kWidthChoices.size()].value;
    const std::size_t steps = data[2] % (host ? kHostStepsChoices : kStepsChoices.size());
    parameters.pointCount = kStepsChoices[steps].value + 1;
    const int ntot = kNtotChoices[data[3] % kNtotChoices.size()].value;

    CCountingSink sink;
    CLinkStatus status;
    fuzz::CScriptedPort port(status,
                             std::string_view(reinterpret_cast<const char*>(data) + 4, size - 4));
    CUnitState unit;
    unit.InstrumentModel = (data[0] & 0x80) != 0 ? kModelChronoBeam : kModelTq9000;
    CTolvexLink link(port, unit.InstrumentModel);
    CPollingShared shared;
    CProgramSettings settings;
    settings.PollingEnabled = true;
    int sweepStarts = 0, sweepEnds = 0;
    PollContext context{port,
                        link,
                        unit,
                        status,
                        shared,
                        sink,
                        [](std::chrono::milliseconds) { return false; },
                        [&](const MailboxCommand& command, std::optional<EReplyVerdict>) {
                            sweepStarts += command.data.starts_with("sweep start");
                            sweepEnds += command.data.starts_with("sweep end");
                        }};
    CSpectrumAcquisition spectrum(shared, settings);
    spectrum.Open(host ? ESweepMode::kHost : ESweepMode::kInstrument);
    spectrum.ServeCommands(context);
    FUZZ_CHECK(spectrum.Start(parameters, ntot));
    const SweepPlan plan = spectrum.Data().plan;
    FUZZ_CHECK(!settings.PollingEnabled);

    int completed = 0;
    bool ended = false;
    for (int step = 0; step < (host ? kMaxHostSweeps : kMaxInstrumentSteps) && !ended; ++step) {
        if (!shared.SweepActive) {
            break;
        }
        const int before = sink.progress;
        spectrum.SweepStep(context);
        if (host) {
            FUZZ_CHECK(sink.progress - before <= kMaxNotificationsPerSweep + 2);
        }
        const SweepProgress progress = spectrum.HandleProgress();
        FUZZ_CHECK(progress.pointsAcquired <= plan.pointCount);
        FUZZ_CHECK(progress.closingLine.find('\n') == std::string::npos);
        if (progress.sweepCompleted) {
            completed = progress.completedSweeps;
        }
        if (progress.runEnded) {
            ended = true;
            if (!host) {
                const std::string mark = progress.closingLine.substr(0, 9);
                FUZZ_CHECK(mark == "Sweep Off" || mark == "Sweep End");
                FUZZ_CHECK(settings.PollingEnabled);
            }
        }
        // A copy of an instrument sweep's arrays (up to 100001 points) at every step would
        // make up most of the time; its points are checked once the reading ends.
        if (host || ended) {
            CheckData(spectrum.Data(), parameters, host);
        }
        if (!host && port.Exhausted()) {
            break;  // nothing more comes
        }
    }
    if (host) {
        FUZZ_CHECK(ntot < 0 || completed <= ntot);
        FUZZ_CHECK(sweepStarts == sweepEnds);
        FUZZ_CHECK(sweepStarts == completed);
    }
    spectrum.Abort();
    spectrum.Close();
    spectrum.ServeCommands(context);
    FUZZ_CHECK(settings.PollingEnabled);
    CheckData(spectrum.Data(), parameters, host);

    const std::vector<std::uint64_t> words = WrittenWords(port.Written(), unit.InstrumentModel);
    if (host) {
        // The opening word, then the run's words only.
        FUZZ_CHECK(!words.empty() && FormatDdsWord(words[0]) == kOpeningDdsWord);
        const std::uint64_t first = HzToDdsWord(plan.start);
        const std::uint64_t last = HzToDdsWord(plan.PointHz(plan.pointCount - 1));
        for (std::size_t i = 1; i < words.size(); ++i) {
            FUZZ_CHECK(words[i] >= first && words[i] <= last);
        }
    }
    return 0;
}
