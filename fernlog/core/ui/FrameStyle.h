#pragma once

#include <QWidget>

// Every window's frames carry their caption in the frame's top edge, as a
// group box's title, rather than as a line of text above a bare panel.
inline const char* FrameStyleSheet() {
    return "QGroupBox { border: 1px solid palette(mid); border-radius: 4px;"
           " margin-top: 0.7em; padding-top: 0.6em; }"
           "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
           " left: 8px; padding: 0 4px; }";
}

inline void UseFrameStyle(QWidget* window) {
    window->setStyleSheet(QString::fromLatin1(FrameStyleSheet()));
}
