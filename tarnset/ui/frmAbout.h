#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: title, version, and what the program knows of the system.
class frmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit frmAbout(QWidget* parent = nullptr);
    static QString SystemInfoText();

  private:
    QLabel* lblTitle;
    QLabel* lblVersion;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
};
