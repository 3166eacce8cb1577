#include "common/Dialogs.h"

#include <QtGlobal>

#include "common/EventLog.h"

namespace Dialogs {
namespace {
Handler& Current() {
    static Handler handler;
    return handler;
}

// Nobody can answer on a console (headless service use): take the safe
// default and leave the text in the service log, or on standard error.
Reply ConsoleReply(const Request& request) {
    if (EventLog::HasSink()) {
        const EventLog::Level level = request.icon == Icon::Critical  ? EventLog::Level::Error
                                      : request.icon == Icon::Warning ? EventLog::Level::Warning
                                                                      : EventLog::Level::Info;
        EventLog::Write(level, request.text);
    } else {
        qWarning("%s: %s", qPrintable(request.title), qPrintable(request.text));
    }
    if (request.kind == Request::Kind::Input) return {Answer::Cancel, {}};
    switch (request.buttons) {
        case Buttons::YesNo:
        case Buttons::YesNoCancel:
            return {Answer::No, {}};
        case Buttons::Ok:
            return {Answer::Ok, {}};
        default:
            return {Answer::Cancel, {}};
    }
}

Reply Ask(const Request& request) {
    return Current() ? Current()(request) : ConsoleReply(request);
}
}  // namespace

QString& Title() {
    static QString title;
    return title;
}

QString DefaultTitle() {
    return Title();
}

void SetDefaultTitle(const QString& title) {
    Title() = title;
}

Answer Message(const QString& text, Buttons buttons, Icon icon, const QString& title) {
    Request request;
    request.kind = Request::Kind::Message;
    request.text = text;
    request.title = title.isEmpty() ? DefaultTitle() : title;
    request.buttons = buttons;
    request.icon = icon;
    return Ask(request).answer;
}

std::optional<QString> Input(const QString& prompt, const QString& title, const QString& initial) {
    Request request;
    request.kind = Request::Kind::Input;
    request.text = prompt;
    request.title = title.isEmpty() ? DefaultTitle() : title;
    request.buttons = Buttons::OkCancel;
    request.initial = initial;
    const Reply reply = Ask(request);
    if (reply.answer != Answer::Ok) return std::nullopt;
    return reply.text;
}

void SetHandler(Handler handler) {
    Current() = std::move(handler);
}

}  // namespace Dialogs
