// The streaming zip writer (see ZipWriter.h). Field layouts follow the zip format's
// application note: local header, data descriptor, central directory header, Zip64 end
// record and locator, end of central directory record.

#include "engine/ZipWriter.h"

#include "engine/ArchiveCheck.h"
#include "engine/ZipAes.h"
#include "engine/ZipFormat.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace libZip::detail {

namespace {

using namespace ZipFormat;

constexpr uint16_t VersionMadeBy = (3 << 8) | 63; // Unix, format 6.3
// An entry whose data may pass 4 GiB gets its Zip64 field in the local header already:
// incompressible data grows a little when deflated, so the bound sits well below 4 GiB.
constexpr uint64_t LocalZip64From = 0xFF000000;
constexpr size_t BufferSize = 1u << 20;
// Written bytes after which the disk is told to start writing them: the flush after the
// archive is closed then waits for its last few MiB, not for the whole archive.
constexpr uint64_t WritebackEvery = 8u << 20;

void Le16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Le32(std::string& s, uint32_t v) {
    Le16(s, v & 0xFFFF);
    Le16(s, v >> 16);
}
void Le64(std::string& s, uint64_t v) {
    Le32(s, static_cast<uint32_t>(v));
    Le32(s, static_cast<uint32_t>(v >> 32));
}

// Names that are valid UTF-8 beyond ASCII are marked so, as other zip programs do; any other
// name (Latin-1 bytes, overlong forms, surrogates) is stored unmarked, its bytes as they are.
bool IsUtf8BeyondAscii(std::string_view s) {
    return libStrings::IsUtf8(s) && std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; });
}

// The extended timestamp field: modification time as Unix seconds (32 bits, as stored by
// every zip program that writes it).
void ExtendedTime(std::string& s, int64_t t) {
    Le16(s, TimeId);
    Le16(s, 5);
    s += '\x01';
    Le32(s, static_cast<uint32_t>(t));
}

uint16_t VersionNeeded(const ZipEntryRecord& rec, bool bZip64) {
    if (rec.AesStrength != 0) return 51;
    if (bZip64) return 45;
    return rec.Method == 8 || (rec.Flags & FlagEncrypted) || (rec.Mode & 0170000) == 0040000 ? 20 : 10;
}

// The method field and the CRC field as written: an AES entry names method 99 (its real
// method is in the 0x9901 field) and, as AE-2, leaves its CRC out.
uint16_t MethodField(const ZipEntryRecord& rec) { return rec.AesStrength != 0 ? AesMethod : rec.Method; }
uint32_t CrcField(const ZipEntryRecord& rec, uint32_t crc) {
    return rec.AesStrength != 0 && rec.AesVendor != 1 ? 0 : crc;
}

void AesField(std::string& s, const ZipEntryRecord& rec) {
    if (rec.AesStrength == 0) return;
    Le16(s, AesId);
    Le16(s, AesExtraLength);
    s += AesExtraData(rec.AesVendor, rec.AesStrength, rec.Method);
}

const uint32_t* CrcTable() {
    static const auto* table = [] {
        auto* t = new uint32_t[256];
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

uint32_t Crc32(uint32_t crc, const void* pData, size_t iLength) { return libdeflate_crc32(crc, pData, iLength); }

ZipCrypto::ZipCrypto(std::string_view sPassword) : m_keys{0x12345678, 0x23456789, 0x34567890} {
    for (char c : sPassword)
        Update(static_cast<unsigned char>(c));
}

void ZipCrypto::Update(unsigned char c) {
    const uint32_t* t = CrcTable();
    m_keys[0] = t[(m_keys[0] ^ c) & 0xFF] ^ (m_keys[0] >> 8);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = t[(m_keys[2] ^ (m_keys[1] >> 24)) & 0xFF] ^ (m_keys[2] >> 8);
}

unsigned char ZipCrypto::Encrypt(unsigned char c) {
    const uint32_t temp = (m_keys[2] & 0xFFFF) | 2;
    const auto mask = static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
    Update(c);
    return c ^ mask;
}

unsigned char ZipCrypto::Decrypt(unsigned char c) {
    const uint32_t temp = (m_keys[2] & 0xFFFF) | 2;
    const auto plain = static_cast<unsigned char>(c ^ ((temp * (temp ^ 1)) >> 8));
    Update(plain);
    return plain;
}

uint32_t DosDateTime(time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    if (tm.tm_year < 80) tm.tm_year = 80;
    if (tm.tm_year > 207) tm.tm_year = 207;
    const auto date = static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    const auto time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return (date << 16) | time;
}

ZipWriter::~ZipWriter() { Discard(); }

int ZipWriter::Create(const std::string& sFinal) {
    Discard();
    m_sFinal = sFinal;
    m_sTemp = sFinal + ".XXXXXX";
    m_fd = ::mkostemp(m_sTemp.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_errno = errno;
        m_sTemp.clear();
        return m_errno;
    }
    // mkostemp made it 0600, which it keeps through its renames: the archive holds the user's files.
    m_buf.reserve(BufferSize);
    m_pos = 0;
    m_unstarted = 0;
    m_errno = 0;
    m_centralCount = 0;
    m_inCentral = false;
    return 0;
}

bool ZipWriter::WriteAll(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(m_fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            m_errno = w < 0 ? errno : EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        m_unstarted += static_cast<uint64_t>(w);
    }
    if (m_unstarted >= WritebackEvery) {
        m_unstarted = 0;
        (void)::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE); // only a head start: errors show at the flush
    }
    return true;
}

bool ZipWriter::Flush() {
    if (!WriteAll(m_buf.data(), m_buf.size())) return false;
    m_buf.clear();
    return true;
}

bool ZipWriter::Put(const void* p, size_t n) {
    if (m_fd < 0 || m_errno != 0) return false;
    m_pos += n;
    if (m_buf.size() + n > BufferSize && !Flush()) return false;
    if (n >= BufferSize) return WriteAll(static_cast<const char*>(p), n); // large pieces go straight through
    m_buf.append(static_cast<const char*>(p), n);
    return true;
}

bool ZipWriter::Begin(ZipEntryRecord& rec, bool bKnown, std::string_view sPassword) {
    static thread_local std::mt19937 random{std::random_device{}()};
    rec.Offset = m_pos;
    rec.Flags &= static_cast<uint16_t>(~(FlagEncrypted | FlagDescriptor | FlagUtf8));
    if (IsUtf8BeyondAscii(rec.Name)) rec.Flags |= FlagUtf8;
    const bool bAes = rec.AesStrength != 0;
    const bool bEncrypt = !bAes && !sPassword.empty(); // traditional, done here
    if (bEncrypt || bAes) rec.Flags |= FlagEncrypted;
    if (!bKnown) rec.Flags |= FlagDescriptor;
    const uint32_t dos = DosDateTime(static_cast<time_t>(rec.MTime));
    const uint64_t lComp = bKnown ? rec.CompSize + (bEncrypt ? 12 : 0) : 0;
    rec.LocalZip64 = bKnown ? (rec.Size >= Max32 || lComp >= Max32) : rec.Size >= LocalZip64From;

    std::string h;
    h.reserve(30 + rec.Name.size() + 29);
    Le32(h, LocalSig);
    Le16(h, VersionNeeded(rec, rec.LocalZip64));
    Le16(h, rec.Flags);
    Le16(h, MethodField(rec));
    Le32(h, dos);
    Le32(h, bKnown ? CrcField(rec, rec.Crc) : 0);
    Le32(h, rec.LocalZip64 ? Max32 : static_cast<uint32_t>(lComp));
    Le32(h, rec.LocalZip64 ? Max32 : (bKnown ? static_cast<uint32_t>(rec.Size) : 0));
    Le16(h, static_cast<uint32_t>(rec.Name.size()));
    Le16(h, 9 + (rec.LocalZip64 ? 20 : 0) + (bAes ? 4 + AesExtraLength : 0));
    h.append(rec.Name);
    ExtendedTime(h, rec.MTime);
    if (rec.LocalZip64) {
        Le16(h, 1);
        Le16(h, 16);
        Le64(h, bKnown ? rec.Size : 0);
        Le64(h, lComp);
    }
    AesField(h, rec);
    m_crypto = nullptr;
    if (!Put(h.data(), h.size())) return false;
    if (bEncrypt) {
        m_cryptoStore = ZipCrypto(sPassword);
        m_crypto = &m_cryptoStore;
        unsigned char head[12];
        for (int i = 0; i < 11; ++i)
            head[i] = static_cast<unsigned char>(random());
        // The check byte: the CRC's high byte, or the time's when the CRC comes later.
        head[11] = static_cast<unsigned char>(bKnown ? rec.Crc >> 24 : (dos >> 8) & 0xFF);
        for (unsigned char& c : head)
            c = m_crypto->Encrypt(c);
        if (!Put(head, sizeof head)) return false;
    }
    return true;
}

bool ZipWriter::Data(const void* pData, size_t iLength) {
    if (!m_crypto) return Put(pData, iLength);
    const auto* p = static_cast<const unsigned char*>(pData);
    unsigned char out[16384];
    while (iLength > 0) {
        size_t n = std::min(iLength, sizeof out);
        for (size_t i = 0; i < n; ++i)
            out[i] = m_crypto->Encrypt(p[i]);
        if (!Put(out, n)) return false;
        p += n;
        iLength -= n;
    }
    return true;
}

bool ZipWriter::End(ZipEntryRecord& rec, uint32_t crc, uint64_t lSize, uint64_t lCompSize) {
    const bool bEncrypted = m_crypto != nullptr;
    m_crypto = nullptr;
    rec.Crc = crc;
    rec.Size = lSize;
    rec.CompSize = lCompSize + (bEncrypted ? 12 : 0);
    if (!(rec.Flags & FlagDescriptor)) return m_errno == 0;
    std::string d;
    Le32(d, DescriptorSig);
    Le32(d, CrcField(rec, crc));
    if (rec.LocalZip64) {
        Le64(d, rec.CompSize);
        Le64(d, rec.Size);
    } else {
        if (rec.CompSize >= Max32 || rec.Size >= Max32) {
            m_errno = EFBIG; // larger than its header allowed for
            return false;
        }
        Le32(d, static_cast<uint32_t>(rec.CompSize));
        Le32(d, static_cast<uint32_t>(rec.Size));
    }
    return Put(d.data(), d.size());
}

bool ZipWriter::Rewind(const ZipEntryRecord& rec) {
    m_crypto = nullptr;
    if (m_fd < 0 || m_errno != 0) return false;
    const uint64_t written = m_pos - m_buf.size();
    if (rec.Offset >= written) {
        m_buf.resize(static_cast<size_t>(rec.Offset - written));
    } else {
        m_buf.clear();
        if (::ftruncate(m_fd, static_cast<off_t>(rec.Offset)) != 0 ||
            ::lseek(m_fd, static_cast<off_t>(rec.Offset), SEEK_SET) < 0) {
            m_errno = errno;
            return false;
        }
    }
    m_pos = rec.Offset;
    return true;
}

bool ZipWriter::Central(const ZipEntryRecord& rec, uint64_t lTotal) {
    if (!m_inCentral) {
        m_inCentral = true;
        m_centralStart = m_pos;
    }
    m_centralTotal = lTotal;
    const uint64_t lIndex = m_centralCount++;
    std::string z; // the Zip64 field: only the values that do not fit, in this order
    if (rec.Size >= Max32) Le64(z, rec.Size);
    if (rec.CompSize >= Max32) Le64(z, rec.CompSize);
    if (rec.Offset >= Max32) Le64(z, rec.Offset);
    std::string h;
    const size_t nSum = 4 + ArchiveCheck::HeaderSumLength;
    const size_t nAes = rec.AesStrength != 0 ? 4 + AesExtraLength : 0;
    h.reserve(46 + rec.Name.size() + 9 + 4 + z.size() + nAes + nSum);
    Le32(h, CentralSig);
    Le16(h, VersionMadeBy);
    Le16(h, VersionNeeded(rec, !z.empty() || rec.LocalZip64));
    Le16(h, rec.Flags);
    Le16(h, MethodField(rec));
    Le32(h, DosDateTime(static_cast<time_t>(rec.MTime)));
    Le32(h, CrcField(rec, rec.Crc));
    Le32(h, rec.CompSize >= Max32 ? Max32 : static_cast<uint32_t>(rec.CompSize));
    Le32(h, rec.Size >= Max32 ? Max32 : static_cast<uint32_t>(rec.Size));
    Le16(h, static_cast<uint32_t>(rec.Name.size()));
    Le16(h, static_cast<uint32_t>(9 + (z.empty() ? 0 : 4 + z.size()) + nAes + nSum));
    Le16(h, 0); // comment length
    Le16(h, 0); // disk number
    Le16(h, 0); // internal attributes
    // Unix mode above, the MS-DOS directory bit below for unzips that read only that.
    Le32(h, (rec.Mode << 16) | ((rec.Mode & 0170000) == 0040000 ? 0x10 : 0));
    Le32(h, rec.Offset >= Max32 ? Max32 : static_cast<uint32_t>(rec.Offset));
    h.append(rec.Name);
    ExtendedTime(h, rec.MTime);
    if (!z.empty()) {
        Le16(h, 1);
        Le16(h, static_cast<uint32_t>(z.size()));
        h += z;
    }
    AesField(h, rec);
    h += ArchiveCheck::HeaderSumField(h, "", lIndex, lTotal); // last: it covers everything before
    return Put(h.data(), h.size());
}

bool ZipWriter::Finish(std::string_view sComment) {
    if (!m_inCentral) m_centralStart = m_pos;
    if (m_inCentral && m_centralCount != m_centralTotal) {
        m_errno = EINVAL; // the headers' checksum fields would name another count
        return false;
    }
    const uint64_t lStart = m_centralStart;
    const uint64_t lSize = m_pos - lStart;
    std::string e;
    if (m_centralCount >= 0xFFFF || lStart >= Max32 || lSize >= Max32) {
        const uint64_t lEnd64 = m_pos;
        Le32(e, End64Sig);
        Le64(e, 44);
        Le16(e, VersionMadeBy);
        Le16(e, 45);
        Le32(e, 0);
        Le32(e, 0);
        Le64(e, m_centralCount);
        Le64(e, m_centralCount);
        Le64(e, lSize);
        Le64(e, lStart);
        Le32(e, Locator64Sig);
        Le32(e, 0);
        Le64(e, lEnd64);
        Le32(e, 1);
    }
    const std::string_view c = sComment.substr(0, 0xFFFF);
    Le32(e, EndSig);
    Le16(e, 0);
    Le16(e, 0);
    Le16(e, m_centralCount >= 0xFFFF ? 0xFFFF : static_cast<uint32_t>(m_centralCount));
    Le16(e, m_centralCount >= 0xFFFF ? 0xFFFF : static_cast<uint32_t>(m_centralCount));
    Le32(e, lSize >= Max32 ? Max32 : static_cast<uint32_t>(lSize));
    Le32(e, lStart >= Max32 ? Max32 : static_cast<uint32_t>(lStart));
    Le16(e, static_cast<uint32_t>(c.size()));
    e.append(c);
    if (!Put(e.data(), e.size()) || !Flush()) return false;
    if (::close(m_fd) != 0) {
        m_errno = errno;
        m_fd = -1;
        return false;
    }
    m_fd = -1;
    if (::rename(m_sTemp.c_str(), m_sFinal.c_str()) != 0) {
        m_errno = errno;
        return false;
    }
    m_sTemp.clear();
    return true;
}

void ZipWriter::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_sTemp.empty()) ::unlink(m_sTemp.c_str());
    m_sTemp.clear();
    m_buf.clear();
    m_buf.shrink_to_fit();
    m_crypto = nullptr;
}

} // namespace libZip::detail
