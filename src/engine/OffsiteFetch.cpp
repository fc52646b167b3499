// OffsiteFetch: each remote operation one rclone command, as for the off-site copy itself.

#include "engine/OffsiteFetch.h"

#include "engine/JobTemp.h"
#include "engine/Offsite.h"
#include "engine/OffsiteInternal.h"
#include "engine/Rclone.h"
#include "jobs/CBackupJob.h"
#include "support/StowError.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OffsiteFetch {

namespace {

using OffsiteInternal::Lines;

// What every download's name begins with in the job's temporary folder; the process id follows,
// so that a later download can tell a dead process's leftover from a live one's.
constexpr const char* DownloadPrefix = ".stowline-download-";

// The folder part and the name of a remote path ("nas:a/b.zip" -> "nas:a", "b.zip"; "nas:b.zip"
// -> "nas:", "b.zip").
void SplitRemote(const std::string& sPath, std::string& sFolder, std::string& sName) {
    size_t i = sPath.rfind('/');
    const size_t iColon = sPath.find(':');
    if (i == std::string::npos || i < iColon) {
        sFolder = sPath.substr(0, iColon + 1);
        sName = sPath.substr(iColon + 1);
        return;
    }
    sFolder = sPath.substr(0, i);
    sName = sPath.substr(i + 1);
}

// The remote's root as the user wrote it, for showing ("nas:backups/" -> "nas:backups").
std::string RemoteShown(const std::string& sRemote) {
    std::string s = sRemote;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

struct FileFacts {
    bool Found = false;
    uint64_t Size = 0;
    std::string Hash; // "" when the remote has none of the kind asked
};

// The lines rclone lists for args + sFolder (none for a folder not made yet); false with rclone's
// reason.
bool ListLines(std::vector<std::string> args, const std::vector<std::string>& extra, const std::string& sFolder,
               std::vector<std::string>& lines, std::string& sWhy) {
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(sFolder);
    const Rclone::Result r = Rclone::Run(args);
    if (r.Status == Rclone::DirectoryNotFound) return true;
    if (!r.Ok()) {
        sWhy = r.Reason;
        return false;
    }
    lines = Lines(r.Output);
    return true;
}

// Size and hash of each file in a remote folder; false with rclone's reason.
bool ListFiles(const std::string& sFolder, const char* sHash, std::vector<std::pair<std::string, FileFacts>>& files,
               std::string& sWhy, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"lsf", "--files-only", "--format", "psh", "--separator", "\t"};
    if (sHash != nullptr) args.insert(args.end(), {"--hash", sHash});
    std::vector<std::string> lines;
    if (!ListLines(args, extra, sFolder, lines, sWhy)) return false;
    for (const std::string& sLine : lines) {
        const size_t a = sLine.find('\t'), b = sLine.rfind('\t');
        if (a == std::string::npos || a == b) continue;
        FileFacts f;
        f.Found = true;
        f.Size = std::strtoull(sLine.substr(a + 1, b - a - 1).c_str(), nullptr, 10);
        f.Hash = libStrings::Trim(sLine.substr(b + 1));
        files.emplace_back(sLine.substr(0, a), f);
    }
    return true;
}

FileFacts Facts(const std::vector<std::pair<std::string, FileFacts>>& files, const std::string& sName) {
    for (const auto& [sFile, f] : files)
        if (sFile == sName) return f;
    return {};
}

bool LocalHash(const std::string& sFile, const char* sHash, std::string& sValue, std::string& sWhy) {
    const Rclone::Result r = Rclone::Run({"hashsum", sHash, sFile});
    if (!r.Ok()) {
        sWhy = r.Reason;
        return false;
    }
    const std::string sOut = libStrings::Trim(r.Output);
    sValue = sOut.substr(0, sOut.find(' '));
    return true;
}

// Holds the local file to the remote one sFolder/sName: sizes, then MD5, else SHA-1 where the
// remote has one. sHeld names the check that held; false with what differed in sWhy.
bool SameFile(const std::string& sLocal, const std::string& sFolder, const std::string& sName, std::string& sHeld,
              std::string& sWhy) {
    const uint64_t lLocal = libFiles::FileLen(sLocal);
    for (const char* sHash : {"MD5", "SHA-1"}) {
        std::vector<std::pair<std::string, FileFacts>> files;
        if (!ListFiles(sFolder, sHash, files, sWhy)) return false;
        const FileFacts f = Facts(files, sName);
        if (!f.Found) {
            sWhy = "not found on the remote";
            return false;
        }
        if (f.Size != lLocal) {
            sWhy = "the remote holds " + std::to_string(f.Size) + " bytes, the local file " + std::to_string(lLocal);
            return false;
        }
        if (f.Hash.empty()) continue;
        std::string sValue;
        if (!LocalHash(sLocal, sHash, sValue, sWhy)) return false;
        if (sValue != f.Hash) {
            sWhy = std::string("the ") + sHash + " hashes differ";
            return false;
        }
        sHeld = sHash;
        return true;
    }
    sHeld = "size";
    return true;
}

// Removes a download: an archive, or a tree.
void RemovePath(const std::string& sPath) {
    struct stat st {};
    if (::lstat(sPath.c_str(), &st) != 0) return;
    uint64_t lBytes = 0;
    if (S_ISDIR(st.st_mode))
        (void)libFiles::RemoveTree(sPath, lBytes);
    else
        (void)::unlink(sPath.c_str());
}

// Removes downloads of the job that a process no longer running left behind.
void ReclaimDownloads(const std::string& sFolder) {
    DIR* pDir = ::opendir(sFolder.c_str());
    if (pDir == nullptr) return;
    std::vector<std::string> stale;
    const size_t iPrefix = std::char_traits<char>::length(DownloadPrefix);
    while (dirent* d = ::readdir(pDir)) {
        const std::string sName = d->d_name;
        if (sName.rfind(DownloadPrefix, 0) != 0) continue;
        const long lPid = std::strtol(sName.c_str() + iPrefix, nullptr, 10);
        if (lPid <= 0 || (::kill(static_cast<pid_t>(lPid), 0) != 0 && errno == ESRCH)) stale.push_back(sName);
    }
    ::closedir(pDir);
    for (const std::string& sName : stale)
        RemovePath(sFolder + sName);
}

// A transfer (limited by the bandwidth preference) with rclone's stats handed on as progress.
Rclone::Result Transfer(const std::vector<std::string>& args, const Progress& progress,
                        const Rclone::StopWanted& stopWanted) {
    if (progress) progress(0, 0);
    return Rclone::Transfer(
        args,
        [&](const Rclone::Stats& stats) {
            if (progress)
                progress(static_cast<uint64_t>(std::max(stats.Bytes, 0LL)),
                         static_cast<uint64_t>(std::max(stats.TotalBytes, 0LL)));
        },
        stopWanted);
}

} // namespace

bool IsRemotePath(const std::string& sPath) {
    const size_t iColon = sPath.find(':');
    if (iColon == std::string::npos || iColon == 0) return false;
    const std::string sName = sPath.substr(0, iColon);
    if (sName.front() == '-' || sName.front() == ' ' || sName.back() == ' ') return false;
    return std::all_of(sName.begin(), sName.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_-.+@ ").find(c) != std::string_view::npos;
    });
}

bool RcloneInstalled() {
    const char* sPath = std::getenv("PATH");
    for (const std::string& sDir : libStrings::Split(sPath ? sPath : "", ":"))
        if (!sDir.empty() && ::access((libFiles::AddTrailingSlash(sDir) + "rclone").c_str(), X_OK) == 0) return true;
    return false;
}

std::vector<std::string> QuickTimeouts() {
    return {"--contimeout", "10s", "--timeout", "15s", "--retries", "1", "--low-level-retries", "2"};
}

bool List(const CBackupJob& job, std::vector<RemoteBackup>& backups, std::string& sWhy,
          const std::vector<std::string>& extra) {
    backups.clear();
    const std::string& sRemote = job.OffsiteRemote();
    if (sRemote.empty() || !IsRemotePath(sRemote)) {
        sWhy = "not an rclone remote path";
        return false;
    }
    const std::string sFolder = Offsite::JobFolder(sRemote, job.JobName());
    const std::string sTag = " (" + RemoteShown(sRemote) + ")";
    if (!job.Compress()) {
        std::vector<std::string> dirs;
        if (!ListLines({"lsf", "--dirs-only"}, extra, sFolder, dirs, sWhy)) return false;
        if (std::find(dirs.begin(), dirs.end(), "current/") != dirs.end())
            backups.push_back({sFolder + "/current", "current" + sTag, false, 0, 0});
        return true;
    }
    std::vector<std::pair<std::string, FileFacts>> files;
    if (!ListFiles(sFolder, nullptr, files, sWhy, extra)) return false;
    for (const auto& [sName, f] : files) {
        double dWhen = 0;
        if (Offsite::ParseDatedName(sName, job.JobName(), dWhen))
            backups.push_back({sFolder + "/" + sName, sName + sTag, true, dWhen, f.Size});
    }
    std::sort(backups.begin(), backups.end(),
              [](const RemoteBackup& a, const RemoteBackup& b) { return a.When > b.When; });
    return true;
}

Download::~Download() { Remove(); }

void Download::Remove() {
    if (!m_sLocal.empty()) {
        RemovePath(libFiles::RemoveTrailingSlash(m_sLocal));
        m_sLocal.clear();
        // The folder goes too when nothing else is in it (a concurrent download may be).
        (void)::rmdir(libFiles::RemoveTrailingSlash(m_sFolder).c_str());
    }
    m_backup = {};
}

bool Download::Fetch(const CBackupJob& job, const std::string& sRemote, bool bArchive, const Progress& progress,
                     std::string& sWhy, const Rclone::StopWanted& stopWanted) {
    Remove();
    if (!IsRemotePath(sRemote)) {
        sWhy = "'" + sRemote + "' is not an rclone remote path";
        return false;
    }
    const std::string sTarget = job.TargetDirectory();
    struct stat st {};
    if (sTarget.empty() || ::stat(sTarget.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        sWhy = "the download needs the job's target folder '" + sTarget + "', which does not exist";
        return false;
    }
    m_sFolder = JobTemp::FolderOf(sTarget, job.JobName());
    try {
        JobTemp::Create(m_sFolder);
    } catch (const StowError& e) {
        sWhy = "the job's temporary folder cannot be made: " + e.Reason();
        return false;
    }
    ReclaimDownloads(m_sFolder);
    static int iCount = 0;
    m_sLocal = m_sFolder + DownloadPrefix + std::to_string(::getpid()) + "-" + std::to_string(++iCount) +
               (bArchive ? ".zip" : "/");
    if (!bArchive) {
        Rclone::Result r = Transfer({"copy", "--links", sRemote, m_sLocal}, progress, stopWanted);
        if (!r.Ok()) {
            sWhy = "download of '" + sRemote + "' failed: " + r.Reason;
            Remove();
            return false;
        }
        // Every remote file arrived, the same (by hash where both sides have one, else by size).
        r = Rclone::Run({"check", "--one-way", "--links", sRemote, m_sLocal});
        if (!r.Ok()) {
            sWhy = "the download of '" + sRemote + "' is not whole: " + r.Reason;
            Remove();
            return false;
        }
        m_backup.Path = m_sLocal;
        m_backup.IsArchive = false;
        libLog::LogEvent("Off-site backup '" + sRemote + "' downloaded into '" + m_sLocal + "' (rclone check)");
        return true;
    }
    std::string sFolder, sName, sHeld;
    SplitRemote(sRemote, sFolder, sName);
    const Rclone::Result r = Transfer({"copyto", sRemote, m_sLocal}, progress, stopWanted);
    if (!r.Ok()) {
        sWhy = "download of '" + sRemote + "' failed: " + r.Reason;
        Remove();
        return false;
    }
    if (!SameFile(m_sLocal, sFolder, sName, sHeld, sWhy)) {
        sWhy = "the download of '" + sRemote + "' is not whole: " + sWhy;
        Remove();
        return false;
    }
    libLog::LogEvent("Off-site backup '" + sRemote + "' downloaded into '" + m_sLocal + "' (checked by " + sHeld + ")");
    m_backup.Path = m_sLocal;
    m_backup.IsArchive = true;
    m_backup.Size = libFiles::FileLen(m_sLocal);
    if (::stat(m_sLocal.c_str(), &st) == 0) m_backup.MTimeNs = libFiles::TimeNs(st.st_mtim);
    return true;
}

bool CheckNewest(const CBackupJob& job, const std::string& sLocal, std::string& sHeld, std::string& sProblem) {
    const std::string sFolder = Offsite::JobFolder(job.OffsiteRemote(), job.JobName());
    if (!IsRemotePath(job.OffsiteRemote())) {
        sProblem = "'" + job.OffsiteRemote() + "': not an rclone remote path";
        return false;
    }
    if (!job.Compress()) {
        const Rclone::Result r =
            Rclone::Run({"check", "--one-way", "--combined", "-", "--exclude",
                         std::string("/") + JobTemp::Prefix + "*/**", sLocal, sFolder + "/current"});
        if (r.Ok()) {
            sHeld = "'" + sFolder + "/current' holds every file of '" + sLocal + "' (rclone check)";
            return true;
        }
        for (const std::string& sLine : Lines(r.Output))
            if (sLine.size() > 2 && (sLine[0] == '-' || sLine[0] == '*' || sLine[0] == '!')) {
                const char* sWhat = sLine[0] == '-'   ? "missing from"
                                    : sLine[0] == '*' ? "differs in"
                                                      : "cannot be read in";
                sProblem = "'" + sLine.substr(2) + "' " + sWhat + " '" + sFolder + "/current'";
                return false;
            }
        sProblem = "'" + sFolder + "/current' cannot be checked: " + r.Reason;
        return false;
    }
    std::vector<RemoteBackup> backups;
    std::string sWhy;
    if (!List(job, backups, sWhy)) {
        sProblem = "'" + sFolder + "' cannot be listed: " + sWhy;
        return false;
    }
    if (backups.empty()) {
        sProblem = "'" + sFolder + "': no off-site archive of the job";
        return false;
    }
    std::string sRemoteFolder, sName, sHash;
    SplitRemote(backups[0].Path, sRemoteFolder, sName);
    if (!SameFile(sLocal, sRemoteFolder, sName, sHash, sWhy)) {
        sProblem = "'" + backups[0].Path + "' is not the newest local archive '" + sLocal + "': " + sWhy;
        return false;
    }
    sHeld = "'" + backups[0].Path + "' matches '" + sLocal + "' by " + sHash;
    return true;
}

} // namespace OffsiteFetch
