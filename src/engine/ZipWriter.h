#pragma once
// A streaming zip writer: each entry's local header and data go to the file as they come,
// the central directory is written at the end from records the caller keeps, so the
// writer's memory does not grow with the number of entries. The data is deflated before it
// reaches the writer, so for whole files CRC and sizes are known before the local header;
// data handed over in pieces gets a data descriptor instead. Traditional PKWARE encryption
// (done here), WinZip AES entries (their data comes encrypted, see ZipAes.h; the writer writes
// method 99, the 0x9901 field and, for AE-2, a CRC of 0),
// Zip64 records where sizes, offsets or counts need them, the extended timestamp (exact
// modification time) on every entry, Unix modes in the external attributes. The archive is
// written under a temporary name beside the final one and renamed when complete.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace libZip::detail {

// Traditional PKWARE encryption: the key schedule and the byte stream cipher.
class ZipCrypto {
public:
    explicit ZipCrypto(std::string_view sPassword);
    unsigned char Encrypt(unsigned char c);
    unsigned char Decrypt(unsigned char c);
    uint32_t Key(int i) const { return m_keys[i]; }

private:
    void Update(unsigned char c);
    uint32_t m_keys[3];
};

// CRC-32 as zip uses it (the reflected 0xEDB88320 polynomial).
uint32_t Crc32(uint32_t crc, const void* pData, size_t iLength);

// The DOS date (high 16 bits) and time (low 16 bits) of a Unix time, in local time; years
// before 1980 are stored as 1980, odd seconds as the even second before.
uint32_t DosDateTime(time_t t);

// What the central directory needs of an entry written before.
struct ZipEntryRecord {
    std::string_view Name; // directories end with "/"
    int64_t MTime = 0;
    uint32_t Mode = 0;  // st_mode: type and permission bits
    uint16_t Flags = 0; // general purpose bits
    uint16_t Method = 0;
    uint32_t Crc = 0;
    uint64_t Size = 0;     // uncompressed
    uint64_t CompSize = 0; // as stored, encryption header included
    // WinZip AES strength (1..3), 0: not AES. Method is then the real method, the data is
    // handed over encrypted (salt to authentication code) and CompSize counts all of it.
    uint8_t AesStrength = 0;
    uint8_t AesVendor = 2; // 2 (AE-2): the CRC fields hold 0; 1 (AE-1): they hold the CRC
    uint64_t Offset = 0;   // of the local header
    bool LocalZip64 = false;
};

class ZipWriter {
public:
    ZipWriter() = default;
    ~ZipWriter(); // an archive not finished is removed
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates the temporary file beside sFinal. Returns 0 or the errno.
    int Create(const std::string& sFinal);

    // Starts an entry. bKnown: rec's Crc, Size and CompSize (without the encryption
    // header) are final; otherwise a data descriptor follows the data. A non-empty
    // password encrypts the data traditionally (not for AES entries, whose data comes encrypted). Sets rec.Offset,
    // Flags, LocalZip64. False on a write error.
    bool Begin(ZipEntryRecord& rec, bool bKnown, std::string_view sPassword);
    bool Data(const void* pData, size_t iLength);
    // Ends the entry; for unknown sizes gives rec the final CRC and sizes and writes the
    // data descriptor. rec.CompSize includes the encryption header afterwards.
    bool End(ZipEntryRecord& rec, uint32_t crc, uint64_t lSize, uint64_t lCompSize);
    // Drops the entry begun last (its source failed): the file is cut back to its start.
    bool Rewind(const ZipEntryRecord& rec);

    // After the last entry: one central record per entry, in any order, lTotal of them in all
    // (each header carries its place and the count in its checksum field, see ArchiveCheck.h).
    bool Central(const ZipEntryRecord& rec, uint64_t lTotal);
    // Writes the end records with the archive comment, flushes and gives the final name.
    bool Finish(std::string_view sComment);
    // Removes the temporary file.
    void Discard();

    int Error() const { return m_errno; }
    uint64_t Position() const { return m_pos; }

private:
    bool Put(const void* p, size_t n);
    bool Flush();
    bool WriteAll(const char* p, size_t n);

    int m_fd = -1;
    std::string m_sTemp, m_sFinal;
    std::string m_buf;
    uint64_t m_pos = 0;       // logical end of the archive (written + buffered)
    uint64_t m_unstarted = 0; // written since the disk was last told to write
    int m_errno = 0;
    ZipCrypto* m_crypto = nullptr;
    ZipCrypto m_cryptoStore{""};
    uint64_t m_centralStart = 0;
    uint64_t m_centralCount = 0;
    uint64_t m_centralTotal = 0;
    bool m_inCentral = false;
};

} // namespace libZip::detail
