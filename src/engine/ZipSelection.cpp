// Selection of the files a name list names: folders walked in name order, wildcard
// patterns, "-i" / "-x" pattern lists, the date filter; and the name list of a backup
// run's source entry.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/JobTemp.h"
#include "engine/ZipInternal.h"
#include "support/libStrings.h"

namespace libZip {

namespace detail {

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
             std::vector<Pattern> excludes)
        : m_opt(options), m_probe(probe), m_includes(std::move(includes)), m_excludes(std::move(excludes)) {
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

    void AddName(const std::string& sName, Selection& out) {
        if (HasWildcard(sName)) {
            size_t slash = sName.rfind('/');
            std::string sFolder = slash == std::string::npos ? "." : sName.substr(0, slash + 1);
            std::string sPattern = slash == std::string::npos ? sName : sName.substr(slash + 1);
            if (sFolder.size() > 1) sFolder.pop_back();
            bool bAll = (sPattern == "*" || sPattern == "*.*") && m_includes.empty();
            struct stat st {};
            if (::stat(sFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
            Walk(sFolder, &sPattern, bAll, out);
            return;
        }
        std::string sPath = sName;
        while (sPath.size() > 1 && sPath.back() == '/')
            sPath.pop_back();
        struct stat st {};
        if (::stat(sPath.c_str(), &st) != 0) {
            // A name that matches nothing adds nothing; one that cannot be looked up is left out.
            if (errno != ENOENT && errno != ENOTDIR) LeaveOut(sPath, std::strerror(errno), out);
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            // The named folder itself is entered even when it is a symbolic link: the user
            // named it. Links inside it are not followed, so no walk can loop.
            AddDir(sPath, st, out);
            Walk(sPath, nullptr, true, out);
        } else if (S_ISREG(st.st_mode)) {
            AddFile(sPath, BaseName(sPath), st, out);
        }
    }

private:
    static void LeaveOut(const std::string& sPath, const std::string& sReason, Selection& out) {
        out.LeftOut = true;
        out.LeftOutFiles.push_back(LeftOutFile{sPath, sReason});
    }

    static std::string BaseName(const std::string& sPath) {
        size_t slash = sPath.rfind('/');
        return slash == std::string::npos ? sPath : sPath.substr(slash + 1);
    }

    std::string StoredName(const std::string& sPath) const {
        std::string s = sPath;
        if (!m_opt.szRootDir.empty()) {
            std::string root = m_opt.szRootDir;
            if (root.back() != '/') root += '/';
            if (s.compare(0, root.size(), root) == 0) s = s.substr(root.size());
        }
        size_t i = 0;
        while (i < s.size() && s[i] == '/')
            ++i;
        s = s.substr(i);
        if (s.compare(0, 2, "./") == 0) s = s.substr(2);
        return s;
    }

    bool DatePasses(time_t t) const {
        if (!m_dateFilter) return true;
        if (m_opt.fIncludeDate && t < m_cutoff) return false;
        if (m_opt.fExcludeDate && t >= m_cutoff) return false;
        return true;
    }

    void AddDir(const std::string& sPath, const struct stat& st, Selection& out) {
        // Folders are recorded only in full archives: a date-selected or pattern-selected
        // archive holds the chosen files alone.
        if (m_opt.fNoDirEntries || m_dateFilter || !m_includes.empty()) return;
        std::string sName = StoredName(sPath);
        if (sName.empty()) return;
        if (sName.size() + 1 > MaxStoredName) return LeaveOut(sPath, "Name too long for a zip archive", out);
        out.Items.push_back(Selected{sPath, sName + "/", true, 0, st.st_mtime, st.st_mode});
    }

    void AddFile(const std::string& sPath, const std::string& sName, const struct stat& st, Selection& out) {
        if (!m_includes.empty() && std::none_of(m_includes.begin(), m_includes.end(),
                                                [&](const Pattern& p) { return Matches(p, sPath, sName); }))
            return;
        for (const Pattern& p : m_excludes)
            if (Matches(p, sPath, sName)) return;
        if (!DatePasses(st.st_mtime)) return;
        std::string sStored = StoredName(sPath);
        if (sStored.empty()) return;
        if (sStored.size() > MaxStoredName) return LeaveOut(sPath, "Name too long for a zip archive", out);
        // Readable now? A file that cannot be opened is left out (result 18).
        int fd = m_probe.OpenSource(sPath);
        if (fd < 0) return LeaveOut(sPath, std::strerror(errno), out);
        ::close(fd);
        out.Items.push_back(Selected{sPath, sStored, false, static_cast<int64_t>(st.st_size), st.st_mtime, st.st_mode});
    }

    // Walks a folder: its files (matching sPattern when given), then, when recursing,
    // its subfolders in name order, depth first. bDirEntries: record each subfolder as an
    // entry right before its contents.
    void Walk(const std::string& sFolder, const std::string* pPattern, bool bDirEntries, Selection& out) {
        struct Pending {
            std::string Path;
            struct stat St;
            bool Top;
            int Depth;
        };
        std::vector<Pending> stack;
        stack.push_back(Pending{sFolder, {}, true, 0});
        std::vector<std::string> names;
        while (!stack.empty()) {
            Pending cur = std::move(stack.back());
            stack.pop_back();
            if (!cur.Top && bDirEntries) AddDir(cur.Path, cur.St, out);
            DIR* dir = ::opendir(cur.Path.c_str());
            if (!dir) {
                LeaveOut(cur.Path, std::strerror(errno), out); // its files are left out
                continue;
            }
            names.clear();
            while (dirent* e = ::readdir(dir)) {
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
                if (!m_opt.fSystem && e->d_name[0] == '.') continue;
                names.emplace_back(e->d_name);
            }
            ::closedir(dir);
            std::sort(names.begin(), names.end());
            std::string sPrefix = cur.Path == "/" ? "/" : cur.Path + "/";
            size_t firstSub = stack.size();
            for (const std::string& sName : names) {
                std::string sPath = sPrefix + sName;
                struct stat lst {};
                if (::lstat(sPath.c_str(), &lst) != 0) {
                    // Vanished since the folder was read, or a path too long to name.
                    LeaveOut(sPath, std::strerror(errno), out);
                    continue;
                }
                if (S_ISDIR(lst.st_mode)) {
                    // A job's temporary folder holds nothing complete: never backed up.
                    if (!m_opt.fRecurse || JobTemp::IsTempName(sName)) continue;
                    if (cur.Depth >= MaxWalkDepth)
                        LeaveOut(sPath, "Folder nested too deeply", out);
                    else
                        stack.push_back(Pending{sPath, lst, false, cur.Depth + 1});
                    continue;
                }
                struct stat st = lst;
                if (S_ISLNK(lst.st_mode)) {
                    // A link to a file is archived as that file; links to folders are
                    // neither entered nor archived; dangling links hold no data.
                    if (::stat(sPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
                }
                if (!S_ISREG(st.st_mode)) continue; // devices, pipes, sockets
                if (pPattern && !MatchPattern(sName, *pPattern)) continue;
                AddFile(sPath, sName, st, out);
            }
            // Visit the subfolders in name order.
            std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(firstSub), stack.end());
        }
    }

    const ZpOpt& m_opt;
    const FileSystemProbe& m_probe;
    std::vector<Pattern> m_includes;
    std::vector<Pattern> m_excludes;
    bool m_dateFilter = false;
    bool m_badDate = false;
    time_t m_cutoff = 0;
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

int SelectFiles(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe,
                Selection& sel) {
    std::vector<std::string> items;
    std::vector<Pattern> includes, excludes;
    if (!ParseNames(names, items, includes, excludes)) return ZE_PARMS;
    if (items.empty()) return ZE_NONE;
    Selector selector(options, probe, includes, excludes);
    if (selector.BadOptions()) return ZE_PARMS;
    for (const std::string& n : items)
        selector.AddName(n, sel);
    if (sel.Items.empty()) return sel.LeftOut ? ZE_OPEN : ZE_NONE;
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
