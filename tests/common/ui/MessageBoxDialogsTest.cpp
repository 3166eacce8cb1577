#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "common/Dialogs.h"
#include "common/ui/MessageBoxDialogs.h"

// A text that a device or server sent goes into the box as it is; markup in
// it must not be rendered.
TEST(MessageBoxDialogsTest, TextIsShownAsPlainTextAndTheButtonAnswers) {
    MessageBoxDialogs::Install();
    QString shown, title;
    Qt::TextFormat format = Qt::AutoText;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = box->text();
        title = box->windowTitle();
        format = box->textFormat();
        box->button(QMessageBox::No)->click();
    });
    poll.start(10);
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    bound.start(10000);
    const auto answer =
        Dialogs::Message(QStringLiteral("<b>Wrong</b> text"), Dialogs::Buttons::YesNo,
                         Dialogs::Icon::Question, QStringLiteral("Check"));
    Dialogs::SetHandler({});
    EXPECT_EQ(shown, QStringLiteral("<b>Wrong</b> text"));
    EXPECT_EQ(title, QStringLiteral("Check"));
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(answer, Dialogs::Answer::No);
}
