#pragma once

#include <QDialog>

class QComboBox;
class QFileSystemModel;
class QPushButton;
class QTreeView;

// The folder browser of the log directory: a drive list and its folders.
// OK makes the chosen folder the current log directory.
class frmBrowse : public QDialog {
    Q_OBJECT
  public:
    explicit frmBrowse(QWidget* parent = nullptr);

    // The folder list's path: the chosen folder, else the drive's root.
    QString Path() const;
    // Shows `path` chosen, switching the drive list to its drive.
    void SetPath(const QString& path);
    // Shows the drive's folders (Drive1's change).
    void ShowDrive(const QString& drive);

    QComboBox* Drive1 = nullptr;
    QTreeView* Dir1 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Ok();

    QFileSystemModel* folders_ = nullptr;
};
