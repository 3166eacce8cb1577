#pragma once

#include <QByteArray>

// Fields of requests and answers: single bytes and signed 16-bit words, high
// byte first, at 1-based positions.
namespace Protocol {

// The byte at `position` (0-255); 0 outside the data.
int ByteAt(const QByteArray& data, int position);

// Two bytes at `position`, high byte first, as a signed 16-bit value.
float SignedWord(const QByteArray& answer, int position);

// Width 2: SignedWord as an integer; any other width: the byte (0-255).
// Positions outside the answer read as 0.
int ValueAt(const QByteArray& answer, int position, int width);

// The two bytes of a 16-bit value for writing into a request; always true.
bool SplitWord(int value, int& high, int& low);

}  // namespace Protocol
