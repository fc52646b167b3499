// The zip engine's choice of files: folders, wildcards, "-i" / "-x" patterns,
// exclusions and the incremental date, through real files and real archives.

#include "ZipFixture.h"
#include "engine/ZipInternal.h"

#include <sys/stat.h>

using namespace ziptest;

TEST_F(ZipEngineTest, FolderTreeWithFullPathNamesDotFilesAndLinks) {
    std::string sText(20000, 'a');
    Put("a.txt", sText);
    Put(".hidden", "dot file");
    Put("sub/b.txt", "bee");
    Put("sub/.cache/c.txt", "sea");
    fs::create_directories(Data + "/empty");
    fs::create_directory_symlink(Data + "/sub", Data + "/loop");
    fs::create_symlink(Data + "/a.txt", Data + "/link.txt");
    fs::create_symlink(Data + "/missing", Data + "/dangling");
    ASSERT_EQ(::mkfifo((Data + "/fifo").c_str(), 0600), 0);

    ZipJobValues job;
    job.Subdirectories = true;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Code, 0);
    EXPECT_EQ(finish.Code, 0);

    // Links are stored as links (their target is their data), never followed.
    auto entries = ReadArchive(ZipFile);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(entries),
              std::set<std::string>({d + "/", d + "/a.txt", d + "/.hidden", d + "/link.txt", d + "/sub/",
                                     d + "/sub/b.txt", d + "/sub/.cache/", d + "/sub/.cache/c.txt", d + "/empty/",
                                     d + "/loop", d + "/dangling"}));
    EXPECT_EQ(entries[d + "/a.txt"], sText);
    EXPECT_EQ(entries[d + "/link.txt"], Data + "/a.txt");
    EXPECT_EQ(entries[d + "/loop"], Data + "/sub");
    EXPECT_EQ(entries[d + "/dangling"], Data + "/missing");
    EXPECT_EQ(entries[d + "/sub/.cache/c.txt"], "sea");
    EXPECT_EQ(Shell("unzip -t '" + ZipFile + "'"), 0);
    // unzip makes them links again.
    const std::string sOut = App + "out";
    ASSERT_EQ(Shell("unzip -q '" + ZipFile + "' -d '" + sOut + "'"), 0);
    EXPECT_EQ(fs::read_symlink(sOut + Data + "/dangling"), Data + "/missing");
    EXPECT_TRUE(fs::is_symlink(sOut + Data + "/loop"));

    // Deflated at the maximum level, stored for nothing at all.
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat(za, (d + "/a.txt").c_str(), 0, &st), 0);
    EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
    EXPECT_LT(st.comp_size, 200u);
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    zip_file_get_external_attributes(za, static_cast<zip_uint64_t>(zip_name_locate(za, (d + "/loop").c_str(), 0)), 0,
                                     &opsys, &attr);
    EXPECT_EQ(opsys, ZIP_OPSYS_UNIX);
    EXPECT_TRUE(S_ISLNK(attr >> 16));
    zip_discard(za);
    // Each link named once, and the pipe that no archive can hold.
    const std::string sLog = Log();
    for (const std::string& sLine :
         {"  Stored link '" + Data + "/loop' -> '" + Data + "/sub'",
          "  Stored link '" + Data + "/dangling' -> '" + Data + "/missing'",
          "  Stored link '" + Data + "/link.txt' -> '" + Data + "/a.txt'", "  Not backed up: '" + Data + "/fifo'"})
        EXPECT_NE(sLog.find(sLine), std::string::npos) << sLine;
    EXPECT_EQ(std::count(sLog.begin(), sLog.end(), '\n'), 4);
}

TEST_F(ZipEngineTest, WildcardWithAndWithoutSubfolders) {
    Put("a.doc", "a");
    Put("B.DOC", "b");
    Put("c.txt", "c");
    Put("sub/d.doc", "d");
    std::string d = Stored(Data);

    // The names a new archive of the one entry holds.
    const auto namesOf = [&](const ZipJobValues& job, const std::string& sEntry) {
        fs::remove(ZipFile);
        EXPECT_EQ(Run(job, {sEntry}).at(0).Code, 0) << sEntry;
        return Names(ReadArchive(ZipFile));
    };
    // A folder without recursion takes its own files only.
    ZipJobValues flat, deep;
    deep.Subdirectories = true;
    EXPECT_EQ(namesOf(flat, Data), std::set<std::string>({d + "/", d + "/a.doc", d + "/B.DOC", d + "/c.txt"}));
    EXPECT_EQ(namesOf(flat, Data + "/*.doc"), std::set<std::string>({d + "/a.doc", d + "/B.DOC"}));
    EXPECT_EQ(namesOf(deep, Data + "/*.doc"), std::set<std::string>({d + "/a.doc", d + "/B.DOC", d + "/sub/d.doc"}));

    // A wildcard inside the name, without subfolders.
    Put("report1.txt", "r1");
    Put("report.doc", "r");
    Put("README", "no extension");
    EXPECT_EQ(namesOf(flat, Data + "/report*.txt"), std::set<std::string>({d + "/report1.txt"}));
    EXPECT_EQ(namesOf(flat, Data + "/R*.*"),
              std::set<std::string>({d + "/README", d + "/report.doc", d + "/report1.txt"}));

    // "*.*" takes everything, as the user means it.
    EXPECT_EQ(namesOf(deep, Data + "/*.*"),
              std::set<std::string>({d + "/a.doc", d + "/B.DOC", d + "/c.txt", d + "/README", d + "/report.doc",
                                     d + "/report1.txt", d + "/sub/", d + "/sub/d.doc"}));
    EXPECT_EQ(Log(), "");
}

TEST_F(ZipEngineTest, ExclusionsBeyondTheOldLimitAllApply) {
    for (int i = 0; i < 200; ++i)
        Put("f" + std::to_string(i) + ".dat", "x");
    Put("keep.txt", "k");
    Put("sub/skip.tmp", "s");
    Put("sub/keep.tmp2", "k");
    std::string sSpec = "*.TMP\r\n\r\n"; // a blank line names nothing
    for (int i = 0; i < 200; ++i)
        sSpec += "f" + std::to_string(i) + ".dat\r\n"; // the last ones lie past name 129
    ZipJobValues job;
    job.Subdirectories = true;
    job.ExcludeSpec = sSpec;
    Run(job, {Data});
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)),
              std::set<std::string>({d + "/", d + "/keep.txt", d + "/sub/", d + "/sub/keep.tmp2"}));
}

TEST_F(ZipEngineTest, IncludeAndExcludeNamesWithWildcardsAndPaths) {
    Put("a1.doc", "1");
    Put("ab.doc", "2");
    Put("~tmp.doc", "3");
    Put("cache/x.doc", "4");
    Put("sub/y.doc", "5");
    ZpOpt opt;
    opt.fRecurse = true;
    opt.fSystem = true;
    UseEngine({}, opt);
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data + "/", "-i", "/*.doc", "-x", "~*", "a#.doc", Data + "/cache/*"}), 0);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/ab.doc", d + "/sub/y.doc"}));
    // Only known switches are taken.
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {"-q", Data}), ZE_PARMS);
}

TEST_F(ZipEngineTest, IncrementalTakesFilesChangedSinceTheLastRunDay) {
    std::string sOld = Put("old.txt", "old");
    Put("new.txt", "new");
    Put("sub/older.txt", "older");
    std::time_t tenDaysAgo = std::time(nullptr) - 10 * 86400;
    SetFileTime(sOld, tenDaysAgo);
    SetFileTime(Data + "/sub/older.txt", tenDaysAgo);

    ZipJobValues job;
    job.Incremental = true;
    job.Subdirectories = true;
    job.DateLastRun = libDates::Now() - 2;
    Run(job, {Data});
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({Stored(Data) + "/new.txt"}));

    // Nothing changed since: no archive, no error, nothing logged.
    fs::remove(ZipFile);
    job.DateLastRun = libDates::Now() + 1;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    EXPECT_EQ(results[0].Code, ZE_NONE);
    EXPECT_FALSE(results[0].IsError);
    EXPECT_EQ(finish.Code, 0);
    EXPECT_FALSE(fs::exists(ZipFile));
    EXPECT_EQ(Log(), "");
}

TEST_F(ZipEngineTest, AWalkStopsAtItsDepthBoundAndNamesWhatItLeftOut) {
    Put("top.txt", "top");
    std::string sRel = "";
    for (int i = 0; i < detail::MaxWalkDepth + 3; ++i) {
        sRel += "d/";
        ASSERT_EQ(::mkdir((Data + "/" + sRel).c_str(), 0700), 0);
    }
    Put(sRel + "bottom.txt", "bottom");
    ZipJobValues job;
    job.Subdirectories = true;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    EXPECT_EQ(results[0].Code, ZE_OPEN);
    std::string sFirstLeft = Data;
    for (int i = 0; i <= detail::MaxWalkDepth; ++i)
        sFirstLeft += "/d";
    EXPECT_NE(Log().find("  Not backed up: '" + sFirstLeft + "': Folder nested too deeply"), std::string::npos);
    const auto names = Names(ReadArchive(ZipFile));
    EXPECT_TRUE(names.count(Stored(Data) + "/top.txt"));
    EXPECT_EQ(names.count(Stored(Data + "/" + sRel) + "bottom.txt"), 0u);
}

// The walk runs on a thread of its own ahead of the writer and hands over a bounded number of
// findings at a time. A tree far beyond that bound gives exactly the archive, in the same order,
// that a walk on the calling thread selects; an abort while the walk waits for room stops it.
TEST_F(ZipEngineTest, AWalkAheadOfTheWriterKeepsTheOrderOfOneOnTheCallingThread) {
    for (int f = 0; f < 40; ++f)
        for (int i = 0; i < 1000; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, "d%02d/%s%04d", f, i % 3 == 0 ? "Z" : "a", (i * 7919) % 10000);
            Put(name, std::string(1, static_cast<char>('a' + i % 26)));
        }
    fs::create_symlink("d00", Data + "/link");
    ASSERT_EQ(::mkfifo((Data + "/d05/fifo").c_str(), 0600), 0);
    ZpOpt opt;
    opt.fRecurse = true;
    opt.fSystem = true;
    opt.fLevel = '9';
    detail::EntryStore store;
    detail::Selection sel(store);
    ASSERT_EQ(detail::SelectFiles({Data}, opt, Probe, sel), ZE_OK);
    ASSERT_EQ(store.Size(), 40000u + 40 + 2);

    std::vector<std::string> shown;
    ZipUserFunctions fns;
    fns.Service = [&](const std::string& sPath, int64_t) {
        shown.push_back(sPath);
        return 0;
    };
    UseEngine(fns, opt);
    ASSERT_EQ(Engine.ZpArchive(ZipFile, {Data}), ZE_OK);
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    ASSERT_EQ(zip_get_num_entries(za, 0), static_cast<zip_int64_t>(store.Size()));
    std::vector<std::string> files;
    for (size_t i = 0; i < store.Size(); ++i) {
        EXPECT_EQ(zip_get_name(za, i, ZIP_FL_ENC_RAW), store.Name(i)) << i;
        if (store[i].Kind != detail::EntryKind::Dir) files.push_back(store.Path(i));
    }
    zip_discard(za);
    EXPECT_EQ(shown, files); // each file once, in archive order

    // Stopped at the 100th file, long before the walk could hand everything over.
    fs::remove(ZipFile);
    int calls = 0;
    fns.Service = [&](const std::string&, int64_t) { return ++calls == 100 ? 1 : 0; };
    UseEngine(fns, opt);
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data}), ZE_ABORT);
    EXPECT_EQ(calls, 100);
    EXPECT_EQ(EntryCount(Target), 0u); // neither the archive nor a temporary file
}
