#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
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

// Times in pages as the program writes them everywhere else ("-" for
// none); in JSON as ISO 8601 with the offset (null for none).
QString PageTime(const QDateTime& when);
QJsonValue JsonTime(const QDateTime& when);

// The start of every page up to its heading: the style, the viewport of a
// phone and the links between the pages. `base` leads from the page's
// folder to the top ("" or "../"), so that the pages work behind a proxy
// that serves them under a path of its own; `refreshSeconds` 0: none.
QString PageStart(const QString& title, const QString& base, int refreshSeconds = 0);
QString PageEnd(const QString& base);

// `navigation`: the sign-in line shown under the title.
QByteArray StatusPage(const Snapshot& snapshot, const QString& navigation = QString());
// The CSS every page shares.
const char* PageStyle();
QByteArray StatusJson(const Snapshot& snapshot);
QByteArray Metrics(const Snapshot& snapshot);

}  // namespace Web
