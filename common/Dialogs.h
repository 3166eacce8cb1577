#pragma once

#include <QString>
#include <functional>
#include <optional>

// Every message box, question and input box goes through here. Without a
// handler they go to the console with the safe default answer (a program
// running as a service); a windowed program installs its message-box handler
// (ui/), and tests install a script that records and answers them.
namespace Dialogs {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class Icon { None, Information, Warning, Critical, Question };
enum class Answer { Ok, Cancel, Yes, No, Retry };

// The title of boxes that give none; the program's title by default.
QString DefaultTitle();
void SetDefaultTitle(const QString& title);

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

// Replaces the current handler; an empty one restores the console.
void SetHandler(Handler handler);

}  // namespace Dialogs
