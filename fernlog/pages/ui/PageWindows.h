#pragma once

#include <QString>

#include "core/Windows.h"

class QWidget;

// Opens a model configuration window (frmQX705, frmQX708, frmQX720,
// frmQX740 or frmZolo) modally for the device at `ipAddress` whose
// tblServers.IDNum is `serverId`; returns when the window closes.
void ShowPageWindow(Window which, const QString& ipAddress, qint64 serverId, QWidget* parent);
