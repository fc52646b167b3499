#include "support/libFiles.h"

#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFilesIo.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace libFiles {

namespace detail {

[[noreturn]] void ThrowErrno(const std::string& sPath) { throw ErrorFromErrno(errno, sPath); }

std::string FolderOf(const std::string& sPath) {
    std::string s = FilePathStripFileName(sPath);
    return s.empty() ? std::string("./") : s;
}

void WriteAll(int fd, const char* p, size_t n, const std::string& sPath) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(sPath);
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

} // namespace detail

namespace {
using namespace detail;
using Clock = std::chrono::steady_clock;

// Polls a condition, letting events run, for at most five seconds.
template <class Pred> void WaitUntil(Pred done) {
    auto start = Clock::now();
    while (!done()) {
        UserInteraction::DoEvents();
        if (Clock::now() - start > std::chrono::seconds(5)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

template <class R, class F> R Trapped(const char* sProc, R failValue, F f) {
    try {
        return f();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "libFiles", sProc, "");
        return failValue;
    }
}

// A temporary file beside the target: its descriptor and name.
int MakeTempBeside(const std::string& sTarget, std::string& sTemp) {
    sTemp = FolderOf(sTarget) + ".stowline-XXXXXX";
    std::vector<char> buf(sTemp.begin(), sTemp.end());
    buf.push_back('\0');
    int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) ThrowErrno(sTarget);
    sTemp = buf.data();
    return fd;
}

// Collects the names of a folder (without "." and "..").
std::vector<std::string> ListNames(const std::string& sFolder) {
    std::vector<std::string> names;
    DIR* d = opendir(sFolder.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    return names;
}

bool IsRealDir(const std::string& sPath) {
    struct stat st;
    return lstat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> Matches(const std::string& sPattern) {
    std::vector<std::string> out;
    std::string sFolder = FilePathStripFileName(sPattern);
    std::string sName = FilePathStripPath(sPattern);
    if (sName.empty()) return out;
    if (!libStrings::HasWildcards(sName)) {
        struct stat st;
        if (lstat(sPattern.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) out.push_back(sPattern);
        return out;
    }
    std::string sDir = sFolder.empty() ? "./" : sFolder;
    for (auto& n : ListNames(sDir))
        if (libStrings::WildcardMatch(n, sName) && !IsRealDir(sDir + n)) out.push_back(sFolder + n);
    return out;
}
} // namespace

std::string FilePathStripFileName(const std::string& sPath) {
    size_t i = sPath.rfind(PathSep);
    if (i != std::string::npos) return sPath.substr(0, i + 1);
    if (sPath.size() >= 2 && sPath[1] == ':') return sPath.substr(0, 2);
    return "";
}

std::string FilePathStripPath(const std::string& sPath) {
    size_t i = sPath.rfind(PathSep);
    if (i != std::string::npos) return sPath.substr(i + 1);
    if (sPath.size() >= 2 && sPath[1] == ':') return sPath.substr(2);
    return sPath;
}

std::string AddTrailingSlash(const std::string& sPath) {
    if (sPath.empty() || sPath.back() == PathSep) return sPath;
    return sPath + PathSep;
}

std::string RemoveTrailingSlash(const std::string& sPath) {
    if (sPath.size() > 1 && sPath.back() == PathSep) return sPath.substr(0, sPath.size() - 1);
    return sPath;
}

long ReadFull(int fd, char* p, size_t n) {
    size_t lGot = 0;
    while (lGot < n) {
        const ssize_t r = ::read(fd, p + lGot, n - lGot);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        lGot += static_cast<size_t>(r);
    }
    return static_cast<long>(lGot);
}

bool FileExists(const std::string& sPath) {
    struct stat st;
    return !sPath.empty() && stat(sPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirExists(const std::string& sPath) {
    struct stat st;
    return !sPath.empty() && stat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& sPath) {
    struct stat st;
    return !sPath.empty() && stat(sPath.c_str(), &st) == 0;
}

uint64_t FileLen(const std::string& sPath) {
    struct stat st;
    if (sPath.empty() || stat(sPath.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

int64_t ModTimeNs(const std::string& sPath) {
    struct stat st;
    if (sPath.empty() || stat(sPath.c_str(), &st) != 0) return 0;
    return TimeNs(st.st_mtim);
}

void RenameFile(const std::string& sFrom, const std::string& sTo) {
    if (::rename(sFrom.c_str(), sTo.c_str()) != 0) ThrowErrno(sFrom);
}

bool RenameNoReplace(const std::string& sFrom, const std::string& sTo) {
    if (::renameat2(AT_FDCWD, sFrom.c_str(), AT_FDCWD, sTo.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) ThrowErrno(sFrom);
    // A file system without the flag: a hard link fails just as well on an existing name.
    if (::link(sFrom.c_str(), sTo.c_str()) != 0) {
        if (errno == EEXIST) return false;
        ThrowErrno(sFrom);
    }
    if (::unlink(sFrom.c_str()) != 0) ThrowErrno(sFrom);
    return true;
}

void SyncPath(const std::string& sPath) {
    Fd f;
    f.fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (f.fd < 0) ThrowErrno(sPath);
    if (::fsync(f.fd) != 0 && errno != EINVAL) ThrowErrno(sPath); // EINVAL: nothing to flush there
}

void SyncFileSystem(const std::string& sPath) {
    Fd f;
    f.fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (f.fd < 0) ThrowErrno(sPath);
    if (::syncfs(f.fd) != 0) ThrowErrno(sPath);
}

void MoveFile(const std::string& sFrom, const std::string& sTo) {
    if (::rename(sFrom.c_str(), sTo.c_str()) == 0) return;
    if (errno != EXDEV) ThrowErrno(sFrom);
    CopyFileAtomic(sFrom, sTo);
    if (::unlink(sFrom.c_str()) != 0) ThrowErrno(sFrom);
}

void DeleteFile(const std::string& sPath) {
    if (::unlink(sPath.c_str()) != 0 && errno != ENOENT) ThrowErrno(sPath);
}

std::string ReadWholeFile(const std::string& sPath) {
    Fd in;
    in.fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in.fd < 0) ThrowErrno(sPath);
    struct stat st;
    if (fstat(in.fd, &st) != 0) ThrowErrno(sPath);
    if (S_ISDIR(st.st_mode)) throw ErrorFromErrno(EISDIR, sPath);
    if (!S_ISREG(st.st_mode)) throw StowError(StowErrors::PathFileAccess, "Not a regular file: " + sPath, EINVAL);
    std::string s;
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(in.fd, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(sPath);
        }
        if (r == 0) break;
        s.append(buf, static_cast<size_t>(r));
    }
    return s;
}

void WriteWholeFileAtomic(const std::string& sPath, const std::string& sBytes, mode_t mode) {
    std::string sTemp;
    Fd out;
    out.fd = MakeTempBeside(sPath, sTemp);
    try {
        if (fchmod(out.fd, mode) != 0) ThrowErrno(sPath); // before its content, never after
        WriteAll(out.fd, sBytes.data(), sBytes.size(), sPath);
        if (fsync(out.fd) != 0) ThrowErrno(sPath);
        int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0) ThrowErrno(sPath);
        if (::rename(sTemp.c_str(), sPath.c_str()) != 0) ThrowErrno(sPath);
    } catch (...) {
        ::unlink(sTemp.c_str());
        throw;
    }
    // Make the rename itself durable.
    Fd dir;
    dir.fd = ::open(FolderOf(sPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0) (void)fsync(dir.fd);
}

namespace {
// Opens one of Stowline's own files for appending: made 0600, or made private when an older
// version left it readable by others (checked on the open file, one call; a tightening looks
// at the name first, so that a link the user put there is not followed to change its target).
int OpenPrivateAppend(const std::string& sPath) {
    const int fd = ::open(sPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) ThrowErrno(sPath);
    struct stat st;
    if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) MakePrivate(sPath);
    return fd;
}
} // namespace

void MakePrivate(const std::string& sPath) {
    struct stat st;
    if (::lstat(sPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) == 0 || st.st_uid != ::geteuid())
        return;
    Fd f;
    f.fd = ::open(sPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat now;
    // The same file as looked at: not one put under the name meanwhile.
    if (f.fd < 0 || ::fstat(f.fd, &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev) return;
    (void)::fchmod(f.fd, now.st_mode & 0700);
}

void AppendToFile(const std::string& sPath, const std::string& sBytes) {
    Fd out;
    out.fd = OpenPrivateAppend(sPath);
    WriteAll(out.fd, sBytes.data(), sBytes.size(), sPath);
    int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) ThrowErrno(sPath);
}

void AppendFile::Open(const std::string& sPath) {
    Close();
    m_fd = OpenPrivateAppend(sPath);
    m_sPath = sPath;
}

void AppendFile::Append(const std::string& sBytes) { WriteAll(m_fd, sBytes.data(), sBytes.size(), m_sPath); }

void AppendFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_sPath.clear();
}

bool RemoveTree(const std::string& sFolder, uint64_t& lBytes) {
    lBytes = 0;
    struct Level {
        std::string Name; // this folder's name in its parent
        std::vector<std::string> Subfolders;
    };
    int cur = ::open(sFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (cur < 0) return errno == ENOENT;
    bool bOk = true;
    // Removes the files of the open folder and lists its subfolders.
    auto enter = [&](std::string sName) {
        Level level{std::move(sName), {}};
        const int dupFd = ::dup(cur);
        DIR* d = dupFd < 0 ? nullptr : ::fdopendir(dupFd);
        if (d == nullptr) {
            if (dupFd >= 0) ::close(dupFd);
            bOk = false;
            return level;
        }
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n == "." || n == "..") continue;
            struct stat st {};
            if (::fstatat(cur, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                level.Subfolders.push_back(n);
            } else if (::unlinkat(cur, n.c_str(), 0) == 0) {
                if (S_ISREG(st.st_mode)) lBytes += static_cast<uint64_t>(st.st_size);
            } else {
                bOk = false;
            }
        }
        ::closedir(d);
        return level;
    };
    std::vector<Level> stack;
    stack.push_back(enter(""));
    while (!stack.empty()) {
        Level& top = stack.back();
        if (!top.Subfolders.empty()) {
            const std::string sSub = std::move(top.Subfolders.back());
            top.Subfolders.pop_back();
            const int sub = ::openat(cur, sSub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                bOk = false;
                continue;
            }
            ::close(cur);
            cur = sub;
            stack.push_back(enter(sSub));
            continue;
        }
        const std::string sDone = std::move(top.Name);
        stack.pop_back();
        if (stack.empty()) break;
        // One descriptor at a time: climb through "..", which links never stand in for here.
        const int parent = ::openat(cur, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(cur);
        cur = parent;
        if (cur < 0) return false;
        if (::unlinkat(cur, sDone.c_str(), AT_REMOVEDIR) != 0) bOk = false;
    }
    ::close(cur);
    const int iSaved = errno;
    if (::rmdir(sFolder.c_str()) != 0) return false;
    errno = iSaved;
    return bOk;
}

bool uMkDir(const std::string& sPath) {
    return Trapped("uMkDir()", false, [&] {
        std::string s = sPath;
        if (s.size() > 1 && s.back() == PathSep) s.pop_back();
        if (!DirExists(s)) {
            // A file of that name is an error too, not a folder to wait for.
            if (::mkdir(s.c_str(), 0700) != 0 && !(errno == EEXIST && DirExists(s))) ThrowErrno(s);
            WaitUntil([&] { return DirExists(s); });
        }
        return false;
    });
}

RmDirResult uRmDir(const std::string& sPath) {
    return Trapped("uRmDir()", RmDirResult::Failed, [&] {
        if (sPath.size() < 4) return RmDirResult::Refused;
        // The system reads a path only up to a NUL byte: such a path names another folder than
        // the one the caller means, so it is refused (nothing removed).
        if (sPath.find('\0') != std::string::npos) return RmDirResult::Refused;
        const std::string s = RemoveTrailingSlash(sPath);
        // By descriptor, one folder open at a time, links removed as links: no depth, path
        // length or link loop can make the removal run away.
        uint64_t lBytes = 0;
        if (!PathExists(s) || !RemoveTree(s, lBytes)) ThrowErrno(s);
        return RmDirResult::Removed;
    });
}

bool uKill(const std::string& sPattern) {
    return Trapped("uKill()", false, [&] {
        // A pattern holding a NUL byte matches no file (the system would read a shorter path).
        if (sPattern.find('\0') != std::string::npos) return false;
        auto matches = Matches(sPattern);
        if (matches.empty()) return false;
        for (auto& m : matches) {
            struct stat st;
            if (lstat(m.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
                (void)chmod(m.c_str(), (st.st_mode & 07777) | S_IWUSR);
            if (::unlink(m.c_str()) != 0 && errno != ENOENT) ThrowErrno(m);
        }
        WaitUntil([&] { return Matches(sPattern).empty(); });
        return false;
    });
}

namespace {
// The path in double quotes, with the bytes the shell still reads inside them escaped.
std::string ShellQuoted(const std::string& s) {
    std::string r = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') r += '\\';
        r += c;
    }
    return r + "\"";
}
} // namespace

void ViewFile(const std::string& sFile, const std::string& sTitle, const std::string& sViewer, bool bSkipChecks) {
    Trapped("ViewFile()", 0, [&] {
        using namespace UserInteraction;
        if (!bSkipChecks) {
            if (!FileExists(sFile)) {
                MsgBox(sTitle + " file does not exist", Buttons::OK, Icon::Information, "Stowline");
                return 0;
            }
            if (FileLen(sFile) == 0) {
                MsgBox(sTitle + " file is empty", Buttons::OK, Icon::Information, "Stowline");
                return 0;
            }
        }
        Ui().StartProgram(sViewer + " " + ShellQuoted(sFile));
        return 0;
    });
}

std::string FindAssociation(const std::string& sFile) {
    return Trapped("FindAssociation()", std::string(),
                   [&] { return FileExists(sFile) ? std::string("xdg-open") : ""; });
}

namespace {
// The device number of the file system holding the path (its nearest existing ancestor).
bool DeviceOf(const std::string& sPath, dev_t& dev, std::string& sReal) {
    std::string s = sPath.empty() ? "." : sPath;
    for (;;) {
        char buf[PATH_MAX];
        if (realpath(s.c_str(), buf)) {
            struct stat st;
            if (stat(buf, &st) != 0) return false;
            dev = st.st_dev;
            sReal = buf;
            return true;
        }
        std::string p = RemoveTrailingSlash(FilePathStripFileName(RemoveTrailingSlash(s)));
        if (p.empty() || p == s) {
            if (s == ".") return false;
            s = std::string(1, s[0] == '/' ? '/' : '.');
            continue;
        }
        s = p;
    }
}

// The block device behind a mounted file system, from mountinfo (btrfs and friends report
// anonymous device numbers in stat, so the mount source is looked up too).
std::string ReadFirstLine(const std::string& sPath) {
    std::ifstream in(sPath);
    std::string s;
    std::getline(in, s);
    return s;
}

bool SysfsRemovable(unsigned iMajor, unsigned iMinor) {
    std::string base = "/sys/dev/block/" + std::to_string(iMajor) + ":" + std::to_string(iMinor);
    std::string r = ReadFirstLine(base + "/removable");
    if (r.empty()) r = ReadFirstLine(base + "/../removable"); // a partition: ask its disk
    return libStrings::Trim(r) == "1";
}
} // namespace

bool DriveIsRemovable(const std::string& sPath) {
    try {
        dev_t dev;
        std::string sReal;
        if (!DeviceOf(sPath, dev, sReal)) return false;
        if (libStrings::StartsWith(sReal, "/media/") || libStrings::StartsWith(sReal, "/run/media/")) return true;
        if (SysfsRemovable(major(dev), minor(dev))) return true;
        // The mount's source device, for file systems whose st_dev is not the block device.
        std::ifstream in("/proc/self/mountinfo");
        std::string sLine, sBestMount, sBestSource;
        while (std::getline(in, sLine)) {
            std::istringstream ss(sLine);
            std::string id, parent, majmin, root, mount;
            ss >> id >> parent >> majmin >> root >> mount;
            std::string tok;
            while (ss >> tok && tok != "-") {
            }
            std::string fstype, source;
            ss >> fstype >> source;
            bool bUnder =
                sReal == mount || mount == "/" ||
                (libStrings::StartsWith(sReal, mount) && sReal.size() > mount.size() && sReal[mount.size()] == '/');
            if (bUnder && mount.size() >= sBestMount.size()) {
                sBestMount = mount;
                sBestSource = source;
            }
        }
        if (libStrings::StartsWith(sBestSource, "/dev/")) {
            struct stat st;
            if (stat(sBestSource.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
                return SysfsRemovable(major(st.st_rdev), minor(st.st_rdev));
        }
        return false;
    } catch (const libErrorHandler::FatalApplicationError&) {
        throw;
    } catch (...) {
        return false;
    }
}

void NormalizeFolderPath(std::string& sPath) {
    try {
        if (PathExists(sPath)) return;
        std::string sToggled =
            (!sPath.empty() && sPath.back() == PathSep) ? sPath.substr(0, sPath.size() - 1) : sPath + PathSep;
        if (PathExists(sToggled)) sPath = sToggled;
    } catch (const libErrorHandler::FatalApplicationError&) {
        throw;
    } catch (...) {
    }
}

void WaitForFile(const std::string& sPath) {
    // Waits only while the look-up itself fails (a drive with no medium, an I/O error); a path
    // that plainly does not exist is an answer, not a reason to wait.
    try {
        WaitUntil([&] {
            struct stat st;
            return ::stat(sPath.c_str(), &st) == 0 || errno == ENOENT || errno == ENOTDIR;
        });
    } catch (const libErrorHandler::FatalApplicationError&) {
        throw;
    } catch (...) {
    }
}

} // namespace libFiles
