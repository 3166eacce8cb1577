#pragma once

#include <QByteArray>
#include <QString>

// Fixed-length text on disk is one byte per character in the Windows ANSI
// code page (1252), so files written here read back the same on Windows.
namespace Ansi {

// Characters outside the code page become '?'.
QByteArray Encode(const QString& text);
QString Decode(const QByteArray& bytes);

// Exactly `length` bytes: the encoded text cut to length, padded with blanks.
QByteArray Field(const QString& text, int length);

// A field's text with trailing blanks and zero bytes removed (leading and
// trailing white space too, as every reader trims).
QString Trimmed(const QByteArray& field);

}  // namespace Ansi
