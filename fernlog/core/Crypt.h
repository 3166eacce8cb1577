#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The crypt component of the settings file: AES-128-CBC with a key derived
// from a fixed pass phrase, cipher text as base64.
//
// The initialisation vector is derived together with the key instead of
// being stored with each value: stored fields are only 100 characters, and a
// stored vector would cut the longest value from 63 to 47 characters. The
// pass phrase ships inside the program, so this protects against casual
// reading of the file, not against a determined reader either way.
namespace Crypt {

// Longest plain value (in bytes of the ANSI code page) whose enciphered form
// fits a 100-character field: PKCS#7 padding makes 63 bytes into 64 cipher
// bytes, and base64 of 64 bytes is 88 characters; 64 plain bytes would need
// 80 cipher bytes, 108 characters.
constexpr int kMaxPlainLength = 63;
constexpr int kStoredFieldLength = 100;

// Derives the key from the fixed pass phrase. Called once at start-up before
// the settings file is read; Encrypt and Decrypt call it themselves if needed.
void InitCrypt();

// The derived key as hexadecimal text.
QString KeyHex();

// Base64 text of the cipher text of `plain` (ANSI bytes); nullopt on failure.
std::optional<QByteArray> EncryptToText(const QByteArray& plain);

// The plain bytes of base64 cipher text (surrounding blanks ignored);
// nullopt when the text is not base64 or does not decipher.
std::optional<QByteArray> DecryptFromText(const QByteArray& text);

}  // namespace Crypt
