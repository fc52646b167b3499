#pragma once
// WinZip AES encryption (AE-2) of one zip entry's stored data, with OpenSSL's libcrypto: a
// fresh random 16-byte salt per entry, PBKDF2-HMAC-SHA1 (1,000 iterations) giving the AES-256
// key, the HMAC key and a 2-byte password verifier; AES-256 in the format's counter mode (a
// little-endian block counter starting at 1); HMAC-SHA1 of the encrypted data, cut to 10
// bytes, after it. The stored data is salt, verifier, encrypted data, code.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace libZip::detail {

constexpr uint16_t AesExtraLength = 7;  // the 0x9901 field's data: vendor version, "AE", strength, real method
constexpr uint8_t AesStrength256 = 3;   // AES-256
constexpr uint8_t AesVendorVersion = 2; // AE-2: the CRC field is 0, the code proves the data
constexpr size_t AesSaltLength = 16;    // for AES-256
constexpr size_t AesVerifierLength = 2;
constexpr size_t AesMacLength = 10;
constexpr size_t AesOverhead = AesSaltLength + AesVerifierLength + AesMacLength;

// One entry's encryption, begun with Start and continued piece by piece in order.
class AesEncryptor {
public:
    AesEncryptor();
    ~AesEncryptor();
    AesEncryptor(const AesEncryptor&) = delete;
    AesEncryptor& operator=(const AesEncryptor&) = delete;

    // Draws a fresh salt, derives this entry's keys from sPassword and appends salt and
    // verifier to out. False when libcrypto fails (then nothing may be written).
    bool Start(std::string_view sPassword, std::string& out);
    // Encrypts n bytes in place, going on with the key stream and the code.
    bool Encrypt(char* p, size_t n);
    // Appends the 10-byte authentication code of everything encrypted.
    bool Finish(std::string& out);

private:
    bool Refill();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Encrypts a whole entry's data in place: salt and verifier before it, the code after.
bool AesEncryptWhole(std::string_view sPassword, std::string& data);

// What the stored data of an AES entry says to a password.
enum class AesCheck { Sound, WrongPassword, Damaged, Unreadable };

// Checks an AES entry of strength uStrength (1..3) whose stored data (salt to code) is the
// lLength bytes at lStart of iFd: the password verifier, then the authentication code over the
// encrypted data. Reading it back through a zip library alone is not enough: some versions
// check the CRC an AE-2 entry leaves at 0 and stop on it, and do not always read to the code.
AesCheck AesAuthenticate(int iFd, uint64_t lStart, uint64_t lLength, uint8_t uStrength, std::string_view sPassword);

// The 7 bytes of the 0x9901 field's data for a real method.
std::string AesExtraData(uint8_t uVendor, uint8_t uStrength, uint16_t uRealMethod);

} // namespace libZip::detail
