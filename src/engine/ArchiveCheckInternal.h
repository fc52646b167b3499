#pragma once
// What the archive check's two files share (ArchiveCheck.cpp reads the end records and each
// header, ArchiveCheckScan.cpp walks the directory with them). Not for other callers.

#include "engine/ArchiveCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace ArchiveCheck::detail {

inline constexpr size_t CentralFixed = 46;
inline constexpr size_t LocalFixed = 30;
inline constexpr size_t EndFixed = 22;
inline constexpr size_t Window = 256 * 1024; // more than the longest header (46 + 3 * 65535)
inline constexpr size_t LocalAhead = 4096;   // local headers lie apart: a page each

inline constexpr const char* SumMismatch = "its header checksum does not match (central directory damaged)";
inline constexpr const char* SumMissing = "its header checksum is missing (central directory damaged)";
inline constexpr const char* SumDamaged = "its header checksum field is damaged (central directory damaged)";
inline constexpr const char* Moved =
    "its place in the archive's directory changed (headers moved, copied or brought in)";

inline uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const unsigned char* p) { return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16; }
inline uint64_t Get64(const unsigned char* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

// The file read through one window: a pointer to bytes that are all in the file, or nullptr.
class Reader {
public:
    Reader(int iFd, uint64_t lSize) : m_fd(iFd), m_size(lSize) {}
    uint64_t Size() const { return m_size; }
    int Errno() const { return m_errno; }

    // iAhead: how much to read at once when the window moves (little for scattered headers).
    const unsigned char* At(uint64_t lOff, size_t n, size_t iAhead = Window) {
        if (lOff > m_size || n > m_size - lOff) return nullptr;
        if (lOff >= m_bufOff && lOff - m_bufOff + n <= m_buf.size()) return m_buf.data() + (lOff - m_bufOff);
        const size_t len = static_cast<size_t>(std::min<uint64_t>(std::max(n, iAhead), m_size - lOff));
        m_buf.resize(len);
        size_t got = 0;
        while (got < len) {
            const ssize_t r = ::pread(m_fd, m_buf.data() + got, len - got, static_cast<off_t>(lOff + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                m_errno = r < 0 ? errno : EIO;
                m_buf.clear();
                return nullptr;
            }
            got += static_cast<size_t>(r);
        }
        m_bufOff = lOff;
        return m_buf.data();
    }

private:
    int m_fd;
    uint64_t m_size;
    std::vector<unsigned char> m_buf;
    uint64_t m_bufOff = 0;
    int m_errno = 0;
};

// Where the central directory lies, from the end records.
struct Directory {
    uint64_t Offset = 0, Size = 0, Count = 0;
    uint64_t End = 0;     // where the end records start: nothing before may reach past it
    bool Unusual = false; // see Scan::Unusual
};

// One central header as the checks need it.
struct Header {
    uint16_t MadeBy = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;   // for WinZip AES, the real method from its field
    uint64_t Overhead = 0; // bytes the encryption adds to the stored data
    bool Encrypted = false;
    uint32_t DosTime = 0;
    uint32_t Crc = 0;
    uint64_t Size = 0;
    uint64_t CompSize = 0;
    uint32_t Attributes = 0;
    uint64_t Local = 0;
    std::string_view Name;
    bool SumOk = false; // the checksum field matches: its place and count are as written
    uint64_t SumIndex = 0, SumCount = 0;
    bool TimeField = false; // the central header has an extended timestamp field
    bool HasMTime = false;
    int64_t MTime = 0;
    bool Unusual = false;
};

bool ReadDirectory(Reader& r, Directory& d, std::string& sError);

// Parses the central header at lOff, checks its checksum field and advances lOff. False when the directory cannot be
// read on.
bool ReadHeader(Reader& r, const Directory& d, uint64_t& lOff, RawEntry& e, Header& hd, bool& bHasSum);

// The local header must lie before the central directory and carry the central name (and the
// CRC when it holds one); the data it heads must end before the central directory. Gives the
// end of the entry's data, 0 when it has none to claim.
uint64_t CheckLocal(Reader& r, const Directory& d, const Header& hd, RawEntry& e);

// The local header's first extended timestamp field, where readers look when the central
// header has none. False when its extra fields do not divide into whole fields.
bool LocalTime(Reader& r, uint64_t lLocal, Header& hd);

} // namespace ArchiveCheck::detail
