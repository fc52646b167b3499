#pragma once
// A test fixture that gives each test a fresh temporary folder, points the
// application folder into it, installs the scripted user-interaction seam
// (a fatal report then throws libErrorHandler::FatalApplicationError), and puts the clock,
// the preferences and the time zone back afterwards. Also reads the transaction log back.

#include "common/ScriptedSeam.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>

class TempAppFolder : public ::testing::Test {
protected:
    std::string Root; // the temporary folder, ending with "/"
    std::string App;  // Root + "app/", the application folder
    UserInteraction::ScriptedSeam* Seam = nullptr;

    void SetUp() override {
        char tmpl[] = "/tmp/stowline-test-XXXXXX";
        char* p = mkdtemp(tmpl);
        ASSERT_NE(p, nullptr);
        Root = std::string(p) + "/";
        App = Root + "app/";
        appMisc::SetAppFolder(App);
        Seam = new UserInteraction::ScriptedSeam;
        m_previousSeam = UserInteraction::Install(std::unique_ptr<UserInteraction::Seam>(Seam));
        appPreferences::ResetToDefaults();
        libLog::SetPendingComment("");
        libDates::ResetClock();
    }

    void TearDown() override {
        libDates::ResetClock();
        UserInteraction::Install(std::move(m_previousSeam));
        appMisc::SetAppFolder("");
        appPreferences::ResetToDefaults();
        if (m_bTzChanged) {
            m_savedTz ? setenv("TZ", m_savedTz->c_str(), 1) : unsetenv("TZ");
            tzset();
        }
        std::error_code ec;
        std::filesystem::remove_all(Root, ec);
    }

    // Writes a file (creating its folders) with exactly these bytes; returns its path.
    static std::string WriteFile(const std::string& sPath, const std::string& sBytes) {
        std::filesystem::create_directories(std::filesystem::path(sPath).parent_path());
        std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
        out << sBytes;
        return sPath;
    }

    static std::string ReadFile(const std::string& sPath) {
        std::ifstream in(sPath, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    static bool Exists(const std::string& sPath) { return std::filesystem::exists(sPath); }

    // Sets a file's (or a link's own) access and modification times to t seconds and ns
    // nanoseconds after 1970.
    static void SetFileTime(const std::string& sPath, time_t t, long ns = 0) {
        const timespec times[2] = {{t, ns}, {t, ns}};
        ASSERT_EQ(::utimensat(AT_FDCWD, sPath.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << sPath;
    }

    // The texts of the transaction log's lines, without their time stamps.
    static std::vector<std::string> LogLines() {
        const std::string sLog = ReadFile(libLog::LogFileName());
        std::vector<std::string> lines;
        size_t iStart = 0;
        while (iStart < sLog.size()) {
            size_t iEnd = sLog.find("\r\n", iStart);
            if (iEnd == std::string::npos) iEnd = sLog.size();
            const std::string sLine = sLog.substr(iStart, iEnd - iStart);
            lines.push_back(sLine.size() >= 21 ? sLine.substr(21) : sLine);
            iStart = iEnd + 2;
        }
        return lines;
    }
    static bool LogHas(const std::string& sText) {
        for (const auto& s : LogLines())
            if (s == sText) return true;
        return false;
    }
    static void ClearLog() {
        std::error_code ec;
        std::filesystem::remove(libLog::LogFileName(), ec);
    }

    // A message box with these title, icon and text (and these buttons, when given).
    static void ExpectBox(const UserInteraction::MessageRequest& m, const std::string& sTitle,
                          UserInteraction::Icon icon, const std::string& sText,
                          std::optional<UserInteraction::Buttons> buttons = {}) {
        EXPECT_EQ(m.Title, sTitle);
        EXPECT_EQ(m.IconKind, icon);
        EXPECT_EQ(m.Text, sText);
        EXPECT_EQ(m.ButtonSet, buttons.value_or(m.ButtonSet));
    }
    // The seam showed exactly one message box, that one.
    static void ExpectOneBox(const UserInteraction::ScriptedSeam& seam, const std::string& sTitle,
                             UserInteraction::Icon icon, const std::string& sText,
                             std::optional<UserInteraction::Buttons> buttons = {}) {
        const auto msgs = seam.Messages();
        ASSERT_EQ(msgs.size(), 1u);
        ExpectBox(msgs[0], sTitle, icon, sText, buttons);
    }

    // Runs the test body in another time zone; restored in TearDown.
    void UseTimeZone(const char* sZone) {
        if (!m_bTzChanged)
            if (const char* cur = std::getenv("TZ")) m_savedTz = cur;
        m_bTzChanged = true;
        setenv("TZ", sZone, 1);
        tzset();
    }

private:
    std::unique_ptr<UserInteraction::Seam> m_previousSeam;
    bool m_bTzChanged = false;
    std::optional<std::string> m_savedTz; // the TZ before, if it was set
};
