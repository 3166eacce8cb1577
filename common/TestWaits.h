#pragma once

#include <QString>
#include <initializer_list>

// The waits a test gives a program it starts, through an environment
// variable: "connect=200,answer=200" in milliseconds, each key optional and
// at most once. One reading for every program of the suite.
namespace TestWaits {

constexpr int kLongestMs = 600000;

struct Key {
    const char* name;
    int* field;
};
// Sets the fields of the keys `text` names; false with the reason (a key
// not among `keys`, one given twice, a value that is not 1-kLongestMs ms),
// and then no field is changed.
bool Parse(const QString& text, std::initializer_list<Key> keys, QString* error = nullptr);

}  // namespace TestWaits
