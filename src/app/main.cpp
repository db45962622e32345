// corvane3: watches over and controls a cesium-beam frequency standard on a serial port.

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/CommandLine.h"
#include "app/Corvane3App.h"
#include "app/HeadlessRun.h"
#include "mainwin/MainStatusDlg.h"
#include "mainwin/QueuedNotificationSink.h"
#include "mainwin/QueuedTimedMessages.h"
#include "poll/PollingThread.h"

using namespace corvane3;

namespace {

std::atomic<bool> interrupted{false};
// How often the window program looks for an interrupt.
constexpr int kInterruptCheckMs = 200;

void OnInterrupt(int) {
    interrupted = true;
}

bool HasArgument(int argc, char* argv[], const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) {
            return true;
        }
    }
    return false;
}

// Shows the error of an unrecognised command-line file type, titled as the program's errors are.
void ShowUnrecognizedFileType(const CommandLineFile& file) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane3 Error"),
                    QString::fromStdString(UnrecognizedFileTypeMessage(file.type)),
                    QMessageBox::Ok);
    box.exec();
}

// A whole number from an option; false (with a message) when it is not one.
bool OptionNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int minimum,
                  int& value) {
    if (!parser.isSet(option)) {
        return true;
    }
    bool ok = false;
    value = parser.value(option).toInt(&ok);
    if (!ok || value < minimum) {
        std::fprintf(stderr, "corvane3: --%s needs a whole number of at least %d, not \"%s\"\n",
                     option.names().first().toUtf8().constData(), minimum,
                     parser.value(option).toUtf8().constData());
        return false;
    }
    return true;
}

// Saves a picture of the window once it shows its first status record.
void SaveScreenshotAfterFirstRecord(CMainStatusDlg& window, CQueuedNotificationSink& notifications,
                                    const QString& path) {
    auto* connection = new QMetaObject::Connection;
    *connection = QObject::connect(&notifications, &CQueuedNotificationSink::Notified, &window,
                                   [&window, path, connection](int code) {
                                       if (code != kNotifyStatusRecord) {
                                           return;
                                       }
                                       QObject::disconnect(*connection);
                                       delete connection;
                                       if (window.grab().save(path)) {
                                           std::printf("corvane3: screenshot saved to %s\n",
                                                       path.toLocal8Bit().constData());
                                           std::fflush(stdout);
                                       }
                                   });
}

int RunWithWindows(Corvane3App& app, const CommandLineFile& file, const QString& screenshot) {
    for (const std::string& message : app.StartupMessages()) {
        QMessageBox::warning(nullptr, QStringLiteral("Corvane3"), QString::fromStdString(message));
    }
    switch (file.kind) {
        case CommandLineFileKind::kUnrecognized:
            ShowUnrecognizedFileType(file);
            break;
        case CommandLineFileKind::kPlotFile:
        case CommandLineFileKind::kSpectrumFile:
            std::fprintf(stderr, "corvane3: the viewer for %s is not part of this build yet\n",
                         file.fileName.c_str());
            break;
        case CommandLineFileKind::kNone: {
            CQueuedNotificationSink notifications;
            app.linkStatus.SetSink(&notifications);
            CQueuedTimedMessages messages;
            CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling,
                                   app.settings, notifications, app.MakePollingHooks(messages));
            CMainStatusDlg window(app, notifications, &polling);
            if (!screenshot.isEmpty()) {
                SaveScreenshotAfterFirstRecord(window, notifications, screenshot);
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
        QMessageBox::warning(nullptr, QStringLiteral("Corvane3"), QString::fromStdString(error));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool headless = HasArgument(argc, argv, "--headless");
    std::unique_ptr<QCoreApplication> application;
    if (headless) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        application = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Corvane3"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches over and controls a cesium-beam frequency standard."));
    parser.addHelpOption();
    parser.addVersionOption();
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
        QStringLiteral("interval"), QStringLiteral("Headless: poll every <seconds> (2 or more)."),
        QStringLiteral("seconds"));
    const QCommandLineOption pollsOption(QStringLiteral("polls"),
                                         QStringLiteral("Headless: stop after <n> status records."),
                                         QStringLiteral("n"));
    const QCommandLineOption recordOption(
        QStringLiteral("record"),
        QStringLiteral("Headless: record every status record in <dir>, whatever the "
                       "configuration says."),
        QStringLiteral("dir"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the main window to <file> once it shows a record."),
        QStringLiteral("file"));
    parser.addOptions({configOption, headlessOption, portOption, intervalOption, pollsOption,
                       recordOption, screenshotOption});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A telemetry (.csd) or spectrum (.css) file."),
                                 QStringLiteral("[file]"));
    parser.process(*application);

    Corvane3App app;
    app.InitialiseStartup(QCoreApplication::applicationFilePath().toStdString(),
                          parser.value(configOption).toStdString());
    app.LoadConfiguration();

    if (headless) {
        HeadlessOptions options;
        options.port = parser.value(portOption).toStdString();
        options.recordDirectory = parser.value(recordOption).toStdString();
        if (!OptionNumber(parser, intervalOption, 1, options.intervalSeconds) ||
            !OptionNumber(parser, pollsOption, 1, options.polls)) {
            return 2;
        }
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
        // The configuration is only read here: a headless run never changes it.
        return RunHeadless(app, options, std::cout, interrupted);
    }

    // Ctrl-C or a termination request closes the windows, so the configuration is still saved.
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [] {
        if (interrupted) {
            QApplication::closeAllWindows();
        }
    });
    interruptWatch.start(kInterruptCheckMs);

    // The whole rest of the command line is one file name.
    return RunWithWindows(
        app,
        ParseCommandLineFile(parser.positionalArguments().join(QLatin1Char(' ')).toStdString()),
        parser.value(screenshotOption));
}
