#pragma once

#include <QWidget>

class QLabel;

// The splash window shown while fernlog starts; a key press or a click
// closes it early.
class frmSplash : public QWidget {
    Q_OBJECT
  public:
    explicit frmSplash(QWidget* parent = nullptr);

    QLabel* lblCompany = nullptr;
    QLabel* lblProductLine = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblVersion = nullptr;

  signals:
    void Closed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
