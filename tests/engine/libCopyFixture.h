#pragma once
// The temporary folder with file helpers by relative name, and the run state reset, for the
// enumeration, archive-flag, copy and run tests.

#include "common/TempAppFolder.h"
#include "engine/ArchiveFlags.h"
#include "engine/RunState.h"
#include "support/libFiles.h"

#include <cerrno>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

namespace copytest {

class CopyFixture : public TempAppFolder {
protected:
    void SetUp() override {
        TempAppFolder::SetUp();
        std::filesystem::create_directories(App);
        appPreferences::LoggingMode = 0;
        appPreferences::StopOnError = false;
        RunState::SetAbortRequested(false);
        RunState::SetOwner(nullptr);
        ArchiveFlags::Close();
    }

    void TearDown() override {
        for (const auto& m : m_mounts)
            ::umount2(m.c_str(), MNT_DETACH);
        m_mounts.clear();
        ArchiveFlags::Close();
        RunState::SetAbortRequested(false);
        RunState::SetOwner(nullptr);
        uint64_t lBytes = 0;
        libFiles::RemoveTree(Root, lBytes); // reaches trees too deep for a path
        TempAppFolder::TearDown();
    }

    // Makes sPath a file its reader cannot open: one without read permission or, for root (who
    // reads every file), a kernel file that refuses even root, mounted over a file of that name in
    // a mount namespace of this process alone (a link would be copied as a link). False when
    // there is none.
    bool MakeUnreadable(const std::string& sPath) {
        if (geteuid() != 0) return chmod(WriteFile(sPath, "locked").c_str(), 0) == 0;
        const char* sRefusing = "/proc/sys/vm/drop_caches";
        const int fd = ::open(sRefusing, O_RDONLY);
        if (fd >= 0) ::close(fd);
        if (fd >= 0 || errno != EACCES) return false;
        static const bool bOwnNamespace =
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        WriteFile(sPath, "");
        if (!bOwnNamespace || ::mount(sRefusing, sPath.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
        m_mounts.push_back(sPath);
        return true;
    }

    // Folders of 200-character names nested by descriptor below sFolder until the path passes
    // iLength (no path reaches their bottom), with "deep.txt" at the bottom. Returns the levels.
    static size_t MakeDeepTree(const std::string& sFolder, size_t iLength) {
        std::filesystem::create_directories(sFolder);
        const std::string sPart(200, 'n');
        int fd = ::open(sFolder.c_str(), O_RDONLY | O_DIRECTORY);
        size_t iLevels = 0;
        for (size_t n = sFolder.size(); fd >= 0 && n < iLength; n += sPart.size() + 1, ++iLevels) {
            ::mkdirat(fd, sPart.c_str(), 0755);
            const int sub = ::openat(fd, sPart.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = sub;
        }
        if (fd < 0) return 0;
        ::close(::openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0644));
        ::close(fd);
        return iLevels;
    }

    std::string P(const std::string& sRelative) const { return Root + sRelative; }

    void Write(const std::string& sRelative, const std::string& sContent) { WriteFile(P(sRelative), sContent); }
    // A file written with this modification time.
    void Write(const std::string& sRelative, const std::string& sContent, time_t mtime) {
        Write(sRelative, sContent);
        SetMTime(sRelative, mtime);
    }
    std::string Read(const std::string& sRelative) const { return ReadFile(P(sRelative)); }
    // Also true for a dangling link.
    bool Exists(const std::string& sRelative) const {
        struct stat st {};
        return lstat(P(sRelative).c_str(), &st) == 0;
    }

    // Sets the times (seconds and ns since 1970) of a file or of a link itself.
    void SetMTime(const std::string& sRelative, time_t seconds, long ns = 0) { SetFileTime(P(sRelative), seconds, ns); }

    // Rows another connection sees (committed rows only): what a process killed now would leave.
    static int CommittedRows() {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(ArchiveFlags::DatabaseFileName().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        int count = -1;
        if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM flags", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            count = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return count;
    }

    struct stat Stat(const std::string& sRelative) const {
        struct stat st {};
        stat(P(sRelative).c_str(), &st);
        return st;
    }

private:
    std::vector<std::string> m_mounts; // unmounted when the test ends
};

} // namespace copytest
