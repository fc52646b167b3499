#include "engine/CFileFinder.h"
#include "engine/libCopyFixture.h"

using copytest::CopyFixture;

namespace {

class FileFinderTest : public CopyFixture {
protected:
    std::vector<std::string> All(CFileFinder& finder, const std::string& sPattern) {
        std::vector<std::string> names;
        for (std::string name = finder.FindFirst(sPattern); !name.empty(); name = finder.FindNext())
            names.push_back(name);
        return names;
    }
};

TEST_F(FileFinderTest, WildcardsIgnoreCaseStarDotStarMatchesNamesWithoutDotAndMissesAreNotFound) {
    for (const char* name : {"d/Report.TXT", "d/notes.txt", "d/README", "d/x.doc"})
        Write(name, "1");
    CFileFinder finder;
    for (const char* missing : {"d/*.pdf", "missing/*.*", "d/b.txt"}) {
        EXPECT_EQ(finder.FindFirst(P(missing)), "") << missing;
        EXPECT_EQ(finder.LastError(), ENOENT) << missing;
    }
    EXPECT_EQ(finder.FindFirst(P("d/")), "");
    EXPECT_EQ(finder.Attrib(), 0);
    EXPECT_EQ(All(finder, P("d/*.txt")), (std::vector<std::string>{"Report.TXT", "notes.txt"}));
    EXPECT_EQ(All(finder, P("d/*.*")),
              (std::vector<std::string>{".", "..", "README", "Report.TXT", "notes.txt", "x.doc"}));
    EXPECT_EQ(All(finder, P("d/?.DOC")), (std::vector<std::string>{"x.doc"}));
    // A plain name is the exact name.
    EXPECT_EQ(All(finder, P("d/readme")), std::vector<std::string>{});
    EXPECT_EQ(All(finder, P("d/README")), (std::vector<std::string>{"README"}));
    EXPECT_EQ(finder.FindNext(), "");
}

TEST_F(FileFinderTest, AttributesAndSize) {
    Write("d/ro.txt", "12345");
    Write("d/rw.txt", "");
    std::filesystem::create_directories(P("d/sub"));
    chmod(P("d/ro.txt").c_str(), 0444);
    CFileFinder finder;
    ASSERT_EQ(finder.FindFirst(P("d/ro.txt")), "ro.txt");
    // Never copied: the archive bit is set.
    EXPECT_EQ(finder.Attrib(), CFileFinder::AttrReadOnly | CFileFinder::AttrArchive);
    EXPECT_EQ(finder.StatData().st_size, 5);
    EXPECT_EQ(finder.FoundPath(), P("d/ro.txt"));
    ASSERT_EQ(finder.FindFirst(P("d/sub")), "sub");
    EXPECT_EQ(finder.Attrib(), CFileFinder::AttrDirectory);
    ASSERT_EQ(finder.FindFirst(P("d/rw.txt")), "rw.txt");
    ArchiveFlags::Instance().Clear(P("d/rw.txt"), finder.StatData());
    ASSERT_EQ(finder.FindFirst(P("d/rw.txt")), "rw.txt");
    EXPECT_EQ(finder.Attrib(), 0);
}

TEST_F(FileFinderTest, LastWriteTimeIn100nsSince1601) {
    Write("d/epoch", "");
    Write("d/later", "");
    SetMTime("d/epoch", 0);
    SetMTime("d/later", 1000000000, 123456789);
    CFileFinder epoch;
    CFileFinder later;
    ASSERT_EQ(epoch.FindFirst(P("d/epoch")), "epoch");
    ASSERT_EQ(later.FindFirst(P("d/later")), "later");
    EXPECT_EQ(epoch.LastWriteTime(), 116444736000000000ULL);
    // Past 2^32 units: nothing of the count is cut off.
    EXPECT_EQ(later.LastWriteTime(), 116444736000000000ULL + 1000000000ULL * 10000000ULL + 1234567ULL);
    EXPECT_EQ(CFileFinder::FileTimeFromUnixNs(1000000000LL * 1000000000LL + 123456789), later.LastWriteTime());
}

} // namespace
