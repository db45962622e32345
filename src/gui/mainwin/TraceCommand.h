#pragma once
// File > Trace Serial Traffic: starts a trace of everything sent to and read from the unit in a
// file the user names (the form the simulator replays), and stops it when chosen again. The
// item is checked while a trace runs.

#include <QAction>
#include <QString>
#include <functional>
#include <memory>

namespace corvane3 {

class CSerialPort;
class CSerialTrace;

class CTraceCommand {
  public:
    // The file chooser gets the parent and a suggested path and returns the chosen path, or
    // an empty text when the user cancelled.
    using Chooser = std::function<QString(QWidget* parent, const QString& suggested)>;

    // item is the menu item it checks; folder is where the suggested file goes.
    CTraceCommand(CSerialPort& port, QAction* item);
    ~CTraceCommand();

    // Starts a trace (asking for the file) or stops the one running.
    void Toggle(QWidget* parent, const QString& folder);
    void Stop();
    bool IsTracing() const { return trace_ != nullptr; }
    // Replaces the save dialog (tests choose without asking).
    void SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }

  private:
    CSerialPort& port_;
    QAction* item_;
    std::shared_ptr<CSerialTrace> trace_;
    Chooser chooser_;
};

}  // namespace corvane3
