#pragma once

#include <QString>
#include <map>
#include <vector>

#include "settings/ConfigurationRules.h"

// A settings dialog without widgets: records what the rules asked of it.
struct RecordingView : ConfigurationRules::FormView {
    using Field = ConfigurationRules::Field;
    std::vector<Field> focused;
    std::vector<Field> marked;
    std::map<Field, QString> texts;
    bool busy = false;
    int busyTimes = 0;

    void FocusField(Field field) override { focused.push_back(field); }
    void SetFieldText(Field field, const QString& text) override { texts[field] = text; }
    void MarkField(Field field) override { marked.push_back(field); }
    void SetBusy(bool on) override {
        busy = on;
        if (on) ++busyTimes;
    }
};
