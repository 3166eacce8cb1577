#pragma once

#include <QObject>
#include <functional>

class QLineEdit;
class QWidget;

// Small pieces the settings windows share.
namespace FormHelpers {

// Places a window in the middle of the screen it is on.
void CentreOnScreen(QWidget* window);

// The yellow of a box the user has to correct, and back to white.
void SetMarked(QLineEdit* box, bool marked);

// Keeps only digits and Backspace typed into the boxes it watches; calls
// `accepted` with the box after each key it lets through.
class NumericKeyFilter : public QObject {
  public:
    NumericKeyFilter(QObject* parent, std::function<void(QLineEdit*)> accepted);
    void Watch(QLineEdit* box);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(QLineEdit*)> accepted_;
};

}  // namespace FormHelpers
