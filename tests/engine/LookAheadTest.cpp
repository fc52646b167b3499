#include "engine/LookAhead.h"
#include "engine/libCopy.h"
#include "engine/libCopyFixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

using copytest::CopyFixture;
using libCopy::detail::EnteredBefore;
using libCopy::detail::LookAhead;

namespace {

class LookAheadTest : public CopyFixture {
protected:
    // The folders an Update walk of src/W enters, relative to it, in the order it enters them.
    std::vector<std::string> WalkOrder() {
        ClearLog();
        std::filesystem::create_directories(P("target"));
        int32_t lFiles = 0;
        double dBytes = 0;
        bool bFailed = false;
        libCopy::CopyFiles(lFiles, dBytes, P("src/W/*.*"), P("target/W/"), false, true, libCopy::CopyUpdate, "",
                           bFailed);
        EXPECT_FALSE(bFailed);
        std::vector<std::string> folders;
        const std::string prefix = "  + " + P("src/W/");
        for (const auto& line : LogLines())
            if (line.starts_with(prefix)) {
                std::string relative = line.substr(prefix.size());
                if (!relative.empty()) relative.pop_back(); // the final "/"
                folders.push_back(relative);
            }
        return folders;
    }
};

TEST_F(LookAheadTest, TheOrderIsTheWalksOwnForAwkwardNames) {
    for (const char* folder : {"a", "B", "b", "b/x", "b/x/y", "b-", "b.c", "a b", "\xc3\xa9t\xc3\xa9", "~", "Z/1"})
        Write(std::string("src/W/") + folder + "/f.txt", "f");
    Write("src/W/top.txt", "t");
    const std::vector<std::string> walked = WalkOrder();
    ASSERT_EQ(walked.size(), 13U); // the root, the eleven folders and "Z"
    std::vector<std::string> sorted = walked;
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return EnteredBefore(a, b); });
    EXPECT_EQ(sorted, walked);
    EXPECT_FALSE(EnteredBefore("b", "b"));
    EXPECT_TRUE(EnteredBefore("", "a"));
    EXPECT_TRUE(EnteredBefore("b", "b/x"));
    EXPECT_TRUE(EnteredBefore("b/x/y", "a"));
}

TEST_F(LookAheadTest, AListingIsAlwaysTheFoldersOwnAndTheWalkNeverWaitsInVain) {
    Write("dest/top.txt", "t");
    SetMTime("dest/top.txt", 1600000000, 5);
    Write("dest/m/inner.txt", "i");
    SetMTime("dest/m/inner.txt", 1500000000, 7);
    // More folders than are listed ahead, all before "m" and none of them entered; each holds a
    // file of its own time, so that a listing handed to the wrong folder shows.
    for (int i = 0; i < 40; ++i) {
        const std::string file = "dest/z" + std::to_string(100 + i) + "/sub/x.txt";
        Write(file, "x");
        SetMTime(file, 1000000000 + i);
    }
    Write("dest/a/last.txt", "l");
    SetMTime("dest/a/last.txt", 1400000000);
    const auto ns = [](int64_t iSeconds, int64_t iNs = 0) { return iSeconds * 1000000000LL + iNs; };

    // One thread lists in walk order; several finish folders out of it. Whether a folder after
    // the first is listed by the time the walk enters it depends on the threads' pace: when it
    // is, the listing must be that folder's. The first rounds enter at once; later ones pause
    // before each folder, as the walk's own work would, longer each round, until each folder has
    // been found listed, so that the checks on a listing are sure to have run.
    for (unsigned iThreads : {1U, 4U}) {
        int iSubListed = 0;
        int iMListed = 0;
        int iAListed = 0;
        const auto allListed = [&] { return iSubListed > 0 && iMListed > 0 && iAListed > 0; };
        for (int iRound = 0; iRound < 10 || (!allListed() && iRound < 24); ++iRound) {
            SCOPED_TRACE(testing::Message() << iThreads << " threads, round " << iRound);
            const auto pause = [iRound] {
                if (iRound >= 10) std::this_thread::sleep_for(std::chrono::microseconds(100 << (iRound - 10)));
            };
            LookAhead lookAhead(P("dest"), true, iThreads);
            const auto root = lookAhead.Enter(""); // the first folder is waited for
            ASSERT_TRUE(root.has_value());
            EXPECT_EQ(root->ModifiedNs("top.txt"), ns(1600000000, 5));
            EXPECT_TRUE(root->ModifiedNs("m").has_value()); // folders are entries too
            EXPECT_FALSE(root->ModifiedNs("missing.txt").has_value());
            // "z139/sub" is entered, its siblings' trees are passed over.
            pause();
            if (const auto sub = lookAhead.Enter("z139/sub")) {
                ++iSubListed;
                EXPECT_EQ(sub->ModifiedNs("x.txt"), ns(1000000039));
            }
            EXPECT_FALSE(lookAhead.Enter("n").has_value()); // not in the destination
            pause();
            if (const auto m = lookAhead.Enter("m")) {
                ++iMListed;
                EXPECT_EQ(m->ModifiedNs("inner.txt"), ns(1500000000, 7));
                EXPECT_FALSE(m->ModifiedNs("x.txt").has_value());
            }
            pause();
            if (const auto a = lookAhead.Enter("a")) {
                ++iAListed;
                EXPECT_EQ(a->ModifiedNs("last.txt"), ns(1400000000));
            }
            EXPECT_FALSE(lookAhead.Enter("a/none").has_value()); // after the last folder
        }
        EXPECT_GT(iSubListed, 0) << iThreads << " threads: \"z139/sub\" never listed ahead of the walk";
        EXPECT_GT(iMListed, 0) << iThreads << " threads: \"m\" never listed ahead of the walk";
        EXPECT_GT(iAListed, 0) << iThreads << " threads: \"a\" never listed ahead of the walk";
    }
}

// The restore's listing enters sibling folders smallest name first: the look-ahead reads them
// in that order, ahead of it, each listing its own folder's.
TEST_F(LookAheadTest, AWalkThatEntersTheSmallerNameFirstIsReadAheadInItsOrder) {
    using libCopy::detail::SiblingOrder;
    EXPECT_TRUE(EnteredBefore("a", "b", SiblingOrder::SmallerFirst));
    EXPECT_TRUE(EnteredBefore("a/z/z", "b", SiblingOrder::SmallerFirst));
    EXPECT_TRUE(EnteredBefore("", "a", SiblingOrder::SmallerFirst));
    EXPECT_TRUE(EnteredBefore("b", "b/a", SiblingOrder::SmallerFirst));
    EXPECT_FALSE(EnteredBefore("b", "a/z", SiblingOrder::SmallerFirst));
    EXPECT_TRUE(EnteredBefore("\x7f", "\xc3\xa9", SiblingOrder::SmallerFirst)); // bytes, unsigned
    std::vector<std::string> folders;
    for (int i = 0; i < 40; ++i)
        folders.push_back("f" + std::to_string(100 + i));
    for (size_t i = 0; i < folders.size(); ++i) {
        Write("tree/" + folders[i] + "/x.txt", "x");
        SetMTime("tree/" + folders[i] + "/x.txt", 1000000000 + static_cast<int64_t>(i));
    }
    // Far ahead of where the walk starts: read only once the walk comes near it.
    std::vector<int> found(folders.size());
    const auto allFound = [&] { return std::all_of(found.begin(), found.end(), [](int n) { return n > 0; }); };
    for (int iRound = 0; iRound < 12 && !allFound(); ++iRound) {
        LookAhead ahead(P("tree"), true, 4, SiblingOrder::SmallerFirst);
        ASSERT_TRUE(ahead.Enter("").has_value());
        for (size_t i = 0; i < folders.size(); ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(100 << std::min(iRound, 8)));
            if (const auto listing = ahead.Enter(folders[i])) {
                ++found[i];
                EXPECT_EQ(listing->ModifiedNs("x.txt"), (1000000000 + static_cast<int64_t>(i)) * 1000000000LL)
                    << folders[i];
            }
        }
    }
    // Read ahead for a walk that looks every entry up itself: the folders come, their entries not.
    bool bReadAhead = false;
    for (int iTry = 1; iTry <= 20 && !bReadAhead; ++iTry) {
        LookAhead ahead(P("tree"), true, 4, SiblingOrder::SmallerFirst, false);
        ASSERT_TRUE(ahead.Enter("").has_value());
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * iTry));
        if (const auto listing = ahead.Enter(folders[0])) {
            bReadAhead = true;
            EXPECT_FALSE(listing->ModifiedNs("x.txt").has_value());
        }
    }
    EXPECT_TRUE(bReadAhead);
    // A folder swapped for a link to another after the root was read is never listed through
    // it (the walk would not follow it either); the root itself may be a link.
    ASSERT_EQ(::symlink(P("tree").c_str(), P("tree-link").c_str()), 0);
    {
        LookAhead ahead(P("tree-link"), true, 4, SiblingOrder::SmallerFirst);
        ASSERT_TRUE(ahead.Enter("").has_value());
        std::filesystem::rename(P("tree/f120"), P("tree/f120-moved"));
        std::filesystem::create_directory_symlink(P("tree/f100"), P("tree/f120"));
        for (size_t i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            (void)ahead.Enter(folders[i]);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(ahead.Enter("f120").has_value());
    }
    // With a pause before each folder, every folder was found read at least once; in the order
    // the copy walk uses, the look-ahead would have read "f139" first and the rest too late.
    for (size_t i = 0; i < folders.size(); ++i)
        EXPECT_GT(found[i], 0) << folders[i] << " never read ahead of the walk";
}

TEST_F(LookAheadTest, AFolderLargerThanAListingIsComparedFileByFile) {
    // A folder and its copy with more entries than one folder's listing keeps (links to one file
    // each, which are quicker to make): the names left out are looked up by the walk itself.
    for (const std::string tree : {"src", "target"}) {
        Write(tree + "/origin", "x");
        SetMTime(tree + "/origin", 1600000000);
        std::filesystem::create_directories(P(tree + "/W/big"));
        for (int i = 0; i < 8300; ++i)
            ASSERT_EQ(::link(P(tree + "/origin").c_str(), P(tree + "/W/big/f" + std::to_string(i)).c_str()), 0);
    }
    for (int i : {0, 4150, 8217}) {
        std::filesystem::remove(P("src/W/big/f" + std::to_string(i)));
        Write("src/W/big/f" + std::to_string(i), "new");
    }
    Write("src/W/big/new", "n");
    std::filesystem::remove(P("target/W/big/f166"));
    std::filesystem::remove(P("target/W/big/f249"));
    Write("target/W/big/f249", "older copy");
    SetMTime("target/W/big/f249", 1500000000);
    int32_t lFiles = 0;
    double dBytes = 0;
    bool bFailed = false;
    libCopy::CopyFiles(lFiles, dBytes, P("src/W/*.*"), P("target/W/"), false, true, libCopy::CopyUpdate, "", bFailed);
    EXPECT_FALSE(bFailed);
    EXPECT_EQ(lFiles, 6); // three newer, one new, one gone from the copy, one older copy
    EXPECT_EQ(Read("target/W/big/f249"), "x");
    EXPECT_EQ(Read("target/W/big/f4150"), "new");
    EXPECT_TRUE(Exists("target/W/big/f166"));
    EXPECT_EQ(Stat("target/origin").st_nlink, 8300U + 1U - 5U); // no other copy replaced
}

} // namespace
