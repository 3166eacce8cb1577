#pragma once

#include <QByteArray>
#include <QString>

#include "web/Snapshot.h"

// The three views of a snapshot: the status page (HTML with its own CSS,
// no external resources, refreshing itself every update period), the JSON
// document of /api/v1/status, and the Prometheus text format of /metrics.
namespace Web {

// Text made safe inside HTML elements and quoted attributes.
QString HtmlEscape(const QString& text);
// A label value of the Prometheus text format: backslash, quote and line
// end escaped.
QString LabelEscape(const QString& text);
// The CSS class of a status colour ("ok", "alarm", "nodata", "idle").
QString ColourClass(Colour colour);

// `navigation`: the links and sign-in line shown under the title.
QByteArray StatusPage(const Snapshot& snapshot, const QString& navigation = QString());
// What every page shares: its CSS, and times as the program writes them
// ("-" when invalid).
const char* PageStyle();
QString PageTime(const QDateTime& when);
QByteArray StatusJson(const Snapshot& snapshot);
QByteArray Metrics(const Snapshot& snapshot);

}  // namespace Web
