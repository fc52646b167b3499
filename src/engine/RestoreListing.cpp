// A backup's contents held compactly (see RestoreListing.h), and what reads and selects them.

#include "engine/RestoreListing.h"

#include "engine/ArchiveCheck.h"
#include "engine/ArchiveSource.h"
#include "engine/RestoreInternal.h"
#include "engine/Restorer.h"

#include "support/libFiles.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace libRestore {

namespace {

// Names go into blocks this large (a longer one gets a block of its own).
constexpr size_t BlockSize = 256 << 10;

// The name without its final "/": an original path ends as it does (an archive's with "/"
// before the name, a copy tree's with the source folder before what lies below the tree).
std::string_view Bare(std::string_view sName) {
    if (!sName.empty() && sName.back() == '/') sName.remove_suffix(1);
    return sName;
}

// How many final bytes the original path shares with the bare name.
size_t SharedTail(std::string_view sBare, std::string_view sOriginal) {
    size_t n = 0;
    while (n < sBare.size() && n < sOriginal.size() &&
           sBare[sBare.size() - 1 - n] == sOriginal[sOriginal.size() - 1 - n])
        ++n;
    return n;
}

} // namespace

const char* Listing::Keep(std::string_view s) {
    const size_t n = s.size();
    if (n > m_uFree) {
        const size_t uSize = std::max(n, BlockSize);
        m_blocks.push_back(std::make_unique<char[]>(uSize));
        m_pFree = m_blocks.back().get();
        m_uFree = uSize;
    }
    char* p = m_pFree;
    if (n > 0) std::memcpy(p, s.data(), n);
    m_pFree += n;
    m_uFree -= n;
    return p;
}

void Listing::Add(const Entry& e) {
    Item item{};
    item.Name = Keep(e.Name);
    item.NameLen = static_cast<uint32_t>(e.Name.size());
    Fill(item, e);
    if (!e.Damage.empty()) m_damage[m_items.size()] = e.Damage;
    m_items.push_back(item);
}

void Listing::Set(size_t i, const Entry& e) {
    Fill(m_items[i], e);
    if (!e.Damage.empty())
        m_damage[i] = e.Damage;
    else
        m_damage.erase(i);
}

void Listing::SetDamage(size_t i, const std::string& sDamage) { m_damage[i] = sDamage; }

void Listing::Fill(Item& item, const Entry& e) {
    // Only the head of the original path is kept; its tail is the name's.
    const std::string_view sOriginal = e.OriginalPath;
    const size_t uTail = SharedTail(Bare(e.Name), sOriginal);
    std::string sHead(sOriginal.substr(0, sOriginal.size() - uTail));
    const auto [it, bNew] = m_headIndex.try_emplace(sHead, static_cast<uint32_t>(m_heads.size()));
    if (bNew) m_heads.push_back(std::move(sHead));
    item.Head = it->second;
    item.TailLen = static_cast<uint32_t>(uTail);
    item.Size = e.Size;
    item.MTimeNs = e.MTimeNs;
    item.Index = e.Index;
    item.DataStart = e.DataStart;
    item.StoredSize = e.StoredSize;
    item.Mode = e.Mode;
    item.Crc = e.Crc;
    item.Method = e.Method;
    item.AesStrength = e.AesStrength;
    item.Flags = static_cast<uint8_t>((e.IsDir ? Dir : 0) | (e.IsLink ? Link : 0) | (e.CrcKnown ? CrcKnown : 0) |
                                      (e.Encrypted ? Encrypted : 0));
}

void Listing::Clear() {
    m_items.clear();
    m_blocks.clear();
    m_damage.clear();
    m_heads.clear();
    m_headIndex.clear();
    m_uFree = 0;
    m_pFree = nullptr;
}

void Listing::Get(size_t i, Entry& e) const {
    const Item& item = m_items[i];
    e.Name.assign(item.Name, item.NameLen);
    const std::string_view sBare = Bare(Name(i));
    e.OriginalPath.assign(m_heads[item.Head]);
    e.OriginalPath.append(sBare.substr(sBare.size() - item.TailLen));
    e.Size = item.Size;
    e.MTimeNs = item.MTimeNs;
    e.Mode = item.Mode;
    e.IsDir = (item.Flags & Dir) != 0;
    e.IsLink = (item.Flags & Link) != 0;
    e.Index = item.Index;
    e.Crc = item.Crc;
    e.CrcKnown = (item.Flags & CrcKnown) != 0;
    e.AesStrength = item.AesStrength;
    e.DataStart = item.DataStart;
    e.StoredSize = item.StoredSize;
    e.Method = item.Method;
    e.Encrypted = (item.Flags & Encrypted) != 0;
    const auto it = m_damage.find(i);
    if (it != m_damage.end())
        e.Damage = it->second;
    else
        e.Damage.clear();
}

namespace detail {

namespace {

// Whether two descriptors are the one same file, unchanged.
bool SameFile(int a, int b) {
    struct stat x {
    }, y{};
    return ::fstat(a, &x) == 0 && ::fstat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino &&
           x.st_size == y.st_size && libFiles::TimeNs(x.st_mtim) == libFiles::TimeNs(y.st_mtim);
}

// An MS-DOS time as libzip reads it: local time, the zone deciding summer time.
int64_t DosTime(uint32_t uDos) {
    const uint32_t t = uDos & 0xFFFF, d = uDos >> 16;
    struct tm tm {};
    tm.tm_isdst = -1;
    tm.tm_year = static_cast<int>(((d >> 9) & 127) + 1980 - 1900);
    tm.tm_mon = static_cast<int>(((d >> 5) & 15)) - 1;
    tm.tm_mday = static_cast<int>(d & 31);
    tm.tm_hour = static_cast<int>((t >> 11) & 31);
    tm.tm_min = static_cast<int>((t >> 5) & 63);
    tm.tm_sec = static_cast<int>((t << 1) & 62);
    return ::mktime(&tm);
}

// The whole listing from the directory's own bytes: the scan's fields are what libzip gives of
// a directory without anything unusual. False (listing incomplete) when an entry's time lies
// in an unusual local header.
bool FromDirectory(ArchiveCheck::Scan& scan, Listing& listing, std::string& sError) {
    bool bUsual = true;
    Entry e;
    uint64_t i = 0;
    const bool bRead = scan.Each(
        [&](ArchiveCheck::ScannedEntry& s) {
            bUsual &= !s.Fields.Unusual;
            if (!bUsual) return;
            const ArchiveCheck::HeaderFields& h = s.Fields;
            e.Name = std::move(s.Raw.Name); // the exact bytes, never transcoded
            e.Damage = std::move(s.Raw.Damage);
            e.DataStart = s.Raw.DataStart;
            EntryFacts f;
            f.Size = h.Size;
            f.StoredSize = h.CompSize;
            f.Crc = h.Crc;
            f.Method = h.Method;
            f.Encrypted = h.Encrypted;
            f.System = static_cast<uint8_t>(h.MadeBy >> 8);
            f.Attributes = h.Attributes;
            f.MTime = h.HasMTime ? h.MTime : DosTime(h.DosTime);
            FillEntry(i++, f, s.Raw.Aes, e);
            listing.Add(e);
        },
        [&](uint64_t k) { listing.SetDamage(k, ArchiveCheck::SharedData); }, sError);
    if (!bRead) sError = "the archive is damaged: " + sError;
    return bRead && bUsual;
}

// The listing with libzip's view of each entry, in two steps so that libzip's tables (about
// 0.4 KiB an entry) are never held beside a second listing: the directory's own bytes first
// (names, damage, where the data starts), then what libzip holds of each entry.
Status ThroughLibzip(ArchiveCheck::Scan& scan, int iFd, const std::string& sPath, Listing& listing,
                     std::string& sError) {
    std::unordered_map<size_t, std::string> aes; // the few WinZip AES fields
    Entry e;
    std::string sWhy;
    const bool bRead = scan.Each(
        [&](ArchiveCheck::ScannedEntry& s) {
            e.Name = std::move(s.Raw.Name);
            e.Damage = std::move(s.Raw.Damage);
            e.DataStart = s.Raw.DataStart;
            if (!s.Raw.Aes.empty()) aes[listing.Count()] = std::move(s.Raw.Aes);
            listing.Add(e);
        },
        [&](uint64_t k) { listing.SetDamage(k, ArchiveCheck::SharedData); }, sWhy);
    zip_t* pZip = OpenArchive(sPath, 0, sError);
    if (pZip == nullptr) return Status::Unreadable;
    bool bOk = false;
    if (!SameFile(iFd, ArchiveSource::Fd(pZip)))
        sError = "the archive changed while it was read";
    else if (!bRead)
        sError = "the archive is damaged: " + sWhy;
    else if (listing.Count() != static_cast<uint64_t>(std::max<zip_int64_t>(zip_get_num_entries(pZip, 0), 0)))
        sError = "the archive is damaged: its central directory reads two ways";
    else
        bOk = true;
    for (size_t i = 0; bOk && i < listing.Count(); ++i) {
        listing.Get(i, e);
        const auto it = aes.find(i);
        bOk = CompleteEntry(pZip, i, it == aes.end() ? std::string() : it->second, e, sError);
        listing.Set(i, e);
    }
    zip_discard(pZip);
    return bOk ? Status::Ok : Status::Unreadable;
}

} // namespace

int OpenForListing(const std::string& sPath, std::string& sError) {
    const int fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        sError = "'" + sPath +
                 "' cannot be read as an archive: " + ZipErrorText(errno == ENOENT ? ZIP_ER_NOENT : ZIP_ER_OPEN);
    return fd;
}

Status ListArchive(int iFd, const std::string& sPath, Listing& listing, std::string& sError) {
    listing.Clear();
    sError.clear();
    ArchiveCheck::Scan scan(iFd);
    std::string sWhy;
    Status result = Status::Ok;
    if (!scan.Open(sWhy)) {
        // A directory that cannot be read whole: libzip and the check name what is wrong.
        zip_t* pZip = OpenArchive(sPath, 0, sError);
        if (pZip == nullptr) return Status::Unreadable;
        sError = SameFile(iFd, ArchiveSource::Fd(pZip)) ? "the archive is damaged: " + sWhy
                                                        : "the archive changed while it was read";
        zip_discard(pZip);
        return Status::Unreadable;
    }
    if (scan.Unusual() || !FromDirectory(scan, listing, sError)) {
        listing.Clear();
        result = sError.empty() ? ThroughLibzip(scan, iFd, sPath, listing, sError) : Status::Unreadable;
    }
    if (result != Status::Ok) listing.Clear();
    return result;
}

} // namespace detail

Status ReadContents(const CBackupJob& job, const BackupInfo& backup, Listing& listing, std::string& sError) {
    listing.Clear();
    if (!backup.IsArchive) {
        sError = detail::ReadCopyTree(job, libFiles::AddTrailingSlash(backup.Path), !backup.Snapshot.empty(),
                                      [&](Entry& e) { listing.Add(e); });
        return sError.empty() ? Status::Ok : Status::Incomplete;
    }
    const int fd = detail::OpenForListing(backup.Path, sError);
    if (fd < 0) return Status::Unreadable;
    const Status result = detail::ListArchive(fd, backup.Path, listing, sError);
    ::close(fd);
    return result;
}

std::vector<Entry> Filter(const Listing& listing, const std::vector<std::string>& specs) {
    std::vector<Entry> result;
    Entry e;
    for (size_t i = 0; i < listing.Count(); ++i) {
        listing.Get(i, e);
        if (specs.empty() || detail::MatchesAny(e, specs)) result.push_back(e);
    }
    return result;
}

namespace detail {

void SelectPositions(size_t uCount, const std::function<std::string_view(size_t)>& name,
                     const std::vector<Entry>* selection, const std::function<void(size_t)>& take) {
    if (selection == nullptr) {
        for (size_t i = 0; i < uCount; ++i)
            take(i);
        return;
    }
    std::unordered_set<std::string_view> chosen;
    std::set<std::string_view> folders;
    std::vector<std::string_view> odd; // folders named without a final "/"
    for (const Entry& e : *selection) {
        if (!e.IsDir)
            chosen.insert(e.Name);
        else if (!e.Name.empty() && e.Name.back() == '/')
            folders.insert(e.Name);
        else
            odd.push_back(e.Name);
    }
    for (size_t k = 0; k < uCount; ++k) {
        const std::string_view sName = name(k);
        bool bTake = chosen.count(sName) != 0 || folders.count(sName) != 0;
        for (size_t i = sName.find('/'); !bTake && i != std::string_view::npos; i = sName.find('/', i + 1))
            bTake = folders.count(sName.substr(0, i + 1)) != 0;
        for (size_t i = 0; !bTake && i < odd.size(); ++i)
            bTake = sName.compare(0, odd[i].size(), odd[i]) == 0;
        if (bTake) take(k);
    }
}

} // namespace detail

void EntryTable::Select(const std::vector<Entry>* selection, std::vector<size_t>& todo, uint64_t& lTotal) const {
    todo.reserve(selection == nullptr ? Count() : selection->size());
    detail::SelectPositions(
        Count(), [&](size_t i) { return Name(i); }, selection,
        [&](size_t i) {
            todo.push_back(i);
            lTotal += Size(i);
        });
}

} // namespace libRestore
