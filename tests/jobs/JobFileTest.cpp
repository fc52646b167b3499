// The job file: INI round trips, the reading rules, the line layout, passwords of any bytes,
// damaged files, and names that must not lead a save out of the job folder.

#include "common/HandJobFolder.h"
#include "support/libIni.h"

#include <random>

namespace {

using libDates::DateSerial;
using libDates::TimeSerial;

class JobFile : public HandJobFolder {
protected:
    // A job file written by hand in the INI layout: "[Config]" with the given lines, then extra text.
    std::string IniJob(const std::string& sConfigLines, const std::string& sMore = "",
                       const std::string& sName = "hand.slj") {
        return WriteFile(App + "BackupJobs/" + sName, "[Config]\r\nJobName=Hand\r\n" + sConfigLines + sMore);
    }
};

CBackupJob FullJob(const std::string& sName) {
    CBackupJob job;
    job.CopyJob(CBackupJob(), sName);
    job.SetDateLastRun(DateSerial(2001, 12, 5) + TimeSerial(18, 34, 0));
    job.SetDateLastSuccess(DateSerial(2001, 12, 4) + TimeSerial(18, 33, 0));
    job.SetSizeLastRun(123456789012.0);
    job.SetRunCount(42);
    job.SetStartTime(TimeSerial(7, 5, 0));
    job.SetFrequency(CBackupJob::Weekly);
    job.SetDayOfWeek(static_cast<int16_t>(62));
    job.SetDayOfMonth(17);
    job.SetCompress(false);
    job.SetCopyStyle(2);
    job.SetKeepPeriod(CBackupJob::KeepWeeks);
    job.SetNumberCopies(12);
    job.SetPassword("s3cr=t;[x]");
    job.SetSubdirectories(true);
    job.SetIncremental(true);
    job.SetVerify(true);
    job.SetSuspended(true);
    job.SetPreBackupCommand("echo \"pre\" %JobName%");
    job.SetPostBackupCommand("  padded post  ");
    job.SetTargetDirectoryRaw("/backup/target dir/");
    job.SetFilesToZip("/home/u/docs\r\n/home/u/*.txt\r\n  /home/u/lead space\r\n");
    job.SetExcludeSpec("*.tmp\r\n'quoted'\r\n");
    job.SetOneShotDates("Jan-05-2030 08:30\r\nFeb-06-2031 23:59\r\n");
    return job;
}

// Every field of the definition in one text, so that two jobs compare field by field in one line.
std::string Definition(const CBackupJob& j) {
    std::ostringstream os;
    os.precision(17);
    os << j.JobName() << '|' << libDates::Format(j.DateLastRun(), "mmm-dd-yyyy hh:mm") << '|' << j.SizeLastRun() << '|'
       << j.RunCount() << '|' << libDates::Format(j.StartTime(), "hh:mm") << '|' << j.Frequency() << '|'
       << j.DayOfWeek() << '|' << j.DayOfMonth() << '|' << j.Compress() << '|' << j.CopyStyle() << '|' << j.KeepPeriod()
       << '|' << j.NumberCopies() << '|' << j.Password() << '|' << j.Subdirectories() << '|' << j.Incremental() << '|'
       << j.Suspended() << '|' << j.PreBackupCommand() << '|' << j.PostBackupCommand() << '|' << j.TargetDirectory()
       << '|' << j.FilesToZip() << '|' << j.ExcludeSpec() << '|' << j.OneShotDates() << '|' << j.Verify();
    return os.str();
}
void ExpectSameDefinition(const CBackupJob& a, const CBackupJob& b) { EXPECT_EQ(Definition(a), Definition(b)); }

TEST_F(JobFile, EveryFieldSurvivesASaveAndALoad) {
    CBackupJob job = FullJob("Round Trip");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_FALSE(job.Changed());
    CBackupJob back = Load(job.FileName());
    ExpectSameDefinition(job, back);
    EXPECT_EQ(libDates::Format(back.DateLastSuccess(), "mmm-dd-yyyy hh:mm"), "Dec-04-2001 18:33");
    EXPECT_TRUE(back.Changed()) << "an INI load leaves Changed as Clear left it";

    // Values far beyond the old 254/127-character read limits come back whole.
    CBackupJob longJob = FullJob("Long");
    std::string sDeep = "/data";
    while (sDeep.size() < 1500)
        sDeep += "/a folder with a long name";
    longJob.SetFilesToZip(sDeep + "\r\n" + sDeep + "/*.doc\r\n");
    longJob.SetPreBackupCommand(std::string(700, 'p'));
    longJob.SetPassword(std::string(400, 'w'));
    ASSERT_FALSE(longJob.SaveBackupJobIniFile());
    ExpectSameDefinition(longJob, Load(longJob.FileName()));
}

TEST_F(JobFile, CopyJobMakesANeverRunCopyUnderTheNewName) {
    CBackupJob src = FullJob("Daily Docs");
    src.SetFileNameRaw("/elsewhere/Daily Docs.slj");
    src.SetFailure(true);
    src.SetTag(4);
    src.SetStatus(3);
    CBackupJob copy;
    copy.SetOneShotDates("Feb-02-2031 11:00\r\n");
    copy.CopyJob(src, "Copy of Daily Docs");
    EXPECT_TRUE(copy.Changed());
    EXPECT_EQ(copy.JobName(), "Copy of Daily Docs");
    EXPECT_EQ(copy.FileName(), App + "BackupJobs/Copy of Daily Docs.slj");
    EXPECT_EQ(copy.RunCount(), -1);
    EXPECT_EQ(copy.DateLastRun(), 2.0);
    EXPECT_EQ(copy.CachedNextRun(), 2.0);
    EXPECT_EQ(copy.SizeLastRun(), -1);
    EXPECT_EQ(copy.Tag(), -1);
    EXPECT_EQ(copy.Status(), 0);
    EXPECT_TRUE(copy.Failure()) << "Failure is copied as it is";
    EXPECT_EQ(copy.OneShotDates(), "Feb-02-2031 11:00\r\n") << "one-shot dates are not copied";
    // Every other field is the source's.
    copy.SetJobNameRaw(src.JobName());
    copy.SetRunCount(src.RunCount());
    copy.SetDateLastRun(src.DateLastRun());
    copy.SetSizeLastRun(src.SizeLastRun());
    copy.SetOneShotDates(src.OneShotDates());
    ExpectSameDefinition(copy, src);

    // Copying onto itself keeps the definition.
    src.CopyJob(src, "Self");
    EXPECT_EQ(src.Password(), "s3cr=t;[x]");
    EXPECT_EQ(src.JobName(), "Self");
}

TEST_F(JobFile, FirstSaveWritesTheLayoutExactly) {
    CBackupJob job;
    job.CopyJob(CBackupJob(), "Docs");
    job.SetDateLastRun(DateSerial(2001, 12, 5) + TimeSerial(18, 34, 0));
    job.SetDayOfWeek(CBackupJob::AllDays);
    job.SetTargetDirectoryRaw("/backup/");
    job.SetExcludeSpec("*.tmp\r\n");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(App + "BackupJobs/Docs.slj"),
              "[Config]\r\nJobName=Docs\r\nDateLastRun=Dec-05-2001 18:34\r\nSizeLastRun=-1\r\nRunCount=-1\r\n"
              "StartTime=12:00\r\nFrequency=1\r\nDayOfWeek=254\r\nDayOfMonth=1\r\nCompress=-1\r\nCopyStyle=0\r\n"
              "KeepCount=0\r\nKeepPeriod=Copies\r\nPassword=\r\nParseSubDir=0\r\nIncremental=0\r\nSuspended=0\r\n"
              "PreBackupCommand=\r\nPostBackupCommand=\r\nTargetDir=/backup/\r\n"
              "[Source]\r\nFile_0=\r\n[Exclude]\r\nFile_0=*.tmp\r\n[OneShot]\r\n");
    struct stat st {};
    ASSERT_EQ(::stat((App + "BackupJobs/Docs.slj").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "job files hold passwords";
}

TEST_F(JobFile, ASaveKeepsWhatElseTheFileHolds) {
    std::string sPath = IniJob("Frequency=3\r\nComment=kept\r\n",
                               "[Source]\r\nFile_0=/old\r\nFile_1=/older\r\n[Extra]\r\nkey=value\r\n");
    CBackupJob job = Load(sPath);
    job.SetFilesToZip("/new\r\n");
    job.SetDayOfMonth(9);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    IniFile ini;
    ASSERT_TRUE(ini.Load(sPath));
    EXPECT_EQ(ini.Get("Config", "Comment"), "kept");
    EXPECT_EQ(ini.Get("Extra", "key"), "value");
    EXPECT_EQ(ini.Get("Source", "File_0"), "/new");
    EXPECT_FALSE(ini.Has("Source", "File_1")) << "a list section is rewritten whole";
    EXPECT_EQ(ini.Get("Config", "DayOfMonth"), "9");
    EXPECT_EQ(ini.Keys("Config").front(), "JobName");
    // A file from before successes were recorded reads as none and is written back without one.
    EXPECT_EQ(job.DateLastSuccess(), CBackupJob::NotComputed);
    EXPECT_FALSE(ini.Has("Config", "DateLastSuccess"));
    job.SetDateLastSuccess(DateSerial(2027, 3, 1) + TimeSerial(3, 0, 0));
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    ASSERT_TRUE(ini.Load(sPath));
    EXPECT_EQ(ini.Get("Config", "DateLastSuccess"), "Mar-01-2027 03:00");
    EXPECT_EQ(Load(IniJob("DateLastSuccess=garbage\r\n")).DateLastSuccess(), CBackupJob::NotComputed);
}

TEST_F(JobFile, ReadingRulesOfTheConfigSection) {
    auto with = [&](const std::string& sLines) { return Load(IniJob(sLines)); };
    EXPECT_EQ(with("DayOfMonth=31\r\n").DayOfMonth(), 28);
    EXPECT_EQ(with("DayOfMonth=abc\r\n").DayOfMonth(), 1);
    EXPECT_EQ(with("DayOfMonth=0\r\n").DayOfMonth(), 1);
    EXPECT_EQ(with("Frequency=9\r\nDayOfWeek=254\r\n").Frequency(), 4);
    EXPECT_EQ(with("Frequency=0\r\nDayOfWeek=254\r\n").Frequency(), 1);
    const CBackupJob partial = with("Frequency=1\r\nDayOfWeek=62\r\n");
    EXPECT_EQ(partial.Frequency(), 2) << "a daily job with a partial mask is weekly";
    EXPECT_EQ(partial.DayOfWeek(), 62);
    EXPECT_EQ(with("DayOfWeek=1000\r\n").DayOfWeek(), 254);
    EXPECT_EQ(with("DayOfWeek=0\r\n").DayOfWeek(), 2);
    const CBackupJob weeks = with("KeepPeriod=weeks\r\nKeepCount=45\r\n");
    EXPECT_EQ(weeks.KeepPeriod(), 2);
    EXPECT_EQ(weeks.NumberCopies(), 30);
    EXPECT_EQ(with("KeepPeriod=Days\r\nKeepCount=0\r\n").NumberCopies(), 1);
    EXPECT_EQ(with("KeepPeriod=Copies\r\nKeepCount=150\r\n").NumberCopies(), 99);
    const CBackupJob none = with("KeepCount=0\r\n");
    EXPECT_EQ(none.KeepPeriod(), 0);
    EXPECT_EQ(none.NumberCopies(), 0);
    for (const char* s : {"True", "-1", "1", "2.5", "\"True\""})
        EXPECT_TRUE(with(std::string("Compress=") + s + "\r\n").Compress()) << s;
    for (const char* s : {"", "0", "False", "TRUE", "true", "abc"})
        EXPECT_FALSE(with(std::string("Compress=") + s + "\r\n").Compress()) << s;
    EXPECT_EQ(with("RunCount=-1\r\n").RunCount(), 0) << "a never-run count reads back as 0";
    EXPECT_EQ(with("RunCount=x\r\n").RunCount(), 0);
    EXPECT_EQ(with("RunCount=99999999999\r\n").RunCount(), 2147483647);
    EXPECT_EQ(with("SizeLastRun=12.7\r\n").SizeLastRun(), 12);
    EXPECT_EQ(with("SizeLastRun=-3.5\r\n").SizeLastRun(), -3);
    EXPECT_EQ(with("SizeLastRun=1e400\r\n").SizeLastRun(), -1);
    EXPECT_EQ(with("SizeLastRun=lots\r\n").SizeLastRun(), -1) << "a damaged size takes the default";
    EXPECT_EQ(with("CopyStyle=7\r\n").CopyStyle(), 2);
    EXPECT_EQ(with("DateLastRun=yesterday\r\n").DateLastRun(), 2.0);
    EXPECT_NEAR(with("StartTime=7:05\r\n").StartTime(), TimeSerial(7, 5, 0), 1e-9);
    EXPECT_NEAR(with("StartTime=Jan-05-2027 19:30\r\n").StartTime(), TimeSerial(19, 30, 0), 1e-9);
    EXPECT_EQ(with("StartTime=soon\r\n").StartTime(), 0.0);
    EXPECT_TRUE(with("Suspended=True\r\n").Suspended());
    EXPECT_TRUE(with("ParseSubDir=1\r\n").Subdirectories());
    EXPECT_TRUE(with("Incremental=-1\r\n").Incremental());
    // Verify is written once turned on, and kept (as off) when turned off again.
    CBackupJob verified = with("Verify=-1\r\n");
    EXPECT_TRUE(verified.Verify());
    verified.SetVerify(false);
    ASSERT_FALSE(verified.SaveBackupJobIniFile());
    IniFile ini;
    ASSERT_TRUE(ini.Load(verified.FileName()));
    EXPECT_EQ(ini.Get("Config", "Verify"), "0");

    // Keys missing: the values a missing key gives (fields in Definition's order).
    EXPECT_EQ(Definition(with("")), "Hand|Jan-01-1900 00:00|-1|0|00:00|2|2|1|0|0|0|0||0|0|0|||||||0")
        << "Frequency 1 with mask 2 is a weekly job";
    EXPECT_EQ(with("DayOfWeek=254\r\n").Frequency(), 1);
}

TEST_F(JobFile, ListSections) {
    auto sources = [&](const std::string& sSection) { return Load(IniJob("", sSection)).FilesToZip(); };
    EXPECT_EQ(sources("[Source]\r\nFile_0=a\r\nFile_1=\r\nFile_2=b\r\n"), "a\r\n") << "an empty value ends the list";
    EXPECT_EQ(sources("[Source]\r\nFile_0=a\r\nFile_2=b\r\n"), "a\r\n") << "a missing key ends the list";
    EXPECT_EQ(sources("[Source]\r\nFile_0=a\r\nFile_1=   \r\nFile_2=b\r\n"), "a\r\nb\r\n")
        << "a value of blanks only is passed over";
    EXPECT_EQ(sources("[source]\r\nfile_0=x\r\nFILE_1=y\r\n"), "x\r\ny\r\n") << "names ignore case";
    EXPECT_EQ(sources("[Source]\r\nFile_0=\" lead\"\r\n"), " lead\r\n");
    EXPECT_EQ(sources("[Source]\r\nFile_0=a\r\nFile_1=\"   \"\r\nFile_2=b\r\n"), "a\r\nb\r\n")
        << "blanks kept by quotes carry no entry either";

    CBackupJob job = Load(IniJob("", "[Exclude]\r\nFile_0=*.o\r\n[OneShot]\r\n0=Jan-05-2030 08:30\r\n"
                                     "1=tomorrow-ish\r\n2=Feb-01-2030 10:00\r\n3=\r\n4=Mar-01-2030 10:00\r\n"));
    EXPECT_EQ(job.ExcludeSpec(), "*.o\r\n");
    EXPECT_EQ(job.OneShotDates(), "Jan-05-2030 08:30\r\nFeb-01-2030 10:00\r\n") << "non-dates dropped, empty ends";

    // An empty exclude list saves its section without keys (the other lists: the exact layout).
    CBackupJob empty;
    empty.CopyJob(CBackupJob(), "Empty");
    ASSERT_FALSE(empty.SaveBackupJobIniFile());
    IniFile ini;
    ASSERT_TRUE(ini.Load(empty.FileName()));
    EXPECT_TRUE(ini.HasSection("Exclude"));
    EXPECT_TRUE(ini.Keys("Exclude").empty());
    EXPECT_EQ(ini.Get("Config", "DateLastRun"), "Jan-01-1900 00:00") << "a job that never ran";
    EXPECT_EQ(Load(empty.FileName()).DateLastRun(), CBackupJob::NotComputed);
}

// ---------------------------------------------------------------- the line layout

// Each case: the file, then the whole definition it loads as (fields in Definition's order).
TEST_F(JobFile, LineLayout) {
    libDates::SetClock(DateSerial(2027, 3, 10) + TimeSerial(15, 0, 0));
    const std::vector<std::pair<std::string, std::string>> cases = {
        // Line 11 is the incremental flag; blank source lines dropped, others untrimmed; the
        // password is not scrambled in this layout; fields the layout lacks keep their defaults.
        {"Old Docs\r\n12/05/2001 18:34:00\r\n10:30\r\n2\r\n62\r\n15\r\nFalse\r\n5\r\nplain pw\r\nTrue\r\n"
         "True\r\n/backup/\r\n/home/u/docs\r\n   \r\n\r\n  /home/u/mail \r\n",
         "Old Docs|Dec-05-2001 18:34|-1|-1|10:30|2|62|15|0|0|0|5|plain pw|1|1|0|||/backup/|"
         "/home/u/docs\r\n  /home/u/mail \r\n||"},
        // Empty line 11: no flag, and that empty line is the target directory.
        {"A\nJan-01-2020 10:00\n10:00\n1\n254\n1\n1\n3\n\n0\n\n/src/one\n/src/two\n",
         "A|Jan-01-2020 10:00|-1|-1|10:00|1|254|1|1|0|0|3||0|0|0||||/src/one\r\n/src/two\r\n||"},
        // Written before the flag existed: line 11 is the target itself.
        {"B\r\nJan-01-2020 10:00\r\n10:00\r\n1\r\n254\r\n1\r\n-1\r\n3\r\n\r\n0\r\n/backup/b/\r\n/src/b\r\n",
         "B|Jan-01-2020 10:00|-1|-1|10:00|1|254|1|1|0|0|3||0|0|0|||/backup/b/|/src/b\r\n||"},
        // Damaged lines take defaults; a bad date of last run means today at 00:00; frequency
        // default 1 with mask default 2 is weekly.
        {"C\r\nnever\r\nnoon\r\nweekly\r\nx\r\n-\r\nmaybe\r\n1e99\r\npw\r\nperhaps\r\n",
         "C|Mar-10-2027 00:00|-1|-1|00:00|2|2|1|1|0|0|0|pw|0|0|0||||||"},
    };
    for (const auto& [sFile, sDefinition] : cases) {
        SCOPED_TRACE(sFile);
        const std::string sPath = WriteFile(App + "BackupJobs/old.slj", sFile);
        CBackupJob job = Load(sPath);
        EXPECT_EQ(Definition(job), sDefinition + "|0"); // this layout has no Verify: off
        EXPECT_FALSE(job.Changed()) << "the line reader clears Changed";
        // Saving turns it into the INI layout, which reads back the same (a run count of -1
        // would read back as 0).
        job.SetRunCount(0);
        ASSERT_FALSE(job.SaveBackupJobIniFile());
        ExpectSameDefinition(job, Load(sPath));
    }
    // Truncated after the name: the rest takes defaults.
    EXPECT_EQ(Load(WriteFile(App + "BackupJobs/e.slj", "Only a name")).JobName(), "Only a name");
}

// ---------------------------------------------------------------- passwords

TEST_F(JobFile, AnyBytesReadBackEqual) {
    std::vector<std::string> passwords;
    for (int c = 0; c < 256; ++c)
        passwords.push_back(std::string(1, static_cast<char>(c)));
    // Given as their scrambled bytes: blanks at both ends, a leading tab, wrapped in double or single
    // quotes, just the quotes, NUL CR LF, what looks like the escaped form, quotes that do not match.
    using namespace std::string_literals;
    for (std::string s : {" a "s, "\ta"s, "\"ab\""s, "'x'"s, "\"\""s, "a\0b\r\n"s, " 41"s, "\"x'"s}) {
        for (char& c : s)
            c = static_cast<char>(c ^ CBackupJob::PasswordScrambleKey);
        passwords.push_back(s);
    }
    std::mt19937 rng(20270310);
    for (int i = 0; i < 200; ++i) {
        std::string s(rng() % 24, '\0');
        for (char& c : s)
            c = static_cast<char>(rng() & 0xFF);
        passwords.push_back(s);
    }
    CBackupJob job;
    job.CopyJob(CBackupJob(), "Passwords");
    for (size_t i = 0; i < passwords.size(); ++i) {
        const std::string& sPassword = passwords[i];
        // Through the INI text as a file holds it.
        IniFile ini;
        ini.Set("Config", "Password", CBackupJob::PasswordToFileValue(sPassword));
        ini.Set("Config", "After", "x");
        IniFile reread;
        reread.Parse(ini.Text());
        ASSERT_EQ(CBackupJob::PasswordFromFileValue(reread.Get("Config", "Password")), sPassword) << "password " << i;
        EXPECT_EQ(reread.Get("Config", "After"), "x") << "the value stays on its line";
    }
    for (size_t i = 0; i < passwords.size(); i += (i < 256 ? 7 : 1)) {
        if (i >= 256 + 9 + 20) break;
        const std::string& sPassword = passwords[i];
        job.SetPassword(sPassword);
        ASSERT_FALSE(job.SaveBackupJobIniFile());
        CBackupJob back = Load(job.FileName());
        ASSERT_EQ(back.Password(), sPassword) << "password " << i;
    }
}

TEST_F(JobFile, FilesWrittenWithThePlainScrambledFormStillRead) {
    const std::string sScrambled = CBackupJob::ScramblePassword("Secret 1!");
    EXPECT_EQ(static_cast<unsigned char>(sScrambled[0]), static_cast<unsigned char>('S' ^ 0xA5));
    // An existing file holds the scrambled bytes as they are.
    CBackupJob job = Load(IniJob("Password=" + sScrambled + "\r\n"));
    EXPECT_EQ(job.Password(), "Secret 1!");
    // And a save writes them the same way.
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_NE(ReadFile(job.FileName()).find("\r\nPassword=" + sScrambled + "\r\n"), std::string::npos);
    EXPECT_EQ(CBackupJob::PasswordToFileValue(""), "") << "an empty password is an empty value";
    // Every single-byte password whose scrambled byte a line can carry keeps the plain form.
    int iPlain = 0;
    for (int c = 0; c < 256; ++c) {
        std::string s(1, static_cast<char>(c));
        if (CBackupJob::PasswordToFileValue(s) == CBackupJob::ScramblePassword(s)) ++iPlain;
    }
    EXPECT_EQ(iPlain, 256 - 5) << "only NUL, CR, LF, blank and tab need the escape";
}

// ---------------------------------------------------------------- damaged files

TEST_F(JobFile, AMissingFileOrAFolderFailsWithoutAnErrorReport) {
    CBackupJob job;
    job.SetPassword("left over");
    EXPECT_TRUE(job.OpenBackupJob(App + "BackupJobs/none.slj"));
    EXPECT_EQ(job.FileName(), App + "BackupJobs/none.slj");
    EXPECT_EQ(job.Password(), "") << "the job is cleared";
    std::filesystem::create_directories(App + "BackupJobs/dir.slj");
    EXPECT_TRUE(job.OpenBackupJob(App + "BackupJobs/dir.slj"));
    EXPECT_TRUE(job.OpenBackupJob(""));
    EXPECT_EQ(job.Tag(), -1);
    // A file far too large to be a job file is not read into memory.
    std::string sHuge = WriteFile(App + "BackupJobs/huge.slj", "[Config]\r\nJobName=Huge\r\n");
    std::filesystem::resize_file(sHuge, (64ull << 20) + 1);
    EXPECT_TRUE(job.OpenBackupJob(sHuge));
    EXPECT_EQ(job.JobName(), "");
    EXPECT_TRUE(job.OpenBackupJobIniFile(sHuge));

    EXPECT_FALSE(std::filesystem::exists(App + "stowline.err"));
}

// A path value holding a NUL byte names another path than it seems to: dropped at load, with
// one log line, in both layouts (the inputs that once made a walk and a removal run away).
TEST_F(JobFile, PathValuesHoldingANulByteAreDropped) {
    const std::string nul(1, '\0');
    const std::string sIni =
        IniJob("TargetDir=/t" + nul + "/x/\r\n", "[Source]\r\nFile_0=/data/a\r\nFile_1=/data/src" + nul +
                                                     "/*.txt\r\nFile_2=/data/b\r\n"
                                                     "[Exclude]\r\nFile_0=" +
                                                     nul + "\r\nFile_1=*.tmp\r\n");
    CBackupJob job = Load(sIni);
    EXPECT_EQ(job.TargetDirectory(), "");
    EXPECT_EQ(job.FilesToZip(), "/data/a\r\n/data/b\r\n");
    EXPECT_EQ(job.ExcludeSpec(), "*.tmp\r\n");
    const std::string sPrefix = "Job file '" + sIni + "': value of ";
    const std::string sWhy = " dropped: it holds a byte no path can hold";
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{sPrefix + "Config/TargetDir" + sWhy, sPrefix + "Source/File_1" + sWhy,
                                        sPrefix + "Exclude/File_0" + sWhy}));

    ClearLog();
    const std::string sOld = WriteFile(App + "BackupJobs/old.slj", "Old\r\n\r\n10:00\r\n1\r\n254\r\n1\r\nTrue\r\n3\r\n"
                                                                   "pw\r\nFalse\r\nTrue\r\n/t" +
                                                                       nul + "/\r\n/src\r\n/s" + nul + "rc\r\n");
    job = Load(sOld);
    EXPECT_EQ(job.TargetDirectory(), "");
    EXPECT_EQ(job.FilesToZip(), "/src\r\n");
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Job file '" + sOld + "': value of TargetDir (line 12)" + sWhy,
                                                    "Job file '" + sOld + "': value of Source (line 14)" + sWhy}));
    EXPECT_FALSE(Exists(App + "stowline.err"));
}

// A save that cannot be written (here a folder stands in the file's place) is a failed save with
// a log line saying why, not the end of the program.
TEST_F(JobFile, AFailedSaveIsLoggedWithItsReason) {
    CBackupJob job = FullJob("Blocked");
    WriteFile(job.FileName() + "/inner", "");
    EXPECT_TRUE(job.SaveBackupJobIniFile());
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Job file '" + job.FileName() + "' could not be saved: ", 0), 0u);
    EXPECT_FALSE(Exists(App + "stowline.err"));
    EXPECT_TRUE(job.Changed());
}

// ---------------------------------------------------------------- names and places

TEST_F(JobFile, ANameFromTheFileNeverMovesTheSave) {
    for (const char* sName : {"../../outside", "/tmp/abs", "..", ".", "a/b"}) {
        std::string sPath = IniJob("Frequency=3\r\n", "", "safe.slj");
        std::string sText = ReadFile(sPath);
        sText.replace(sText.find("JobName=Hand"), 12, std::string("JobName=") + sName);
        WriteFile(App + "BackupJobs/safe.slj", sText);
        CBackupJob job = Load(sPath);
        EXPECT_EQ(job.JobName(), sName);
        job.SetDayOfMonth(3);
        ASSERT_FALSE(job.SaveBackupJobIniFile());
        EXPECT_EQ(job.FileName(), sPath);
        EXPECT_EQ(Load(sPath).DayOfMonth(), 3);
    }
    std::vector<std::string> found;
    for (auto& e : std::filesystem::recursive_directory_iterator(App))
        found.push_back(e.path().string());
    EXPECT_EQ(found.size(), 2u) << "only the folder and the one job file";
    EXPECT_FALSE(std::filesystem::exists(App + "../outside.slj"));
}

} // namespace
