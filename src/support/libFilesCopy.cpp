// The copy routine of the file helper: the bytes of a file (data extents only) and links as links.

#include "support/StowError.h"
#include "support/libFiles.h"
#include "support/libFilesIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace libFiles {

using namespace detail;

namespace {
// Writes all n bytes at offset iOffset.
void PWriteAll(int fd, const char* p, size_t n, off_t iOffset, const std::string& sPath) {
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, iOffset);
        if (w < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(sPath);
        }
        p += w;
        iOffset += w;
        n -= static_cast<size_t>(w);
    }
}

} // namespace

ssize_t FileCopier::KernelCopy(int in, off_t* pInOffset, int out, off_t* pOutOffset, size_t n) {
    return copy_file_range(in, pInOffset, out, pOutOffset, n, 0);
}

// Copies the bytes from iFrom up to iTo (-1: the end of the file) to the same offsets.
void FileCopier::CopyRange(int in, int out, off_t iFrom, off_t iTo, const std::string& sSource,
                           const std::string& sDest) {
    // Pieces small enough that a stop is noticed within a fraction of a second.
    const off_t kChunk = m_pStopped != nullptr ? off_t{64} << 20 : off_t{1} << 30;
    off_t inOffset = iFrom;
    off_t outOffset = iFrom;
    bool bKernel = !m_bKernelRefused;
    while (iTo < 0 || inOffset < iTo) {
        if (m_pStopped != nullptr && m_pStopped()) throw ErrorFromErrno(ECANCELED, sDest);
        const off_t want = iTo < 0 ? kChunk : std::min(iTo - inOffset, kChunk);
        if (bKernel) {
            const ssize_t n = KernelCopy(in, &inOffset, out, &outOffset, static_cast<size_t>(want));
            if (n > 0) continue;
            if (n == 0) return;
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EOPNOTSUPP || errno == ENOSYS) {
                // These file systems will not change their minds during the run.
                m_bKernelRefused = true;
                bKernel = false;
                continue;
            }
            if (errno == EINVAL || errno == EBADF) { // this file only (a special file system, say)
                bKernel = false;
                continue;
            }
            ThrowErrno(errno == ENOSPC || errno == EDQUOT ? sDest : sSource);
        }
        static thread_local std::vector<char> buf(1 << 20);
        const ssize_t r = ::pread(in, buf.data(), std::min(static_cast<size_t>(want), buf.size()), inOffset);
        if (r < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(sSource);
        }
        if (r == 0) return;
        PWriteAll(out, buf.data(), static_cast<size_t>(r), outOffset, sDest);
        inOffset += r;
        outOffset += r;
    }
}

void FileCopier::Copy(int in, int out, const struct stat& st, const std::string& sSource, const std::string& sDest) {
    // Fewer blocks than the length needs: the file has holes, and only its data is copied.
    if (st.st_size <= 0 || st.st_blocks * 512 >= st.st_size) {
        // The length it had when opened, which its time stamp (copied too) goes with: no further
        // call to find the end. A length of 0 may be a kernel file whose length is not told.
        CopyRange(in, out, 0, st.st_size > 0 ? st.st_size : -1, sSource, sDest);
        return;
    }
    off_t pos = 0;
    for (;;) {
        const off_t data = ::lseek(in, pos, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break; // only a hole is left
            if (errno != EINVAL) ThrowErrno(sSource);
            CopyRange(in, out, pos, -1, sSource, sDest); // holes cannot be found here
            return;
        }
        const off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0) ThrowErrno(sSource);
        CopyRange(in, out, data, hole, sSource, sDest);
        pos = hole;
    }
    // A final hole has no data to write: the length makes it.
    if (::ftruncate(out, std::max<off_t>(pos, st.st_size)) != 0) ThrowErrno(sDest);
}

namespace {
// Makes a copy of the link sSource (status st) as a link under a new temporary name beginning with
// sPrefix, and returns that name.
std::string MakeLinkCopy(const std::string& sSource, const std::string& sDest, const std::string& sPrefix,
                         const struct stat& st) {
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t n = ::readlink(sSource.c_str(), target.data(), target.size());
    if (n < 0) ThrowErrno(sSource);
    if (static_cast<size_t>(n) == target.size()) throw ErrorFromErrno(ENAMETOOLONG, sSource); // grew meanwhile
    target.resize(static_cast<size_t>(n));
    static std::atomic<unsigned> s_iCounter = 0; // copies run on several threads
    std::string sTemp;
    for (;;) {
        sTemp = sPrefix + "link-" + std::to_string(::getpid()) + "-" + std::to_string(++s_iCounter);
        if (::symlink(target.c_str(), sTemp.c_str()) == 0) break;
        if (errno != EEXIST) ThrowErrno(sDest);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, sTemp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 && errno != EOPNOTSUPP) {
        const int iErr = errno;
        ::unlink(sTemp.c_str());
        throw ErrorFromErrno(iErr, sDest);
    }
    return sTemp;
}

// Copies the link sSource as a link under a temporary name in sFolder, then renames it over
// sDest. False (nothing left behind) when the rename crosses file systems.
bool CopyLinkVia(const std::string& sSource, const std::string& sDest, const std::string& sFolder,
                 const struct stat& st) {
    const std::string sTemp = MakeLinkCopy(sSource, sDest, sFolder, st);
    if (::rename(sTemp.c_str(), sDest.c_str()) == 0) return true;
    const int iErr = errno;
    ::unlink(sTemp.c_str());
    if (iErr != EXDEV) throw ErrorFromErrno(iErr, sDest);
    return false;
}
// The stat of an open source, which must be a regular file.
struct stat RegularFileStat(int fd, const std::string& sSource) {
    struct stat st;
    if (fstat(fd, &st) != 0) ThrowErrno(sSource);
    if (S_ISDIR(st.st_mode)) throw ErrorFromErrno(EISDIR, sSource);
    if (!S_ISREG(st.st_mode)) throw StowError(StowErrors::PathFileAccess, "Not a regular file: " + sSource, EINVAL);
    return st;
}

// How a copy's data goes to the disk before it is closed.
enum class Flush {
    None,  // when the system sees fit
    Start, // its writing starts now, not waited for: a later flush of many copies then waits less
    Wait,  // written and waited for
};

// Copies the bytes, the mode (unless out was made with it) and the times of the open source into
// out, then closes out.
void FillAndClose(FileCopier& copier, int inFd, Fd& out, const struct stat& st, const std::string& sSource,
                  const std::string& sDest, bool bHasMode = false, Flush flush = Flush::None) {
    copier.Copy(inFd, out.fd, st, sSource, sDest);
    if (!bHasMode && fchmod(out.fd, st.st_mode & 07777) != 0) ThrowErrno(sDest);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(out.fd, times) != 0) ThrowErrno(sDest);
    if (flush == Flush::Wait && ::fdatasync(out.fd) != 0) ThrowErrno(sDest);
    if (flush == Flush::Start) (void)::sync_file_range(out.fd, 0, 0, SYNC_FILE_RANGE_WRITE); // only a head start
    int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) ThrowErrno(sDest);
}

} // namespace

mode_t ProcessUmask() {
    // Read where the kernel shows it: setting it to learn it would leave other threads a moment
    // in which their new files get another mode. The program never changes it.
    static const mode_t s_uUmask = [] {
        std::ifstream in("/proc/self/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        return static_cast<mode_t>(0777);
    }();
    return s_uUmask;
}

bool HasDefaultAcl(const std::string& sFolder) {
    if (::getxattr(sFolder.c_str(), "system.posix_acl_default", nullptr, 0) >= 0) return true;
    return errno != ENODATA && errno != ENOTSUP;
}

bool CopyFileNew(const std::string& sSource, const std::string& sDest, FileCopier* pCopier, bool bModeAtCreate,
                 struct stat* pCopied) {
    FileCopier localCopier;
    FileCopier& copier = pCopier != nullptr ? *pCopier : localCopier;
    Fd in;
    in.fd = ::open(sSource.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (in.fd < 0) {
        if (errno == ELOOP) return false; // a link: copied through a temporary name as ever
        ThrowErrno(sSource);
    }
    const struct stat st = RegularFileStat(in.fd, sSource);
    // Made with its final permission bits where nothing narrows them, saving a call per file. No
    // one learns more from the partial file than from the complete one.
    const auto uMode = static_cast<mode_t>(st.st_mode & 0777);
    const bool bHasMode = bModeAtCreate && (st.st_mode & 07000) == 0 && (uMode & ProcessUmask()) == 0;
    Fd out;
    out.fd = ::open(sDest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, bHasMode ? uMode : 0600);
    if (out.fd < 0) {
        if (errno == EEXIST) return false;
        ThrowErrno(sDest);
    }
    try {
        FillAndClose(copier, in.fd, out, st, sSource, sDest, bHasMode);
    } catch (...) {
        ::unlink(sDest.c_str()); // nothing partial stays, even inside a tree still being built
        throw;
    }
    if (pCopied != nullptr) *pCopied = st;
    return true;
}

namespace {
// A source opened for copying without following a link: a regular file open, with its status,
// or (Link) a symbolic link, not opened, with its own status.
struct SourceFile {
    Fd In;
    bool Link = false;
    struct stat Status {};

    explicit SourceFile(const std::string& sSource) {
        // Non-blocking open: a FIFO or device in a tree must never hang a backup.
        In.fd = ::open(sSource.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
        if (In.fd >= 0) {
            Status = RegularFileStat(In.fd, sSource);
            return;
        }
        if (errno != ELOOP || ::lstat(sSource.c_str(), &Status) != 0 || !S_ISLNK(Status.st_mode)) ThrowErrno(sSource);
        Link = true;
    }
};

// Writes a complete copy of the open regular file inFd (status st) under a new temporary name
// made from sTemplate and returns that name; a failure leaves nothing. flush: how it goes to disk
// before it is closed.
std::string WriteTempCopy(FileCopier& copier, int inFd, const struct stat& st, const std::string& sSource,
                          const std::string& sDest, const std::string& sTemplate, Flush flush) {
    std::vector<char> buf(sTemplate.begin(), sTemplate.end());
    buf.push_back('\0');
    Fd out;
    out.fd = mkostemp(buf.data(), O_CLOEXEC);
    if (out.fd < 0) ThrowErrno(sDest);
    const std::string sTemp = buf.data();
    try {
        FillAndClose(copier, inFd, out, st, sSource, sDest, false, flush);
    } catch (...) {
        ::unlink(sTemp.c_str());
        throw;
    }
    return sTemp;
}

} // namespace

void CopyFileAtomic(const std::string& sSource, const std::string& sDest, const std::string& sTempFolder,
                    FileCopier* pCopier) {
    FileCopier localCopier;
    FileCopier& copier = pCopier != nullptr ? *pCopier : localCopier;
    const SourceFile source(sSource);
    if (source.Link) {
        const std::string sBeside =
            FolderOf(sDest) + (sTempFolder.empty() ? std::string(".stowline-")
                                                   : FilePathStripPath(RemoveTrailingSlash(sTempFolder)) + "-");
        if (!sTempFolder.empty() && CopyLinkVia(sSource, sDest, AddTrailingSlash(sTempFolder), source.Status)) return;
        CopyLinkVia(sSource, sDest, sBeside, source.Status);
        return;
    }
    const struct stat& st = source.Status;
    // A copy that takes the name of a file is on disk before it does: a power cut then leaves the
    // earlier file or the new one there, never an empty one. A new name needs no such wait.
    struct stat destSt {};
    const bool bReplaces = ::lstat(sDest.c_str(), &destSt) == 0;
    // O_NONBLOCK has no effect on a regular file, so it stays set: two system calls fewer a file.
    // Renames the copy over the destination. False (nothing left behind) when the rename
    // crosses file systems.
    auto copyVia = [&](const std::string& sTemplate) {
        const std::string sTemp =
            WriteTempCopy(copier, source.In.fd, st, sSource, sDest, sTemplate, bReplaces ? Flush::Wait : Flush::None);
        if (::rename(sTemp.c_str(), sDest.c_str()) == 0) return true;
        const int iErr = errno;
        ::unlink(sTemp.c_str());
        if (iErr != EXDEV) throw ErrorFromErrno(iErr, sDest);
        return false;
    };
    if (sTempFolder.empty()) {
        copyVia(FolderOf(sDest) + ".stowline-XXXXXX");
        return;
    }
    if (copyVia(AddTrailingSlash(sTempFolder) + "copy-XXXXXX")) return;
    // The destination lies on another file system mounted inside the target: the temporary goes
    // beside it, named after the temporary folder so that it still says whose it is.
    copyVia(FolderOf(sDest) + FilePathStripPath(RemoveTrailingSlash(sTempFolder)) + "-XXXXXX");
}

std::string CopyFileStaged(const std::string& sSource, const std::string& sDest, const std::string& sTempFolder,
                           FileCopier* pCopier) {
    FileCopier localCopier;
    FileCopier& copier = pCopier != nullptr ? *pCopier : localCopier;
    const SourceFile source(sSource);
    if (source.Link) return MakeLinkCopy(sSource, sDest, AddTrailingSlash(sTempFolder), source.Status);
    return WriteTempCopy(copier, source.In.fd, source.Status, sSource, sDest,
                         AddTrailingSlash(sTempFolder) + "copy-XXXXXX", Flush::Start);
}

} // namespace libFiles
