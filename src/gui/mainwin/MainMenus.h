#pragma once
// The main window's menu bar. Items are known by command id; ComposeMenus adapts the pop-ups to
// the connected model each time the menu bar is opened, by removing items and appending them
// at the end of their pop-up.

#include <QMenuBar>
#include <map>

namespace corvane3 {

enum EMenuCommand : int {
    kCmdSelectCommand = 32771,
    kCmdTimeOfDay = 32773,
    kCmdDeltaF = 32774,
    kCmdFactorySettings = 32775,
    kCmdTestDiagnostics = 32776,
    kCmdSerialPort = 32777,
    kCmdMonitoring = 32778,
    kCmdDeltaT = 32779,
    kCmdRs232 = 32783,
    kCmdAlarms = 32784,
    kCmdTelecom = 32785,
    kCmdPrint = 32787,
    kCmdPlot = 32788,
    kCmdSyncPps = 32789,
    kCmdTtlOutput = 32790,
    kCmdEventLog = 32792,
    kCmdSpectrum = 32818,
    kCmdMore = 32819,
    kCmdLess = 32820,
    kCmdEthernet = 32848,
    kCmdHelpTopics = 32861,
    kCmdSecurity = 32863,
    kCmdFactoryEventLog = 32864,
    kCmdTrace = 32900,
    kCmdAbout = 57664,
    kCmdExit = 57665,
};

class CMainMenus : public QObject {
    Q_OBJECT
  public:
    explicit CMainMenus(QMenuBar* bar);

    // Removes and appends items for the model. "Help Topics" always stays: the help page is
    // compiled into the program, wherever it is installed.
    void ComposeMenus(int model);

    // The item of a command id (it exists whether or not it is in a pop-up right now).
    QAction* Action(int id) const { return actions_.at(id); }
    QMenu* FileMenu() const { return file_; }
    QMenu* ViewMenu() const { return view_; }
    QMenu* OutputsMenu() const { return outputs_; }
    QMenu* SystemMenu() const { return system_; }
    QMenu* HelpMenu() const { return help_; }

  signals:
    void Command(int id);

  private:
    QAction* Add(QMenu* menu, int id, const QString& text);
    // Removes the items from menu (absent ones are skipped).
    void Remove(QMenu* menu, std::initializer_list<int> ids);
    // Appends the item to the end of menu under text.
    void Append(QMenu* menu, int id, const QString& text);

    QMenu* file_;
    QMenu* view_;
    QMenu* outputs_;
    QMenu* system_;
    QMenu* help_;
    std::map<int, QAction*> actions_;
};

}  // namespace corvane3
