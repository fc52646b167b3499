#include "common/TempAppFolder.h"
#include "support/StowError.h"
#include "support/libFiles.h"

#include <unistd.h>

using namespace libFiles;

class Files : public TempAppFolder {};

TEST_F(Files, PathTexts) {
    EXPECT_EQ(FilePathStripFileName("/data/a.txt"), "/data/");
    EXPECT_EQ(FilePathStripFileName("D:a.txt"), "D:");
    EXPECT_EQ(FilePathStripFileName("a.txt"), "");
    EXPECT_EQ(FilePathStripPath("/data/a.txt"), "a.txt");
    EXPECT_EQ(FilePathStripPath("/data/"), "");
    EXPECT_EQ(FilePathStripPath("D:a.txt"), "a.txt");
    EXPECT_EQ(RemoveTrailingSlash("/"), "/");
    std::string s = Root + "sub/";
    uMkDir(Root + "sub");
    NormalizeFolderPath(s);
    EXPECT_EQ(s, Root + "sub/");
    WriteFile(Root + "f", "x");
    s = Root + "f/";
    NormalizeFolderPath(s);
    EXPECT_EQ(s, Root + "f");
}

TEST_F(Files, FoldersAreMadeAndRemoved) {
    EXPECT_FALSE(uMkDir(Root + "a/"));
    EXPECT_TRUE(DirExists(Root + "a"));
    EXPECT_FALSE(uMkDir(Root + "a"));                                             // existing: nothing to do
    EXPECT_THROW(uMkDir(Root + "x/y/z"), libErrorHandler::FatalApplicationError); // the parent must exist
    EXPECT_TRUE(Exists(App + "stowline.err"));
    WriteFile(Root + "plainfile", "x");
    EXPECT_THROW(uMkDir(Root + "plainfile/"), libErrorHandler::FatalApplicationError); // a file is not a folder
    EXPECT_NE(ReadFile(App + "stowline.err").find("libFiles/uMkDir()."), std::string::npos);

    for (const char* f : {"one.txt", ".hidden", "noext", "s1/s2/deep.bin", "s1/ro.txt"})
        WriteFile(Root + "t/" + f, f);
    chmod((Root + "t/s1/ro.txt").c_str(), 0444);
    WriteFile(Root + "outside/keep.txt", "k");
    symlink((Root + "outside").c_str(), (Root + "t/link").c_str()); // a link is removed, never followed
    EXPECT_EQ(uRmDir(Root + "t"), RmDirResult::Removed);
    EXPECT_FALSE(Exists(Root + "t"));
    EXPECT_TRUE(Exists(Root + "outside/keep.txt"));

    // A NUL byte would make the system see the parent folder: refused, nothing removed, at once.
    WriteFile(Root + "n/sub/keep.txt", "k");
    EXPECT_EQ(uRmDir(Root + "n" + std::string(1, '\0') + "/sub"), RmDirResult::Refused);
    EXPECT_TRUE(Exists(Root + "n/sub/keep.txt"));
    EXPECT_FALSE(uKill(Root + "n/sub" + std::string(1, '\0') + "/*.*"));
    EXPECT_TRUE(Exists(Root + "n/sub/keep.txt"));
    EXPECT_EQ(uRmDir("/"), RmDirResult::Refused);
    EXPECT_EQ(uRmDir("/x/"), RmDirResult::Refused); // shorter than 4: refused without looking
    EXPECT_TRUE(std::filesystem::exists("/"));

    // A folder that is not there is a failure, reported as such, not a refusal.
    const std::string sReport = ReadFile(App + "stowline.err");
    EXPECT_THROW((void)uRmDir(Root + "gone/"), libErrorHandler::FatalApplicationError);
    const std::string sNew = ReadFile(App + "stowline.err").substr(sReport.size());
    EXPECT_NE(sNew.find("libFiles/uRmDir()."), std::string::npos);
    EXPECT_NE(sNew.find(Root + "gone"), std::string::npos);
}

TEST_F(Files, KillDeletesMatchingFilesOnly) {
    for (const char* f : {"a.LOG", "b.log", "c.txt", "noext", "sub.log/inner"})
        WriteFile(Root + "k/" + f, "");
    chmod((Root + "k/b.log").c_str(), 0444);
    EXPECT_FALSE(uKill(Root + "k/*.log"));
    EXPECT_FALSE(Exists(Root + "k/a.LOG"));
    EXPECT_FALSE(Exists(Root + "k/b.log"));
    EXPECT_TRUE(Exists(Root + "k/c.txt"));
    EXPECT_TRUE(Exists(Root + "k/sub.log/inner")); // folders are not files
    EXPECT_FALSE(uKill(Root + "k/nothing*.zip"));  // no match: nothing happens
    EXPECT_FALSE(uKill(Root + "k/c.txt"));
    EXPECT_FALSE(Exists(Root + "k/c.txt"));
    EXPECT_FALSE(uKill(Root + "k/*.*"));
    EXPECT_FALSE(Exists(Root + "k/noext"));
    EXPECT_FALSE(uKill(Root + "missingfolder/*.*"));
}

TEST_F(Files, CopyKeepsTimeAndModeAndOverwritesReadOnlyTarget) {
    std::string big;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        big += static_cast<char>(i * 7);
    WriteFile(Root + "src.bin", big);
    chmod((Root + "src.bin").c_str(), 0640);
    struct timespec times[2] = {{1600000000, 123456789}, {1500000000, 987654321}};
    utimensat(AT_FDCWD, (Root + "src.bin").c_str(), times, 0);
    WriteFile(Root + "dst/src.bin", "old");
    chmod((Root + "dst/src.bin").c_str(), 0444);
    ASSERT_NO_THROW(CopyFileAtomic(Root + "src.bin", Root + "dst/src.bin"));
    EXPECT_EQ(ReadFile(Root + "dst/src.bin"), big);
    struct stat st;
    ASSERT_EQ(stat((Root + "dst/src.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ModTimeNs(Root + "dst/src.bin"), 1500000000LL * 1000000000 + 987654321);
    EXPECT_EQ(FileLen(Root + "dst/src.bin"), big.size());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Root + "dst"), std::filesystem::directory_iterator()),
              1); // no temporary file left
    // A missing source and a missing target folder raise classic errors and leave nothing.
    try {
        CopyFileAtomic(Root + "absent", Root + "dst/x");
        FAIL();
    } catch (const StowError& e) {
        EXPECT_EQ(e.Number, 53);
    }
    EXPECT_THROW(CopyFileAtomic(Root + "src.bin", Root + "nofolder/x"), StowError);
    ASSERT_EQ(mkfifo((Root + "fifo").c_str(), 0644), 0); // must not block waiting for a writer
    EXPECT_THROW(CopyFileAtomic(Root + "fifo", Root + "dst/fifo"), StowError);
    EXPECT_THROW(ReadWholeFile(Root + "fifo"), StowError);
    EXPECT_FALSE(Exists(Root + "dst/fifo"));
    if (geteuid() != 0) {
        chmod((Root + "src.bin").c_str(), 0);
        try {
            CopyFileAtomic(Root + "src.bin", Root + "dst/y");
            FAIL();
        } catch (const StowError& e) {
            EXPECT_EQ(e.Number, 70); // locked or unreadable
        }
        EXPECT_FALSE(Exists(Root + "dst/y"));
    }
}

// Refuses the kernel's copy as a copy between two file systems does, and counts the attempts.
struct CrossDeviceCopier : FileCopier {
    int Attempts = 0;
    ssize_t KernelCopy(int, off_t*, int, off_t*, size_t) override { return ++Attempts, errno = EXDEV, -1; }
};

TEST_F(Files, SparseFilesStaySparseAndTheKernelIsAskedOncePerCopier) {
    // 16 MiB of which two 1 MiB pieces hold data, at the start and in the middle; the end is a hole.
    const std::string sparse = Root + "disk.img", piece(1 << 20, 'd');
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::pwrite(fd, piece.data(), piece.size(), 0) + ::pwrite(fd, piece.data(), piece.size(), 8 << 20), 2 << 20);
    ASSERT_EQ(::ftruncate(fd, 16 << 20) + ::close(fd), 0);
    struct stat src {
    }, dst{};
    ASSERT_EQ(stat(sparse.c_str(), &src), 0);
    if (src.st_blocks * 512 >= src.st_size) GTEST_SKIP() << "this file system keeps no holes";
    const std::string original = ReadFile(sparse);
    for (const bool bCrossDevice : {false, true}) {
        CrossDeviceCopier refusing;
        FileCopier kernel;
        FileCopier& copier = bCrossDevice ? static_cast<FileCopier&>(refusing) : kernel;
        for (const char* sName : {"a.img", "b.img"}) { // four data ranges with one copier
            CopyFileAtomic(sparse, Root + sName, "", &copier);
            ASSERT_EQ(stat((Root + sName).c_str(), &dst), 0);
            EXPECT_EQ(dst.st_size, src.st_size);
            EXPECT_LE(dst.st_blocks, src.st_blocks + 16) << bCrossDevice; // the holes stayed holes
            EXPECT_EQ(ReadFile(Root + sName), original);
        }
        EXPECT_EQ(copier.KernelRefused(), bCrossDevice);
        EXPECT_EQ(refusing.Attempts, bCrossDevice ? 1 : 0); // refused once, never asked again
    }
}

TEST_F(Files, ViewFileChecksThenStartsTheViewer) {
    ViewFile(Root + "none.log", "Transaction Log", "xdg-open");
    WriteFile(Root + "empty.log", "");
    ViewFile(Root + "empty.log", "Error log", "xdg-open");
    WriteFile(Root + "we$ird \"name\".log", "x");
    ViewFile(Root + "we$ird \"name\".log", "Transaction Log", "myviewer");
    auto msgs = Seam->Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].Text, "Transaction Log file does not exist");
    EXPECT_EQ(msgs[0].IconKind, UserInteraction::Icon::Information);
    EXPECT_EQ(msgs[1].Text, "Error log file is empty");
    ASSERT_EQ(Seam->Calls.size(), 3u);
    EXPECT_EQ(Seam->Calls[2].Kind, "StartProgram");
    EXPECT_EQ(Seam->Calls[2].Request.Text, "myviewer \"" + Root + "we\\$ird \\\"name\\\".log\"");
    ViewFile(Root + "none.log", "X", "v", true); // checks skipped
    EXPECT_EQ(Seam->Calls.back().Kind, "StartProgram");
}

TEST_F(Files, WaitForFileDoesNotWaitForAPathThatPlainlyIsNotThere) {
    // A missing path is an answer; only a failing look-up (no medium) is waited on.
    Seam->EventsRun = 0;
    WaitForFile(Root + "missing/file.txt");
    WaitForFile(Root + "missing");
    EXPECT_EQ(Seam->EventsRun, 0);
}
