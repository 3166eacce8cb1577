#pragma once

// Whether a window, as shown, fits a 1280x800 screen with every control and
// text whole: each visible label, button, box and frame lies inside the
// window and has at least the size it needs (a wrapped label: the height
// its text takes at its width).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;
// Room for the title bar and borders a window manager adds, and a panel.
constexpr int kFrameAllowance = 60;

inline void ExpectFitsScreen(QWidget* window) {
    const std::string name = window->objectName().toStdString();
    EXPECT_LE(window->width(), kScreenWidth) << name;
    EXPECT_LE(window->height() + kFrameAllowance, kScreenHeight) << name;
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (!child->isVisibleTo(window)) continue;
        const bool control = qobject_cast<QLabel*>(child) ||
                             qobject_cast<QAbstractButton*>(child) ||
                             qobject_cast<QLineEdit*>(child) || qobject_cast<QComboBox*>(child) ||
                             qobject_cast<QGroupBox*>(child);
        if (!control) continue;
        const std::string what = name + " " + child->metaObject()->className() + " \"" +
                                 child->objectName().toStdString() + "\" " +
                                 (qobject_cast<QLabel*>(child)
                                      ? qobject_cast<QLabel*>(child)->text().left(40).toStdString()
                                      : std::string());
        const QRect inWindow(child->mapTo(window, QPoint(0, 0)), child->size());
        EXPECT_TRUE(window->rect().contains(inWindow)) << what;
        QSize needed = child->minimumSizeHint();
        auto* label = qobject_cast<QLabel*>(child);
        if (label && label->wordWrap() && label->hasHeightForWidth())
            needed.setHeight(label->heightForWidth(child->width()));
        if (qobject_cast<QLineEdit*>(child)) needed.setWidth(0);  // a box may scroll its text
        if (!needed.isValid()) continue;
        EXPECT_GE(child->width(), needed.width()) << what;
        EXPECT_GE(child->height(), needed.height()) << what;
    }
}
