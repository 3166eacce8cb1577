#include "settings/ui/frmBrowse.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeView>
#include <QVBoxLayout>

#include "common/ProgramDir.h"
#include "core/ServerData.h"
#include "settings/FolderRules.h"
#include "settings/ui/FormHelpers.h"

frmBrowse::frmBrowse(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmBrowse"));
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setModal(true);

    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    for (const QFileInfo& drive : QDir::drives()) Drive1->addItem(drive.absoluteFilePath());

    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    folders_->setRootPath(QString());
    Dir1 = new QTreeView(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setModel(folders_);
    for (int column = 1; column < folders_->columnCount(); ++column) Dir1->hideColumn(column);
    Dir1->header()->hide();

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(OKButton, &QPushButton::clicked, this, &frmBrowse::Ok);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // A drive chosen in the list, by mouse, arrow keys or Enter, shows its
    // folders.
    connect(Drive1, &QComboBox::currentIndexChanged, this,
            [this](int index) { ShowDrive(Drive1->itemText(index)); });
    connect(Drive1, &QComboBox::activated, this,
            [this](int index) { ShowDrive(Drive1->itemText(index)); });

    // The lists take the width left of the buttons; the buttons stay right.
    auto* lists = new QVBoxLayout;
    lists->addWidget(Drive1);
    lists->addWidget(Dir1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addLayout(buttons);
    resize(460, 360);

    const QString current = ServerData::LogDirInUse.trimmed();
    SetPath(QFileInfo(current).isDir() ? current : ProgramDir::Path());
}

void frmBrowse::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormHelpers::CentreOnScreen(this);
}

void frmBrowse::ShowDrive(const QString& drive) {
    Dir1->setRootIndex(folders_->index(drive));
    Dir1->setCurrentIndex(QModelIndex());
}

void frmBrowse::SetPath(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (int i = 0; i < Drive1->count(); ++i) {
        if (absolute.startsWith(Drive1->itemText(i), Qt::CaseInsensitive)) {
            Drive1->setCurrentIndex(i);
            ShowDrive(Drive1->itemText(i));
        }
    }
    const QModelIndex index = folders_->index(absolute);
    if (!index.isValid()) return;
    Dir1->setCurrentIndex(index);
    Dir1->scrollTo(index);
}

QString frmBrowse::Path() const {
    const QModelIndex index = Dir1->currentIndex();
    return index.isValid() ? folders_->filePath(index) : Drive1->currentText();
}

void frmBrowse::Ok() {
    if (FolderRules::ChooseLogDir(Path())) accept();
}
