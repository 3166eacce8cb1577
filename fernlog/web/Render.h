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

QByteArray StatusPage(const Snapshot& snapshot);
QByteArray StatusJson(const Snapshot& snapshot);
QByteArray Metrics(const Snapshot& snapshot);

}  // namespace Web
