#pragma once

#include <QColor>

#include "core/Windows.h"

// The core's colours as the windows paint them.
inline QColor ToQColor(Colour colour) {
    switch (colour) {
        case Colour::White:
            return QColor(255, 255, 255);
        case Colour::Green:
            return QColor(0, 255, 0);
        case Colour::Red:
            return QColor(255, 0, 0);
        case Colour::LightGrey:
            return QColor(224, 224, 224);
    }
    return QColor();
}

// The status cell of an alarm someone handles: amber for an acknowledged
// one, light blue for a silenced sensor; invalid for none.
inline QColor HandlingColour(const QString& handling) {
    if (handling == QLatin1String("acknowledged")) return QColor(255, 191, 0);
    if (handling == QLatin1String("silenced")) return QColor(173, 216, 230);
    return QColor();
}
