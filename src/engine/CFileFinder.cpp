#include "engine/CFileFinder.h"

#include "engine/ArchiveFlags.h"
#include "support/libStrings.h"

#include "support/libFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t EpochDifferenceSeconds = 11644473600LL;

// Regular files and folders are reported; a link counts as what it points to, except that a link
// to a folder is never reported (no walk may enter it); pipes, sockets and devices hold no data to
// back up (opening a pipe would even wait for a writer).
bool Reportable(const struct stat& st, bool bIsLink) {
    if (S_ISREG(st.st_mode)) return true;
    if (S_ISDIR(st.st_mode)) return !bIsLink;
    return false;
}
} // namespace

CFileFinder::CFileFinder() = default;

CFileFinder::~CFileFinder() { FindClose(); }

int32_t CFileFinder::LastError() const { return m_lastError; }

uint8_t CFileFinder::Attrib() const {
    if (!m_found) return 0;
    LoadPendingStat();
    uint8_t attr = 0;
    if ((m_stat.st_mode & S_IWUSR) == 0) attr |= AttrReadOnly;
    if (S_ISDIR(m_stat.st_mode)) {
        attr |= AttrDirectory;
    } else {
        if (m_archive < 0) {
            try {
                m_archive = ArchiveFlags::Instance().IsArchiveSet(FoundPath(), m_stat) ? 1 : 0;
            } catch (const std::exception&) {
                // No member raises an error; a file whose flag cannot be read counts as changed.
                m_archive = 1;
            }
        }
        if (m_archive == 1) attr |= AttrArchive;
    }
    return attr;
}

uint64_t CFileFinder::LastWriteTime() const {
    LoadPendingStat();
    return m_fileTime;
}

std::string CFileFinder::FindFirst(const std::string& sPattern) {
    FindClose();
    m_names.clear();
    m_index = 0;
    m_found = false;

    const auto slash = sPattern.rfind('/');
    m_folder = slash == std::string::npos ? std::string() : sPattern.substr(0, slash + 1);
    const std::string namePattern = slash == std::string::npos ? sPattern : sPattern.substr(slash + 1);
    if (namePattern.empty()) {
        m_lastError = ENOENT;
        return "";
    }

    if (!libStrings::HasWildcards(namePattern)) {
        // A plain name is looked up directly: the copy walk does this once per file.
        m_names.push_back({namePattern, DT_UNKNOWN});
    } else {
        m_dir = opendir(m_folder.empty() ? "." : m_folder.c_str());
        if (m_dir == nullptr) {
            m_lastError = errno;
            return "";
        }
        while (const dirent* ent = readdir(m_dir)) {
            // A walk has no use for "." and "..": reporting them would cost two look-ups a folder.
            if (m_bAsIs && (std::strcmp(ent->d_name, ".") == 0 || std::strcmp(ent->d_name, "..") == 0)) continue;
            if (libStrings::WildcardMatch(ent->d_name, namePattern)) m_names.push_back({ent->d_name, ent->d_type});
        }
        std::sort(m_names.begin(), m_names.end(), [](const Listed& a, const Listed& b) { return a.Name < b.Name; });
    }
    m_open = true;
    const std::string name = Advance();
    if (name.empty()) {
        // Nothing matched: as with a failed find-first, no enumeration stays open.
        m_open = false;
        m_names.clear();
        CloseFolder();
    }
    return name;
}

std::string CFileFinder::FindNext() {
    if (!m_open) {
        m_lastError = EBADF;
        m_found = false;
        return "";
    }
    ++m_index;
    return Advance();
}

void CFileFinder::CloseFolder() {
    if (m_dir != nullptr) closedir(m_dir);
    m_dir = nullptr;
}

void CFileFinder::FindClose() {
    CloseFolder();
    if (!m_open) return;
    m_open = false;
    m_names.clear();
    m_index = 0;
    m_lastError = 0;
}

const struct stat& CFileFinder::StatData() const {
    LoadPendingStat();
    return m_stat;
}

std::string CFileFinder::FoundPath() const { return m_found ? m_folder + m_names[m_index].Name : std::string(); }

uint64_t CFileFinder::FileTimeFromUnixNs(int64_t iNs) {
    // Floor division keeps times before 1970 ordered correctly.
    int64_t seconds = iNs / 1000000000LL;
    int64_t rest = iNs % 1000000000LL;
    if (rest < 0) {
        rest += 1000000000LL;
        --seconds;
    }
    const int64_t units = (seconds + EpochDifferenceSeconds) * 10000000LL + rest / 100;
    return units < 0 ? 0 : static_cast<uint64_t>(units);
}

bool CFileFinder::LoadCurrent(int& iError) {
    // Looked up in the open folder: the kernel walks no path per name.
    const int iFolder = m_dir != nullptr ? dirfd(m_dir) : AT_FDCWD;
    // A name whose whole path no other call could take is not reported, as before.
    if (m_folder.size() + m_names[m_index].Name.size() >= PATH_MAX) {
        iError = ENAMETOOLONG;
        return false;
    }
    std::string full;
    const char* path = m_names[m_index].Name.c_str();
    if (m_dir == nullptr) {
        full = m_folder + m_names[m_index].Name;
        path = full.c_str();
    }
    m_archive = -1;
    // A walk opens a regular file anyway and takes its status from there; only what asks for
    // it here (the flag, the size, the times) makes a look-up of its own.
    m_bStatPending = m_bAsIs && m_names[m_index].Type == DT_REG && m_dir != nullptr;
    if (m_bStatPending) {
        m_stat = {};
        m_stat.st_mode = S_IFREG;
        m_fileTime = 0;
        return true;
    }
    struct stat st {};
    if (fstatat(iFolder, path, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        iError = errno;
        return false;
    }
    bool bIsLink = false;
    if (!m_bAsIs && S_ISLNK(st.st_mode)) {
        bIsLink = true;
        if (fstatat(iFolder, path, &st, 0) != 0) return false; // points nowhere
    }
    if (!m_bAsIs && !Reportable(st, bIsLink)) return false;
    Take(st);
    return true;
}

void CFileFinder::Take(const struct stat& st) const {
    m_stat = st;
    m_fileTime = FileTimeFromUnixNs(libFiles::TimeNs(st.st_mtim));
}

void CFileFinder::LoadPendingStat() const {
    if (!m_bStatPending || !m_found || m_dir == nullptr) return;
    m_bStatPending = false;
    struct stat st {};
    // Gone since it was listed: it stays a regular file of length 0, whose copy names it.
    if (fstatat(dirfd(m_dir), m_names[m_index].Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    Take(st);
}

std::string CFileFinder::Advance() {
    m_found = false;
    int iError = ENOENT;
    while (m_index < m_names.size()) {
        if (LoadCurrent(iError)) {
            m_found = true;
            m_lastError = 0;
            return m_names[m_index].Name;
        }
        ++m_index;
    }
    m_lastError = iError;
    return "";
}
