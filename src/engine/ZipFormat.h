#pragma once
// The zip format's record signatures and general-purpose flags, as the writer writes them and
// the archive check reads them back.

#include <cstddef>
#include <cstdint>

namespace ZipFormat {

constexpr uint32_t LocalSig = 0x04034b50;
constexpr uint32_t DescriptorSig = 0x08074b50;
constexpr uint32_t CentralSig = 0x02014b50;
constexpr uint32_t EndSig = 0x06054b50;
constexpr uint32_t End64Sig = 0x06064b50;
constexpr uint32_t Locator64Sig = 0x07064b50;
constexpr uint32_t Max32 = 0xFFFFFFFF; // a 32-bit field that says "see the Zip64 field"
constexpr uint16_t FlagEncrypted = 1;
constexpr uint16_t FlagDescriptor = 8;
constexpr uint16_t FlagStrong = 0x40;
constexpr uint16_t FlagUtf8 = 0x800;
constexpr uint16_t AesMethod = 99; // WinZip AES: the real method is in the 0x9901 field
constexpr uint16_t AesId = 0x9901;
constexpr uint16_t TimeId = 0x5455; // extended timestamp: flags, then the modification time first

// The modification time (seconds since 1970, signed 32 bits) of an extended-timestamp field's
// data p of n bytes; false when the field gives none.
inline bool ExtendedMTime(const unsigned char* p, size_t n, int64_t& lSeconds) {
    if (p == nullptr || n < 5 || (p[0] & 1) == 0) return false;
    lSeconds = static_cast<int32_t>(static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                                    static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24);
    return true;
}

} // namespace ZipFormat
