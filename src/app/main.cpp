// corvane3: watches over and controls a cesium-beam frequency standard on a serial port.

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/Corvane3App.h"

using namespace corvane3;

namespace {

// Shows the error of an unrecognised command-line file type, titled as the program's errors are.
void ShowUnrecognizedFileType(const CommandLineFile& file) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane3 Error"),
                    QString::fromStdString(UnrecognizedFileTypeMessage(file.type)),
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane3"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches over and controls a cesium-beam frequency standard."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(
        QStringLiteral("config"), QStringLiteral("Use the configuration file <path>."),
        QStringLiteral("path"));
    parser.addOption(configOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A telemetry (.csd) or spectrum (.css) file."),
                                 QStringLiteral("[file]"));
    parser.process(application);

    Corvane3App app;
    app.InitialiseStartup(QApplication::applicationFilePath().toStdString(),
                          parser.value(configOption).toStdString());
    app.LoadConfiguration();

    // The whole rest of the command line is one file name.
    const CommandLineFile file =
        ParseCommandLineFile(parser.positionalArguments().join(QLatin1Char(' ')).toStdString());
    switch (file.kind) {
        case CommandLineFileKind::kUnrecognized:
            ShowUnrecognizedFileType(file);
            break;
        case CommandLineFileKind::kPlotFile:
        case CommandLineFileKind::kSpectrumFile:
            std::fprintf(stderr, "corvane3: the viewer for %s is not part of this build yet\n",
                         file.fileName.c_str());
            break;
        case CommandLineFileKind::kNone:
            std::fprintf(stderr, "corvane3: the main status window is not part of this build yet\n");
            break;
    }

    std::string error;
    if (!app.SaveConfiguration(error)) {
        std::fprintf(stderr, "corvane3: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
