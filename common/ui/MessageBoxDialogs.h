#pragma once

// The dialogs of a windowed program: real message and input boxes, their
// texts always shown as plain text.
namespace MessageBoxDialogs {

// Makes every Dialogs::Message and Dialogs::Input show a box.
void Install();

}  // namespace MessageBoxDialogs
