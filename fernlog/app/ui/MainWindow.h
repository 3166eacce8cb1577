#pragma once

// The windowed run of fernlog: splash, main window, event loop.
namespace MainWindow {

int Run();

}  // namespace MainWindow
