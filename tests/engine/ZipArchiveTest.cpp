// The archives the zip engine writes: encryption, comments, one archive per run, adding to
// an existing archive, long files deflated in pieces, Zip64; read back with libzip and unzip.

#include "ArchiveBytes.h"
#include "engine/ZipWriter.h"

#include <libdeflate.h>
#include <sys/stat.h>

using namespace ziptest;

TEST_F(ZipEngineTest, PasswordArchiveNeedsThePasswordAndCarriesThePendingComment) {
    Put("secret.txt", std::string(5000, 's'));
    Put("other.txt", "other");
    libLog::SetPendingComment("Before the upgrade");
    ZipJobValues job;
    job.Password = "pa ss";
    auto results = Run(job, {Data + "/secret.txt", Data + "/other.txt"});
    EXPECT_EQ(results[0].Code, 0);
    EXPECT_EQ(results[1].Code, 0);
    EXPECT_TRUE(Seam->Calls.empty()); // password and comment come from the job: nobody is asked

    EXPECT_EQ(Shell("unzip -t -P 'pa ss' '" + ZipFile + "'"), 0);
    EXPECT_NE(Shell("unzip -t -P wrong '" + ZipFile + "'"), 0);
    auto withPassword = ReadArchive(ZipFile, "pa ss");
    EXPECT_EQ(withPassword[Stored(Data) + "/secret.txt"], std::string(5000, 's'));
    EXPECT_EQ(withPassword[Stored(Data) + "/other.txt"], "other");
    auto without = ReadArchive(ZipFile);
    EXPECT_EQ(without[Stored(Data) + "/secret.txt"], "<unreadable>");

    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(za, 0, 0, &st), 0);
    EXPECT_EQ(st.encryption_method, ZIP_EM_TRAD_PKWARE);
    int len = 0;
    const char* c = zip_get_archive_comment(za, &len, 0);
    EXPECT_EQ(std::string(c ? c : "", static_cast<size_t>(len)), "Before the upgrade"); // once, from entry zero
    zip_discard(za);

    // Without a pending comment nothing is stored and nobody is asked.
    fs::remove(ZipFile);
    libLog::SetPendingComment("");
    Run(job, {Data + "/other.txt"});
    za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    const char* none = zip_get_archive_comment(za, &len, 0);
    EXPECT_TRUE(none == nullptr || len == 0);
    zip_discard(za);
    EXPECT_TRUE(Seam->Calls.empty());
}

TEST_F(ZipEngineTest, DefaultPasswordRoutineAsksTheUser) {
    Put("a.txt", "a");
    ZpOpt opt;
    opt.fEncrypt = true;
    UseEngine({}, opt);
    Seam->Inputs.push_back("typed");
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data + "/a.txt"}), 0);
    ASSERT_EQ(Seam->Calls.size(), 1u);
    EXPECT_EQ(Seam->Calls[0].Kind, "InputBox");
    EXPECT_EQ(Seam->Calls[0].Request.Text, "Please enter password!");
    EXPECT_EQ(Shell("unzip -t -P typed '" + ZipFile + "'"), 0);

    // No answer: never stored in the clear.
    fs::remove(ZipFile);
    EXPECT_EQ(Engine.ZpArchive(ZipFile, {Data + "/a.txt"}), ZE_PARMS);
    EXPECT_FALSE(fs::exists(ZipFile));
}

TEST_F(ZipEngineTest, ArchiveIsWrittenOnceForAllEntriesAndKeepsThemPastALaterError) {
    Put("one/a.txt", "a");
    Put("two/b.txt", "b");
    ZipJobValues job;
    job.Subdirectories = true;
    EXPECT_EQ(Engine.ArchiveEntry(job, ZipFile, Data + "/one", 0).Code, 0);
    EXPECT_EQ(Engine.ArchiveEntry(job, ZipFile, Data + "/two", 1).Code, 0);
    EXPECT_FALSE(fs::exists(ZipFile)); // not rewritten per entry
    EXPECT_EQ(Engine.FinishArchive(job, true).Code, 0);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)),
              std::set<std::string>({d + "/one/", d + "/one/a.txt", d + "/two/", d + "/two/b.txt"}));

    // An abandoned run drops what it queued.
    fs::remove(ZipFile);
    EXPECT_EQ(Engine.ArchiveEntry(job, ZipFile, Data + "/one", 0).Code, 0);
    EXPECT_EQ(Engine.FinishArchive(job, false).Code, 0);
    EXPECT_FALSE(fs::exists(ZipFile));

    // A later entry's error keeps the earlier entries.
    ZipStepResult finish;
    auto results = Run(job, {Data + "/one/a.txt", Data + "/*.none", Data + "/one/a.txt"}, &finish);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].Code, ZE_NONE);
    EXPECT_EQ(finish.Code, 0);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/one/a.txt"}));
}

// Adding to an existing archive; replacing one of its entries puts it out of the order the files
// were queued in: such a file is deflated on the calling thread, in pieces too.
TEST_F(ZipEngineTest, ReplacedEntryOutOfQueueOrderIsWrittenCorrectly) {
    Put("a.txt", "old a");
    Put("b.txt", "b");
    UseEngine();
    ASSERT_EQ(Engine.ZpArchive(ZipFile, {Data + "/a.txt", Data + "/b.txt"}), 0);
    std::string sNew;
    for (int i = 0; sNew.size() < (3u << 20); ++i)
        sNew += "line " + std::to_string(i) + "\n";
    Put("a.txt", sNew);
    Put("c.txt", "c");
    ASSERT_EQ(Engine.ZpArchive(ZipFile, {Data + "/c.txt", Data + "/a.txt"}), 0);
    auto entries = ReadArchive(ZipFile);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(entries), std::set<std::string>({d + "/a.txt", d + "/b.txt", d + "/c.txt"}));
    EXPECT_TRUE(entries[d + "/a.txt"] == sNew);
    EXPECT_EQ(entries[d + "/c.txt"], "c");
    EXPECT_EQ(Shell("unzip -tq '" + ZipFile + "'"), 0);
}

// Long files are deflated in pieces by several threads; the pieces must form one valid
// deflate stream with the same content and within 1 % of a single-stream deflate.
TEST_F(ZipEngineTest, LongFilesSpanningManyChunksReadBackExactly) {
    std::string sText;
    unsigned x = 12345;
    while (sText.size() < (17u << 20) / 2) { // longer than a file deflated whole
        x = x * 1103515245u + 12345u;
        sText += "record " + std::to_string((x >> 8) % 5000) + " status " + std::to_string((x >> 4) % 7) + "\n";
    }
    std::string sBinary = Noise((5u << 20) / 2, x);
    Put("text.log", sText);
    Put("noise.bin", sBinary);
    for (int i = 0; i < 50; ++i)
        Put("small/" + std::to_string(i) + ".txt", sText.substr(static_cast<size_t>(i) * 1000, 3000));

    for (const char* pPassword : {"", "pw"}) {
        fs::remove(ZipFile);
        ZipJobValues job;
        job.Subdirectories = true;
        job.Password = pPassword;
        ZipStepResult finish;
        auto results = Run(job, {Data}, &finish);
        ASSERT_EQ(results[0].Code, 0);
        ASSERT_EQ(finish.Code, 0);
        auto entries = ReadArchive(ZipFile, *pPassword ? pPassword : nullptr);
        std::string d = Stored(Data);
        EXPECT_TRUE(entries[d + "/text.log"] == sText);
        EXPECT_TRUE(entries[d + "/noise.bin"] == sBinary);
        EXPECT_EQ(entries[d + "/small/49.txt"], sText.substr(49000, 3000));
        EXPECT_EQ(Shell("unzip -tq -P '" + std::string(pPassword) + "' '" + ZipFile + "'"), 0);
    }

    // Within 1 % of one deflate stream of the whole file at the level maximum compression uses.
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat(za, (Stored(Data) + "/text.log").c_str(), 0, &st), 0);
    zip_discard(za);
    libdeflate_compressor* pCompressor = libdeflate_alloc_compressor(7);
    std::string out(libdeflate_deflate_compress_bound(pCompressor, sText.size()), '\0');
    const size_t single = libdeflate_deflate_compress(pCompressor, sText.data(), sText.size(), out.data(), out.size());
    libdeflate_free_compressor(pCompressor);
    ASSERT_GT(single, 0u);
    EXPECT_LT(st.comp_size, single + single / 100); // pieces cost a little at each start
}

// Data that deflate cannot shrink is stored without trying; data with anything deflate can
// shrink where it is sampled (its start, middle or end) is still deflated.
TEST_F(ZipEngineTest, IncompressibleDataIsStoredAndAnythingShrinkableDeflated) {
    const std::string sText = [] {
        std::string s;
        for (int i = 0; s.size() < (200u << 10); ++i)
            s += "line " + std::to_string(i % 977) + " of a log that repeats itself\n";
        return s;
    }();
    const std::string sNoise = Noise(300u << 10, 11);
    Put("noise.jpg", sNoise);
    Put("noise-then-text.bin", Noise(100u << 10, 12) + sText);
    Put("text-then-noise.bin", sText + Noise(100u << 10, 13));
    Put("long-noise.bin", Noise(3u << 20, 14)); // deflated in pieces
    ZipJobValues job;
    ZipStepResult finish;
    ASSERT_EQ(Run(job, {Data}, &finish)[0].Code, 0);
    ASSERT_EQ(finish.Code, 0);
    EXPECT_EQ(Shell("unzip -tq '" + ZipFile + "'"), 0);
    auto entries = ReadArchive(ZipFile);
    const std::string d = Stored(Data);
    for (const std::string sName : {"noise.jpg", "noise-then-text.bin", "text-then-noise.bin", "long-noise.bin"})
        EXPECT_TRUE(entries[d + "/" + sName] == ReadFile(Data + "/" + sName)) << sName;
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    auto stat = [&](const std::string& sName) {
        zip_stat_t st;
        zip_stat_init(&st);
        EXPECT_EQ(zip_stat(za, (d + "/" + sName).c_str(), 0, &st), 0) << sName;
        return st;
    };
    EXPECT_EQ(stat("noise.jpg").comp_method, ZIP_CM_STORE);
    EXPECT_EQ(stat("noise.jpg").comp_size, sNoise.size());
    for (const char* pMixed : {"noise-then-text.bin", "text-then-noise.bin"}) {
        EXPECT_EQ(stat(pMixed).comp_method, ZIP_CM_DEFLATE) << pMixed;
        EXPECT_LT(stat(pMixed).comp_size, (100u << 10) + sText.size() / 4) << pMixed;
    }
    // Stored blocks inside the deflate stream: 5 bytes in each 64 KiB of each 1 MiB piece.
    EXPECT_LE(stat("long-noise.bin").comp_size, (3u << 20) + 3 * 5 * ((1u << 20) / 65535 + 1));
    zip_discard(za);
}

// Zip64 by entry count: more entries than the classic end record can count.
TEST_F(ZipEngineTest, Zip64ForMoreThan65535Entries) {
    const int iCount = 65600;
    fs::create_directories(Data + "/many");
    for (int i = 0; i < iCount; ++i) {
        int fd = ::open((Data + "/many/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ZipJobValues job;
    auto results = Run(job, {Data + "/many"});
    EXPECT_EQ(results[0].Code, 0);
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    EXPECT_EQ(zip_get_num_entries(za, 0), iCount + 1);
    zip_discard(za);
    std::string sBytes = ReadFile(ZipFile);
    EXPECT_NE(sBytes.find(std::string("PK\x06\x06", 4)), std::string::npos); // Zip64 end record
    archivetest::ExpectReadableEverywhere(ZipFile); // every header checksummed, found through the Zip64 records
}

// Zip64 by size: a sparse file over 4 GiB. Deflating 4 GiB takes a minute or more,
// so this runs only when STOWLINE_SLOW_TESTS is set (the entry-count test above covers
// the Zip64 records otherwise).
TEST_F(ZipEngineTest, Zip64ForAFileOver4GiB) {
    if (!std::getenv("STOWLINE_SLOW_TESTS")) GTEST_SKIP() << "set STOWLINE_SLOW_TESTS=1 to run";
    const std::string sBig = Data + "/big.bin";
    ASSERT_NO_FATAL_FAILURE(MakeSparseOver4GiB(sBig));
    ZipJobValues job;
    auto results = Run(job, {sBig});
    EXPECT_EQ(results[0].Code, 0);
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(za, 0, 0, &st), 0);
    EXPECT_EQ(st.size, (uint64_t{1} << 32) + 12345);
    zip_discard(za);
    archivetest::ExpectReadableEverywhere(ZipFile); // the Zip64 field inside the checksum
}

// Exact modification times, before 1980, after 2038 and on odd seconds, come back from
// unzip, 7-Zip and bsdtar, and Python's zipfile finds them in the entries' extra fields.
TEST_F(ZipEngineTest, ExactTimesSurviveOtherReaders) {
    const std::map<std::string, time_t> times = {
        {"1975.txt", 171979201}, {"2040.txt", 2214303031}, {"odd.txt", 1600000001}};
    for (const auto& [sName, t] : times)
        SetFileTime(Put(sName, "time " + sName), t);
    ZipJobValues job;
    ASSERT_EQ(Run(job, {Data})[0].Code, 0);
    const std::string d = Stored(Data);
    for (const std::string sTool : {"unzip -q -o '%z' -d '%o'", "7zz x -y '-o%o' '%z'", "bsdtar -x -f '%z' -C '%o'"}) {
        const std::string sOut = Extracted(sTool, ZipFile);
        ASSERT_FALSE(sOut.empty()) << sTool;
        for (const auto& [sName, t] : times) {
            struct stat st {};
            ASSERT_EQ(::stat((sOut + "/" + d + "/" + sName).c_str(), &st), 0) << sTool;
            EXPECT_EQ(st.st_mtime, t) << sTool << " " << sName;
            EXPECT_EQ(ReadFile(sOut + "/" + d + "/" + sName), "time " + sName);
        }
    }
    const std::string sList = App + "times.txt";
    ASSERT_EQ(Tool("unix_times", {ZipFile}, sList), 0);
    const std::string sTimes = ReadFile(sList);
    for (const auto& [sName, t] : times)
        EXPECT_NE(sTimes.find(sName + " " + std::to_string(t) + "\n"), std::string::npos) << sTimes;
}

// The format's own vectors: CRC-32 of "123456789", and the PKWARE key schedule and cipher
// checked against an archive Info-ZIP's zip encrypted: the twelfth header byte decrypts to the
// CRC's high byte, and our cipher round-trips.
TEST_F(ZipEngineTest, CrcAndTraditionalEncryptionMatchTheFormat) {
    EXPECT_EQ(detail::Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(detail::Crc32(detail::Crc32(0, "1234", 4), "56789", 5), 0xCBF43926u);
    std::string sFile = Put("plain.txt", std::string(3000, 'p'));
    const std::string sRef = App + "ref.zip";
    ASSERT_EQ(Shell("cd '" + Data + "' && zip -q -P 'key 1' -0 '" + sRef + "' plain.txt"), 0);
    const std::string sBytes = ReadFile(sRef);
    ASSERT_GE(sBytes.size(), 30u + 9 + 12);
    const auto u16 = [&](size_t i) { return uint8_t(sBytes[i]) | uint8_t(sBytes[i + 1]) << 8; };
    const size_t iData = 30 + u16(26) + u16(28);
    detail::ZipCrypto crypto("key 1");
    unsigned char last = 0;
    for (size_t i = 0; i < 12; ++i)
        last = crypto.Decrypt(static_cast<unsigned char>(sBytes[iData + i]));
    const uint32_t crc = detail::Crc32(0, std::string(3000, 'p').data(), 3000);
    const bool bDescriptor = (u16(6) & 8) != 0;
    EXPECT_EQ(last, bDescriptor ? static_cast<unsigned char>(u16(10) >> 8) : static_cast<unsigned char>(crc >> 24));
    EXPECT_EQ(crypto.Decrypt(static_cast<unsigned char>(sBytes[iData + 12])), 'p');
    detail::ZipCrypto enc("k"), dec("k");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(dec.Decrypt(enc.Encrypt(static_cast<unsigned char>(c))), c);
}
