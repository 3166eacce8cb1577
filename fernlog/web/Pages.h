#pragma once

#include "web/Listener.h"

// The pages beside the status page, and their JSON: a sensor's history
// (/sensor/ID, /api/v1/sensors/ID/history), the silences and maintenance
// windows (/maintenance, /api/v1/maintenance) and the audit trail (/audit,
// /api/v1/audit). Reads only.
namespace Web {

// Fills `response` and is true when the request's path is one of these
// pages; false (response untouched) for any other path.
bool AnswerPage(const Request& request, Response& response);

// The longest period one history request may ask for.
constexpr int kMaxHistoryDays = 31;
// Rows of the audit trail on one page.
constexpr int kAuditPageRows = 100;

}  // namespace Web
