// The central directory's end records and headers read and checked, and the header checksum
// (see ArchiveCheck.h). Every length and offset an archive declares is checked against the
// file before it is used; memory follows the file's real length, never a declared size.

#include "engine/ArchiveCheckInternal.h"

#include "engine/ZipFormat.h"
#include "support/libStrings.h"

#include <cstring>
#include <zlib.h>

namespace ArchiveCheck {

using namespace detail;
using namespace ZipFormat;

namespace {

void Le64(std::string& s, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t Crc(std::string_view s) {
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// The local header offset is left out of the checksum (zeroed, in the fixed fields and in the
// Zip64 field): a program that removes an entry moves the others and keeps their extra fields,
// and a wrong offset shows anyway, as a local header of another name or none. s holds the fixed
// fields, the name and the extra fields.
void BlankOffset(std::string& s, size_t nName) {
    const auto* u = reinterpret_cast<const unsigned char*>(s.data());
    const bool bZip64 = Get32(u + 42) == Max32;
    const size_t iAt64 = (Get32(u + 24) == Max32 ? 8 : 0) + (Get32(u + 20) == Max32 ? 8 : 0);
    std::memset(s.data() + 42, 0, 4);
    for (size_t at = CentralFixed + nName; bZip64 && at + 4 <= s.size();) {
        const size_t len = Get16(u + at + 2);
        if (at + 4 + len > s.size()) break;
        if (Get16(u + at) == 1) {
            if (iAt64 + 8 <= len) std::memset(s.data() + at + 4 + iAt64, 0, 8);
            break;
        }
        at += 4 + len;
    }
}

// How far before the end zip readers look for the end record: the longest comment, and a
// Zip64 locator before the record.
constexpr uint64_t EndSearch = EndFixed + 0xFFFF + 20;

// The end record nearest the end of the file whose comment ends exactly at the end, else the
// last one whose comment fits. Unusual unless it ends the file and is the only one readers see.
bool FindEnd(Reader& r, uint64_t& lEnd, bool& bUnusual) {
    const uint64_t lTail = std::min<uint64_t>(r.Size(), EndFixed + 0xFFFF);
    if (lTail < EndFixed) return false;
    const uint64_t lSearch = std::min<uint64_t>(r.Size(), EndSearch);
    const unsigned char* q = r.At(r.Size() - lSearch, static_cast<size_t>(lSearch));
    if (q == nullptr) return false;
    const unsigned char* p = q + (lSearch - lTail);
    size_t nSeen = 0;
    for (uint64_t i = 0; i + 4 <= lSearch; ++i)
        nSeen += Get32(q + i) == EndSig;
    bool bFit = false;
    for (uint64_t i = lTail - EndFixed + 1; i-- > 0;) {
        if (Get32(p + i) != EndSig) continue;
        const uint64_t lEndOf = i + EndFixed + Get16(p + i + 20);
        if (lEndOf == lTail) {
            lEnd = r.Size() - lTail + i;
            bUnusual |= nSeen != 1;
            return true;
        }
        if (lEndOf < lTail && !bFit) {
            bFit = true;
            lEnd = r.Size() - lTail + i;
        }
    }
    bUnusual = true;
    return bFit;
}

// The Zip64 values of the fields that hold 0xFFFFFFFF, in the format's order.
bool ApplyZip64(const unsigned char* h, std::string_view z, Header& hd) {
    size_t at = 0;
    auto next = [&](uint64_t& v) {
        if (at + 8 > z.size()) return false;
        v = Get64(reinterpret_cast<const unsigned char*>(z.data()) + at);
        at += 8;
        return true;
    };
    if (Get32(h + 24) == Max32 && !next(hd.Size)) return false;
    if (Get32(h + 20) == Max32 && !next(hd.CompSize)) return false;
    if (Get32(h + 42) == Max32 && !next(hd.Local)) return false;
    return true;
}

// The modification time an extended timestamp field holds (its flags' bit 0), if any.
void ExtendedTime(std::string_view x, Header& hd) {
    hd.HasMTime = ExtendedMTime(reinterpret_cast<const unsigned char*>(x.data()), x.size(), hd.MTime);
}

// What readers may read in more than one way in a central header whose extra fields are
// sExtra (the first Zip64 and WinZip AES fields given, "" when none; bWhole: they divide
// into whole fields). See Scan::Unusual.
bool UnusualHeader(const unsigned char* h, std::string_view sName, std::string_view sComment, bool bWhole,
                   std::string_view sZip64, std::string_view sAes, bool bHasAes, const Header& hd) {
    const int nWide = (Get32(h + 24) == Max32) + (Get32(h + 20) == Max32) + (Get32(h + 42) == Max32);
    const auto* aes = reinterpret_cast<const unsigned char*>(sAes.data());
    const bool bAesSound = bHasAes && sAes.size() == 7 && (Get16(aes) == 1 || Get16(aes) == 2) &&
                           sAes.substr(2, 2) == "AE" && aes[4] >= 1 && aes[4] <= 3;
    return !bWhole || (nWide > 0 && (sZip64.size() != 8u * nWide || Get16(h + 34) == 0xFFFF)) ||
           (Get16(h + 10) == AesMethod && !bAesSound) || sName.empty() || hd.Local > uint64_t{INT64_MAX} ||
           ((hd.Flags & FlagUtf8) && !(libStrings::IsUtf8(sName) && libStrings::IsUtf8(sComment))) ||
           (hd.TimeField && !hd.HasMTime);
}

// Sizes no data can have: stored data of another length than the entry's, or more than
// deflate can make of the compressed length (at most 1032 bytes per byte).
const char* SizesDisagree(const Header& hd) {
    const bool bTraditional = (hd.Flags & FlagEncrypted) && !(hd.Flags & FlagStrong) && hd.Overhead == 0;
    const uint64_t lOverhead = bTraditional ? 12 : hd.Overhead;
    if (hd.Method == 0 && (!(hd.Flags & FlagEncrypted) || bTraditional || hd.Overhead != 0) &&
        hd.CompSize != hd.Size + lOverhead)
        return "its stored data is not as long as its size";
    if (hd.CompSize < hd.Overhead) return "its stored data is shorter than its encryption needs";
    if (hd.Method == 8 && hd.Size / 1032 > hd.CompSize - hd.Overhead)
        return "its size is more than its compressed data can hold";
    return "";
}

} // namespace

namespace detail {

bool ReadDirectory(Reader& r, Directory& d, std::string& sError) {
    uint64_t lEnd = 0;
    if (!FindEnd(r, lEnd, d.Unusual)) {
        sError = "its end record is missing";
        return false;
    }
    const unsigned char* e = r.At(lEnd, EndFixed);
    if (e == nullptr) return sError = "its end record cannot be read", false;
    if (Get16(e + 4) != 0 || Get16(e + 6) != 0 || Get16(e + 8) != Get16(e + 10))
        return sError = "it spans several disks", false;
    const uint32_t uCount = Get16(e + 10), uSize = Get32(e + 12), uOffset = Get32(e + 16);
    d.Count = uCount;
    d.Size = uSize;
    d.Offset = uOffset;
    d.End = lEnd;
    const unsigned char* loc = lEnd >= 20 ? r.At(lEnd - 20, 20) : nullptr;
    if (loc != nullptr && Get32(loc) == Locator64Sig) {
        const uint64_t lRecord = Get64(loc + 8);
        if (lRecord > lEnd - 20 || lEnd - 20 - lRecord < 56)
            return sError = "its Zip64 end record lies outside the file", false;
        const unsigned char* z = r.At(lRecord, 56);
        if (z == nullptr || Get32(z) != End64Sig) return sError = "its Zip64 end record is damaged", false;
        if (Get32(z + 16) != 0 || Get32(z + 20) != 0 || Get64(z + 24) != Get64(z + 32))
            return sError = "it spans several disks", false;
        d.Count = Get64(z + 32);
        d.Size = Get64(z + 40);
        d.Offset = Get64(z + 48);
        d.End = lRecord;
        // The record just before its locator, and the end record's fields its own or "see Zip64".
        d.Unusual |= Get32(loc + 4) != 0 || Get32(loc + 16) != 1 || Get64(z + 4) != 44 || lRecord + 56 != lEnd - 20 ||
                     (uCount != 0xFFFF && uCount != d.Count) || (uSize != Max32 && uSize != d.Size) ||
                     (uOffset != Max32 && uOffset != d.Offset);
    } else {
        d.Unusual |= uCount == 0xFFFF || uSize == Max32 || uOffset == Max32; // "see Zip64" without it
    }
    if (d.Offset > d.End || d.Size > d.End - d.Offset)
        return sError = "its central directory lies outside the file", false;
    if (d.Count > d.Size / CentralFixed) return sError = "its central directory is shorter than its entries", false;
    d.Unusual |= d.Offset + d.Size != d.End || d.Count == 0;
    return true;
}

// Parses the central header at lOff, checks its checksum field and advances lOff. False when the directory cannot be
// read on.
bool ReadHeader(Reader& r, const Directory& d, uint64_t& lOff, RawEntry& e, Header& hd, bool& bHasSum) {
    const uint64_t lLimit = d.Offset + d.Size;
    if (lOff > lLimit || lLimit - lOff < CentralFixed) return false;
    const unsigned char* p = r.At(lOff, CentralFixed);
    if (p == nullptr || Get32(p) != CentralSig) return false;
    unsigned char h[CentralFixed]; // the window moves on below
    std::memcpy(h, p, CentralFixed);
    const size_t nName = Get16(h + 28), nExtra = Get16(h + 30), nComment = Get16(h + 32);
    const size_t nVar = nName + nExtra + nComment;
    if (lLimit - lOff - CentralFixed < nVar) return false;
    std::string covered(reinterpret_cast<const char*>(h), CentralFixed);
    hd.MadeBy = Get16(h + 4);
    hd.Flags = Get16(h + 8);
    hd.Method = Get16(h + 10);
    hd.Encrypted = (hd.Flags & FlagEncrypted) || hd.Method == AesMethod;
    hd.DosTime = Get32(h + 12);
    hd.Crc = Get32(h + 16);
    hd.Size = Get32(h + 24);
    hd.CompSize = Get32(h + 20);
    hd.Attributes = Get32(h + 38);
    hd.Local = Get32(h + 42);
    const unsigned char* v = r.At(lOff + CentralFixed, nVar);
    if (v == nullptr) return false;
    const std::string_view all(reinterpret_cast<const char*>(v), nVar);
    e.Name.assign(all.substr(0, nName));
    covered += e.Name;
    std::string_view sum, zip64, firstZip64, firstAes;
    bool bZip64 = false, bAes = false; // the first field of each kind seen
    const std::string_view extra = all.substr(nName, nExtra);
    size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto* x = reinterpret_cast<const unsigned char*>(extra.data() + at);
        const size_t len = Get16(x + 2);
        if (at + 4 + len > extra.size()) break;
        const uint16_t id = Get16(x);
        const std::string_view data = extra.substr(at + 4, len);
        if (id == HeaderSumId && sum.empty() && len == HeaderSumLength) {
            sum = data;
        } else {
            if (id == HeaderSumId && e.Damage.empty()) e.Damage = SumDamaged;
            if (id == 1 && zip64.empty()) zip64 = data;
            if (id == 1 && !bZip64) firstZip64 = data;
            if (id == AesId && e.Aes.empty() && len == 7) e.Aes = data;
            if (id == AesId && !bAes) firstAes = data;
            if (id == TimeId && !hd.TimeField) ExtendedTime(data, hd);
            hd.TimeField |= id == TimeId;
            bZip64 |= id == 1;
            bAes |= id == AesId;
            covered.append(extra.substr(at, 4 + len));
        }
        at += 4 + len;
    }
    const bool bWhole = at == extra.size();
    // A broken tail is covered as it is; one that starts as this field was this field.
    if (at + 2 <= extra.size() && Get16(reinterpret_cast<const unsigned char*>(extra.data() + at)) == HeaderSumId &&
        e.Damage.empty())
        e.Damage = SumDamaged;
    covered.append(extra.substr(at));
    BlankOffset(covered, nName);
    covered.append(all.substr(nName + nExtra));
    bHasSum = !sum.empty() || !e.Damage.empty();
    if (!sum.empty()) {
        const auto* s = reinterpret_cast<const unsigned char*>(sum.data());
        covered.append(sum.substr(0, 17));
        if (s[0] != 1 || Get32(s + 17) != Crc(covered)) {
            e.Damage = s[0] != 1 ? SumDamaged : SumMismatch;
        } else {
            hd.SumOk = true;
            hd.SumIndex = Get64(s + 1);
            hd.SumCount = Get64(s + 9);
        }
    }
    if (!ApplyZip64(h, zip64, hd) && e.Damage.empty()) e.Damage = "its Zip64 sizes are missing";
    hd.Unusual = UnusualHeader(h, e.Name, all.substr(nName + nExtra), bWhole, firstZip64, firstAes, bAes, hd);
    const auto* aes = reinterpret_cast<const unsigned char*>(e.Aes.data());
    if (hd.Method == AesMethod && !e.Aes.empty() && aes[4] >= 1 && aes[4] <= 3) {
        // salt (8, 12 or 16 bytes by strength), verifier and code around the real method's data
        hd.Method = Get16(aes + 5);
        hd.Overhead = 4 + 4 * aes[4] + 2 + 10;
    }
    if (e.Damage.empty()) e.Damage = SizesDisagree(hd);
    if (e.Name.find('\0') != std::string::npos && e.Damage.empty()) e.Damage = "its name holds a NUL byte";
    lOff += CentralFixed + nVar;
    return true;
}

// The local header must lie before the central directory and carry the central name (and the
// CRC when it holds one); the data it heads must end before the central directory. Gives the
// end of the entry's data, 0 when it has none to claim.
uint64_t CheckLocal(Reader& r, const Directory& d, const Header& hd, RawEntry& e) {
    const auto mark = [&](const char* why) {
        if (e.Damage.empty()) e.Damage = why;
        return uint64_t{0};
    };
    if (hd.Local > d.Offset || d.Offset - hd.Local < LocalFixed)
        return mark("its local header lies outside the archive's data");
    const unsigned char* l = r.At(hd.Local, LocalFixed, LocalAhead);
    if (l == nullptr || Get32(l) != LocalSig) return mark("its local header is missing");
    const size_t nName = Get16(l + 26), nExtra = Get16(l + 28);
    const uint32_t lCrc = Get32(l + 14);
    const uint64_t lData = hd.Local + LocalFixed + nName + nExtra;
    if (lData > d.Offset || hd.CompSize > d.Offset - lData) {
        return mark(lData <= r.Size() && hd.CompSize <= r.Size() - lData
                        ? "its data runs past the start of the central directory"
                        : "its data runs past the end of the file");
    }
    // A header that points at another entry's local header claims nothing: the entry named
    // there keeps its data.
    const unsigned char* n = r.At(hd.Local + LocalFixed, nName, LocalAhead);
    if (n == nullptr || std::string_view(reinterpret_cast<const char*>(n), nName) != hd.Name ||
        (!(hd.Flags & FlagDescriptor) && lCrc != hd.Crc))
        return mark("its local header does not match its central header");
    e.DataStart = lData;
    return lData + hd.CompSize;
}

// The local header's first extended timestamp field, where readers look when the central
// header has none. False when its extra fields do not divide into whole fields.
bool LocalTime(Reader& r, uint64_t lLocal, Header& hd) {
    const unsigned char* l = r.At(lLocal, LocalFixed, LocalAhead);
    if (l == nullptr) return false;
    const size_t nName = Get16(l + 26), nExtra = Get16(l + 28);
    if (nExtra == 0) return true;
    const unsigned char* x = r.At(lLocal + LocalFixed + nName, nExtra, LocalAhead);
    if (x == nullptr) return false;
    size_t at = 0;
    for (bool bSeen = false; at + 4 <= nExtra; at += 4 + Get16(x + at + 2)) {
        const size_t len = Get16(x + at + 2);
        if (at + 4 + len > nExtra) return false;
        if (Get16(x + at) == TimeId && !bSeen) ExtendedTime({reinterpret_cast<const char*>(x + at + 4), len}, hd);
        bSeen |= Get16(x + at) == TimeId;
    }
    return at == nExtra;
}

} // namespace detail

std::string HeaderSumField(std::string_view sHeader, std::string_view sComment, uint64_t lIndex, uint64_t lCount) {
    std::string data;
    data += '\x01';
    Le64(data, lIndex);
    Le64(data, lCount);
    std::string covered(sHeader);
    if (covered.size() >= CentralFixed)
        BlankOffset(covered, Get16(reinterpret_cast<const unsigned char*>(covered.data()) + 28));
    covered.append(sComment);
    covered.append(data);
    const uint32_t c = Crc(covered);
    std::string field;
    field += static_cast<char>(HeaderSumId & 0xFF);
    field += static_cast<char>(HeaderSumId >> 8);
    field += static_cast<char>(HeaderSumLength);
    field += '\0';
    field += data;
    for (int i = 0; i < 4; ++i)
        field += static_cast<char>((c >> (8 * i)) & 0xFF);
    return field;
}

} // namespace ArchiveCheck
