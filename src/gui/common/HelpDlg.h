#pragma once
// "Help Topics": the program's help page in a window of its own, so that help shows on any
// machine, with or without a web browser. The page is built into the program.

#include <QDialog>

class QTextBrowser;

namespace corvane3 {

class CHelpDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CHelpDlg(QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return browser_; }

  private:
    QTextBrowser* browser_;
};

}  // namespace corvane3
