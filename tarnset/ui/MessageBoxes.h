#pragma once

// Real message and input boxes for every Dialogs::Message and Dialogs::Input
// of the window.
namespace MessageBoxes {
void Install();
}
