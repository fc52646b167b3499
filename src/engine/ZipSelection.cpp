// Selection of the files a name list names: folders walked in name order, wildcard
// patterns, "-i" / "-x" pattern lists, the date filter; the compact records they are kept
// in; and the name list of a backup run's source entry.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/CacheFolders.h"
#include "engine/JobTemp.h"
#include "engine/ZipInternal.h"
#include "support/libStrings.h"

namespace libZip {

namespace detail {

// ---- the compact entry records -----------------------------------------------------

namespace {

constexpr uint64_t FnvBasis = 1469598103934665603ull;

uint64_t Fnv(uint64_t h, std::string_view s) {
    for (char c : s)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h;
}

} // namespace

uint32_t EntryStore::AddFolder(std::string sPath, size_t iStoredFrom) {
    FolderRec f{std::move(sPath), static_cast<uint32_t>(iStoredFrom), 0};
    f.Hash = Fnv(FnvBasis, std::string_view(f.Path).substr(f.StoredFrom));
    m_folders.push_back(std::move(f));
    return static_cast<uint32_t>(m_folders.size() - 1);
}

std::string_view EntryStore::Stored(uint32_t iFolder) const {
    const FolderRec& f = m_folders[iFolder];
    return std::string_view(f.Path).substr(f.StoredFrom);
}

std::string_view EntryStore::Leaf(size_t i) const {
    const Entry& e = m_entries[i];
    if (e.Kind == EntryKind::Dir) return {};
    return std::string_view(m_leaves.c_str() + e.Leaf);
}

std::string EntryStore::Path(size_t i) const {
    const Entry& e = m_entries[i];
    const std::string& sFolder = m_folders[e.Folder].Path;
    if (e.Kind == EntryKind::Dir) return sFolder.size() > 1 ? sFolder.substr(0, sFolder.size() - 1) : sFolder;
    return sFolder + std::string(Leaf(i));
}

std::string EntryStore::Name(size_t i) const { return std::string(Stored(m_entries[i].Folder)) + std::string(Leaf(i)); }

uint64_t EntryStore::HashOf(uint32_t iFolder, std::string_view sLeaf) const {
    return Fnv(m_folders[iFolder].Hash, sLeaf);
}

// The slot of the name (empty or holding it); the table is never full.
size_t EntryStore::Find(uint64_t hash, std::string_view sStoredFolder, std::string_view sLeaf) const {
    const size_t mask = m_slots.size() - 1;
    const uint64_t tag = hash >> 32;
    for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
        const uint64_t v = m_slots[i];
        if (v == 0) return i;
        if ((v >> 32) != tag) continue;
        const size_t e = static_cast<size_t>(v & 0xFFFFFFFF) - 1;
        const std::string_view sFolder = Stored(m_entries[e].Folder);
        const std::string_view sOther = Leaf(e);
        if (sFolder.size() + sOther.size() != sStoredFolder.size() + sLeaf.size()) continue;
        std::string sA = std::string(sFolder) + std::string(sOther);
        if (sA.compare(0, sStoredFolder.size(), sStoredFolder) == 0 &&
            sA.compare(sStoredFolder.size(), sLeaf.size(), sLeaf) == 0)
            return i;
    }
}

void EntryStore::Grow() {
    std::vector<uint64_t> old(std::max<size_t>(1024, m_slots.size() * 2), 0);
    std::swap(old, m_slots);
    const size_t mask = m_slots.size() - 1;
    for (uint64_t v : old) {
        if (v == 0) continue;
        const size_t e = static_cast<size_t>(v & 0xFFFFFFFF) - 1;
        const uint64_t hash = HashOf(m_entries[e].Folder, Leaf(e));
        size_t i = static_cast<size_t>(hash) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = v;
    }
}

bool EntryStore::Add(Entry e, std::string_view sLeaf) {
    if ((m_entries.size() + 1) * 2 > m_slots.size()) Grow();
    const uint64_t hash = HashOf(e.Folder, sLeaf);
    const size_t slot = Find(hash, Stored(e.Folder), sLeaf);
    if (m_slots[slot] != 0) return false;
    if (e.Kind != EntryKind::Dir) {
        e.Leaf = static_cast<uint32_t>(m_leaves.size());
        m_leaves.append(sLeaf);
        m_leaves += '\0';
    }
    m_entries.push_back(e);
    m_slots[slot] = ((hash >> 32) << 32) | m_entries.size();
    return true;
}

bool EntryStore::Contains(std::string_view sName) const {
    if (m_slots.empty()) return false;
    // Names are hashed as one text: the folder part's hash continues into the leaf.
    const uint64_t hash = Fnv(FnvBasis, sName);
    return m_slots[Find(hash, sName, {})] != 0;
}

namespace {

// ---- patterns --------------------------------------------------------------------

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Whole-text wildcard match: "*" any run, "?" any one character, "#" one digit,
// "[...]" / "[!...]" one character (not) in the list with "a-z" ranges; letter case ignored.
bool MatchFrom(const char* s, const char* p) {
    const char* starP = nullptr;
    const char* starS = nullptr;
    while (*s) {
        bool bStep = false;
        if (*p == '*') {
            starP = ++p;
            starS = s;
            continue;
        }
        if (*p == '?') {
            bStep = true;
        } else if (*p == '#') {
            bStep = std::isdigit(static_cast<unsigned char>(*s)) != 0;
        } else if (*p == '[') {
            const char* q = p + 1;
            bool bNegate = false;
            if (*q == '!') {
                bNegate = true;
                ++q;
            }
            const char* listStart = q;
            bool bFound = false;
            while (*q && (*q != ']' || q == listStart)) {
                if (q[1] == '-' && q[2] && q[2] != ']') {
                    if (Fold(*s) >= Fold(q[0]) && Fold(*s) <= Fold(q[2])) bFound = true;
                    q += 3;
                } else {
                    if (Fold(*s) == Fold(*q)) bFound = true;
                    ++q;
                }
            }
            if (*q == ']') {
                bStep = bFound != bNegate;
                if (bStep) {
                    p = q + 1;
                    ++s;
                    continue;
                }
            } else {
                // No closing bracket: the "[" is an ordinary character.
                bStep = Fold(*s) == '[';
            }
        } else if (*p) {
            bStep = Fold(*s) == Fold(*p);
        }
        if (bStep) {
            ++s;
            ++p;
            continue;
        }
        if (!starP) return false;
        p = starP;
        s = ++starS;
    }
    while (*p == '*')
        ++p;
    return *p == '\0';
}

bool MatchPattern(const std::string& sText, const std::string& sPattern) {
    if (MatchFrom(sText.c_str(), sPattern.c_str())) return true;
    // A final ".*" also matches names without an extension ("*.*" matches every name).
    if (sPattern.size() >= 2 && sPattern.compare(sPattern.size() - 2, 2, ".*") == 0 &&
        sText.find('.') == std::string::npos)
        return MatchFrom(sText.c_str(), sPattern.substr(0, sPattern.size() - 2).c_str());
    return false;
}

// The longest entry name a zip archive can hold.
constexpr size_t MaxStoredName = 0xFFFF;

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// A name-list pattern: matched against the file name, or against the full path when it
// holds a "/" past its first character ("/*.doc" is a name pattern, "/data/tmp/*" a path one).
struct Pattern {
    std::string Text;
    bool FullPath = false;
};

Pattern MakePattern(const std::string& s) {
    Pattern p;
    if (!s.empty() && s[0] == '/' && s.find('/', 1) == std::string::npos) {
        p.Text = s.substr(1);
    } else {
        p.Text = s;
        p.FullPath = s.find('/') != std::string::npos;
    }
    return p;
}

bool Matches(const Pattern& p, const std::string& sPath, const std::string& sName) {
    return MatchPattern(p.FullPath ? sPath : sName, p.Text);
}

// ---- the selector ------------------------------------------------------------------

class Selector {
public:
    Selector(const ZpOpt& options, const FileSystemProbe& probe, std::vector<Pattern> includes,
             std::vector<Pattern> excludes, WalkSink& sink, size_t iCheckFiles, std::stop_token stop)
        : m_opt(options), m_probe(probe), m_includes(std::move(includes)), m_excludes(std::move(excludes)),
          m_sink(sink), m_iCheckFiles(iCheckFiles), m_stop(std::move(stop)) {
        if (options.Date && (options.fIncludeDate || options.fExcludeDate)) {
            const std::string& d = *options.Date;
            if (d.size() == 8 &&
                std::all_of(d.begin(), d.end(), [](char c) { return std::isdigit((unsigned char)c); })) {
                std::tm tm{};
                tm.tm_mon = std::stoi(d.substr(0, 2)) - 1;
                tm.tm_mday = std::stoi(d.substr(2, 2));
                tm.tm_year = std::stoi(d.substr(4, 4)) - 1900;
                tm.tm_isdst = -1;
                m_cutoff = std::mktime(&tm);
                m_dateFilter = true;
            } else {
                m_badDate = true;
            }
        }
    }

    bool BadOptions() const { return m_badDate; }
    bool Stopped() const { return m_stop.stop_requested(); }

    // Hands what is found and not handed yet to the sink.
    void Flush() {
        if (!m_batch.empty()) m_sink.Take(m_batch);
        m_batch.clear();
    }

    void AddName(const std::string& sName) {
        if (HasWildcard(sName)) {
            size_t slash = sName.rfind('/');
            std::string sFolder = slash == std::string::npos ? "." : sName.substr(0, slash + 1);
            std::string sPattern = slash == std::string::npos ? sName : sName.substr(slash + 1);
            if (sFolder.size() > 1) sFolder.pop_back();
            bool bAll = (sPattern == "*" || sPattern == "*.*") && m_includes.empty();
            struct stat st {};
            if (::stat(sFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
            Walk(sFolder, &sPattern, bAll, false, st);
            return;
        }
        std::string sPath = sName;
        while (sPath.size() > 1 && sPath.back() == '/')
            sPath.pop_back();
        struct stat st {};
        if (::stat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            // The named folder itself is entered even when it is a symbolic link: the user
            // named it. Links inside it are not followed, so no walk can loop.
            Walk(sPath, nullptr, true, true, st);
            return;
        }
        if (::lstat(sPath.c_str(), &st) != 0) {
            // A name that matches nothing adds nothing; one that cannot be looked up is left out.
            if (errno != ENOENT && errno != ENOTDIR) LeaveOut(sPath, std::strerror(errno));
            return;
        }
        const size_t slash = sPath.rfind('/');
        const std::string sDir = slash == std::string::npos ? "" : sPath.substr(0, slash + 1);
        if (!m_bDirect || m_directPath != sDir) {
            m_direct = NewFolder(sDir);
            m_directPath = sDir;
            m_bDirect = true;
        }
        AddNonFolder(m_direct, sPath, BaseName(sPath), st);
    }

private:
    // A folder as the walk numbers it (from 0, in the order met) and the length of its stored name.
    struct FolderRef {
        uint32_t Id = 0;
        size_t StoredSize = 0;
    };

    void Push(WalkEvent::Kind kind, std::string sText, std::string sOther = {}) {
        WalkEvent& ev = m_batch.emplace_back();
        ev.What = kind;
        ev.Text = std::move(sText);
        ev.Other = std::move(sOther);
        if (m_batch.size() >= WalkBatch) Flush();
    }

    void LeaveOut(const std::string& sPath, const std::string& sReason) {
        Push(WalkEvent::Kind::LeftOut, sPath, sReason);
    }

    static std::string BaseName(const std::string& sPath) {
        size_t slash = sPath.rfind('/');
        return slash == std::string::npos ? sPath : sPath.substr(slash + 1);
    }

    // The length of the part of sPath that is left out of its stored name.
    size_t StoredFrom(const std::string& sPath) const {
        size_t i = 0;
        if (!m_opt.szRootDir.empty()) {
            std::string root = m_opt.szRootDir;
            if (root.back() != '/') root += '/';
            if (sPath.compare(0, root.size(), root) == 0) i = root.size();
        }
        while (i < sPath.size() && sPath[i] == '/')
            ++i;
        if (sPath.compare(i, 2, "./") == 0) i += 2;
        return i;
    }

    FolderRef NewFolder(const std::string& sPrefix) {
        const size_t iStoredFrom = StoredFrom(sPrefix);
        WalkEvent& ev = m_batch.emplace_back();
        ev.What = WalkEvent::Kind::Folder;
        ev.Text = sPrefix;
        ev.StoredFrom = iStoredFrom;
        const FolderRef ref{m_iFolders++, sPrefix.size() - iStoredFrom};
        if (m_batch.size() >= WalkBatch) Flush();
        return ref;
    }

    bool DatePasses(time_t t) const {
        if (!m_dateFilter) return true;
        if (m_opt.fIncludeDate && t < m_cutoff) return false;
        if (m_opt.fExcludeDate && t >= m_cutoff) return false;
        return true;
    }

    bool PassesNames(const std::string& sPath, const std::string& sName) const {
        if (!m_includes.empty() && std::none_of(m_includes.begin(), m_includes.end(),
                                                [&](const Pattern& p) { return Matches(p, sPath, sName); }))
            return false;
        for (const Pattern& p : m_excludes)
            if (Matches(p, sPath, sName)) return false;
        return true;
    }

    void Add(const Entry& e, std::string_view sLeaf) {
        ++m_iAdded;
        WalkEvent& ev = m_batch.emplace_back();
        ev.Item = e;
        ev.Text = sLeaf;
        if (m_batch.size() >= WalkBatch) Flush();
    }

    void AddDir(FolderRef folder, const std::string& sPath, const struct stat& st) {
        // Folders are recorded only in full archives: a date-selected or pattern-selected
        // archive holds the chosen files alone.
        if (m_opt.fNoDirEntries || m_dateFilter || !m_includes.empty()) return;
        if (folder.StoredSize == 0) return;
        if (folder.StoredSize > MaxStoredName) return LeaveOut(sPath, "Name too long for a zip archive");
        Entry e;
        e.Folder = folder.Id;
        e.Kind = EntryKind::Dir;
        e.MTime = st.st_mtime;
        e.Mode = st.st_mode;
        Add(e, {});
    }

    // A file, a link or something else found in a folder (or named): lst from lstat.
    void AddNonFolder(FolderRef folder, const std::string& sPath, const std::string& sName, const struct stat& lst) {
        if (!PassesNames(sPath, sName)) return;
        if (!S_ISREG(lst.st_mode) && !S_ISLNK(lst.st_mode))
            return Push(WalkEvent::Kind::Skipped, sPath, "not a file, folder or link");
        if (!DatePasses(lst.st_mtime)) return;
        const size_t iStored = folder.StoredSize + sName.size();
        if (iStored == 0) return;
        if (iStored > MaxStoredName) return LeaveOut(sPath, "Name too long for a zip archive");
        Entry e;
        e.Folder = folder.Id;
        e.MTime = lst.st_mtime;
        e.Mode = lst.st_mode;
        e.Level = static_cast<uint8_t>(m_level);
        if (S_ISLNK(lst.st_mode)) {
            // Stored as a link, whatever it points to: its target is its data.
            std::string sTarget(static_cast<size_t>(std::max<off_t>(lst.st_size, 0)) + 256, '\0');
            ssize_t n = ::readlink(sPath.c_str(), sTarget.data(), sTarget.size());
            if (n < 0) return LeaveOut(sPath, std::strerror(errno));
            sTarget.resize(static_cast<size_t>(n));
            e.Kind = EntryKind::Link;
            e.Size = n;
            e.Level = 0;
            Push(WalkEvent::Kind::Link, sPath, std::move(sTarget));
            return Add(e, sName);
        }
        // Readable now? A file that cannot be opened is left out (result 18). Past the first
        // iCheckFiles entries the files are read while the walk goes on, and their reading tells
        // instead: no second open.
        if (m_iAdded < m_iCheckFiles || lst.st_size == 0) { // an empty file is never read
            int fd = m_probe.OpenSource(sPath);
            if (fd < 0) return LeaveOut(sPath, std::strerror(errno));
            ::close(fd);
        }
        e.Size = static_cast<int64_t>(lst.st_size);
        if (e.Size == 0) e.Level = 0; // deflate adds bytes to nothing
        Add(e, sName);
    }

    // Walks a folder: its files (matching sPattern when given), then, when recursing,
    // its subfolders in name order, depth first. bDirEntries: record each subfolder as an
    // entry right before its contents (bTopEntry: the folder itself too).
    void Walk(const std::string& sFolder, const std::string* pPattern, bool bDirEntries, bool bTopEntry,
              const struct stat& topSt) {
        struct Pending {
            std::string Path;
            struct stat St;
            bool Top;
            int Depth;
        };
        std::vector<Pending> stack;
        stack.push_back(Pending{sFolder, topSt, true, 0});
        std::vector<std::string> names;
        while (!stack.empty() && !Stopped()) {
            // A copy, not a move: GCC 12 at -O3 takes the moved-from string for uninitialised.
            const Pending cur = stack.back();
            stack.pop_back();
            std::string sPrefix = cur.Path == "/" ? "/" : cur.Path + "/";
            const FolderRef folder = NewFolder(sPrefix);
            if (cur.Top ? bTopEntry : bDirEntries) AddDir(folder, cur.Path, cur.St);
            DIR* dir = ::opendir(cur.Path.c_str());
            if (!dir) {
                LeaveOut(cur.Path, std::strerror(errno)); // its files are left out
                continue;
            }
            const int dfd = ::dirfd(dir);
            names.clear();
            while (dirent* e = ::readdir(dir)) {
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
                if (!m_opt.fSystem && e->d_name[0] == '.') continue;
                names.emplace_back(e->d_name);
            }
            std::sort(names.begin(), names.end());
            size_t firstSub = stack.size();
            for (const std::string& sName : names) {
                if (Stopped()) break;
                std::string sPath = sPrefix + sName;
                struct stat lst {};
                // Relative to the open folder: no path walk per file, and no limit on the depth.
                if (::fstatat(dfd, sName.c_str(), &lst, AT_SYMLINK_NOFOLLOW) != 0) {
                    LeaveOut(sPath, std::strerror(errno)); // vanished since the folder was read
                    continue;
                }
                if (S_ISDIR(lst.st_mode)) {
                    // A job's temporary folder holds nothing complete: never backed up.
                    if (!m_opt.fRecurse || JobTemp::IsTempName(sName)) continue;
                    // Caches and folders marked as not worth keeping: named by the rules, not entered.
                    if (LeftOutAsCache(dfd, sName, sPath, lst)) continue;
                    if (cur.Depth >= MaxWalkDepth)
                        LeaveOut(sPath, "Folder nested too deeply");
                    else
                        stack.push_back(Pending{sPath, lst, false, cur.Depth + 1});
                    continue;
                }
                if (pPattern && !MatchPattern(sName, *pPattern)) continue;
                AddNonFolder(folder, sPath, sName, lst);
            }
            ::closedir(dir);
            Flush(); // a folder at a time: whoever takes the findings gets them while the walk goes on
            // Visit the subfolders in name order.
            std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(firstSub), stack.end());
        }
    }

    bool LeftOutAsCache(int dfd, const std::string& sName, const std::string& sPath, const struct stat& lst) {
        if (m_opt.Caches == nullptr) return false;
        const CacheFolders::Reason reason = m_opt.Caches->Why(dfd, sName, sPath, lst);
        if (reason == CacheFolders::Reason::None) return false;
        WalkEvent& ev = m_batch.emplace_back();
        ev.What = WalkEvent::Kind::Cache;
        ev.Text = sPath;
        ev.Cache = reason;
        ev.Device = lst.st_dev;
        ev.Inode = lst.st_ino;
        if (m_batch.size() >= WalkBatch) Flush();
        return true;
    }

    const ZpOpt& m_opt;
    const FileSystemProbe& m_probe;
    std::vector<Pattern> m_includes;
    std::vector<Pattern> m_excludes;
    bool m_dateFilter = false;
    bool m_badDate = false;
    time_t m_cutoff = 0;
    int m_level = std::clamp(m_opt.fLevel - '0', 0, 9);
    WalkSink& m_sink;
    const size_t m_iCheckFiles;
    const std::stop_token m_stop;
    std::vector<WalkEvent> m_batch;
    uint32_t m_iFolders = 0; // folders met
    size_t m_iAdded = 0;     // entries found
    FolderRef m_direct;      // the folder of the files named directly, when m_bDirect
    bool m_bDirect = false;
    std::string m_directPath;
};

// Splits a name list into the names to archive, the "-i" patterns and the "-x" patterns.
bool ParseNames(const std::vector<std::string>& names, std::vector<std::string>& items, std::vector<Pattern>& includes,
                std::vector<Pattern>& excludes) {
    enum { Items, Includes, Excludes } mode = Items;
    for (const std::string& n : names) {
        if (n == "-i") {
            mode = Includes;
        } else if (n == "-x") {
            mode = Excludes;
        } else if (n.empty()) {
            continue;
        } else if (mode == Items) {
            if (n[0] == '-') return false; // no other options are taken
            items.push_back(n);
        } else if (mode == Includes) {
            includes.push_back(MakePattern(n));
        } else {
            excludes.push_back(MakePattern(n));
        }
    }
    return true;
}

} // namespace

int WalkFiles(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe, WalkSink& sink,
              size_t iCheckFiles, std::stop_token stop) {
    std::vector<std::string> items;
    std::vector<Pattern> includes, excludes;
    if (!ParseNames(names, items, includes, excludes)) return ZE_PARMS;
    if (items.empty()) return ZE_NONE;
    Selector selector(options, probe, includes, excludes, sink, iCheckFiles, std::move(stop));
    if (selector.BadOptions()) return ZE_PARMS;
    for (const std::string& n : items) {
        if (selector.Stopped()) break;
        selector.AddName(n);
    }
    selector.Flush();
    return ZE_OK;
}

} // namespace detail

bool BuildNameList(const std::string& sEntry, const std::string& sExcludeSpec, std::vector<std::string>& names) {
    names.clear();
    size_t star = sEntry.find("*.");
    // Split as folder, "-i", pattern only when the pattern is the whole last component
    // ("/data/*.doc"); "/data/report*.doc" split there would name a folder "/data/report",
    // so it is passed whole and matched in its folder.
    const bool bSplit = star != std::string::npos && sEntry.find("*.*") == std::string::npos && star > 0 &&
                        sEntry[star - 1] == '/' && sEntry.find('/', star) == std::string::npos;
    if (!bSplit) {
        names.push_back(sEntry);
    } else {
        names.push_back(sEntry.substr(0, star));
        names.push_back("-i");
        names.push_back("/" + sEntry.substr(star));
    }
    if (!sExcludeSpec.empty()) {
        std::vector<std::string> excludes;
        if (libStrings::GetFileList(sExcludeSpec, excludes)) return false;
        names.push_back("-x");
        for (const std::string& x : excludes)
            if (!x.empty()) names.push_back(x);
    }
    return true;
}

} // namespace libZip
