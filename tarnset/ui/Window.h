#pragma once

// The windowed tarnset: a QApplication, real message boxes, frmMain.
namespace TarnsetUi {

// Returns the exit status; 2 when $TARNSET_BROADCAST is not an address.
int RunWindow(int argc, char** argv);

}  // namespace TarnsetUi
