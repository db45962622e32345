// corvane3: watches over and controls a cesium-beam frequency standard on a serial port.

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>

#include "app/CommandLine.h"
#include "app/FileCommands.h"
#include "app/HeadlessRun.h"
#include "app/TemporaryFileCleanup.h"
#include "core/base/CLocale.h"
#include "core/link/SerialTrace.h"
#include "core/poll/PollingThread.h"
#include "core/program/Corvane3App.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/mainwin/TerminationClose.h"
#include "gui/plot/PlotDlg.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "qcustomplot.h"

using namespace corvane3;

namespace {

std::atomic<bool> interrupted{false};
// How often the window program looks for an interrupt.
constexpr int kInterruptCheckMs = 200;
// How long --screenshot waits for the first status record unless --timeout says otherwise. A
// unit at the default 10 s interval shows its first record within a few seconds.
constexpr int kDefaultScreenshotTimeout = 30;

void OnInterrupt(int) {
    interrupted = true;
}

// Shows the error of an unrecognised command-line file type, titled as the program's errors are.
void ShowUnrecognizedFileType(const CommandLineFile& file) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane3 Error"),
                    QString::fromStdString(UnrecognizedFileTypeMessage(file.type)),
                    QMessageBox::Ok);
    box.exec();
}

// A whole number from an option within minimum..maximum; false (with a message) when it is not
// one.
bool OptionNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int minimum,
                  int maximum, int& value) {
    if (!parser.isSet(option)) {
        return true;
    }
    bool ok = false;
    value = parser.value(option).toInt(&ok);
    if (!ok || value < minimum || value > maximum) {
        const QByteArray name = option.names().first().toUtf8();
        const QByteArray given = parser.value(option).toUtf8();
        if (maximum == std::numeric_limits<int>::max()) {
            std::fprintf(stderr, "corvane3: --%s needs a whole number of at least %d, not \"%s\"\n",
                         name.constData(), minimum, given.constData());
        } else {
            std::fprintf(stderr, "corvane3: --%s needs a whole number from %d to %d, not \"%s\"\n",
                         name.constData(), minimum, maximum, given.constData());
        }
        return false;
    }
    return true;
}

// Saves the window's picture to path and says so (on standard output, or why not on standard
// error); false when it could not be saved.
bool SaveWindowPicture(QWidget& window, const QString& path) {
    if (window.grab().save(path)) {
        std::printf("corvane3: screenshot saved to %s\n", path.toLocal8Bit().constData());
        std::fflush(stdout);
        return true;
    }
    std::fprintf(stderr, "corvane3: the screenshot could not be saved to %s\n",
                 path.toLocal8Bit().constData());
    return false;
}

// Saves a picture of the window once it shows its first status record, then closes the window
// as Exit does. When no record came within timeoutSeconds the window is closed all the same and
// exitStatus says the run timed out.
void SaveScreenshotAfterFirstRecord(CMainStatusDlg& window, CQueuedNotificationSink& notifications,
                                    const QString& path, int timeoutSeconds, int& exitStatus) {
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

// Saves a picture of the plot or spectrum window once it has drawn its file (or once the load
// ended with nothing to draw), then closes it.
template <typename Window>
void SaveScreenshotWhenDrawn(Window& window, const QString& path, int timeoutSeconds,
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
    boxWatch->start(kInterruptCheckMs);
    const auto save = [&window, &exitStatus, path] {
        if (!window.isVisible()) {
            return;
        }
        if (exitStatus == kExitRefused) {
            std::fprintf(stderr, "corvane3: no screenshot was saved\n");
        } else if (!SaveWindowPicture(window, path)) {
            exitStatus = kExitRefused;
        }
        window.accept();
    };
    // The panes replot on the next pass of the event loop; the picture is taken after it.
    QObject::connect(&window, &Window::InitialLoadDone, &window, [&window, save] {
        for (QCustomPlot* pane : window.template findChildren<QCustomPlot*>()) {
            pane->replot();
        }
        QTimer::singleShot(0, &window, save);
    });
    QTimer::singleShot(std::chrono::seconds(timeoutSeconds), &window,
                       [&window, &exitStatus, timeoutSeconds] {
                           if (!window.isVisible()) {
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

int RunWithWindows(Corvane3App& app, const CommandLineFile& file, const QString& screenshot,
                   int screenshotTimeout) {
    int exitStatus = kExitDone;
    const bool interactive = screenshot.isEmpty();
    for (const std::string& message : app.StartupMessages()) {
        ShowConfigurationMessage(message, interactive);
    }
    switch (file.kind) {
        case CommandLineFileKind::kUnrecognized:
            // A run that only takes a screenshot has nobody to close the box.
            if (interactive) {
                ShowUnrecognizedFileType(file);
            } else {
                std::fprintf(stderr, "corvane3: %s\n",
                             UnrecognizedFileTypeMessage(file.type).c_str());
                exitStatus = kExitRefused;
            }
            break;
        case CommandLineFileKind::kPlotFile: {
            CPlotDlg window({app.settings, app.unitState.InstrumentModel, app.BrandName()},
                            file.fileName, true);
            if (!screenshot.isEmpty()) {
                SaveScreenshotWhenDrawn(window, screenshot, screenshotTimeout, exitStatus);
            }
            window.exec();
            break;
        }
        case CommandLineFileKind::kSpectrumFile: {
            CSpectrumDlg window({app.spectrum, app.settings, app.unitState}, file.fileName);
            if (!screenshot.isEmpty()) {
                SaveScreenshotWhenDrawn(window, screenshot, screenshotTimeout, exitStatus);
            }
            window.exec();
            break;
        }
        case CommandLineFileKind::kNone: {
            CQueuedNotificationSink notifications;
            app.linkStatus.SetSink(&notifications);
            CQueuedTimedMessages messages;
            CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling,
                                   app.settings, notifications, app.MakePollingHooks(messages));
            CMainStatusDlg window(app, notifications, &polling);
            if (!screenshot.isEmpty()) {
                SaveScreenshotAfterFirstRecord(window, notifications, screenshot, screenshotTimeout,
                                               exitStatus);
            }
            window.exec();
            // The thread is stopped and joined before the records it uses go away.
            polling.StopBackgroundThread();
            app.linkStatus.SetSink(nullptr);
            break;
        }
    }
    std::string error;
    if (!app.SaveConfiguration(error)) {
        std::fprintf(stderr, "corvane3: %s\n", error.c_str());
        ShowConfigurationMessage(error, interactive);
        return kExitRefused;
    }
    return exitStatus;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Corvane3"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches over and controls a cesium-beam frequency standard."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("Use the configuration file <path>."),
                                          QStringLiteral("path"));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("No window: poll the instrument and print status lines."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Headless: the serial port <path>."),
                                        QStringLiteral("path"));
    const QCommandLineOption intervalOption(
        QStringLiteral("interval"),
        QStringLiteral("Headless: poll every <seconds> (%1 to %2).")
            .arg(kMinPollingInterval)
            .arg(kMaxPollingInterval),
        QStringLiteral("seconds"));
    const QCommandLineOption pollsOption(QStringLiteral("polls"),
                                         QStringLiteral("Headless: stop after <n> status records."),
                                         QStringLiteral("n"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("Give up with exit status %1 when no status record came for <seconds>: "
                       "headless (default: never) or with --screenshot (default: %2).")
            .arg(kExitTimedOut)
            .arg(kDefaultScreenshotTimeout),
        QStringLiteral("seconds"));
    const QCommandLineOption recordOption(
        QStringLiteral("record"),
        QStringLiteral("Headless: record every status record in <dir>, whatever the "
                       "configuration says."),
        QStringLiteral("dir"));
    const QCommandLineOption metricsOption(
        QStringLiteral("metrics"),
        QStringLiteral("Headless: serve Prometheus metrics at http://<[addr:]port>/metrics "
                       "(address 127.0.0.1 unless given, [::1]:port for IPv6; port 0: any free "
                       "port, said on standard output)."),
        QStringLiteral("[addr:]port"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"),
        QStringLiteral("Headless: also print the progress of every polling step."));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to <file> once it shows a record (a .csd "
                       "file: once it is drawn), then exit as Exit does."),
        QStringLiteral("file"));
    const QCommandLineOption summaryOption(
        QStringLiteral("summary"),
        QStringLiteral("Print a summary of the telemetry file <file>: its unit, records, time "
                       "span, signal decay and each channel's min, mean, max and sigma."),
        QStringLiteral("file"));
    const QCommandLineOption exportOption(
        QStringLiteral("export-csv"),
        QStringLiteral("Write the telemetry file <file> as CSV to the file given after it "
                       "(default: <file> with the extension .csv; - for standard output)."),
        QStringLiteral("file"));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"),
        QStringLiteral("Write every frame sent to the instrument and everything it sent back to "
                       "<file>, passwords masked, in the form corvane3-sim --replay reads."),
        QStringLiteral("file"));
    parser.addOptions({configOption, headlessOption, portOption, intervalOption, pollsOption,
                       timeoutOption, recordOption, metricsOption, verboseOption, screenshotOption,
                       summaryOption, exportOption, traceOption});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A telemetry (.csd) or spectrum (.css) file."),
                                 QStringLiteral("[file]"));

    // The options are read before any application object exists: only a window needs the
    // window system, so nothing else may fail for want of a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    HeadlessOptions headlessOptions;
    int timeout = 0;
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "corvane3: %s\nTry 'corvane3 --help' for the options.\n",
                     parser.errorText().toLocal8Bit().constData());
        return kExitBadOptions;
    }
    constexpr int kNoMaximum = std::numeric_limits<int>::max();
    if (!OptionNumber(parser, intervalOption, kMinPollingInterval, kMaxPollingInterval,
                      headlessOptions.intervalSeconds) ||
        !OptionNumber(parser, pollsOption, 1, kNoMaximum, headlessOptions.polls) ||
        !OptionNumber(parser, timeoutOption, 1, kNoMaximum, timeout)) {
        return kExitBadOptions;
    }
    const bool headless = parser.isSet(headlessOption);
    if (parser.isSet(metricsOption)) {
        MetricsEndpoint endpoint;
        std::string problem;
        const QByteArray given = parser.value(metricsOption).toLocal8Bit();
        if (!headless) {
            std::fprintf(stderr, "corvane3: --metrics serves a headless run: add --headless\n");
            return kExitBadOptions;
        }
        if (!ParseMetricsEndpoint(given.toStdString(), endpoint, problem)) {
            std::fprintf(stderr, "corvane3: --metrics needs [ADDRESS:]PORT, not \"%s\": %s\n",
                         given.constData(), problem.c_str());
            return kExitBadOptions;
        }
        headlessOptions.metrics = endpoint;
    }
    if (headless && parser.isSet(screenshotOption)) {
        std::fprintf(stderr, "corvane3: --screenshot needs the window, not --headless\n");
        return kExitBadOptions;
    }
    // Any of the help and version options' names, as given, means text only.
    const QStringList given = parser.optionNames();
    const bool textOnly = std::any_of(given.begin(), given.end(), [&](const QString& name) {
        return helpOption.names().contains(name) || versionOption.names().contains(name) ||
               name == QStringLiteral("help-all");
    });
    const bool fileCommand = parser.isSet(summaryOption) || parser.isSet(exportOption);
    if (fileCommand && (headless || parser.isSet(screenshotOption) || parser.isSet(traceOption))) {
        std::fprintf(stderr, "corvane3: --summary and --export-csv run on their own\n");
        return kExitBadOptions;
    }
    // Every command that shows no window must keep the widget application out.
    const bool windows = !headless && !textOnly && !fileCommand;
    std::unique_ptr<QCoreApplication> application;
    if (windows && parser.isSet(screenshotOption) && qEnvironmentVariableIsEmpty("DISPLAY") &&
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
    // --help and --version print their text and end here.
    parser.process(arguments);

    // The file commands read nothing but the file: not the configuration, not the port. An
    // interrupt ends them at once, without the export's temporary file.
    if (fileCommand) {
        InstallTemporaryFileCleanup();
    }
    if (parser.isSet(summaryOption)) {
        return RunSummary(parser.value(summaryOption).toStdString(), std::cout, std::cerr);
    }
    if (parser.isSet(exportOption)) {
        const QStringList rest = parser.positionalArguments();
        if (rest.size() > 1) {
            std::fprintf(stderr, "corvane3: --export-csv takes one output file\n");
            return kExitBadOptions;
        }
        return RunExportCsv(parser.value(exportOption).toStdString(),
                            rest.isEmpty() ? std::string() : rest.front().toStdString(), std::cout,
                            std::cerr);
    }

    Corvane3App app;
    // Under a service manager the output goes to the journal: the headless run marks each line
    // with its priority, so configuration warnings wait for it.
    headlessOptions.journal = headless && !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    if (headlessOptions.journal) {
        app.SetWarningStream(nullptr);
    }
    app.InitialiseStartup(QCoreApplication::applicationFilePath().toStdString(),
                          parser.value(configOption).toStdString());
    app.LoadConfiguration();
    if (parser.isSet(traceOption)) {
        const std::string tracePath = parser.value(traceOption).toStdString();
        auto trace = std::make_shared<CSerialTrace>();
        if (!trace->Open(tracePath)) {
            std::fprintf(stderr, "corvane3: cannot write the trace file %s\n", tracePath.c_str());
            return kExitRefused;
        }
        app.serialPort.SetTrace(std::move(trace));
    }

    // A closed terminal or a service manager's stop ends the run as Ctrl-C does.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, OnInterrupt);
    }
    if (headless) {
        headlessOptions.port = parser.value(portOption).toStdString();
        headlessOptions.recordDirectory = parser.value(recordOption).toStdString();
        headlessOptions.timeoutSeconds = timeout;
        headlessOptions.verbose = parser.isSet(verboseOption);
        if (headlessOptions.journal) {
            for (const std::string& message : app.StartupMessages()) {
                std::cerr << PriorityLines(ELinePriority::kWarning, "corvane3: " + message, true)
                          << std::flush;
            }
        }
        // The configuration is only read here: a headless run never changes it.
        return RunHeadless(app, headlessOptions, std::cout, std::cerr, interrupted);
    }

    // An interrupt closes the windows, so the configuration is still saved.
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [] {
        if (interrupted) {
            CloseWindowsOnTermination();
        }
    });
    interruptWatch.start(kInterruptCheckMs);

    // The whole rest of the command line is one file name.
    return RunWithWindows(
        app,
        ParseCommandLineFile(parser.positionalArguments().join(QLatin1Char(' ')).toStdString()),
        parser.value(screenshotOption), timeout > 0 ? timeout : kDefaultScreenshotTimeout);
}
