#include "core/Crypt.h"

#include <openssl/evp.h>

#include <array>
#include <memory>

namespace Crypt {
namespace {
constexpr char kPassPhrase[] = "quintabrellovasterpines";
constexpr unsigned char kSalt[] = "Corvane.FernlogConfig";
constexpr int kIterations = 4096;

struct KeyMaterial {
    bool ready = false;
    std::array<unsigned char, 16> key{};
    std::array<unsigned char, 16> iv{};
};

KeyMaterial& Material() {
    static KeyMaterial material;
    return material;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::optional<QByteArray> Run(const QByteArray& input, bool encrypt) {
    InitCrypt();
    const KeyMaterial& m = Material();
    CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx) return std::nullopt;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, m.key.data(), m.iv.data(),
                          encrypt ? 1 : 0) != 1) {
        return std::nullopt;
    }
    QByteArray out(input.size() + 32, '\0');
    int written = 0;
    int last = 0;
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), dst, &written,
                         reinterpret_cast<const unsigned char*>(input.constData()),
                         static_cast<int>(input.size())) != 1) {
        return std::nullopt;
    }
    if (EVP_CipherFinal_ex(ctx.get(), dst + written, &last) != 1) return std::nullopt;
    out.resize(written + last);
    return out;
}
}  // namespace

void InitCrypt() {
    KeyMaterial& m = Material();
    if (m.ready) return;
    std::array<unsigned char, 32> derived{};
    PKCS5_PBKDF2_HMAC(kPassPhrase, static_cast<int>(sizeof kPassPhrase - 1), kSalt,
                      static_cast<int>(sizeof kSalt - 1), kIterations, EVP_sha256(),
                      static_cast<int>(derived.size()), derived.data());
    std::copy(derived.begin(), derived.begin() + 16, m.key.begin());
    std::copy(derived.begin() + 16, derived.end(), m.iv.begin());
    m.ready = true;
}

QString KeyHex() {
    InitCrypt();
    const auto& key = Material().key;
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(key.data()), static_cast<int>(key.size()))
            .toHex());
}

std::optional<QByteArray> EncryptToText(const QByteArray& plain) {
    const auto cipher = Run(plain, true);
    if (!cipher) return std::nullopt;
    return cipher->toBase64();
}

std::optional<QByteArray> DecryptFromText(const QByteArray& text) {
    const QByteArray trimmed = text.trimmed();
    const auto decoded =
        QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() % 16 != 0) {
        return std::nullopt;
    }
    return Run(decoded.decoded, false);
}

}  // namespace Crypt
