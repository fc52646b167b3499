// AES-256 archives (WinZip AE-2): written by the engine, read back by libzip, 7-Zip and bsdtar,
// refused with a wrong password, one salt per entry, carried on untouched when an archive is
// added to, verified through their authentication codes; and archives 7-Zip wrote, read here.

#include "ArchiveBytes.h"
#include "engine/libRestore.h"
#include "engine/libVerify.h"

using namespace ziptest;

namespace {

struct LocalHeader {
    int Method = 0;
    int Encrypted = 0;
    unsigned long Crc = 0;
    std::string Aes, Salt;
};

} // namespace

class ZipAesTest : public ZipEngineTest {
protected:
    std::map<std::string, LocalHeader> Headers(const std::string& sZip) {
        const std::string sOut = App + "localheaders.txt";
        EXPECT_EQ(Tool("local_headers", {sZip}, sOut), 0);
        std::map<std::string, LocalHeader> out;
        std::ifstream in(sOut);
        std::string sName;
        LocalHeader h;
        while (in >> sName >> h.Method >> h.Encrypted >> h.Crc >> h.Aes >> h.Salt)
            out[sName] = h;
        return out;
    }
    ZipJobValues AesJob(const std::string& sPassword = "s3cret pass") {
        ZipJobValues job;
        job.Password = sPassword;
        job.Aes = true;
        return job;
    }
};

TEST_F(ZipAesTest, EveryEntryIsAesWithItsOwnSaltAndOpensOnlyWithThePassword) {
    const std::string sKnown = "KNOWN-PLAINTEXT-" + std::string(3000, 'k') + "-END";
    Put("known.txt", sKnown);
    Put("empty.txt", "");
    Put("noise.bin", Noise(70000, 3));                            // stored: deflate cannot shrink it
    Put("long.txt", std::string(9u << 20, 'L') + "tail of long"); // deflated in pieces
    Put("sub/deep.txt", "deep");
    ASSERT_EQ(::symlink("known.txt", (Data + "/link").c_str()), 0);
    ZipJobValues job = AesJob();
    job.Subdirectories = true;
    ASSERT_EQ(Run(job, {Data})[0].Code, 0);

    // Nothing of a known file's text is in the archive's bytes.
    const std::string sBytes = ReadFile(ZipFile);
    EXPECT_EQ(sBytes.find("KNOWN-PLAINTEXT"), std::string::npos);
    EXPECT_EQ(sBytes.find("tail of long"), std::string::npos);

    // Every file entry: method 99, AE-2 for AES-256 with its real method, CRC 0, a salt of its own.
    const std::string d = Stored(Data);
    auto headers = Headers(ZipFile);
    std::set<std::string> salts;
    for (const std::string sName : {"known.txt", "empty.txt", "noise.bin", "long.txt", "sub/deep.txt"}) {
        const LocalHeader& h = headers[d + "/" + sName];
        EXPECT_EQ(h.Method, 99) << sName;
        EXPECT_EQ(h.Encrypted, 1) << sName;
        EXPECT_EQ(h.Crc, 0u) << sName;
        EXPECT_EQ(h.Aes, std::string("2:AE:3:") + (sName == "known.txt" || sName == "long.txt" ? "8" : "0")) << sName;
        salts.insert(h.Salt);
    }
    EXPECT_EQ(salts.size(), 5u);
    EXPECT_EQ(salts.count("-"), 0u);
    EXPECT_EQ(headers[d + "/link"].Method, 0); // a link's target is stored as its name is: in the clear

    // libzip, 7-Zip and bsdtar read it with the password, refuse it without or with another.
    auto read = ReadArchive(ZipFile, "s3cret pass");
    EXPECT_EQ(read[d + "/known.txt"], sKnown);
    EXPECT_EQ(read[d + "/empty.txt"], "");
    EXPECT_EQ(read[d + "/noise.bin"], Noise(70000, 3));
    EXPECT_EQ(read[d + "/long.txt"], std::string(9u << 20, 'L') + "tail of long");
    EXPECT_EQ(ReadArchive(ZipFile, "wrong")[d + "/known.txt"], "<unreadable>");
    EXPECT_EQ(Shell("7zz t '-ps3cret pass' '" + ZipFile + "'"), 0);
    EXPECT_NE(Shell("7zz t -pwrong '" + ZipFile + "'"), 0);
    const std::string sOut = Extracted("bsdtar -x --passphrase 's3cret pass' -f '%z' -C '%o'", ZipFile);
    ASSERT_FALSE(sOut.empty());
    EXPECT_EQ(ReadFile(sOut + "/" + d + "/known.txt"), sKnown);
    EXPECT_EQ(ReadFile(sOut + "/" + d + "/long.txt"), std::string(9u << 20, 'L') + "tail of long");
    EXPECT_TRUE(Extracted("bsdtar -x --passphrase wrong -f '%z' -C '%o'", ZipFile).empty());

    // Every header's checksum field stands beside the AES field, read by a second reader too.
    archivetest::ExpectSoundFields(ZipFile);
    // Sound to the archive check and to verify, whose CRC is the authentication code here.
    bool bOpened = false;
    for (const auto& e : archivetest::ReadEntries(ZipFile, bOpened, ZIP_CHECKCONS))
        EXPECT_EQ(e.Damage, "") << e.Name;
    EXPECT_TRUE(bOpened);
    std::string sWhy;
    EXPECT_TRUE(libVerify::VerifyArchive(ZipFile, "s3cret pass", sWhy)) << sWhy;
    EXPECT_FALSE(libVerify::VerifyArchive(ZipFile, "wrong", sWhy));
}

TEST_F(ZipAesTest, AChangedByteOfEncryptedDataFailsVerify) {
    Put("a.bin", Noise(5000, 9)); // stored: a flipped byte would pass any inflate
    ASSERT_EQ(Run(AesJob(), {Data + "/a.bin"})[0].Code, 0);
    std::string sWhy;
    ASSERT_TRUE(libVerify::VerifyArchive(ZipFile, "s3cret pass", sWhy)) << sWhy;
    archivetest::Bytes b = archivetest::Load(ZipFile);
    const size_t at = 30 + Stored(Data).size() + 6 + 9 + 11 + 18 + 2000; // inside the encrypted data
    b[at] = static_cast<unsigned char>(b[at] ^ 0x40);
    archivetest::Save(ZipFile, b);
    EXPECT_FALSE(libVerify::VerifyArchive(ZipFile, "s3cret pass", sWhy));
    EXPECT_NE(sWhy.find("a.bin"), std::string::npos) << sWhy;
}

TEST_F(ZipAesTest, AddingToAnAesArchiveKeepsItsEntriesAsTheyAre) {
    Put("first.txt", "first entry text");
    ZipJobValues job = AesJob();
    ASSERT_EQ(Run(job, {Data + "/first.txt"})[0].Code, 0);
    const std::string d = Stored(Data);
    const std::string sSalt = Headers(ZipFile)[d + "/first.txt"].Salt;

    // A later run adds traditionally encrypted entries; the AES one keeps its salt and keys.
    Put("second.txt", "second entry text");
    job.Aes = false;
    ASSERT_EQ(Run(job, {Data + "/second.txt"})[0].Code, 0);
    auto headers = Headers(ZipFile);
    EXPECT_EQ(headers[d + "/first.txt"].Salt, sSalt);
    EXPECT_EQ(headers[d + "/first.txt"].Method, 99);
    EXPECT_EQ(headers[d + "/second.txt"].Method, 0);
    EXPECT_EQ(headers[d + "/second.txt"].Encrypted, 1);

    // And AES again: both kept, the new one with a fresh salt.
    Put("third.txt", "third entry text");
    job.Aes = true;
    ASSERT_EQ(Run(job, {Data + "/third.txt"})[0].Code, 0);
    headers = Headers(ZipFile);
    EXPECT_EQ(headers[d + "/first.txt"].Salt, sSalt);
    EXPECT_EQ(headers[d + "/third.txt"].Method, 99);
    EXPECT_NE(headers[d + "/third.txt"].Salt, sSalt);
    auto read = ReadArchive(ZipFile, "s3cret pass");
    EXPECT_EQ(read[d + "/first.txt"], "first entry text");
    EXPECT_EQ(read[d + "/second.txt"], "second entry text");
    EXPECT_EQ(read[d + "/third.txt"], "third entry text");
    EXPECT_EQ(Shell("7zz t '-ps3cret pass' '" + ZipFile + "'"), 0);
    std::string sWhy;
    EXPECT_TRUE(libVerify::VerifyArchive(ZipFile, "s3cret pass", sWhy)) << sWhy;
}

TEST_F(ZipAesTest, ArchivesOf7ZipAreReadVerifiedAndAddedTo) {
    Put("seven/a.txt", std::string(4000, 'a'));
    Put("seven/b.bin", Noise(3000, 5));
    for (const std::string sStrength : {"AES128", "AES256"}) {
        fs::remove(ZipFile);
        ASSERT_EQ(Shell("cd '" + Data + "' && 7zz a -tzip -mem=" + sStrength + " -ppw7 '" + ZipFile + "' seven"), 0);
        std::string sWhy;
        EXPECT_TRUE(libVerify::VerifyArchive(ZipFile, "pw7", sWhy)) << sStrength << ": " << sWhy;
        EXPECT_FALSE(libVerify::VerifyArchive(ZipFile, "wrong", sWhy)) << sStrength;

        // Added to by a run: 7-Zip's entries are carried on as they were.
        Put("added.txt", "added");
        ZipJobValues job = AesJob("pw7");
        ASSERT_EQ(Run(job, {Data + "/added.txt"})[0].Code, 0) << sStrength;
        auto read = ReadArchive(ZipFile, "pw7");
        EXPECT_EQ(read["seven/a.txt"], std::string(4000, 'a')) << sStrength;
        EXPECT_EQ(read["seven/b.bin"], Noise(3000, 5)) << sStrength;
        EXPECT_EQ(read[Stored(Data) + "/added.txt"], "added") << sStrength;
        EXPECT_EQ(Shell("7zz t -ppw7 '" + ZipFile + "'"), 0) << sStrength;
        EXPECT_TRUE(libVerify::VerifyArchive(ZipFile, "pw7", sWhy)) << sStrength << ": " << sWhy;
    }
}

// Zip64 with AES: a sparse file over 4 GiB (slow, see Zip64ForAFileOver4GiB).
TEST_F(ZipAesTest, Zip64AesEntryOver4GiB) {
    if (!std::getenv("STOWLINE_SLOW_TESTS")) GTEST_SKIP() << "set STOWLINE_SLOW_TESTS=1 to run";
    const std::string sBig = Data + "/big.bin";
    ASSERT_NO_FATAL_FAILURE(MakeSparseOver4GiB(sBig));
    ASSERT_EQ(Run(AesJob(), {sBig})[0].Code, 0);
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(za, 0, 0, &st), 0);
    EXPECT_EQ(st.size, (uint64_t{1} << 32) + 12345);
    EXPECT_EQ(st.encryption_method, ZIP_EM_AES_256);
    zip_discard(za);
    EXPECT_EQ(Shell("7zz t '-ps3cret pass' '" + ZipFile + "'"), 0);
    std::string sWhy;
    EXPECT_TRUE(libVerify::VerifyArchive(ZipFile, "s3cret pass", sWhy)) << sWhy;
}

// The restore window asks for the password until CheckPassword takes it: for AES, the
// verifier and the authentication code decide, whatever the entry's size or method.
TEST_F(ZipAesTest, PasswordCheckOfTheRestoreWindowKnowsAes) {
    Put("a.txt", std::string(100000, 'a')); // deflated: the CRC libzip misreads would fail it
    Put("b.bin", Noise(3000, 4));
    ZipJobValues job = AesJob();
    job.Subdirectories = true;
    ASSERT_EQ(Run(job, {Data})[0].Code, 0);
    libRestore::BackupInfo backup;
    backup.Path = ZipFile;
    backup.IsArchive = true;
    EXPECT_EQ(libRestore::CheckPassword(backup, "s3cret pass"), libRestore::Status::Ok);
    EXPECT_EQ(libRestore::CheckPassword(backup, "s3cret pas"), libRestore::Status::WrongPassword);
    EXPECT_EQ(libRestore::CheckPassword(backup, ""), libRestore::Status::WrongPassword);
}
