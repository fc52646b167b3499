// A libzip source reading a descriptor with pread, and the table that finds the descriptor of
// an open archive (see ArchiveSource.h).

#include "engine/ArchiveSource.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ArchiveSource {

namespace {

// libzip reads the central directory a header at a time: small reads come from a window.
constexpr size_t WindowSize = 64 * 1024;

struct FdSource {
    int Fd = -1;
    uint64_t Size = 0;
    uint64_t Pos = 0;
    time_t MTime = 0;
    zip_error_t Error;
    std::vector<char> Window;
    uint64_t WindowAt = 0;
};

std::mutex g_mutex;
std::vector<std::pair<zip_t*, FdSource*>> g_open; // few at a time

void Forget(FdSource* p) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open.erase(std::remove_if(g_open.begin(), g_open.end(), [p](const auto& e) { return e.second == p; }),
                 g_open.end());
}

// Reads up to n bytes at lOff into p; the count read (short at the end of the file), -1 on error.
int64_t ReadFully(FdSource& s, char* p, uint64_t lOff, uint64_t n) {
    uint64_t lGot = 0;
    while (lGot < n) {
        const ssize_t r = ::pread(s.Fd, p + lGot, static_cast<size_t>(n - lGot), static_cast<off_t>(lOff + lGot));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            zip_error_set(&s.Error, ZIP_ER_READ, errno);
            return -1;
        }
        if (r == 0) break; // shorter than it was: libzip finds the end early
        lGot += static_cast<uint64_t>(r);
    }
    return static_cast<int64_t>(lGot);
}

zip_int64_t ReadAt(FdSource& s, void* pData, zip_uint64_t uLen) {
    auto* p = static_cast<char*>(pData);
    const uint64_t lWant = std::min<uint64_t>(uLen, s.Size > s.Pos ? s.Size - s.Pos : 0);
    int64_t lGot;
    if (lWant >= WindowSize) {
        lGot = ReadFully(s, p, s.Pos, lWant);
    } else {
        if (s.Pos < s.WindowAt || s.Pos + lWant > s.WindowAt + s.Window.size()) {
            s.Window.resize(WindowSize);
            const int64_t lFill = ReadFully(s, s.Window.data(), s.Pos, WindowSize);
            if (lFill < 0) {
                s.Window.clear();
                return -1;
            }
            s.Window.resize(static_cast<size_t>(lFill));
            s.WindowAt = s.Pos;
        }
        const uint64_t lHave = s.WindowAt + s.Window.size() - s.Pos;
        lGot = static_cast<int64_t>(std::min(lWant, lHave));
        std::copy_n(s.Window.data() + (s.Pos - s.WindowAt), lGot, p);
    }
    if (lGot < 0) return -1;
    s.Pos += static_cast<uint64_t>(lGot);
    return lGot;
}

zip_int64_t Callback(void* pUser, void* pData, zip_uint64_t uLen, zip_source_cmd_t cmd) {
    auto& s = *static_cast<FdSource*>(pUser);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        s.Pos = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return ReadAt(s, pData, uLen);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        if (uLen < sizeof(zip_stat_t)) return -1;
        auto* st = static_cast<zip_stat_t*>(pData);
        zip_stat_init(st);
        st->size = s.Size;
        st->mtime = s.MTime;
        st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s.Error, pData, uLen);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t lPos = zip_source_seek_compute_offset(s.Pos, s.Size, pData, uLen, &s.Error);
        if (lPos < 0) return -1;
        s.Pos = static_cast<uint64_t>(lPos);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(s.Pos);
    case ZIP_SOURCE_FREE:
        Forget(&s);
        ::close(s.Fd);
        zip_error_fini(&s.Error);
        delete &s;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&s.Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

zip_t* Open(const std::string& sPath, int iFlags, int& iErr) {
    // Never blocks on a pipe or a device under the name: only a regular file is read.
    const int iFd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (iFd < 0 || ::fstat(iFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int iErrno = iFd < 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        if (iFd >= 0) ::close(iFd);
        iErr = iErrno == ENOENT ? ZIP_ER_NOENT : ZIP_ER_OPEN;
        errno = iErrno;
        return nullptr;
    }
    auto* s = new FdSource;
    s->Fd = iFd;
    s->Size = static_cast<uint64_t>(st.st_size);
    s->MTime = st.st_mtime;
    zip_error_init(&s->Error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* pSource = zip_source_function_create(Callback, s, &error);
    if (pSource == nullptr) {
        iErr = zip_error_code_zip(&error);
        zip_error_fini(&error);
        ::close(iFd);
        zip_error_fini(&s->Error);
        delete s;
        return nullptr;
    }
    // Listed before libzip reads, so the entry goes with the source whatever happens.
    std::unique_lock<std::mutex> lock(g_mutex);
    g_open.emplace_back(nullptr, s);
    lock.unlock();
    zip_t* pZip = zip_open_from_source(pSource, ZIP_RDONLY | iFlags, &error);
    if (pZip == nullptr) {
        iErr = zip_error_code_zip(&error);
        errno = zip_error_code_system(&error);
        zip_source_free(pSource); // closes the descriptor and forgets it
    } else {
        lock.lock();
        for (auto& e : g_open)
            if (e.second == s) e.first = pZip;
    }
    zip_error_fini(&error);
    return pZip;
}

int Fd(zip_t* pZip) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const auto& e : g_open)
        if (e.first == pZip && pZip != nullptr) return e.second->Fd;
    return -1;
}

} // namespace ArchiveSource
