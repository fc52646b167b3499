// WinZip AES encryption of an entry's data (see ZipAes.h). Every primitive is libcrypto's:
// random bytes, PBKDF2, AES (its ECB mode makes the counter blocks' key stream, as the
// format's counter is little-endian and OpenSSL's counter mode is big-endian) and HMAC.

#include "engine/ZipAes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace libZip::detail {

namespace {

constexpr int Iterations = 1000;
constexpr size_t KeyLength = 32;
constexpr size_t BlockLength = 16;
constexpr size_t StreamBlocks = 256; // key stream made this many blocks at a time

// HMAC's implementation, fetched once for every thread (fetched objects may be shared).
EVP_MAC* HmacImplementation() {
    static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

} // namespace

struct AesEncryptor::Impl {
    EVP_CIPHER_CTX* Cipher = nullptr;
    EVP_MAC_CTX* Mac = nullptr;
    uint64_t Counter = 0; // the last block number used
    unsigned char Stream[StreamBlocks * BlockLength];
    size_t Used = sizeof Stream; // bytes of Stream already used
    ~Impl() {
        EVP_CIPHER_CTX_free(Cipher);
        EVP_MAC_CTX_free(Mac);
        OPENSSL_cleanse(Stream, sizeof Stream);
    }
};

AesEncryptor::AesEncryptor() : m_impl(std::make_unique<Impl>()) {}
AesEncryptor::~AesEncryptor() = default;

bool AesEncryptor::Start(std::string_view sPassword, std::string& out) {
    Impl& m = *m_impl;
    unsigned char salt[AesSaltLength];
    unsigned char keys[2 * KeyLength + AesVerifierLength];
    if (RAND_bytes(salt, sizeof salt) != 1) return false;
    if (PKCS5_PBKDF2_HMAC_SHA1(sPassword.data(), static_cast<int>(sPassword.size()), salt, sizeof salt, Iterations,
                               sizeof keys, keys) != 1)
        return false;
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    bool bOk = HmacImplementation() != nullptr;
    if (bOk) bOk = (m.Cipher = EVP_CIPHER_CTX_new()) != nullptr && (m.Mac = EVP_MAC_CTX_new(HmacImplementation()));
    bOk = bOk && EVP_EncryptInit_ex(m.Cipher, EVP_aes_256_ecb(), nullptr, keys, nullptr) == 1 &&
          EVP_CIPHER_CTX_set_padding(m.Cipher, 0) == 1 && EVP_MAC_init(m.Mac, keys + KeyLength, KeyLength, params) == 1;
    if (bOk) {
        out.append(reinterpret_cast<const char*>(salt), sizeof salt);
        out.append(reinterpret_cast<const char*>(keys + 2 * KeyLength), AesVerifierLength);
    }
    OPENSSL_cleanse(keys, sizeof keys);
    return bOk;
}

bool AesEncryptor::Refill() {
    Impl& m = *m_impl;
    unsigned char counters[sizeof m.Stream];
    std::memset(counters, 0, sizeof counters);
    for (size_t b = 0; b < StreamBlocks; ++b) {
        const uint64_t n = ++m.Counter;
        for (size_t k = 0; k < 8; ++k)
            counters[b * BlockLength + k] = static_cast<unsigned char>(n >> (8 * k));
    }
    int iLen = 0;
    if (EVP_EncryptUpdate(m.Cipher, m.Stream, &iLen, counters, sizeof counters) != 1 ||
        static_cast<size_t>(iLen) != sizeof m.Stream)
        return false;
    m.Used = 0;
    return true;
}

bool AesEncryptor::Encrypt(char* p, size_t n) {
    Impl& m = *m_impl;
    if (!m.Cipher || !m.Mac) return false;
    auto* q = reinterpret_cast<unsigned char*>(p);
    for (size_t i = 0; i < n;) {
        if (m.Used == sizeof m.Stream && !Refill()) return false;
        const size_t k = std::min(n - i, sizeof m.Stream - m.Used);
        for (size_t j = 0; j < k; ++j)
            q[i + j] ^= m.Stream[m.Used + j];
        m.Used += k;
        i += k;
    }
    return EVP_MAC_update(m.Mac, q, n) == 1;
}

bool AesEncryptor::Finish(std::string& out) {
    Impl& m = *m_impl;
    if (!m.Mac) return false;
    unsigned char code[EVP_MAX_MD_SIZE];
    size_t iLen = 0;
    if (EVP_MAC_final(m.Mac, code, &iLen, sizeof code) != 1 || iLen < AesMacLength) return false;
    out.append(reinterpret_cast<const char*>(code), AesMacLength);
    return true;
}

bool AesEncryptWhole(std::string_view sPassword, std::string& data) {
    AesEncryptor aes;
    std::string head;
    if (!aes.Start(sPassword, head) || !aes.Encrypt(data.data(), data.size()) || !aes.Finish(data)) return false;
    data.insert(0, head);
    return true;
}

AesCheck AesAuthenticate(int iFd, uint64_t lStart, uint64_t lLength, uint8_t uStrength, std::string_view sPassword) {
    if (uStrength < 1 || uStrength > 3) return AesCheck::Damaged;
    const size_t nKey = 8 + 8 * uStrength; // 16, 24 or 32 bytes
    const size_t nSalt = nKey / 2;
    if (lLength < nSalt + AesVerifierLength + AesMacLength) return AesCheck::Damaged;
    std::vector<unsigned char> buf(1u << 16);
    auto readAt = [&](uint64_t at, size_t n) {
        for (size_t got = 0; got < n;) {
            const ssize_t r = ::pread(iFd, buf.data() + got, n - got, static_cast<off_t>(at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    };
    if (!readAt(lStart, nSalt + AesVerifierLength)) return AesCheck::Unreadable;
    unsigned char keys[2 * 32 + AesVerifierLength];
    if (PKCS5_PBKDF2_HMAC_SHA1(sPassword.data(), static_cast<int>(sPassword.size()), buf.data(),
                               static_cast<int>(nSalt), Iterations, static_cast<int>(2 * nKey + AesVerifierLength),
                               keys) != 1)
        return AesCheck::Unreadable;
    struct Cleanse {
        unsigned char* p;
        size_t n;
        ~Cleanse() { OPENSSL_cleanse(p, n); }
    } cleanse{keys, sizeof keys};
    if (CRYPTO_memcmp(keys + 2 * nKey, buf.data() + nSalt, AesVerifierLength) != 0) return AesCheck::WrongPassword;
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    std::unique_ptr<EVP_MAC_CTX, void (*)(EVP_MAC_CTX*)> mac(
        HmacImplementation() ? EVP_MAC_CTX_new(HmacImplementation()) : nullptr, EVP_MAC_CTX_free);
    if (!mac || EVP_MAC_init(mac.get(), keys + nKey, nKey, params) != 1) return AesCheck::Unreadable;
    const uint64_t lData = lLength - nSalt - AesVerifierLength - AesMacLength;
    const uint64_t lFrom = lStart + nSalt + AesVerifierLength;
    for (uint64_t at = 0; at < lData;) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(buf.size(), lData - at));
        if (!readAt(lFrom + at, n)) return AesCheck::Unreadable;
        if (EVP_MAC_update(mac.get(), buf.data(), n) != 1) return AesCheck::Unreadable;
        at += n;
    }
    unsigned char code[EVP_MAX_MD_SIZE];
    size_t iLen = 0;
    if (EVP_MAC_final(mac.get(), code, &iLen, sizeof code) != 1 || iLen < AesMacLength) return AesCheck::Unreadable;
    if (!readAt(lFrom + lData, AesMacLength)) return AesCheck::Unreadable;
    return CRYPTO_memcmp(code, buf.data(), AesMacLength) == 0 ? AesCheck::Sound : AesCheck::Damaged;
}

std::string AesExtraData(uint8_t uVendor, uint8_t uStrength, uint16_t uRealMethod) {
    std::string s;
    s += static_cast<char>(uVendor);
    s += '\0';
    s += "AE";
    s += static_cast<char>(uStrength);
    s += static_cast<char>(uRealMethod & 0xFF);
    s += static_cast<char>(uRealMethod >> 8);
    return s;
}

} // namespace libZip::detail
