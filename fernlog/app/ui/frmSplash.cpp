#include "app/ui/frmSplash.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "core/Startup.h"

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(2);

    lblCompany = new QLabel(QStringLiteral("Corvane"), frame);
    lblProductLine = new QLabel(QStringLiteral("Corvane"), frame);
    lblProductName = new QLabel(Startup::ProgramTitle(), frame);
    lblVersion = new QLabel(QStringLiteral("Version ") + Startup::VersionText(), frame);

    QFont big = lblProductName->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    lblProductName->setFont(big);

    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(24, 16, 24, 16);
    inner->addWidget(lblCompany);
    inner->addWidget(lblProductLine);
    inner->addSpacing(12);
    inner->addWidget(lblProductName, 0, Qt::AlignHCenter);
    inner->addSpacing(12);
    inner->addWidget(lblVersion, 0, Qt::AlignRight);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    resize(360, 200);
}

void frmSplash::keyPressEvent(QKeyEvent*) {
    close();
}

void frmSplash::mousePressEvent(QMouseEvent*) {
    close();
}

void frmSplash::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed();
}
