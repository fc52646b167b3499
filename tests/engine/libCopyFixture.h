#pragma once
// The temporary folder with file helpers by relative name, and the run state reset, for the
// enumeration, archive-flag and copy tests.

#include "common/TempAppFolder.h"
#include "engine/ArchiveFlags.h"
#include "engine/RunState.h"
#include "support/appPreferences.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
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
        ArchiveFlags::Close();
        RunState::SetAbortRequested(false);
        RunState::SetOwner(nullptr);
        TempAppFolder::TearDown();
    }

    std::string P(const std::string& sRelative) const { return Root + sRelative; }

    void Write(const std::string& sRelative, const std::string& sContent) { WriteFile(P(sRelative), sContent); }
    std::string Read(const std::string& sRelative) const { return ReadFile(P(sRelative)); }
    // Also true for a dangling link.
    bool Exists(const std::string& sRelative) const {
        struct stat st {};
        return lstat(P(sRelative).c_str(), &st) == 0;
    }

    // Sets the modification time (seconds and ns since 1970).
    void SetMTime(const std::string& sRelative, time_t seconds, long ns = 0) {
        struct timespec times[2];
        times[0].tv_sec = seconds;
        times[0].tv_nsec = ns;
        times[1] = times[0];
        ASSERT_EQ(utimensat(AT_FDCWD, P(sRelative).c_str(), times, 0), 0);
    }

    struct stat Stat(const std::string& sRelative) const {
        struct stat st {};
        stat(P(sRelative).c_str(), &st);
        return st;
    }
};

} // namespace copytest
