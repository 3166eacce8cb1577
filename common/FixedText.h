#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "common/Ansi.h"

// A fixed-length text field as records keep it: exactly N ANSI bytes, blank
// padded when assigned, cut to N when longer. A field never assigned holds
// zero bytes, as in a new file.
template <int N>
class FixedText {
  public:
    static constexpr int kLength = N;

    FixedText() { bytes_.fill('\0'); }
    FixedText(const QString& text) { Set(text); }  // NOLINT: assignment from text is the point
    FixedText& operator=(const QString& text) {
        Set(text);
        return *this;
    }

    void Set(const QString& text) {
        const QByteArray field = Ansi::Field(text, N);
        std::copy(field.begin(), field.end(), bytes_.begin());
    }

    // The value as every reader uses it: trimmed.
    QString Text() const { return Ansi::Trimmed(Bytes()); }
    bool IsEmpty() const { return Text().isEmpty(); }

    // The N stored bytes, unaltered.
    QByteArray Bytes() const { return QByteArray(bytes_.data(), N); }
    void SetBytes(const QByteArray& raw) {
        bytes_.fill(' ');
        std::copy(raw.begin(), raw.begin() + std::min<qsizetype>(raw.size(), N), bytes_.begin());
    }

    bool operator==(const FixedText& other) const { return bytes_ == other.bytes_; }

  private:
    std::array<char, N> bytes_;
};
