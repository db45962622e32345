#pragma once
// The spectrum window: a cesium spectrum acquired live through the polling thread (the sweep
// itself lives in CSpectrumAcquisition; this window only sets it up, draws what it brought and
// answers the user), or a saved spectrum file shown in viewer mode. User-interface thread only.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "core/config/ProgramSettings.h"
#include "core/link/UnitState.h"
#include "core/spectrum/SpectrumAcquisition.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QPushButton;

namespace corvane3 {

class CCursorReadout;
class TracePlot;

// Where the spectrum window reads and changes the program's state. All must outlive it.
struct SpectrumWindowContext {
    CSpectrumAcquisition& acquisition;
    CProgramSettings& settings;
    CUnitState& unitState;
};

// The offset from the clock peak that "Arbitrary DDS Setting" keeps for the program's life.
struct ArbitraryDdsOffset {
    double hz = 0.0;
};

class CSpectrumDlg : public QDialog {
    Q_OBJECT

  public:
    // Menu command ids (those of the window's menu resource).
    enum ESpectrumCommand : int {
        kCmdOpen = 57601,
        kCmdSave = 57603,
        kCmdPrint = 57607,
        kCmdOptions = 32836,
        kCmdExit = 32826,
        kCmdCursors = 32841,
        kCmdFirstDds = 32850,  // "Clk Ramsey Top"; the eleven items follow in order
        kCmdAbout = 32837,
    };

    // Live mode: a sweep in mode, titled title. Sends the opening commands at once.
    CSpectrumDlg(SpectrumWindowContext context, ESweepMode mode, const QString& title,
                 ArbitraryDdsOffset& arbitrary, QWidget* parent = nullptr);
    // Viewer mode: shows the spectrum file path, loaded once the window shows.
    CSpectrumDlg(SpectrumWindowContext context, std::string path, QWidget* parent = nullptr);
    ~CSpectrumDlg() override;

    bool IsViewer() const { return viewer_; }

    // The main window's kNotifySweepProgress while this window is open.
    void OnSweepProgress();
    // "Go!" / "Abort!".
    void GoOrAbort();
    void ToggleCursors();
    // A "Set DDS" item, 0 ("Clk Ramsey Top") to 10 ("Arbitrary...").
    void SetDds(int item);
    // Writes the spectrum to path; a failure is said in a message box. True when written.
    bool SaveTo(const std::string& path);
    // Loads path as "Open..." does after its dialog. True when every line was a point.
    bool LoadFile(const std::string& path);
    // The suggested name of "Save...", from the unit's serial number and the Center choice.
    std::string SuggestedFileName() const;
    // "Print...": the window, landscape, on one page.
    void Print();
    // A termination request (Ctrl-C, SIGTERM, a hang-up): the run stops as Abort! stops it and
    // the window closes as if its closing question had been answered OK, sending what closing
    // sends; nobody may be there to answer. A question already showing is answered OK.
    void Terminate();

    // Replace the OK/Cancel questions, the print dialog and the window grab (tests).
    void SetConfirmer(std::function<bool(const QString& text, const QString& title)> confirm) {
        confirm_ = std::move(confirm);
    }
    void SetPrinterChooser(std::function<std::unique_ptr<QPrinter>(QWidget*)> chooser) {
        printerChooser_ = std::move(chooser);
    }
    void SetPrintGrabber(std::function<QImage(QWidget*)> grab) { printGrabber_ = std::move(grab); }

    TracePlot* Plot() const { return plot_; }
    // The detuning and signal under the cursors, shown while the cursors are.
    const CCursorReadout* Readout() const { return readout_; }
    QAction* CommandAction(int id) const;
    QPushButton* GoButton() const { return go_; }
    QComboBox* CenterList() const { return center_; }
    QComboBox* WidthList() const { return width_; }
    QComboBox* StepsList() const { return steps_; }
    QComboBox* NtotList() const { return ntot_; }
    QLineEdit* StepBox() const { return stepBox_; }
    QLineEdit* NBox() const { return nBox_; }

  signals:
    // The spectrum shown changed: a sweep point, a completed sweep, a loaded file.
    void SpectrumDrawn();
    // Viewer mode: the file named at creation has been loaded (or refused).
    void InitialLoadDone();

  public slots:
    // File Exit and the close box: the closing steps, which may keep the window open.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Build();
    void BuildMenus();
    void OpenLive();
    void LayoutPanel();
    void SetRunning(bool running);
    void ResetSeries();
    // Series 0 takes the sweep in progress; series 1, when average, the averaged spectrum.
    void DrawSpectrum(const SpectrumData& data, int pointsAcquired, bool average);
    void FitViewport(const SpectrumData& data);
    void SetWidthLimits();
    void OnMouseDown(Qt::MouseButton button);
    void RefreshReadout();
    void SaveDialog();
    void OpenDialog();
    void AdvancedFeatures();
    bool Confirm(const QString& text, const QString& title);
    QPointer<QMessageBox> question_;  // the closing question while it shows
    bool terminating_ = false;
    bool rejecting_ = false;
    bool closed_ = false;  // the closing command went out: nothing more is sent
    SweepParameters Parameters() const;
    int NtotChoice() const;

    SpectrumWindowContext context_;
    bool viewer_ = false;
    std::string initialFile_;
    bool initialLoaded_ = false;
    ESweepMode mode_ = ESweepMode::kHost;
    ArbitraryDdsOffset* arbitrary_ = nullptr;
    bool cursors_ = false;

    TracePlot* plot_ = nullptr;
    CCursorReadout* readout_ = nullptr;
    QMenu* ddsMenu_ = nullptr;
    std::array<QAction*, 11> ddsItems_{};
    QGroupBox* sweepGroup_ = nullptr;
    QGroupBox* averageGroup_ = nullptr;
    QLabel* centerLabel_ = nullptr;
    QLabel* widthLabel_ = nullptr;
    QLabel* stepsLabel_ = nullptr;
    QLabel* stepLabel_ = nullptr;
    QLabel* ntotLabel_ = nullptr;
    QLabel* nLabel_ = nullptr;
    QComboBox* center_ = nullptr;
    QComboBox* width_ = nullptr;
    QComboBox* steps_ = nullptr;
    QComboBox* ntot_ = nullptr;
    QLineEdit* stepBox_ = nullptr;
    QLineEdit* nBox_ = nullptr;
    QPushButton* go_ = nullptr;
    QWidget* client_ = nullptr;

    std::function<bool(const QString&, const QString&)> confirm_;
    std::function<std::unique_ptr<QPrinter>(QWidget*)> printerChooser_;
    std::function<QImage(QWidget*)> printGrabber_;
};

}  // namespace corvane3
