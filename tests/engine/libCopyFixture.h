#pragma once
// A temporary folder with an application folder inside it, and small file helpers, for the
// enumeration, archive-flag and copy tests.

#include "engine/ArchiveFlags.h"
#include "engine/RunState.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace copytest {

// Thrown by the fatal-exit hook; not a std::exception, so no trap reports it again.
struct FatalExit {};

class CopyFixture : public ::testing::Test {
protected:
    std::string Root; // without a final "/"

    void SetUp() override {
        char tmpl[] = "/tmp/stowline-copy-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Root = tmpl;
        std::filesystem::create_directories(Root + "/app");
        appMisc::SetAppFolder(Root + "/app/");
        appPreferences::ResetToDefaults();
        appPreferences::LoggingMode = 0;
        appPreferences::StopOnError = false;
        RunState::SetAbortRequested(false);
        RunState::SetOwner(nullptr);
        libErrorHandler::SetFatalExitHook([] { throw FatalExit{}; });
        ArchiveFlags::Close();
    }

    void TearDown() override {
        ArchiveFlags::Close();
        RunState::SetAbortRequested(false);
        RunState::SetOwner(nullptr);
        libErrorHandler::SetFatalExitHook({});
        appMisc::SetAppFolder("");
        std::error_code ec;
        std::filesystem::remove_all(Root, ec);
    }

    std::string P(const std::string& sRelative) const { return Root + "/" + sRelative; }

    void Write(const std::string& sRelative, const std::string& sContent) {
        const std::filesystem::path path(P(sRelative));
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << sContent;
    }

    std::string Read(const std::string& sRelative) const {
        std::ifstream in(P(sRelative), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

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

    // The texts of the transaction log's lines, without their time stamps.
    std::vector<std::string> LogTexts() const {
        std::ifstream in(libLog::LogFileName(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string all = ss.str();
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < all.size()) {
            auto end = all.find("\r\n", start);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(start, end - start);
            lines.push_back(line.size() >= 21 ? line.substr(21) : line);
            start = end + 2;
        }
        return lines;
    }

    void ClearLog() {
        std::error_code ec;
        std::filesystem::remove(libLog::LogFileName(), ec);
    }
};

} // namespace copytest
