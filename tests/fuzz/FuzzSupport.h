#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a QCoreApplication and a private temporary
// directory (also the fernlog program directory), made once per process, and
// the check that ends a run naming the property that failed.
namespace Fuzz {

// Once per process, from LLVMFuzzerInitialize.
void Start(int* argc, char*** argv);

QString Dir();
QString File(const QString& name);
// Removes whatever the previous input left in Dir().
void ClearDir();

// A copy of the input: decoders get a QByteArray as a socket or file gives it.
QByteArray Bytes(const uint8_t* data, size_t size);

[[noreturn]] void Fail(const char* file, int line, const char* what);

}  // namespace Fuzz

// A property of the code under test; a violation is reported like a
// sanitizer finding and leaves a crash artefact.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : Fuzz::Fail(__FILE__, __LINE__, #condition))
