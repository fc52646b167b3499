// The zip engine's result codes and texts, its version, and how a run ends: files left out,
// call-backs that stop the archive, user abort, failures that leave nothing behind.

#include "ZipFixture.h"
#include <atomic>

using namespace ziptest;

// The texts that reach the log. Codes 9, 12, 15 and 18 are read there by the failure tests.
TEST(ZipResults, EveryCodeHasItsText) {
    const std::vector<std::pair<int, std::string>> table = {
        {0, ""},
        {2, "Unexpected end of zip file"},
        {3, "A generic error in the zipfile format was detected.  Processing may have completed successfully "
            "anyway; some broken zipfiles created by other archivers have simple work-arounds."},
        {4, "zip was unable to allocate memory for one or more buffers during program initialization"},
        {5, "A severe error in the zipfile format was detected.  Processing probably failed immediately"},
        {7, "Miscellaneous Zip Error (7)"},
        {16, "Miscellaneous Zip Error (16)"},
        {8, "Out of memory or Zip -T failed"},
        {10, "Zip encountered an error while using a temp file"},
        {11, "Read or seek error"},
        {13, "Missing or empty zip file"},
        {14, "Error writing to a file"}, // the full-disk tests may be skipped
        {17, "Unhandled Error#17 has occurred"},
        {255, "Unhandled Error#255 has occurred"}};
    for (const auto& [code, text] : table) {
        EXPECT_EQ(ZipResultMessage(code), text) << code;
        EXPECT_EQ(ZipResultIsError(code, true), code != 0) << code;
    }
    EXPECT_FALSE(ZipResultIsError(18, false));
    EXPECT_TRUE(ZipResultIsError(12, false));
    EXPECT_FALSE(ZipResultIsError(12, true));
}

TEST(ZipVersionRecord, TextForTheAboutBox) {
    ZpVer v;
    ZpVersion(v);
    EXPECT_EQ(v.Major, 1);
    EXPECT_GE(v.Minor, 7);
    EXPECT_LE(v.Name.size(), 20u);
    EXPECT_LE(v.Zlib.size(), 10u);
    EXPECT_EQ(ZipVersionText(), " Windll v" + std::to_string(v.Major) + "." + std::to_string(v.Minor) + " Patch " +
                                    std::to_string(v.Patch) + " " + v.Name + " " + v.Zlib);
    EXPECT_EQ(v.Name, std::string("libzip ") + zip_libzip_version());
}

TEST_F(ZipEngineTest, UnreadableFileIsLeftOutWithResult18) {
    Put("a.txt", "a");
    std::string sLocked = Put("locked.txt", "locked");
    Put("z.txt", "z");
    Probe.OpenError = [sLocked](const std::string& sPath) { return sPath == sLocked ? EACCES : 0; };
    ZipJobValues job;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    EXPECT_EQ(results[0].Code, ZE_OPEN);
    EXPECT_FALSE(results[0].IsError);
    EXPECT_EQ(finish.Code, 0); // reported once, by the entry that met it
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/", d + "/a.txt", d + "/z.txt"}));
    std::string sLog = Log();
    const std::string sText = "One or more source files were unable to be archived from the filespec";
    ASSERT_NE(sLog.find(sText), std::string::npos);
    EXPECT_EQ(sLog.find(sText, sLog.find(sText) + 1), std::string::npos);

    // Standalone, the call reports it too.
    fs::remove(ZipFile);
    Engine.ZpInit({});
    Engine.ZpSetOptions(ZpOpt{});
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data}), ZE_OPEN);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/", d + "/a.txt", d + "/z.txt"}));
}

// A long selection is written while it is walked: its files are announced and read within
// the step, which still names every file it left out, in walk order, with its own code.
TEST_F(ZipEngineTest, LongSelectionWrittenWhileWalkedNamesItsOwnLeftOutFiles) {
    std::vector<std::string> files;
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 300; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "sub%d/f%03d.txt", f, i);
            files.push_back(
                Put(name, std::string(static_cast<size_t>(i % 7) * 100, static_cast<char>('a' + f)) + name));
        }
    const std::string sFirst = WriteFile(App + "alone.txt", "named alone, unreadable once selected");
    const std::string sEarly = files[10], sLate = files[700]; // before and long after the writing starts
    const std::string sEmpty = Put("sub2/zz-empty.txt", "");  // never read: checked by the walk
    auto late = std::make_shared<std::atomic<bool>>(false);
    Probe.OpenError = [=](const std::string& sPath) {
        return sPath == sEarly || sPath == sLate || sPath == sEmpty || (*late && sPath == sFirst) ? EACCES : 0;
    };
    RecordingOwner owner;
    RunState::OwnerScope scope(&owner);
    ZipJobValues job;
    job.Subdirectories = true;
    ASSERT_EQ(Engine.ArchiveEntry(job, ZipFile, sFirst, 0).Code, 0);
    EXPECT_TRUE(owner.Messages.empty());
    *late = true; // the first step's file fails when it is read, during the second step
    ZipStepResult step = Engine.ArchiveEntry(job, ZipFile, Data, 1);
    EXPECT_EQ(step.Code, ZE_OPEN);
    EXPECT_FALSE(step.IsError);
    // Written within the step, each file once, in archive order.
    std::vector<std::string> expected = {sFirst + " (" + std::to_string(fs::file_size(sFirst)) + ")"};
    for (const std::string& s : files)
        if (s != sEarly) expected.push_back(s + " (" + std::to_string(fs::file_size(s)) + ")");
    EXPECT_EQ(owner.Messages, expected);
    std::string sLog = Log();
    const size_t iEarly = sLog.find("  Not backed up: '" + sEarly + "': Permission denied");
    const size_t iLate = sLog.find("  Not backed up: '" + sLate + "': Permission denied");
    ASSERT_NE(iEarly, std::string::npos);
    ASSERT_NE(iLate, std::string::npos);
    EXPECT_LT(iEarly, iLate);
    EXPECT_LT(iLate, sLog.find("  Not backed up: '" + sEmpty + "': Permission denied"));
    EXPECT_EQ(sLog.find("Not backed up: '" + sFirst + "'"), std::string::npos); // the close names it

    ZipStepResult finish = Engine.FinishArchive(job, true);
    EXPECT_EQ(finish.Code, ZE_OPEN);
    EXPECT_EQ(owner.Messages.size(), expected.size()); // nothing written twice
    EXPECT_NE(Log().find("  Not backed up: '" + sFirst + "': Permission denied"), std::string::npos);
    EXPECT_EQ(Shell("unzip -t '" + ZipFile + "'"), 0);
    auto entries = ReadArchive(ZipFile);
    EXPECT_EQ(entries.size(), files.size() - 2 + 4); // the tree's four folders
    for (const std::string& s : files) {
        if (s == sEarly || s == sLate) continue;
        EXPECT_EQ(entries[Stored(s)], ReadFile(s)) << s;
    }
    EXPECT_EQ(entries.count(Stored(sLate)) + entries.count(Stored(sFirst)), 0u);
}

TEST_F(ZipEngineTest, FileVanishingBeforeCompressionIsLeftOut) {
    Put("a.txt", std::string(100000, 'a'));
    std::string sGone = Put("b.txt", "b");
    Put("c.txt", std::string(100000, 'c'));
    ZipJobValues job;
    EXPECT_EQ(Engine.ArchiveEntry(job, ZipFile, Data, 0).Code, 0);
    fs::remove(sGone); // between selection and compression
    EXPECT_EQ(Engine.FinishArchive(job, true).Code, ZE_OPEN);
    std::string d = Stored(Data);
    auto entries = ReadArchive(ZipFile);
    EXPECT_EQ(Names(entries), std::set<std::string>({d + "/", d + "/a.txt", d + "/c.txt"}));
    EXPECT_EQ(entries[d + "/c.txt"], std::string(100000, 'c'));
    EXPECT_EQ(Shell("unzip -t '" + ZipFile + "'"), 0);

    // A long file whose later pieces cannot be read once its first is written is cut back
    // out of the archive; the file after it is intact.
    fs::remove(ZipFile);
    const std::string sLong = Put("b-long.bin", Noise(12u << 20, 5));
    auto opens = std::make_shared<std::atomic<int>>(0);
    Probe.OpenError = [sLong, opens](const std::string& sPath) { return sPath == sLong && ++*opens > 2 ? EIO : 0; };
    EXPECT_EQ(Engine.ArchiveEntry(job, ZipFile, Data, 0).Code, 0);
    EXPECT_EQ(Engine.FinishArchive(job, true).Code, ZE_OPEN);
    entries = ReadArchive(ZipFile);
    EXPECT_EQ(Names(entries), std::set<std::string>({d + "/", d + "/a.txt", d + "/c.txt"}));
    EXPECT_EQ(entries[d + "/c.txt"], std::string(100000, 'c'));
    EXPECT_EQ(Shell("unzip -t '" + ZipFile + "'"), 0);
    EXPECT_LT(fs::file_size(ZipFile), 1u << 20);
    EXPECT_NE(Log().find("  Not backed up: '" + sLong + "'"), std::string::npos);
}

TEST_F(ZipEngineTest, ServiceCallbackOncePerFileAndEveryAbortLeavesNoArchive) {
    for (char c = 'a'; c <= 'e'; ++c)
        Put(std::string(1, c) + ".txt", std::string(1000, c));
    RecordingOwner owner;
    RunState::OwnerScope scope(&owner);
    ZipJobValues job;
    ASSERT_EQ(Engine.ArchiveEntry(job, ZipFile, Data, 0).Code, 0);
    EXPECT_TRUE(owner.Messages.empty()); // nothing is compressed before the archive is written
    EXPECT_FALSE(fs::exists(ZipFile));
    ASSERT_EQ(Engine.FinishArchive(job, true).Code, 0);
    ASSERT_EQ(owner.Messages.size(), 5u);
    EXPECT_EQ(owner.Messages[0], Data + "/a.txt (1000)");
    EXPECT_EQ(owner.Messages[4], Data + "/e.txt (1000)");

    // Abort: the stop answer comes at the third file; nothing carries the archive's name.
    fs::remove(ZipFile);
    owner.Messages.clear();
    int calls = 0;
    ZipUserFunctions fns;
    fns.Service = [&](const std::string&, int64_t) { return ++calls == 3 ? 1 : 0; };
    UseEngine(fns);
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data}), ZE_ABORT);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(EntryCount(Target), 0u); // neither the archive nor a temporary file

    // The user's abort through the run discards the new archive too, and says so.
    ASSERT_EQ(Engine.ArchiveEntry(job, ZipFile, Data + "/a.txt", 0).Code, 0);
    ASSERT_EQ(Engine.ArchiveEntry(job, ZipFile, Data + "/b.txt", 1).Code, 0);
    RunState::SetAbortRequested(true);
    ZipStepResult finish = Engine.FinishArchive(job, true);
    EXPECT_EQ(finish.Code, ZE_ABORT);
    EXPECT_TRUE(finish.IsError);
    EXPECT_EQ(EntryCount(Target), 0u); // neither the archive nor a temporary file
    EXPECT_EQ(owner.Messages.back(), "Backup aborted!");
    std::string sLog = Log();
    EXPECT_NE(sLog.find("Backup terminated by user"), std::string::npos);
    EXPECT_NE(sLog.find("The user aborted zip prematurely with control-C (or similar)"), std::string::npos);
}

TEST_F(ZipEngineTest, PollStopsTheArchiveWithinALongFile) {
    std::string sNoise = Noise(10u << 20, 7);
    Put("a.txt", "a");
    Put("b-long.bin", sNoise);
    Put("c.txt", "c");
    std::vector<std::string> announced;
    int polls = 0;
    ZipUserFunctions fns;
    fns.Service = [&](const std::string& sName, int64_t) {
        announced.push_back(fs::path(sName).filename().string());
        return 0;
    };
    fns.Poll = [&] { return ++polls == 2 ? 1 : 0; };
    UseEngine(fns);
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data}), ZE_ABORT);
    EXPECT_EQ(polls, 2);
    EXPECT_EQ(announced, std::vector<std::string>({"a.txt", "b-long.bin"})); // stopped inside the long file
    EXPECT_EQ(EntryCount(Target), 0u);                                       // neither the archive nor a temporary file

    // Polls that go on change nothing.
    polls = -100;
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data}), 0);
    EXPECT_GE(polls, -98);
    EXPECT_TRUE(ReadArchive(ZipFile)[Stored(Data) + "/b-long.bin"] == sNoise);
}

TEST_F(ZipEngineTest, ArchiveFailuresMapToResultCodes) {
    Put("a.txt", "a");
    ZipJobValues job;
    // A folder that does not exist: the archive cannot be created.
    std::string sMissing = App + "nowhere/Job.zip";
    EXPECT_EQ(Engine.ArchiveEntry(job, sMissing, Data, 0).Code, 0);
    ZipStepResult finish = Engine.FinishArchive(job, true);
    EXPECT_EQ(finish.Code, ZE_CREAT);
    EXPECT_TRUE(finish.IsError);
    EXPECT_NE(Log().find("Zip was unable to create a file to write to"), std::string::npos);

    // Something that is not a zip archive under the archive's name is left alone.
    WriteFile(Target + "Job.zip", "this is not a zip archive");
    ZipStepResult r = Engine.ArchiveEntry(job, ZipFile, Data, 0);
    EXPECT_EQ(r.Code, ZE_FORM);
    EXPECT_TRUE(r.IsError);
    Engine.FinishArchive(job, true);
    EXPECT_EQ(ReadFile(ZipFile), "this is not a zip archive");

    // A name list that names nothing.
    Engine.ZpInit({});
    EXPECT_EQ(Engine.ZpArchive(ZipFile + "2", {}), ZE_NONE);
    EXPECT_EQ(Engine.ZpArchive("", {Data}), ZE_NAME);
}

// A full disk while writing: result 14 and nothing left behind. Needs a small file system;
// skipped where this process may not mount one.
TEST_F(ZipEngineTest, FullDiskGivesAWriteErrorAndLeavesNothing) {
    std::string sSmall = App + "small";
    fs::create_directories(sSmall);
    if (std::system(("mount -t tmpfs -o size=128k tmpfs '" + sSmall + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    Put("noise.bin", Noise(1u << 20, 3));
    ZipJobValues job;
    std::string sZip = sSmall + "/Job.zip";
    EXPECT_EQ(Engine.ArchiveEntry(job, sZip, Data, 0).Code, 0);
    ZipStepResult finish = Engine.FinishArchive(job, true);
    size_t left = EntryCount(sSmall);
    std::system(("umount '" + sSmall + "'").c_str());
    EXPECT_EQ(finish.Code, ZE_WRITE);
    EXPECT_TRUE(finish.IsError);
    EXPECT_EQ(left, 0u);
    EXPECT_NE(Log().find("Error writing to a file"), std::string::npos);
}
