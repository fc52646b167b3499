#include "engine/FolderChain.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int OpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string Joined(const std::vector<std::string>& parts, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i) s += '/';
        s += parts[i];
    }
    return s;
}

std::string Refusal(int iErr, const std::string& sRel) {
    if (iErr == ELOOP || iErr == ENOTDIR) return "'" + sRel + "' is no folder here (a file or a link)";
    return "folder '" + sRel + "': " + std::strerror(iErr);
}

} // namespace

void FolderChain::Reset(int iRoot) {
    Truncate(0);
    if (m_iRoot >= 0) ::close(m_iRoot);
    m_iRoot = iRoot;
    struct stat st {};
    if (iRoot >= 0 && ::fstat(iRoot, &st) == 0) {
        m_rootDev = st.st_dev;
        m_rootIno = st.st_ino;
    }
}

void FolderChain::Identity(size_t n, dev_t& dev, ino_t& ino) const {
    if (n == 0 || n > m_levels.size()) {
        dev = m_rootDev;
        ino = m_rootIno;
        return;
    }
    dev = m_levels[n - 1].Dev;
    ino = m_levels[n - 1].Ino;
}

void FolderChain::Truncate(size_t n) {
    for (size_t i = n; i < m_levels.size(); ++i)
        if (m_levels[i].Fd >= 0) ::close(m_levels[i].Fd);
    if (n < m_levels.size()) m_levels.resize(n);
}

// Opens level i below iParent. bExisting: a level met before, which must still be the same folder.
int FolderChain::OpenLevel(int iParent, size_t i, const std::vector<std::string>& parts, bool bExisting,
                           std::string& sWhy) {
    const char* sName = parts[i].c_str();
    bool bMade = false;
    int fd = ::openat(iParent, sName, OpenFlags);
    if (fd < 0 && errno == ENOENT && m_bMake && !bExisting) {
        if (::mkdirat(iParent, sName, 0755) == 0) {
            bMade = true;
            if (m_uFirstMade == 0) m_uFirstMade = i + 1;
        } else if (errno != EEXIST) {
            sWhy = "folder '" + Joined(parts, i + 1) + "' cannot be made: " + std::strerror(errno);
            return -1;
        }
        fd = ::openat(iParent, sName, OpenFlags);
    }
    if (fd < 0) {
        sWhy = Refusal(errno, Joined(parts, i + 1));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (bExisting && (st.st_dev != m_levels[i].Dev || st.st_ino != m_levels[i].Ino))) {
        ::close(fd);
        sWhy = "folder '" + Joined(parts, i + 1) + "' changed while the restore ran";
        return -1;
    }
    if (!bExisting) m_levels.push_back(Level{parts[i], -1, st.st_dev, st.st_ino, bMade});
    m_levels[i].Fd = fd;
    return fd;
}

// Opens the evicted level i again from the nearest open level above it.
int FolderChain::Reopen(size_t i, const std::vector<std::string>& parts, std::string& sWhy) {
    size_t a = i;
    while (a > 0 && m_levels[a - 1].Fd < 0)
        --a;
    // Levels a .. i are closed; a - 1 (or the root) is open.
    for (size_t k = a; k <= i; ++k) {
        const int iParent = k == 0 ? m_iRoot : m_levels[k - 1].Fd;
        if (OpenLevel(iParent, k, parts, true, sWhy) < 0) {
            m_uFailedAt = k + 1;
            Truncate(k);
            return -1;
        }
        if (k > a && !Kept(k - 1)) {
            ::close(m_levels[k - 1].Fd);
            m_levels[k - 1].Fd = -1;
        }
    }
    return m_levels[i].Fd;
}

int FolderChain::Enter(const std::vector<std::string>& parts, size_t n, std::string& sWhy) {
    m_uFailedAt = 0;
    m_uFirstMade = 0;
    if (m_iRoot < 0) {
        sWhy = "no folder to restore into";
        return -1;
    }
    size_t p = 0;
    while (p < n && p < m_levels.size() && m_levels[p].Name == parts[p])
        ++p;
    Truncate(p);
    int iParent = m_iRoot;
    if (p > 0) {
        iParent = m_levels[p - 1].Fd >= 0 ? m_levels[p - 1].Fd : Reopen(p - 1, parts, sWhy);
        if (iParent < 0) return -1;
    }
    for (size_t i = p; i < n; ++i) {
        iParent = OpenLevel(iParent, i, parts, false, sWhy);
        if (iParent < 0) {
            m_uFailedAt = i + 1;
            return -1;
        }
        // The level that just left the window is closed unless it is kept for the way back.
        if (m_levels.size() > Window) {
            Level& old = m_levels[m_levels.size() - 1 - Window];
            if (old.Fd >= 0 && (m_levels.size() - Window) % Spacing != 0) {
                ::close(old.Fd);
                old.Fd = -1;
            }
        }
    }
    return iParent;
}
