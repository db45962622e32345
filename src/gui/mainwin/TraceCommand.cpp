#include "gui/mainwin/TraceCommand.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "core/link/SerialPort.h"
#include "core/link/SerialTrace.h"

namespace corvane3 {

namespace {

const QString kTitle = QStringLiteral("Trace Serial Traffic");

QString AskForFile(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, kTitle, suggested,
                                        QStringLiteral("Traces (*.trace);;All files (*)"));
}

}  // namespace

CTraceCommand::CTraceCommand(CSerialPort& port, QAction* item)
    : port_(port), item_(item), chooser_(AskForFile) {
    item_->setCheckable(true);
}

CTraceCommand::~CTraceCommand() {
    Stop();
}

void CTraceCommand::Toggle(QWidget* parent, const QString& folder) {
    if (IsTracing()) {
        Stop();
        return;
    }
    const QString name =
        QStringLiteral("Corvane3-%1.trace")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path =
        chooser_(parent, QDir(folder.isEmpty() ? QDir::homePath() : folder).filePath(name));
    if (!path.isEmpty()) {
        auto trace = std::make_shared<CSerialTrace>();
        if (trace->Open(path.toStdString())) {
            trace_ = trace;
            port_.SetTrace(std::move(trace));
        } else {
            QMessageBox::warning(parent, kTitle,
                                 QStringLiteral("Unable to write the trace file:  ") + path);
        }
    }
    item_->setChecked(IsTracing());
}

void CTraceCommand::Stop() {
    if (trace_) {
        port_.SetTrace(nullptr);
        trace_->Close();
        trace_.reset();
    }
    item_->setChecked(false);
}

}  // namespace corvane3
