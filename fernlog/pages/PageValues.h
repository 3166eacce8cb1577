#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// How values sit in a page: signed 16-bit words high byte first, single
// bytes, 20-byte blank-padded names and flag bytes; and how box texts become
// those values. Positions count from 1.
namespace Pages {

// The number a box holds, times 10^decimals, rounded to a whole number with
// halves going to the even neighbour. Exact on the decimal text (no binary
// fractions): "3.45" with one decimal is 34 and "3.55" is 36. Accepts an
// optional "-", digits and at most one "." with a digit somewhere; nullopt
// for anything else ("", "-", ".", "1.2.3", "1-2"). Values too large for any
// field come back as a number beyond every field's range.
std::optional<qint64> ScaledNumber(const QString& text, int decimals);

// A value in tenths as the windows show it, one decimal, as the log grid
// shows its readings: 35 -> "3.5", 5 -> "0.5", -3 -> "-0.3", 0 -> "0.0".
QString TenthsText(qint64 tenths);

// A word or byte of a page image.
int ReadWord(const QByteArray& image, int position);
int ReadByte(const QByteArray& image, int position);
void WriteWord(QByteArray& image, int position, int value);  // -1 -> FF FF
void WriteByte(QByteArray& image, int position, int value);

// Names: read trimmed; written left-aligned, blank padded, cut at 20.
QString ReadName(const QByteArray& image, int position);
void WriteName(QByteArray& image, int position, const QString& name);
// Whether every character of `name` has a byte in the device's code page.
bool NameFits(const QString& name);

// The smallest and largest word and byte.
constexpr int kWordMin = -32768;
constexpr int kWordMax = 32767;
constexpr int kByteMax = 255;

}  // namespace Pages

// Key filters of the configuration windows: whether a typed character is
// kept. They judge single keys only, so "-" and "." are taken anywhere.
namespace Pages {
bool SignedNumberKey(QChar key);  // digits, ".", "-" (txtLL, txtUL, txtActualTemp)
bool DigitKey(QChar key);         // digits (txtTOL, the delay boxes)
bool NameKey(QChar key);          // all but "/" and "\" (txtName of frmQX705)
// The message for a refused name key: the character and " is an invalid character."
QString InvalidNameKeyMessage(QChar key);
}  // namespace Pages
