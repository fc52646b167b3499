#include "common/TempAppFolder.h"

using namespace appPreferences;

class Preferences : public TempAppFolder {
protected:
    std::string LogText() { return ReadFile(App + "stowline.log"); }
    // Copies the loaded columns before the defaults overwrite them: "Same(Columns, <defaults>)"
    // could set the defaults first and then compare them with themselves.
    static bool ColumnsAreDefaults() {
        const auto loaded = Columns;
        SetColumnDefaults();
        const bool bSame = Same(loaded, Columns);
        Columns = loaded;
        return bSame;
    }
    static bool Same(const std::array<ColumnSetting, ColumnCount>& a, const std::array<ColumnSetting, ColumnCount>& b) {
        for (int i = 0; i < ColumnCount; ++i)
            if (a[i].Position != b[i].Position || a[i].Width != b[i].Width) return false;
        return true;
    }
};

TEST_F(Preferences, NoFileGivesDefaultsAndWritesNothing) {
    MaxBackupCopies = 5;
    UseSystemTray = false;
    LoadPreferences();
    EXPECT_TRUE(UseSystemTray);
    EXPECT_EQ(MaxBackupCopies, 99);
    EXPECT_FALSE(Exists(PreferencesFileName()));
    EXPECT_EQ(PreferencesFileName(), App + "Stowline.txt");
}

TEST_F(Preferences, ColumnRules) {
    auto write = [&](const std::string& sJobName, const std::string& sTime, const std::string& sState) {
        WriteFile(PreferencesFileName(), "[Preferences]\r\nLoggingMode=0\r\nMaxBackupCopies=300\r\n"
                                         "[ScheduleForm]\r\nJobName=" +
                                             sJobName + "\r\nDateLastRun=1,850\r\nTimeLastRun=" + sTime +
                                             "\r\nDateNextRun=3,850\r\nStartTime=4,800\r\nSize=5,720\r\nState=" +
                                             sState + "\r\nRunCount=-7,600\r\nJobType=-8,650\r\n");
        std::remove((App + "stowline.log").c_str());
        LoadPreferences();
    };
    write("5,1500", "-2,800", "6,350"); // the job-name column is always position 0
    EXPECT_EQ(Columns[colJobName].Position, 0);
    EXPECT_EQ(Columns[colJobName].Width, 1500);
    EXPECT_EQ(MaxBackupCopies, 255);
    EXPECT_FALSE(Exists(App + "stowline.log"));
    write("0,20000", "-2,800", "6,350");
    EXPECT_EQ(Columns[colJobName].Width, 20000);
    write("0,20001", "-2,800", "6,350");
    EXPECT_EQ(Columns[colJobName].Width, 2000);
    EXPECT_NE(LogText().find("Column settings invalid resetting to defaults"), std::string::npos);
    // Positions 3 and -3 collide; 9 is beyond 8; a setting without a comma.
    for (auto [sTime, sState] : {std::pair{"-3,800", "6,350"}, {"-2,800", "9,350"}, {"-2", "6,350"}}) {
        write("0,100", sTime, sState);
        EXPECT_TRUE(ColumnsAreDefaults()) << sTime << " " << sState;
    }

    ColumnSetting c{1, 2};
    for (const char* sBad : {"40000,1", "a,1", ""})
        EXPECT_FALSE(ParseColumnSetting(c, sBad)) << sBad;
    EXPECT_EQ(c.Position, 1);
    EXPECT_TRUE(ParseColumnSetting(c, " -2 , 800 "));
    EXPECT_EQ(FormatColumnSetting(c), "-2,800");
}

TEST_F(Preferences, SaveThenLoadGivesEveryValueBack) {
    MaxBackupCopies = 17;
    LoggingMode = 3;
    StopOnError = false;
    UseSystemTray = false;
    const std::string sViewer = " /opt/" + std::string(100, 'v') + "/my viewer --flag \"x\"";
    LogViewCommand = sViewer; // longer than 63 characters, with blanks and quotes
    SaveFormSize = true;
    Commenting = 2;
    RunMissedBackups = true;
    StaleDays = 0;
    MaxLogSizeMB = 0;
    SetColumnDefaults();
    Columns[colState] = {-6, 0};
    Columns[colRunCount] = {7, 20000};
    FormSize = "0,1,2,3,4,5,6,7,8";
    // Every value set above differs from its default.
    auto values = [] {
        return std::to_string(MaxBackupCopies) + '|' + std::to_string(LoggingMode) + '|' + std::to_string(StopOnError) +
               std::to_string(UseSystemTray) + std::to_string(SaveFormSize) + std::to_string(RunMissedBackups) + '|' +
               std::to_string(Commenting) + '|' + std::to_string(StaleDays) + '|' + std::to_string(MaxLogSizeMB) + '|' +
               LogViewCommand + '|' + FormSize;
    };
    const std::string sSet = values();
    auto saved = Columns;
    SavePreferences();
    ResetToDefaults();
    LoadPreferences();
    EXPECT_EQ(values(), sSet);
    EXPECT_TRUE(Same(Columns, saved));
    const std::string sText = ReadFile(PreferencesFileName());
    EXPECT_EQ(sText.rfind("[Preferences]\r\nMaxBackupCopies=17\r\nLoggingMode=3\r\nStopOnError=0\r\n", 0), 0u);
    EXPECT_NE(sText.find("\r\nRunCount=7,20000\r\nJobType=-8,650\r\nFormSize=0,1,2,3,4,5,6,7,8\r\n"),
              std::string::npos);
    // Without SaveFormSize the placement is not taken from the file.
    SaveFormSize = false;
    SavePreferences();
    LoadPreferences();
    EXPECT_EQ(FormSize, "");
}

// Both layouts, whole or short; a damaged file never stops start-up: what cannot be read takes
// its default, and one warning line names the values.
TEST_F(Preferences, BothLayoutsAndDamagedValuesTakeTheirDefaultsWithOneWarning) {
    const std::string sWarn = "Preferences file '" + App + "Stowline.txt' is damaged; defaults used for: ";
    struct Case {
        const char* Text;
        const char* Names; // "" = no warning
        int Max, Mode;
        bool Stop, Tray;
        const char* Viewer = "v";
        int MaxLog = DefaultMaxLogSizeMB;
    } cases[] = {
        {"12\r\n0\r\n0\r\n2.5\r\nmyviewer --x\r\n", "", 12, 2, false, false, "myviewer --x"}, // half to even
        {"\r\n\r\n", "", 99, 0, true, true, "xdg-open"}, // blank and missing lines take their defaults
        {"[Preferences]\r\nLoggingMode=1\r\n", "", 0, 1, false, true, ""},
        // legacy five-line layout: each line alone, then all together
        {"many\r\n0\r\n0\r\n1\r\nv\r\n", "MaxBackupCopies", 99, 1, false, false},
        {"99999\r\n0\r\n0\r\n1\r\nv\r\n", "MaxBackupCopies", 99, 1, false, false},
        {"7\r\nyes\r\n0\r\n1\r\nv\r\n", "StopOnError", 7, 1, true, false},
        {"7\r\n0\r\n\x01\r\n1\r\nv\r\n", "UseSystemTray", 7, 1, false, true},
        {"7\r\n0\r\n0\r\n1e99\r\nv\r\n", "LoggingMode", 7, 0, false, false},
        {"x\r\ny\r\nz\r\nw\r\nv\r\n", "MaxBackupCopies, StopOnError, UseSystemTray, LoggingMode", 99, 0, true, true},
        {"7\r\nFALSE\r\n-1\r\n2\r\n", "", 7, 2, false, true, "xdg-open"},
        // INI layout: the values the INI rules give, and the names of those with no number
        {"[Preferences]\r\nLoggingMode=x\r\nMaxBackupCopies=lots\r\nStopOnError=yes\r\n",
         "MaxBackupCopies, LoggingMode, StopOnError", 0, 0, false, true, ""},
        {"[Preferences]\r\nLoggingMode=2\r\nUseSystemTray=\x7f\r\nCommenting=?\r\n", "Commenting, UseSystemTray", 0, 2,
         false, false, ""},
        {"[Preferences]\r\nLoggingMode=1\r\nMaxLogSizeMB=huge\r\n", "MaxLogSizeMB", 0, 1, false, true, ""},
        {"[Preferences]\r\nLoggingMode=1\r\nMaxLogSizeMB=0\r\n", "", 0, 1, false, true, "", 0},
        {"[Preferences]\r\nLoggingMode=9\r\nMaxBackupCopies=-4\r\nStopOnError=1x\r\nUseSystemTray=0\r\n", "", 0, 3,
         true, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        WriteFile(PreferencesFileName(), c.Text);
        ClearLog();
        ResetToDefaults();
        SaveFormSize = true;
        RunMissedBackups = true;
        StaleDays = 1;
        Seam->Clear();
        LoadPreferences();
        EXPECT_FALSE(RunMissedBackups) << "files from before the key read as the default";
        EXPECT_EQ(StaleDays, 7);
        EXPECT_EQ(LogViewCommand, c.Viewer);
        EXPECT_FALSE(SaveFormSize);
        EXPECT_TRUE(ColumnsAreDefaults());
        EXPECT_EQ(MaxBackupCopies, c.Max);
        EXPECT_EQ(LoggingMode, c.Mode);
        EXPECT_EQ(StopOnError, c.Stop);
        EXPECT_EQ(UseSystemTray, c.Tray);
        EXPECT_EQ(MaxLogSizeMB, c.MaxLog);
        int iWarnings = 0;
        for (const auto& line : LogLines())
            if (line.rfind("Preferences file", 0) == 0) {
                ++iWarnings;
                EXPECT_EQ(line, sWarn + c.Names);
            }
        EXPECT_EQ(iWarnings, *c.Names ? 1 : 0);
        EXPECT_TRUE(c.Text[0] != '[' || LogHas("Column settings invalid resetting to defaults"));
        EXPECT_TRUE(Seam->Messages().empty());
        EXPECT_FALSE(Exists(App + "stowline.err"));
    }
}

TEST_F(Preferences, AnUnreadableFileGivesDefaultsWithOneWarning) {
    WriteFile(PreferencesFileName() + "/x", ""); // a folder in the file's place
    MaxBackupCopies = 5;
    LoadPreferences();
    EXPECT_EQ(MaxBackupCopies, 99);
    EXPECT_TRUE(UseSystemTray);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Preferences file '" + App +
                                                   "Stowline.txt' cannot be read (Is a directory); defaults used"});
    EXPECT_FALSE(Exists(App + "stowline.err"));
}

TEST_F(Preferences, LegacyFileGetsSectionsAppendedAndOldLinesKept) {
    WriteFile(PreferencesFileName(), "12\r\n-1\r\n-1\r\n1\r\nmyviewer\r\n");
    LoadPreferences();
    LoggingMode = 0; // written as "0": still a value, so the file now reads as INI
    SavePreferences();
    const std::string sText = ReadFile(PreferencesFileName());
    EXPECT_EQ(sText.substr(0, 31), "12\r\n-1\r\n-1\r\n1\r\nmyviewer\r\n[Prefe");
    ResetToDefaults();
    LoadPreferences();
    EXPECT_EQ(MaxBackupCopies, 12);
    EXPECT_EQ(LoggingMode, 0);
    EXPECT_EQ(LogViewCommand, "myviewer");
    EXPECT_FALSE(Exists(App + "stowline.log")); // the saved columns are valid
}
