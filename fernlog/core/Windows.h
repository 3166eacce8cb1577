#pragma once

#include <QString>

// How the core reaches windows. Each module that draws on a window declares
// one interface for that role (DeviceLink::LinkView, Polling::CycleView,
// Startup::ActivationView); a window implements the roles it plays and
// registers itself with the module's SetView while it lives. The core never
// names a window class: it names the window by one of these constants.
enum class Window {
    None,
    frmMain,
    frmTreeConfiguration,
    // The model configuration windows.
    frmQX705,
    frmQX708,
    frmQX720,
    frmQX740,
    frmZolo,
};

// The window's name as the program's texts give it ("frmMain").
QString WindowName(Window window);

// The colours the core asks a window to show; windows map them to their own
// colour type.
enum class Colour {
    White,      // 255, 255, 255
    Green,      // 0, 255, 0
    Red,        // 255, 0, 0
    LightGrey,  // 224, 224, 224
};
