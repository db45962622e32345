// A real SIGTERM, SIGINT or SIGHUP while a window has the unit in a temporary state: the
// program's handlers close the windows, and before the polling thread ends the unit has received
// what closing that window sends, once, and the change log says so.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "core/plot/PlotCacheFormat.h"
#include "core/program/TerminationSignals.h"
#include "gui/mainwin/MainMenus.h"
#include "gui/mainwin/TerminationClose.h"
#include "gui/plot/PlotDlg.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "support/CacheHome.h"
#include "support/ModalScript.h"
#include "support/SimFrames.h"
#include "support/SimWindowRig.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;
using testing::SentFields;

constexpr int kLongWaitMs = 60000;
// Readings of a host sweep, or points of an instrument sweep, that show the sweep is under way.
constexpr int kPointsUnderWay = 3;

enum class ESituation {
    kHostSweep,
    kAfterHostSweep,
    kInstrumentSweep,
    kTest1,
    kSilentHostSweep,
    kClosingQuestion,  // host sweep, Exit chosen: "This will reboot CFS." waits for an answer
    kArbitraryDds,     // instrument sweep, its "Arbitrary DDS Setting" dialog open
    kPlotLoading,      // host sweep, the plot window reading a long file (its progress shows)
    kPlotLoadingInMemory,  // as kPlotLoading, the file read into memory rather than a cache
};

struct Row {
    const char* name;
    ESituation situation;
    int signal;
    friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

// The program's handlers for the test's duration; afterwards the signals act as before.
class ProgramHandlers {
  public:
    ProgramHandlers() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], nullptr, &previous_[i]);
        }
        InstallTerminationHandlers();
    }
    ~ProgramHandlers() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
        TerminationRequested() = false;
        TerminationUnderway() = false;
    }

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous_[std::size(kSignals)] = {};
};

// The modal window on screen, if any.
QWidget* ShownModal() {
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr && modal->isVisible() ? modal : nullptr;
}
// A step's condition: a window of this title shows (modal, or any top-level one).
std::function<bool()> Showing(const char* title, bool modal = true) {
    return [title, modal] {
        return std::ranges::any_of(QApplication::topLevelWidgets(), [&](const QWidget* window) {
            return window->isVisible() && window->windowTitle() == title &&
                   (!modal || window == ShownModal());
        });
    };
}

class TerminationWithSimTest : public testing::WidgetTest,
                               public ::testing::WithParamInterface<Row> {};

TEST_P(TerminationWithSimTest, TheUnitReceivesWhatClosingSendsBeforeTheProgramEnds) {
    const Row& row = GetParam();
    const bool instrument = row.situation == ESituation::kInstrumentSweep ||
                            row.situation == ESituation::kArbitraryDds;
    testing::SimWindowRig rig(
        testing::ModelOptions(kModelTq9000, instrument),
        [instrument](const Corvane3App& app) {
            return app.unitState.Snapshot().instrumentSweep == instrument;
        },
        true);
    ASSERT_TRUE(rig.online);
    CMainStatusDlg& main = *rig.window;
    sim::CSimulatorServer& sim = rig.Sim();
    const auto spectrumShown = [&main] {
        return main.OpenSpectrumWindow() != nullptr && main.OpenSpectrumWindow()->isVisible();
    };
    const auto startSweep = [&main](const char* steps) {
        main.OpenSpectrumWindow()->StepsList()->setCurrentText(QString::fromLatin1(steps));
        main.OpenSpectrumWindow()->GoButton()->click();
    };
    const auto readings = [&sim] { return std::ranges::count(SentFields(sim, "A04"), "?"); };
    // A file of a few records and gigabytes of what a power cut leaves (NULs, never stored):
    // read whole, it takes seconds and writes its plot cache.
    testing::TempDir files;
    const testing::ScopedCacheHome cacheHome(files.Path() / "cache");
    const auto longFile = files.Path() / "Unit1234.csd";

    std::vector<testing::ModalScript::Step> steps;
    // What closing sends: a reboot, the unit's own sweep off, or test 1's end.
    std::string expectedCode = instrument ? "A05" : "A02";
    const std::string expectedData = instrument ? "off" : "0";
    if (row.situation == ESituation::kTest1) {
        expectedCode = "A01";
        steps.push_back({[] { return true; }, [&main] { main.RunCommand(kCmdTestDiagnostics); }});
        steps.push_back(
            {[] { return ShownModal() && ShownModal()->objectName() == "testDiagnosticsDialog"; },
             [] { ShownModal()->findChild<QPushButton*>("test1")->click(); }});
        steps.push_back({[&] {
                             return SentFields(sim, "A01") == std::vector<std::string>{"1"} &&
                                    !rig.app.polling.mailbox.IsPending();
                         },
                         [] {}});
    } else {
        steps.push_back({[] { return true; }, [&main] { main.RunCommand(kCmdSpectrum); }});
        if (!instrument) {  // the reboot warning
            steps.push_back(
                {[] { return qobject_cast<QMessageBox*>(ShownModal()) != nullptr; },
                 [] {
                     qobject_cast<QMessageBox*>(ShownModal())->button(QMessageBox::Ok)->click();
                 }});
        }
        if (row.situation == ESituation::kArbitraryDds) {  // offered while no sweep runs
            steps.push_back({spectrumShown, [&main] {
                                 main.OpenSpectrumWindow()
                                     ->CommandAction(CSpectrumDlg::kCmdFirstDds +
                                                     static_cast<int>(EDdsSetting::kArbitrary))
                                     ->trigger();
                             }});
            steps.push_back({Showing("Arbitrary DDS Setting"), [] {}});
        } else if (row.situation == ESituation::kAfterHostSweep) {
            steps.push_back({spectrumShown, [&] { startSweep("2"); }});
            steps.push_back({[&] { return rig.app.spectrum.Data().completedSweeps == 1; }, [] {}});
        } else {
            const int before = readings();
            steps.push_back({spectrumShown, [&] { startSweep("100000"); }});
            steps.push_back({[&, before] {
                                 return instrument ? rig.app.spectrum.Data().pointsAcquired >=
                                                         kPointsUnderWay
                                                   : readings() >= before + kPointsUnderWay;
                             },
                             [] {}});
        }
    }
    bool fileShown = false;  // the plot window showed the long file's records after all
    if (row.situation == ESituation::kPlotLoading ||
        row.situation == ESituation::kPlotLoadingInMemory) {
        testing::AppendCsdRecords(longFile, 0, 3);
        std::filesystem::resize_file(longFile, std::uintmax_t{2} << 30);
        steps.push_back({[] { return true; }, [&main] { main.RunCommand(kCmdPlot); }});
        steps.push_back({[&main] { return main.OpenPlotWindow() != nullptr; }, [&] {
                             CPlotDlg& plot = *main.OpenPlotWindow();
                             if (row.situation == ESituation::kPlotLoadingInMemory) {
                                 plot.SetCacheFilesFrom(std::numeric_limits<std::uint64_t>::max());
                             }
                             plot.OpenFile(longFile.string());
                             fileShown = plot.Store().PointCount() > 0 &&
                                         plot.Store().TimeAxis(0)[0] == 60000.0;
                         }});
        steps.push_back({Showing("File Load Progress", false), [] {}});
    }
    if (row.situation == ESituation::kSilentHostSweep) {
        steps.back().second = [&sim] {
            sim.UpdateFaults([](sim::SimFaults& f) { f.silent = true; });
        };
    }
    if (row.situation == ESituation::kClosingQuestion) {
        steps.back().second = [&main] {
            main.OpenSpectrumWindow()->CommandAction(CSpectrumDlg::kCmdExit)->trigger();
        };
        steps.push_back({Showing("Return to Corvane3"), [] {}});
    }
    const ProgramHandlers handlers;
    const CTerminationWatch watch(TerminationRequested());
    steps.push_back({[] { return true; }, [&row] { ::kill(::getpid(), row.signal); }});
    testing::ModalScript script(std::move(steps));
    script.Start();
    // Windows still open long after: the test fails instead of waiting for ever. A script stuck
    // before its signal gets it now; a signal that closed nothing leaves the net to close the
    // windows, one at a time.
    QTimer net;
    QObject::connect(&net, &QTimer::timeout, &main, [&] {
        ADD_FAILURE() << "the windows did not close on the signal";
        ::kill(::getpid(), row.signal);
        if (QWidget* modal = QApplication::activeModalWidget(); modal != &main) {
            modal->close();
        }
        main.reject();
    });
    net.start(kLongWaitMs);
    main.exec();
    ASSERT_TRUE(script.Done());
    // What the program does next: the thread is stopped, within the one bound the program gives
    // it before it ends without the thread. A unit that does not answer only costs read
    // time-outs, which fit in that bound.
    ASSERT_TRUE(rig.polling->StopBackgroundThread());

    // Nothing goes to the unit after the closing command but the polls.
    const std::vector<sim::ReceivedFrame> frames = sim.Frames();
    const auto closing = std::find_if(frames.rbegin(), frames.rend(), [&](const auto& frame) {
        return frame.code == expectedCode && frame.data == expectedData;
    });
    ASSERT_NE(closing, frames.rend());
    // A poll's queries: the status records, the outlier counts and the unit's date and time.
    const std::vector<std::string> polls = {"D*1", "D*2", "D*5", "B20", "A24", "A08"};
    EXPECT_TRUE(std::all_of(frames.rbegin(), closing, [&polls](const auto& frame) {
        return std::ranges::find(polls, frame.code) != polls.end();
    }));
    EXPECT_EQ(std::ranges::count(SentFields(sim, expectedCode), expectedData), 1);
    EXPECT_FALSE(instrument && sim.WithInstrument([](const sim::CSimulatedInstrument& unit) {
        return unit.IsSweeping();
    }));
    // The last change logged: the closing command, with its outcome.
    const std::vector<std::string> log = testing::FileLines(rig.polling->ChangeLog().Path());
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find('\t' + expectedCode + '\t' + expectedData + '\t'), std::string::npos)
        << log.back();
    const bool silent = row.situation == ESituation::kSilentHostSweep;
    EXPECT_TRUE(log.back().ends_with(silent ? "\tno reply" : "\taccepted")) << log.back();
    // A read the signal stopped shows nothing and writes no cache.
    EXPECT_FALSE(fileShown);
    EXPECT_FALSE(std::filesystem::exists(PlotCachePathFor(longFile.string())));
    // Closed by a signal, nothing is left switched off: polling on, no sweep running.
    EXPECT_TRUE(rig.app.settings.PollingEnabled);
    EXPECT_FALSE(rig.app.spectrum.IsRunning());
}

// One handler serves the three signals: each situation once, each signal in more than one.
constexpr Row kRows[] = {
    {"SigtermDuringHostSweep", ESituation::kHostSweep, SIGTERM},
    {"SigintAfterHostSweep", ESituation::kAfterHostSweep, SIGINT},
    {"SighupDuringInstrumentSweep", ESituation::kInstrumentSweep, SIGHUP},
    {"SigintDuringTest1", ESituation::kTest1, SIGINT},
    // The unit stops answering in the middle of a host sweep: the program still ends, having
    // sent the reboot, and logs that no reply came.
    {"SigtermWhenTheUnitStopsAnswering", ESituation::kSilentHostSweep, SIGTERM},
    // The signal is the answer nobody gave: the window and then the main window close.
    {"SighupWhileTheClosingQuestionShows", ESituation::kClosingQuestion, SIGHUP},
    // The dialog closes with the window: no synthesizer setting follows the sweep's end.
    {"SigtermWithTheArbitraryDdsDialogOpen", ESituation::kArbitraryDds, SIGTERM},
    // The plot window's read stops at the signal: the program ends without waiting for it.
    {"SigtermWhileAPlotWindowReadsALongFile", ESituation::kPlotLoading, SIGTERM},
    {"SigtermWhileAPlotWindowReadsALongFileIntoMemory", ESituation::kPlotLoadingInMemory, SIGTERM},
};

INSTANTIATE_TEST_SUITE_P(SignalsAndSituations, TerminationWithSimTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace corvane3
