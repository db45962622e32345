// corvane3: watches over and controls a cesium-beam frequency standard on a serial port.

#include <fcntl.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "app/CommandLine.h"
#include "app/FileCommands.h"
#include "app/HeadlessRun.h"
#include "app/LimitProjections.h"
#include "app/TemporaryFileCleanup.h"
#include "core/alerts/EventProgram.h"
#include "core/alerts/UnitWatch.h"
#include "core/base/CLocale.h"
#include "core/control/ControlClient.h"
#include "core/control/ServicePort.h"
#include "core/control/ServiceSocket.h"
#include "core/link/SerialTrace.h"
#include "core/poll/PollingThread.h"
#include "core/program/CommandLineOptions.h"
#include "core/program/Corvane3App.h"
#include "core/program/TerminationSignals.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "gui/common/UpdatingMessage.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/mainwin/TerminationClose.h"
#include "gui/plot/PlotDlg.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "qcustomplot.h"

using namespace corvane3;

namespace {

// How often a screenshot run looks for a message box to close.
constexpr int kMessageBoxCheckMs = 200;

// Shows the error of an unrecognised command-line file type, titled as the program's errors are.
void ShowUnrecognizedFileType(const CommandLineFile& file) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane3 Error"),
                    QString::fromStdString(UnrecognizedFileTypeMessage(file.type)),
                    QMessageBox::Ok);
    box.exec();
}

// The image format a picture's file name asks for: its extension, PNG when it has none.
QByteArray PictureFormat(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return "png";
    }
    return QByteArray::fromStdString(path.substr(dot + 1)).toLower();
}

// Saves the window's picture to path and says so (on standard output, or why not on standard
// error); false when it could not be saved. The file is opened here rather than by name in Qt,
// whose names are Unicode text: a path that is no UTF-8 still reaches the file system as given.
bool SaveWindowPicture(QWidget& window, const std::string& path) {
    constexpr mode_t kNewFileMode = 0666;  // what the umask allows, as for any file the user makes
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
    std::string reason = fd < 0 ? std::strerror(errno) : "";
    if (fd >= 0) {
        QFile file;
        const bool saved = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
                           window.grab().save(&file, PictureFormat(path).constData());
        file.close();
        if (saved && file.error() == QFileDevice::NoError) {
            std::printf("corvane3: screenshot saved to %s\n", path.c_str());
            std::fflush(stdout);
            return true;
        }
        reason = file.error() != QFileDevice::NoError ? file.errorString().toStdString()
                                                      : "the picture could not be encoded";
    }
    std::fprintf(stderr, "corvane3: the screenshot could not be saved to %s (%s)\n", path.c_str(),
                 reason.c_str());
    return false;
}

// Saves a picture of the window once it shows its first status record, then closes the window
// as Exit does. When no record came within timeoutSeconds the window is closed all the same and
// exitStatus says the run timed out.
void SaveScreenshotAfterFirstRecord(CMainStatusDlg& window, CQueuedNotificationSink& notifications,
                                    const std::string& path, int timeoutSeconds, int& exitStatus) {
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&notifications, &CQueuedNotificationSink::Notified, &window,
                                   [&window, &exitStatus, path, connection](int code) {
                                       if (code != kNotifyStatusRecord) {
                                           return;
                                       }
                                       QObject::disconnect(*connection);
                                       if (!SaveWindowPicture(window, path)) {
                                           exitStatus = kExitRefused;
                                       }
                                       window.accept();
                                   });
    QTimer::singleShot(std::chrono::seconds(timeoutSeconds), &window,
                       [&window, &exitStatus, timeoutSeconds] {
                           if (!window.isVisible() || exitStatus != kExitDone) {
                               return;
                           }
                           std::fprintf(stderr,
                                        "corvane3: timed out: the window showed no status record "
                                        "within %d s; no screenshot was saved\n",
                                        timeoutSeconds);
                           exitStatus = kExitTimedOut;
                           window.accept();
                       });
}

// Closes the window, once a plot window has read the whole of a long file it drew from its shown
// channels first: the plot cache that read builds is kept.
template <typename Window>
void CloseOnceRead(Window& window) {
    if constexpr (std::is_same_v<Window, CPlotDlg>) {
        if (window.ReadingWholeFile()) {
            QObject::connect(&window, &CPlotDlg::WholeFileRead, &window,
                             [&window] { window.accept(); });
            return;
        }
    }
    window.accept();
}

// Saves a picture of the plot or spectrum window once it has drawn its file (or once the load
// ended with nothing to draw), then closes it.
template <typename Window>
void SaveScreenshotWhenDrawn(Window& window, const std::string& path, int timeoutSeconds,
                             int& exitStatus) {
    // Nobody is there to close the reader's message boxes: each is said on standard error and
    // closed, and the file counts as refused.
    auto* boxWatch = new QTimer(&window);
    QObject::connect(boxWatch, &QTimer::timeout, &window, [&exitStatus] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        std::fprintf(stderr, "corvane3: %s: %s\n", box->windowTitle().toLocal8Bit().constData(),
                     box->text().toLocal8Bit().constData());
        exitStatus = kExitRefused;
        box->done(QMessageBox::Ok);
    });
    boxWatch->start(kMessageBoxCheckMs);
    auto saved = std::make_shared<bool>(false);
    const auto save = [&window, &exitStatus, path, saved] {
        if (!window.isVisible()) {
            return;
        }
        if (exitStatus == kExitRefused) {
            std::fprintf(stderr, "corvane3: no screenshot was saved\n");
        } else if (!SaveWindowPicture(window, path)) {
            exitStatus = kExitRefused;
        }
        *saved = true;
        CloseOnceRead(window);
    };
    // The panes replot on the next pass of the event loop; the picture is taken after it.
    QObject::connect(&window, &Window::InitialLoadDone, &window, [&window, save] {
        for (QCustomPlot* pane : window.template findChildren<QCustomPlot*>()) {
            pane->replot();
        }
        QTimer::singleShot(0, &window, save);
    });
    QTimer::singleShot(std::chrono::seconds(timeoutSeconds), &window,
                       [&window, &exitStatus, timeoutSeconds, saved] {
                           if (!window.isVisible() || *saved) {
                               return;
                           }
                           std::fprintf(stderr,
                                        "corvane3: timed out: the window drew nothing "
                                        "within %d s; no screenshot was saved\n",
                                        timeoutSeconds);
                           exitStatus = kExitTimedOut;
                           window.accept();
                       });
}

// A configuration problem, said in a message box as well as on standard error. A run that only
// takes a screenshot has nobody to close the box, so it is told on standard error alone.
void ShowConfigurationMessage(const std::string& text, bool interactive) {
    if (interactive) {
        QMessageBox::warning(nullptr, QStringLiteral("Corvane3"), QString::fromStdString(text));
    }
}

// Saves the configuration; on failure says why and gives kExitRefused, else exitStatus.
int SaveConfigurationAtEnd(Corvane3App& app, bool interactive, int exitStatus) {
    std::string error;
    if (!app.SaveConfiguration(error)) {
        std::fprintf(stderr, "corvane3: %s\n", error.c_str());
        ShowConfigurationMessage(error, interactive);
        return kExitRefused;
    }
    return exitStatus;
}

int RunWithWindows(Corvane3App& app, const CommandLineFile& file, const std::string& screenshot,
                   int screenshotTimeout, const ReadingLimits& readingLimits,
                   const std::string& onEvent, const std::optional<std::string>& serviceSocket) {
    const std::vector<ReadingLimit>& limits = readingLimits.readings;
    int exitStatus = kExitDone;
    const bool interactive = screenshot.empty();
    // A file's window polls nothing: its messages may wait for an answer first. The main
    // window shows them once polling runs.
    if (file.kind != ECommandLineFileKind::kNone) {
        for (const std::string& message : app.StartupMessages()) {
            ShowConfigurationMessage(message, interactive);
        }
    }
    switch (file.kind) {
        case ECommandLineFileKind::kUnrecognized:
            // A run that only takes a screenshot has nobody to close the box.
            if (interactive) {
                ShowUnrecognizedFileType(file);
            } else {
                std::fprintf(stderr, "corvane3: %s\n",
                             UnrecognizedFileTypeMessage(file.type).c_str());
                exitStatus = kExitRefused;
            }
            break;
        case ECommandLineFileKind::kPlotFile: {
            CPlotDlg window({app.settings, app.unitState.InstrumentModel, app.BrandName(), limits},
                            file.fileName, true);
            if (!screenshot.empty()) {
                SaveScreenshotWhenDrawn(window, screenshot, screenshotTimeout, exitStatus);
            }
            window.exec();
            break;
        }
        case ECommandLineFileKind::kSpectrumFile: {
            CSpectrumDlg window({app.spectrum, app.settings, app.unitState}, file.fileName);
            if (!screenshot.empty()) {
                SaveScreenshotWhenDrawn(window, screenshot, screenshotTimeout, exitStatus);
            }
            window.exec();
            break;
        }
        case ECommandLineFileKind::kNone: {
            // The window opens again when the person chooses another way to the unit in it:
            // attaching to the logging service that holds the port, or taking the port itself.
            std::optional<std::string> socket = serviceSocket;
            bool offerAttach = interactive;
            bool chosenInWindow = false;
            for (bool again = true; again;) {
                again = false;
                CQueuedNotificationSink notifications;
                app.linkStatus.SetSink(&notifications);
                CQueuedTimedMessages messages;
                PollingHooks hooks = app.MakePollingHooks(messages);
                // Attached, the logging service owns the port: this window's exchanges go through
                // it and its port is never opened.
                CServicePort servicePort(app.linkStatus);
                CControlClient service(app.unitState, app.linkStatus, notifications);
                if (socket) {
                    if (const auto problem = service.Connect(*socket)) {
                        std::fprintf(stderr, "corvane3: %s\n", problem->c_str());
                        ShowConfigurationMessage(*problem, interactive);
                        app.linkStatus.SetSink(nullptr);
                        if (!chosenInWindow) {
                            return kExitRefused;
                        }
                        // Attaching was offered and failed: the window goes on with its own port
                        // and does not offer it again.
                        socket.reset();
                        offerAttach = false;
                        again = true;
                        continue;
                    }
                    hooks.relay = &service;
                }
                CPollingThread polling(socket ? servicePort : app.serialPort, app.unitState,
                                       app.linkStatus, app.polling, app.settings, notifications,
                                       hooks);
                CMainStatusDlg window(app, notifications, &polling);
                window.SetAttachOffered(offerAttach);
                if (socket) {
                    window.ShowViaService();
                }
                // Polling has started: what the configuration's loading found waits for the person
                // without holding the watch (once, not again when the window opens again).
                if (interactive && !chosenInWindow) {
                    for (const std::string& message : app.StartupMessages()) {
                        CUpdatingMessage(&window, QStringLiteral("startupMessage"),
                                         QMessageBox::Warning)
                            .Show(QString::fromStdString(message), QStringLiteral("Corvane3"));
                    }
                }
                // The program's problems are said on standard error and in one box that does not
                // wait for an answer (the runner says each run of failures once), handed to this
                // thread first while the window runs; after it, on standard error only.
                CUpdatingMessage programMessage(&window, QStringLiteral("eventProgramMessage"),
                                                QMessageBox::Warning);
                std::atomic<bool> windowRuns{true};
                std::optional<CEventProgram> program;
                if (!onEvent.empty()) {
                    const auto say = [&window, &programMessage, &windowRuns](
                                         const std::string& text, bool inBox) {
                        if (!windowRuns) {
                            std::fprintf(stderr, "corvane3: %s\n", text.c_str());
                            return;
                        }
                        QMetaObject::invokeMethod(
                            &window,
                            [&programMessage, text, inBox] {
                                std::fprintf(stderr, "corvane3: %s\n", text.c_str());
                                if (inBox) {
                                    programMessage.Show(QString::fromStdString(text),
                                                        QStringLiteral("Corvane3"));
                                }
                            },
                            Qt::QueuedConnection);
                    };
                    program.emplace(
                        onEvent, [say](const std::string& problem) { say(problem, true); },
                        [say](const std::string& line) { say(line, false); });
                }
                CUnitWatch watch(limits, [&program](const UnitEvent& event) {
                    if (program) {
                        program->Run(event);
                    }
                });
                window.SetUnitWatch(watch);
                window.ShowLimitsProblems(readingLimits.problems);
                if (!screenshot.empty()) {
                    SaveScreenshotAfterFirstRecord(window, notifications, screenshot,
                                                   screenshotTimeout, exitStatus);
                }
                window.exec();
                windowRuns = false;
                // What the runner handed over just before is still said.
                QCoreApplication::sendPostedEvents(&window, QEvent::MetaCall);
                // What the run did not keep is said, whichever way it ends.
                const auto sayLosses = [&window, &program] {
                    if (const std::string lost = window.RecordsNotKeptText(); !lost.empty()) {
                        std::fprintf(stderr, "corvane3: %s\n", lost.c_str());
                    }
                    if (program) {
                        if (const std::string cut = program->Finish(kEventDeliveryAtExit);
                            !cut.empty()) {
                            std::fprintf(stderr, "corvane3: %s\n", cut.c_str());
                        }
                    }
                };
                // The thread sends what the closed windows handed over, then it is joined before
                // the records it uses go away. One still stuck in an exchange when the bound
                // expires is not waited for: the configuration is saved and the process ends at
                // once, the records left in place for the thread until then.
                if (!polling.StopBackgroundThread()) {
                    std::fprintf(stderr,
                                 "corvane3: the unit did not let the polling thread end in time; "
                                 "ending without it\n");
                    sayLosses();
                    const int status = SaveConfigurationAtEnd(app, false, exitStatus);
                    std::fflush(nullptr);
                    std::_Exit(status);
                }
                sayLosses();
                app.linkStatus.SetSink(nullptr);
                if (const std::optional<std::string>& chosen = window.ChosenLink()) {
                    socket = chosen->empty() ? std::nullopt : chosen;
                    chosenInWindow = again = true;
                    // What the other way showed is not the unit's state until it says so itself.
                    app.unitState.Online = false;
                }
            }
            break;
        }
    }
    return SaveConfigurationAtEnd(app, interactive, exitStatus);
}

// Prints the text of --help, --help-all or --version, by Qt's parser, and ends the program.
void PrintTextAndExit(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches over and controls a cesium-beam frequency standard."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const ProgramOption& option : ProgramOptions()) {
        parser.addOption(QCommandLineOption(QString::fromStdString(option.name),
                                            QString::fromStdString(option.description),
                                            QString::fromStdString(option.valueName)));
    }
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A telemetry (.csd) or spectrum (.css) file."),
                                 QStringLiteral("[file]"));
    parser.process(arguments);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Corvane3"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE3_VERSION));

    // The options are read before any application object exists: only a window needs the
    // window system, so nothing else may fail for want of a display.
    // Paths are bytes: they are taken as given, not through text that cannot hold every byte.
    QStringList arguments;
    std::vector<std::string> byteArguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
        byteArguments.emplace_back(argv[i]);
    }
    const CommandLineResult line = ParseCommandLineOptions(byteArguments);
    if (!line.Accepted()) {
        std::fputs(line.message.c_str(), stderr);
        return line.exitStatus;
    }
    const CommandLineOptions& options = line.options;
    const bool headless = options.headless;
    const bool fileCommand = options.summary || options.exportCsv;
    // Every command that shows no window must keep the widget application out.
    const bool windows = !headless && !options.textOnly && !fileCommand;
    std::unique_ptr<QCoreApplication> application;
    if (windows && options.screenshot && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // A picture needs no screen: without one, draw offscreen.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (windows) {
        application = std::make_unique<QApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Qt took the user's locale for the whole process: numbers in files, on the wire and in the
    // INI, and the fixed date texts, keep the C form. Qt's own widgets keep the user's language.
    UseCLocaleConventions();
    if (options.textOnly) {
        PrintTextAndExit(arguments);
    }

    // The file commands read nothing but the file: not the configuration, not the port. An
    // interrupt ends them at once, without the export's temporary file.
    if (fileCommand) {
        InstallTemporaryFileCleanup();
    }
    if (options.summary) {
        const int status = RunSummary(*options.summary, std::cout, std::cerr);
        if (status == kExitDone) {
            // The limits file beside the configuration; nothing of the configuration is read.
            Corvane3App located;
            located.InitialiseStartup(QCoreApplication::applicationFilePath().toStdString(),
                                      options.config.value_or(std::string()));
            const ReadingLimits limits =
                LoadReadingLimits(LimitsPathFor(located.ConfigurationPath()));
            PrintLimitProjections(*options.summary, limits, std::cout, std::cerr);
            std::cout << std::flush;
        }
        return status;
    }
    if (options.exportCsv) {
        return RunExportCsv(*options.exportCsv,
                            options.positional.empty() ? std::string() : options.positional.front(),
                            std::cout, std::cerr);
    }

    Corvane3App app;
    // Under a service manager the output goes to the journal: the headless run marks each line
    // with its priority, so configuration warnings wait for it.
    HeadlessOptions headlessOptions;
    headlessOptions.journal = headless && !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    if (headlessOptions.journal) {
        app.SetWarningStream(nullptr);
    }
    app.InitialiseStartup(QCoreApplication::applicationFilePath().toStdString(),
                          options.config.value_or(std::string()));
    app.LoadConfiguration();
    std::shared_ptr<CSerialTrace> trace;
    if (options.trace) {
        const std::string& tracePath = *options.trace;
        trace = std::make_shared<CSerialTrace>();
        std::string reason;
        if (!trace->Open(tracePath, &reason)) {
            std::fprintf(stderr, "corvane3: cannot write the trace file %s (%s)\n",
                         tracePath.c_str(), reason.c_str());
            return kExitRefused;
        }
        trace->SetStoppedHandler([tracePath](const std::string& why) {
            std::fprintf(stderr, "corvane3: the trace file %s stopped (%s); the run goes on\n",
                         tracePath.c_str(), why.c_str());
        });
        app.serialPort.SetTrace(trace);
    }
    // A run whose trace was cut short did not do all that was asked of it.
    const auto traced = [&trace](int status) {
        return status == kExitDone && trace && !trace->Failure().empty() ? kExitRefused : status;
    };

    // A closed terminal, a logout or a service manager's stop ends the run as Ctrl-C does.
    InstallTerminationHandlers();
    if (headless) {
        headlessOptions.port = options.port.value_or(std::string());
        headlessOptions.intervalSeconds = options.intervalSeconds;
        headlessOptions.polls = options.polls;
        headlessOptions.recordDirectory = options.record.value_or(std::string());
        headlessOptions.timeoutSeconds = options.timeoutSeconds;
        headlessOptions.verbose = options.verbose;
        headlessOptions.metrics = options.metrics;
        headlessOptions.onEvent = options.onEvent.value_or(std::string());
        headlessOptions.controlSocket = options.control.value_or(std::string());
        const ReadingLimits limits = LoadReadingLimits(LimitsPathFor(app.ConfigurationPath()));
        headlessOptions.limits = limits.readings;
        for (const std::string& problem : limits.problems) {
            std::cerr << PriorityLines(ELinePriority::kWarning, "corvane3: " + problem,
                                       headlessOptions.journal)
                      << std::flush;
        }
        if (headlessOptions.journal) {
            for (const std::string& message : app.StartupMessages()) {
                std::cerr << PriorityLines(ELinePriority::kWarning, "corvane3: " + message, true)
                          << std::flush;
            }
        }
        // The configuration is only read here: a headless run never changes it.
        return traced(
            RunHeadless(app, headlessOptions, std::cout, std::cerr, TerminationRequested()));
    }

    // A termination request closes the windows as Exit does: they hand over what the unit is
    // to be sent, and the configuration is still saved.
    const CTerminationWatch terminationWatch(TerminationRequested());

    // The whole rest of the command line is one file name.
    std::string fileLine;
    for (std::size_t i = 0; i < options.positional.size(); ++i) {
        fileLine += (i > 0 ? " " : "") + options.positional[i];
    }
    ReadingLimits limits = LoadReadingLimits(LimitsPathFor(app.ConfigurationPath()));
    for (const std::string& problem : limits.problems) {
        std::fprintf(stderr, "corvane3: %s\n", problem.c_str());
    }
    // --attach alone: the packaged service's socket for the configured port.
    std::optional<std::string> attach = options.attach;
    if (attach && attach->empty()) {
        attach = PackagedControlSocket(app.serialPort.Settings().name);
        if (!attach) {
            const std::string problem = "--attach needs the logging service's socket: the port " +
                                        app.serialPort.Settings().name +
                                        " is not under /dev, so no service's socket is named "
                                        "after it.";
            std::fprintf(stderr, "corvane3: %s\n", problem.c_str());
            ShowConfigurationMessage(problem, !options.screenshot);
            return kExitRefused;
        }
    }
    return traced(RunWithWindows(
        app, ParseCommandLineFile(fileLine), options.screenshot.value_or(std::string()),
        options.timeoutSeconds > 0 ? options.timeoutSeconds : kDefaultScreenshotTimeout, limits,
        options.onEvent.value_or(std::string()), attach));
}
