#pragma once

#include "web/Listener.h"
#include "web/Workplace.h"

// The pages beside the status page, and their JSON: a sensor's history
// (/sensor/ID, /api/v1/sensors/ID/history), the silences and maintenance
// windows (/maintenance, /api/v1/maintenance) and the audit trail (/audit,
// /api/v1/audit). Reads only: a signed-in session also gets the forms that
// post to Workplace (a window added or removed, a day signed off).
namespace Web {

// Fills `response` and is true when the request's path is one of these
// pages; false (response untouched) for any other path.
bool AnswerPage(const Request& request, const Access& access, Response& response);

// The longest period one history request may ask for.
constexpr int kMaxHistoryDays = 31;
// Rows of the audit trail on one page.
constexpr int kAuditPageRows = 100;

}  // namespace Web
