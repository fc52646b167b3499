// The walk of a central directory in two readings (see ArchiveCheck::Scan): its layout and
// what the checks need of the whole first, then each entry with its damage.

#include "engine/ArchiveCheckInternal.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace ArchiveCheck {

using namespace detail;

namespace {

// The header's fields as the scan gives them; bUnusual: the directory's.
void Describe(Reader& local, bool bUnusual, Header& hd, const RawEntry& e, HeaderFields& f) {
    f.Unusual = bUnusual || hd.Unusual;
    // Without a central timestamp readers take the local one: its header must be sound.
    if (!hd.TimeField) f.Unusual |= e.DataStart == 0 || !LocalTime(local, hd.Local, hd);
    f.MadeBy = hd.MadeBy;
    f.Flags = hd.Flags;
    f.Method = hd.Method;
    f.Encrypted = hd.Encrypted;
    f.DosTime = hd.DosTime;
    f.Crc = hd.Crc;
    f.Size = hd.Size;
    f.CompSize = hd.CompSize;
    f.Attributes = hd.Attributes;
    f.HasMTime = hd.HasMTime;
    f.MTime = hd.MTime;
}

std::string Unreadable(const Reader& r, uint64_t i) {
    return r.Errno() != 0 ? std::string("it cannot be read: ") + std::strerror(r.Errno())
                          : "its central directory is damaged at entry " + std::to_string(i + 1);
}

const char* const MoreThanEntries = "its central directory holds more than its entries";

// Where an entry's local header and data lie.
struct Span {
    uint64_t Local, End, Index;
};

// Entries whose local header and data overlap another's are all named, sorted by place first.
void MarkShared(std::vector<Span>& spans, const std::function<void(uint64_t)>& shared) {
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.Local < b.Local; });
    size_t iReach = 0; // the entry reaching furthest so far
    for (size_t k = 0; k < spans.size(); ++k) {
        if (k > 0 && spans[k].Local < spans[iReach].End) {
            shared(spans[k].Index);
            shared(spans[iReach].Index);
        }
        if (k == 0 || spans[k].End > spans[iReach].End) iReach = k;
    }
}

} // namespace

const char* const SharedData = "shares its data with another entry";

struct Scan::State {
    int Fd = -1;
    Reader Dir{-1, 0};   // the directory, read in order
    Reader Local{-1, 0}; // the local headers, a page each
    Directory D;
    bool Opened = false;
    uint64_t Majority = 0; // the count most sound headers name
    bool AnySum = false;   // some header carries a checksum field
    bool Ascending = true; // the local headers lie in directory order
    bool Unusual = false;
};

Scan::Scan(int iFd) : m_p(std::make_unique<State>()) { m_p->Fd = iFd; }
Scan::~Scan() = default;
uint64_t Scan::Count() const { return m_p->D.Count; }
bool Scan::Unusual() const { return m_p->Unusual; }

bool Scan::Open(std::string& sError) {
    State& s = *m_p;
    struct stat st {};
    if (::fstat(s.Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        sError = "it is not a regular file";
        return false;
    }
    s.Dir = Reader(s.Fd, static_cast<uint64_t>(st.st_size));
    s.Local = Reader(s.Fd, static_cast<uint64_t>(st.st_size));
    if (!ReadDirectory(s.Dir, s.D, sError)) return false;
    std::map<uint64_t, size_t> counts; // one, in an archive as written
    uint64_t lOff = s.D.Offset, lLocal = 0;
    for (uint64_t i = 0; i < s.D.Count; ++i) {
        RawEntry e;
        Header hd;
        bool bSum = false;
        if (!ReadHeader(s.Dir, s.D, lOff, e, hd, bSum)) {
            sError = Unreadable(s.Dir, i);
            return false;
        }
        if (hd.SumOk) ++counts[hd.SumCount];
        s.AnySum |= bSum;
        s.Unusual |= hd.Unusual;
        if (i > 0 && hd.Local < lLocal) s.Ascending = false;
        lLocal = hd.Local;
    }
    if (lOff != s.D.Offset + s.D.Size) {
        sError = MoreThanEntries;
        return false;
    }
    s.Unusual |= s.D.Unusual;
    if (!counts.empty())
        s.Majority = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                         return a.second < b.second;
                     })->first;
    s.Opened = true;
    return true;
}

// Damage in the order of its weight: the header's own, then its place among the others (all
// headers of one archive carry one count and rising indexes: one of another count, brought in
// from elsewhere, or out of order, moved or a copy, is marked; headers removed leave the rest
// in order and sound), a checksum missing where others have one, then its local header and
// data, then data shared with another entry.
bool Scan::Each(const std::function<void(ScannedEntry&)>& each, const std::function<void(uint64_t)>& shared,
                std::string& sError) {
    State& s = *m_p;
    if (!s.Opened) return sError = "its central directory was not read", false;
    uint64_t lOff = s.D.Offset;
    bool bAnyInOrder = false;
    uint64_t lLastIndex = 0;
    std::vector<Span> spans; // only when the local headers lie out of order
    bool bReach = false, bReachMarked = false;
    uint64_t iReach = 0, lReach = 0; // the entry reaching furthest so far, and where its data ends
    ScannedEntry se;
    for (uint64_t i = 0; i < s.D.Count; ++i) {
        se = ScannedEntry();
        RawEntry& e = se.Raw;
        Header hd;
        bool bSum = false;
        if (!ReadHeader(s.Dir, s.D, lOff, e, hd, bSum)) {
            sError = Unreadable(s.Dir, i);
            return false;
        }
        if (hd.SumOk) {
            const bool bInOrder =
                hd.SumCount == s.Majority && hd.SumIndex < s.Majority && (!bAnyInOrder || hd.SumIndex > lLastIndex);
            if (!bInOrder && e.Damage.empty()) e.Damage = Moved;
            if (bInOrder) {
                bAnyInOrder = true;
                lLastIndex = hd.SumIndex;
            }
        }
        if (s.AnySum && !bSum && e.Damage.empty()) e.Damage = SumMissing;
        // A header that fails its own checks claims nothing: what it points at may be sound.
        const bool bTrusted = e.Damage.empty();
        hd.Name = e.Name;
        const uint64_t lEnd = CheckLocal(s.Local, s.D, hd, e);
        Describe(s.Local, s.Unusual, hd, e, se.Fields);
        if (bTrusted && lEnd != 0 && !s.Ascending) spans.push_back({hd.Local, lEnd, i});
        if (bTrusted && lEnd != 0 && s.Ascending) {
            const bool bOverlaps = bReach && hd.Local < lReach;
            if (bOverlaps) {
                e.Damage = SharedData; // nothing marked it before: it is trusted and its local header sound
                if (!bReachMarked) shared(iReach);
                bReachMarked = true;
            }
            if (!bReach || lEnd > lReach) {
                bReach = true;
                iReach = i;
                lReach = lEnd;
                bReachMarked = bOverlaps;
            }
        }
        each(se);
    }
    if (lOff != s.D.Offset + s.D.Size) {
        sError = MoreThanEntries;
        return false;
    }
    MarkShared(spans, shared);
    return true;
}

bool ScanArchive(int iFd, std::vector<RawEntry>& entries, std::string& sError) {
    entries.clear();
    Scan scan(iFd);
    if (!scan.Open(sError)) return false;
    // Grown as headers are read, never to a declared count.
    entries.reserve(static_cast<size_t>(std::min<uint64_t>(scan.Count(), 65536)));
    const bool bOk = scan.Each([&](ScannedEntry& s) { entries.push_back(std::move(s.Raw)); },
                               [&](uint64_t i) { entries[i].Damage = SharedData; }, sError);
    if (!bOk) entries.clear();
    return bOk;
}

} // namespace ArchiveCheck
