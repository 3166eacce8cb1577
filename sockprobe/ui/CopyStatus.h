#pragma once

#include <QString>
#include <QStringList>

namespace Sockprobe {

// The output lines as one text, every line followed by CR LF.
QString StatusText(const QStringList& lines);

// Replaces the clipboard's content with StatusText(lines) as plain text.
void CopyStatus(const QStringList& lines);

}  // namespace Sockprobe
