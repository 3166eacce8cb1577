#pragma once

#include <QString>
#include <functional>

// The tool's message boxes. The program shows real ones; tests install a
// handler that records the text instead of waiting for a click.
namespace ProbeDialogs {

using Handler = std::function<void(const QString& text)>;

// An empty handler restores the real message box.
void SetHandler(Handler handler);

// An information box with an OK button, titled with the program's caption.
void Message(const QString& text);

}  // namespace ProbeDialogs
