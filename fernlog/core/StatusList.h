#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QStringListModel;

// The keyed status list: at most one line per key, so the list shows the
// latest state of each thing instead of a growing log. The main window shows
// Model(); headless runs print each changed line through the listener.
namespace StatusList {

// Finds the first line containing `key` (case-sensitive substring). A `text`
// of "delete" (any case) removes that line; anything else makes the line
// key + text, replaced in place or added at the end.
void ShowStatus(const QString& key, const QString& text);

void Clear();

// Back to the state of a fresh start: no lines, no listener.
void Reset();
QStringList Lines();

// The list model behind lstStatus; lives for the whole run.
QStringListModel* Model();

// Called with each line that was added or replaced (not for removals).
using Listener = std::function<void(const QString& line)>;
void SetListener(Listener listener);

}  // namespace StatusList
