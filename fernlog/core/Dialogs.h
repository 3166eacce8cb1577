#pragma once

#include <QString>
#include <functional>
#include <optional>

// Every message box, question and input box of fernlog goes through here, so
// that tests can answer them from a script while the program shows real ones.
namespace Dialogs {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class Icon { None, Information, Warning, Critical, Question };
enum class Answer { Ok, Cancel, Yes, No, Retry };

// The default title of fernlog's boxes.
QString DefaultTitle();

Answer Message(const QString& text, Buttons buttons = Buttons::Ok, Icon icon = Icon::Information,
               const QString& title = QString());

// An input box; nullopt when the user cancels.
std::optional<QString> Input(const QString& prompt, const QString& title = QString(),
                             const QString& initial = QString());

// What a scripted handler is shown.
struct Request {
    enum class Kind { Message, Input } kind = Kind::Message;
    QString text;
    QString title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    QString initial;
};

// What a scripted handler answers: the button, and the text for input boxes.
struct Reply {
    Answer answer = Answer::Ok;
    QString text;
};

using Handler = std::function<Reply(const Request&)>;

// Replaces the real boxes; an empty handler restores them.
void SetHandler(Handler handler);

}  // namespace Dialogs
