#include "protocol/Bytes.h"

#include <climits>
#include <cmath>

namespace Protocol {

int ByteAt(const QByteArray& data, int position) {
    // Compared as 64-bit so that no position can overflow the bounds check.
    if (position < 1 || static_cast<qint64>(position) > data.size()) return 0;
    return static_cast<unsigned char>(data.at(position - 1));
}

float SignedWord(const QByteArray& answer, int position) {
    return static_cast<float>(ValueAt(answer, position, 2));
}

int ValueAt(const QByteArray& answer, int position, int width) {
    if (width != 2) return ByteAt(answer, position);
    const int high = ByteAt(answer, position);
    const int low = position < INT_MAX ? ByteAt(answer, position + 1) : 0;
    const int word = 256 * high + low;
    return high >= 128 ? word - 65536 : word;
}

bool SplitWord(int value, int& high, int& low) {
    low = value & 255;
    high = static_cast<int>(std::lround((value & ~255) / 256.0)) & 255;
    return true;
}

}  // namespace Protocol
