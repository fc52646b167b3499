#include "engine/CacheFolders.h"

#include "support/libLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// The Cache Directory Tagging signature: a tag counts only when its first bytes are exactly these.
constexpr char TagName[] = "CACHEDIR.TAG";
constexpr char TagSignature[] = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr size_t TagSignatureSize = sizeof TagSignature - 1;
constexpr char MarkerName[] = ".nobackup";

// The rules of the run in progress (the walks run on the run's thread).
CacheFolders* g_pRunRules = nullptr;

std::string HomeFolder() {
    if (const char* h = std::getenv("HOME"); h != nullptr && *h == '/') return h;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* pFound = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &pFound) == 0 && pFound != nullptr &&
        pFound->pw_dir != nullptr && pFound->pw_dir[0] == '/')
        return pFound->pw_dir;
    return "";
}

// An XDG base folder: the variable when it holds an absolute path (a relative one is to be
// ignored), else the default below the home folder ("" without a home folder).
std::string XdgFolder(const char* sVariable, const std::string& sHome, const char* sDefault) {
    if (const char* x = std::getenv(sVariable); x != nullptr && *x == '/') return x;
    return sHome.empty() ? std::string() : sHome + "/" + sDefault;
}

// sName's own entry inside the folder sName names.
std::string Inside(const std::string& sName, const char* sEntry) {
    if (!sName.empty() && sName.back() == '/') return sName + sEntry;
    return sName + "/" + sEntry;
}

// The folder's CACHEDIR.TAG is a regular file that begins with the signature. A link is not
// followed, a pipe never waited for, and a tag that cannot be read does not count.
bool HasCacheTag(int iAt, const std::string& sName) {
    const int fd =
        ::openat(iAt, Inside(sName, TagName).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool bTagged = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(TagSignatureSize)) {
        char buf[TagSignatureSize];
        size_t got = 0;
        while (got < TagSignatureSize) {
            const ssize_t n = ::pread(fd, buf + got, TagSignatureSize - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bTagged = got == TagSignatureSize && std::memcmp(buf, TagSignature, TagSignatureSize) == 0;
    }
    ::close(fd);
    return bTagged;
}

// The folder at sName (relative to iAt) is the top of a mounted file system.
bool IsMountTop(int iAt, const std::string& sName) {
    struct statx stx {};
    if (::statx(iAt, sName.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO, &stx) != 0) return false;
    if ((stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    // Older kernels: the folder above lies on another device, or is the folder itself ("/").
    struct stat here {
    }, above{};
    if (::fstatat(iAt, sName.c_str(), &here, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(iAt, Inside(sName, "..").c_str(), &above, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return here.st_dev != above.st_dev || here.st_ino == above.st_ino;
}

// The last component of a path, and the one before it ("" when there is none).
std::string LastName(const std::string& sPath) {
    std::string s = sPath;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    const size_t slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string ParentName(const std::string& sPath) {
    std::string s = sPath;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    const size_t slash = s.rfind('/');
    if (slash == std::string::npos || slash == 0) return "";
    return LastName(s.substr(0, slash));
}

const char* ReasonText(CacheFolders::Reason reason) {
    switch (reason) {
    case CacheFolders::Reason::CacheTag:
        return "CACHEDIR.TAG";
    case CacheFolders::Reason::NoBackup:
        return ".nobackup";
    case CacheFolders::Reason::Cache:
        return "cache";
    case CacheFolders::Reason::Trash:
        return "Trash";
    case CacheFolders::Reason::Thumbnails:
        return "thumbnails";
    case CacheFolders::Reason::None:
        break;
    }
    return "";
}

} // namespace

CacheFolders::CacheFolders(bool bName) : m_bName(bName) {
    const std::string sHome = HomeFolder();
    const std::string sCache = XdgFolder("XDG_CACHE_HOME", sHome, ".cache");
    AddHomeFolder(sCache, Reason::Cache);
    const std::string sData = XdgFolder("XDG_DATA_HOME", sHome, ".local/share");
    if (!sData.empty()) AddHomeFolder(sData + "/Trash", Reason::Trash);
    if (!sHome.empty()) {
        AddHomeFolder(sHome + "/.thumbnails", Reason::Thumbnails);
        AddHomeFolder(sHome + "/.cache/thumbnails", Reason::Thumbnails);
    }
    if (!sCache.empty()) AddHomeFolder(sCache + "/thumbnails", Reason::Thumbnails);
    m_sUid = std::to_string(::getuid());
    m_sTrashName = ".Trash-" + m_sUid;
}

// Followed when it is a link: the walk meets the folder it leads to.
void CacheFolders::AddHomeFolder(const std::string& sPath, Reason reason) {
    struct stat st {};
    if (sPath.empty() || ::stat(sPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    const Id id{st.st_dev, st.st_ino};
    for (const auto& [known, why] : m_homeFolders)
        if (known == id) return;
    m_homeFolders.emplace_back(id, reason);
}

CacheFolders::Reason CacheFolders::Why(int iAt, const std::string& sName, const std::string& sPath,
                                       const struct stat& st) const {
    if (!S_ISDIR(st.st_mode)) return Reason::None;
    for (const auto& [id, why] : m_homeFolders)
        if (id.first == st.st_dev && id.second == st.st_ino) return why;
    Reason reason = Reason::None;
    if (MarkedInside(iAt, sName, reason)) return reason;
    if (VolumeTrash(iAt, sName, sPath)) return Reason::Trash;
    return Reason::None;
}

bool CacheFolders::MarkedInside(int iAt, const std::string& sName, Reason& reason) const {
    struct stat marker {};
    if (::fstatat(iAt, Inside(sName, MarkerName).c_str(), &marker, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(marker.st_mode)) {
        reason = Reason::NoBackup;
        return true;
    }
    if (HasCacheTag(iAt, sName)) {
        reason = Reason::CacheTag;
        return true;
    }
    return false;
}

// ".Trash-<uid>" at the top of a file system, or "<uid>" in a ".Trash" there. Asked only for
// folders of those names, so nothing is looked up for others.
bool CacheFolders::VolumeTrash(int iAt, const std::string& sName, const std::string& sPath) const {
    const std::string sLast = LastName(sPath);
    if (sLast == m_sTrashName) return IsMountTop(iAt, Inside(sName, ".."));
    if (sLast == m_sUid && ParentName(sPath) == ".Trash") return IsMountTop(iAt, Inside(sName, "../.."));
    return false;
}

bool CacheFolders::LeftOut(int iAt, const std::string& sName, const std::string& sPath, const struct stat& st,
                           const std::function<void()>& beforeLine) {
    const Reason reason = Why(iAt, sName, sPath, st);
    if (reason == Reason::None) return false;
    Name(reason, st.st_dev, st.st_ino, sPath, beforeLine);
    return true;
}

void CacheFolders::Name(Reason reason, dev_t device, ino_t inode, const std::string& sPath,
                        const std::function<void()>& beforeLine) {
    // A folder met again (two entries of the run reach it) is named and counted once.
    if (m_bName && m_named.insert(Id{device, inode}).second) {
        if (beforeLine) beforeLine();
        libLog::LogEventLevel(0, Line(reason, sPath));
        ++m_lCount;
    }
}

std::string CacheFolders::Line(Reason reason, const std::string& sPath) {
    const std::string sFolder = !sPath.empty() && sPath.back() == '/' ? sPath : sPath + "/";
    return std::string("  Left out (") + ReasonText(reason) + "): " + sFolder;
}

std::string CacheFolders::CountLine(int32_t lCount) {
    return "  Left out " + std::to_string(lCount) + (lCount == 1 ? " folder" : " folders") + " not worth keeping";
}

CacheFolders* CacheFolders::OfRun() { return g_pRunRules; }

CacheFolders::RunScope::RunScope(bool bExcludeCaches) : m_pPrevious(g_pRunRules) {
    if (bExcludeCaches) m_rules = std::make_unique<CacheFolders>(true);
    g_pRunRules = m_rules.get();
}

CacheFolders::RunScope::~RunScope() { g_pRunRules = m_pPrevious; }

bool CacheFolders::LeftOutInRun(const std::string& sPath, const std::function<void()>& beforeLine) {
    CacheFolders* pRules = OfRun();
    if (pRules == nullptr) return false;
    struct stat st {};
    if (::lstat(sPath.c_str(), &st) != 0) return false; // the walk names what it cannot look up
    return pRules->LeftOut(AT_FDCWD, sPath, sPath, st, beforeLine);
}

void CacheFolders::LogRunCount() {
    if (const CacheFolders* pRules = OfRun(); pRules != nullptr && pRules->Count() > 0)
        libLog::LogEventLevel(1, CountLine(pRules->Count()));
}
