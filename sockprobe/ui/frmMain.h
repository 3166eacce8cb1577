#pragma once

#include <QMainWindow>

#include "sockprobe/PortCheck.h"

class QAction;
class QCloseEvent;
class QListWidget;
class QPushButton;

// The one window of sockprobe: the Start Test button, the output list and
// the menus. The run itself is Sockprobe::PortCheck.
class frmMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit frmMain(QWidget* parent = nullptr);

    Sockprobe::PortCheck& Check() { return check_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void StartTest();
    void CopyStatus();

    Sockprobe::PortCheck check_;
    QPushButton* cmdStart = nullptr;
    QListWidget* lstOutput = nullptr;
    QAction* mnuClose = nullptr;
    QAction* mnuCopy = nullptr;
    QAction* mnuLocalIP = nullptr;
    QAction* mnuLoopbackIP = nullptr;
};
