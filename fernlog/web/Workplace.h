#pragma once

#include <optional>

#include "web/Listener.h"
#include "web/Sessions.h"

// The pages people work from: the alarms (/alarms, /alarm/ID and its PDF
// report) with their JSON, the sign-in, and the actions (on an alarm, a
// silence, a maintenance window added or removed, a day signed off). Every
// action is a POST that runs the procedures the commands run, audited with
// origin "web" and the name given. A form needs a signed-in session, its
// anti-forgery token and a page of this listener as its Origin (or
// Referer); the API takes the token instead.
namespace Web {

struct Access {
    bool writable = false;  // an administrator login or a token is set
    bool token = false;     // the request carries the listener's token
    std::optional<Sessions::Session> session;
};

// Alarms listed on a page.
constexpr int kPageSize = 50;

// A form's hidden anti-forgery field of the session; empty without one.
QString CsrfField(const Access& access);
// The links under each page's title, with who is signed in and the sign-out.
QString Navigation(const Access& access);
// The answer to a request without the token or a session.
Response Unauthorized(const Request& request);
// The page or document of a GET or HEAD; none for a path not served here.
std::optional<Response> Get(const Request& request, const Access& access);
Response Post(const Request& request, const Access& access);

}  // namespace Web
