// What the zip format does not check, checked: every central header of Stowline's archives
// carries its own checksum, which every other reader skips; archives damaged where the format
// has no checksum (attributes, CRCs, offsets, names, removed or shared entries, broken end
// records) read as damaged, never as sound, and never crash the reader.

#include "ArchiveBytes.h"

#include "engine/ArchiveCheck.h"
#include "engine/ArchiveSource.h"
#include "engine/ZipWriter.h"
#include "engine/libVerify.h"

#include <random>
#include <sys/stat.h>

using namespace ziptest;
using namespace archivetest;

namespace {

using Damage = std::vector<std::string>;
const std::string SumMismatch = "its header checksum does not match (central directory damaged)";
const std::string Shared = "shares its data with another entry";

class ArchiveCheckTest : public ZipEngineTest {
protected:
    // A Stowline archive of a folder with a text file, a link and a long file.
    void MakeArchive(const std::string& sPassword = "") {
        Put("docs/a.txt", "alpha alpha alpha");
        Put("docs/b.txt", "bravo");
        ASSERT_EQ(::symlink("a.txt", (Data + "/docs/ln").c_str()), 0);
        ZipJobValues job;
        job.Password = sPassword;
        auto results = Run(job, {Data + "/docs"});
        ASSERT_EQ(results[0].Code, 0);
    }

    // Writes b as a damaged copy and reads it as restore and verify do.
    std::vector<libRestore::Entry> Damaged(const Bytes& b, bool& bOpened) {
        const std::string sPath = Target + "damaged.zip";
        Save(sPath, b);
        return ReadEntries(sPath, bOpened);
    }

    // The damage each entry of b reads with ("" when sound); {"not opened"} when libzip refused it.
    std::vector<std::string> Damages(const Bytes& b) {
        Save(Target + "damaged.zip", b);
        return DamagesOf(Target + "damaged.zip");
    }
    static std::vector<std::string> DamagesOf(const std::string& sPath) {
        bool bOpened = false;
        const auto entries = ReadEntries(sPath, bOpened);
        if (!bOpened) return {"not opened"};
        std::vector<std::string> damages;
        for (const auto& e : entries)
            damages.push_back(e.Damage);
        return damages;
    }

    // Some entry reads as damaged, or the archive does not open at all.
    bool AnyDamage(const Bytes& b) {
        const Damage d = Damages(b);
        return std::any_of(d.begin(), d.end(), [](const std::string& s) { return !s.empty(); });
    }

    static const libRestore::Entry* Find(const std::vector<libRestore::Entry>& entries, const std::string& sSuffix) {
        for (const auto& e : entries)
            if (e.Name.size() >= sSuffix.size() && e.Name.ends_with(sSuffix)) return &e;
        return nullptr;
    }

    // Makes the end record at iEnd count iCount entries in a directory iGrow bytes longer.
    static void SetEndCounts(Bytes& b, size_t iEnd, uint32_t iCount, int64_t iGrow) {
        Set(b, iEnd + 8, 2, iCount);
        Set(b, iEnd + 10, 2, iCount);
        Set(b, iEnd + 12, 4, static_cast<uint32_t>(Get(b, iEnd + 12, 4) + iGrow));
    }

    // A Python-made archive (no checksum fields): one stored entry, two deflated.
    Bytes ForeignArchive() {
        EXPECT_EQ(Tool("foreign", {App + "foreign.zip"}), 0);
        return Load(App + "foreign.zip");
    }
};

} // namespace

TEST_F(ArchiveCheckTest, EveryReaderAcceptsTheChecksummedHeadersWithAndWithoutPassword) {
    for (const std::string sPassword : {"", "pa ss"}) {
        SCOPED_TRACE(sPassword);
        fs::remove_all(Data);
        fs::remove(ZipFile);
        Put("big.bin", std::string(9u << 20, 'z') + Noise(1000, 3)); // past the whole-file limit: sizes after the data
        Put("empty", "");
        fs::create_directories(Data + "/folder");
        ZipJobValues job;
        job.Password = sPassword;
        auto results = Run(job, {Data});
        ASSERT_EQ(results[0].Code, 0);
        ExpectReadableEverywhere(ZipFile, sPassword);
        EXPECT_EQ(ReadArchive(ZipFile, sPassword.empty() ? nullptr : sPassword.c_str())[Stored(Data) + "/big.bin"],
                  std::string(9u << 20, 'z') + Noise(1000, 3));
    }
}

// Adding to an archive writes its earlier entries again after the new ones: each carried
// entry gets the checksum of its new place, and the names keep their bytes.
TEST_F(ArchiveCheckTest, EntriesCarriedIntoALaterArchiveGetSoundChecksums) {
    const std::string sLatin1 = "caf\xe9 \x01.txt";
    for (const std::string sPassword : {"", "pw"}) {
        SCOPED_TRACE(sPassword);
        fs::remove(ZipFile);
        Put(sLatin1, "latin");
        Put("b.txt", "b");
        ZipJobValues job;
        job.Password = sPassword;
        ASSERT_EQ(Run(job, {Data + "/" + sLatin1, Data + "/b.txt"})[0].Code, 0);
        Put("c.txt", "c");
        Put("b.txt", "newer b");
        ASSERT_EQ(Run(job, {Data + "/c.txt", Data + "/b.txt"})[0].Code, 0); // added to the archive
        ExpectReadableEverywhere(ZipFile, sPassword);
        bool bOpened = false;
        const auto entries = ReadEntries(ZipFile, bOpened);
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[2].Name, Stored(Data) + "/" + sLatin1); // carried over, byte for byte
        const auto contents = ReadArchive(ZipFile, sPassword.empty() ? nullptr : sPassword.c_str());
        EXPECT_EQ(contents.at(Stored(Data) + "/b.txt"), "newer b");
    }
}

// An archive added to whose headers do not check out is refused: carried over, its entries
// would get fresh checksums and read as sound.
TEST_F(ArchiveCheckTest, ADamagedArchiveIsNotCarriedIntoTheNextOne) {
    MakeArchive();
    Bytes b = Load(ZipFile);
    const size_t at = CentralOf(b, "/a.txt");
    ASSERT_NE(at, std::string::npos);
    b[at + 41] ^= 0x20; // regular file -> link
    Save(ZipFile, b);
    Put("c.txt", "c");
    UseEngine();
    EXPECT_NE(Engine.ZpArchive(ZipFile, {Data + "/c.txt"}), 0);
    EXPECT_EQ(Load(ZipFile), b); // left as it was
}

TEST_F(ArchiveCheckTest, DamageInTheCentralDirectoryNamesTheEntry) {
    MakeArchive();
    const Bytes sound = Load(ZipFile);
    EXPECT_EQ(Damages(sound), Damage(4));
    struct Case {
        const char* What;
        std::function<void(Bytes&, size_t)> Change;
        std::string Damage = SumMismatch;
    };
    const std::string sOther = "its local header does not match its central header";
    const Case cases[] = {
        {"a file's type bit flipped: it reads as a link", [](Bytes& b, size_t at) { b[at + 41] ^= 0x20; }},
        {"a file made a folder", [](Bytes& b, size_t at) { b[at + 41] ^= 0xC0; }},
        {"its CRC changed", [](Bytes& b, size_t at) { b[at + 16] ^= 0x01; }},
        {"its local header offset pointed at another entry", [](Bytes& b, size_t at) { Set(b, at + 42, 4, 0); },
         sOther},
        {"its local header offset pointed into its data", [](Bytes& b, size_t at) { b[at + 42] ^= 0x08; },
         "its local header is missing"},
        {"a byte of its name changed", [](Bytes& b, size_t at) { b[at + 46] ^= 0x04; }},
        {"its modification time changed", [](Bytes& b, size_t at) { b[at + 12] ^= 0x01; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Bytes b = sound;
        const size_t at = CentralOf(b, "/a.txt");
        ASSERT_NE(at, std::string::npos);
        c.Change(b, at);
        EXPECT_EQ(Damages(b), (Damage{"", c.Damage, "", ""})); // libzip alone takes it as sound
    }
    // The format alone does not see the flipped type bit: unzip tests the changed archive fine.
    Bytes b = sound;
    b[CentralOf(b, "/a.txt") + 41] ^= 0x20;
    Save(Target + "flipped.zip", b);
    EXPECT_EQ(Shell("unzip -tq '" + Target + "flipped.zip'"), 0);
    bool bOpened = false;
    const auto flipped = ReadEntries(Target + "flipped.zip", bOpened);
    EXPECT_TRUE(Find(flipped, "/a.txt")->IsLink);
    // Verify reads the damage and fails on it; the sound archive passes.
    std::string sFailure;
    EXPECT_FALSE(libVerify::VerifyArchive(Target + "flipped.zip", "", sFailure));
    EXPECT_NE(sFailure.find(SumMismatch), std::string::npos) << sFailure;
    EXPECT_TRUE(libVerify::VerifyArchive(ZipFile, "", sFailure)) << sFailure;
}

TEST_F(ArchiveCheckTest, RemovedReorderedAndUncheckedHeadersAreDamaged) {
    MakeArchive();
    const Bytes sound = Load(ZipFile);
    const Layout l = LayoutOf(sound);
    ASSERT_EQ(l.Central.size(), 4u);
    {
        SCOPED_TRACE("an entry's header cut out, the end record made to agree");
        const size_t from = l.Central[1], len = l.Central[2] - l.Central[1];
        Bytes b = sound.substr(0, from) + sound.substr(from + len);
        SetEndCounts(b, b.rfind(std::string("PK\x05\x06", 4)), 3, -static_cast<int64_t>(len));
        // The others are as they were written: restored as sound; what is missing is for a
        // comparison with the job's selection to name.
        EXPECT_EQ(Damages(b), Damage(3));
    }
    {
        SCOPED_TRACE("an entry removed by another zip program, which moves the entries after it");
        const std::string sCopy = Target + "removed.zip";
        fs::copy_file(ZipFile, sCopy);
        ASSERT_EQ(Shell("zip -qd '" + sCopy + "' '" + Stored(Data) + "/docs/a.txt'"), 0);
        EXPECT_EQ(Damages(Load(sCopy)), Damage(3));
    }
    const std::string sMoved = "its place in the archive's directory changed (headers moved, copied or brought in)";
    {
        SCOPED_TRACE("two headers swapped");
        const std::string h1 = sound.substr(l.Central[1], l.Central[2] - l.Central[1]);
        const std::string h2 = sound.substr(l.Central[2], l.Central[3] - l.Central[2]);
        EXPECT_EQ(Damages(sound.substr(0, l.Central[1]) + h2 + h1 + sound.substr(l.Central[3])),
                  (Damage{"", "", sMoved, ""}));
    }
    {
        SCOPED_TRACE("a header copied to the end of the directory");
        const std::string h1 = sound.substr(l.Central[1], l.Central[2] - l.Central[1]);
        Bytes b = sound.substr(0, l.End) + h1 + sound.substr(l.End);
        SetEndCounts(b, l.End + h1.size(), 5, static_cast<int64_t>(h1.size()));
        const Damage d = Damages(b);
        ASSERT_EQ(d.size(), 5u);
        EXPECT_EQ(d[1], "");
        EXPECT_EQ(d[4], sMoved);
    }
    {
        SCOPED_TRACE("a header brought in from another Stowline archive");
        Put("other/x.txt", "x");
        const std::string sOther = Target + "Other.zip";
        ZipJobValues job;
        ASSERT_EQ(Engine.ArchiveEntry(job, sOther, Data + "/other", 0).Code, 0);
        ASSERT_EQ(Engine.FinishArchive(job, true).Code, 0);
        const Bytes other = Load(sOther);
        const Layout lo = LayoutOf(other);
        ASSERT_EQ(lo.Central.size(), 2u);
        // Its data goes before the directory, its header after the others, its offset fixed up.
        const std::string data = other.substr(0, lo.Central[0]);
        std::string h = other.substr(lo.Central[1], lo.End - lo.Central[1]);
        Bytes b = sound.substr(0, l.Central[0]) + data + sound.substr(l.Central[0], l.End - l.Central[0]);
        const uint32_t lShift = static_cast<uint32_t>(data.size());
        const uint32_t lLocal = Get(h, 42, 4) + static_cast<uint32_t>(l.Central[0]);
        Set(h, 42, 4, lLocal); // changes a covered field: the checksum must fail too
        b += h + sound.substr(l.End);
        const size_t end = b.size() - (sound.size() - l.End);
        SetEndCounts(b, end, 5, static_cast<int64_t>(h.size()));
        Set(b, end + 16, 4, Get(b, end + 16, 4) + lShift);
        Damage d = Damages(b);
        ASSERT_EQ(d.size(), 5u);
        EXPECT_NE(d.back(), "");
        d.pop_back();
        EXPECT_EQ(d, Damage(4));
    }
    {
        SCOPED_TRACE("one header's checksum field renamed away");
        Bytes b = sound;
        const size_t at = CentralOf(b, "/b.txt");
        const size_t field = b.find(std::string("SL\x15\x00", 4), at);
        ASSERT_NE(field, std::string::npos);
        b[field] = 'X';
        bool bOpened = false;
        const auto entries = Damaged(b, bOpened);
        ASSERT_TRUE(bOpened);
        EXPECT_EQ(Find(entries, "/b.txt")->Damage, "its header checksum is missing (central directory damaged)");
        EXPECT_EQ(Find(entries, "/a.txt")->Damage, "");
    }
}

// Every single changed byte of a Stowline archive's central directory reads as damage (or
// makes the archive unreadable); nothing in it goes unchecked.
TEST_F(ArchiveCheckTest, NoByteOfTheCentralDirectoryGoesUnchecked) {
    MakeArchive("pw");
    const Bytes sound = Load(ZipFile);
    const Layout l = LayoutOf(sound);
    ASSERT_FALSE(l.Central.empty());
    for (size_t at = l.Central.front(); at < l.End; ++at) {
        for (unsigned char mask : {0x01, 0x80}) {
            Bytes b = sound;
            b[at] = static_cast<char>(b[at] ^ mask);
            EXPECT_TRUE(AnyDamage(b)) << "byte " << at - l.Central.front() << " of the central directory, mask "
                                      << int(mask);
        }
    }
}

TEST_F(ArchiveCheckTest, EntriesSharingDataOrRunningPastTheirRoomAreDamaged) {
    const Bytes foreign = ForeignArchive();
    EXPECT_EQ(Damages(foreign), Damage(3)); // read as it is, without checksums
    const Layout l = LayoutOf(foreign);
    ASSERT_EQ(l.Central.size(), 3u);
    {
        SCOPED_TRACE("a second central header pointing at the first entry's data");
        const std::string h0 = foreign.substr(l.Central[0], l.Central[1] - l.Central[0]);
        Bytes b = foreign.substr(0, l.End) + h0 + foreign.substr(l.End);
        SetEndCounts(b, l.End + h0.size(), 4, static_cast<int64_t>(h0.size()));
        const Damage d = Damages(b);
        ASSERT_EQ(d.size(), 4u);
        EXPECT_EQ(d[0], Shared);
        EXPECT_EQ(d[1], "");
        EXPECT_EQ(d[3], Shared);
    }
    {
        SCOPED_TRACE("an entry's data stretched over the next entry");
        Bytes b = foreign;
        const uint32_t lLocal = Get(b, l.Central[1] + 42, 4);
        const uint32_t lData = lLocal + 30 + Get(b, lLocal + 26, 2) + Get(b, lLocal + 28, 2);
        Set(b, l.Central[1] + 20, 4, Get(b, l.Central[2] + 42, 4) - lData + 10); // compressed size
        EXPECT_EQ(Damages(b), (Damage{"", Shared, Shared}));
    }
    {
        SCOPED_TRACE("the last entry's data running into the central directory and past the file");
        for (uint32_t lComp : {Get(foreign, l.Central[2] + 20, 4) + 60, 0x7FFFFFFFu}) {
            Bytes b = foreign;
            Set(b, l.Central[2] + 20, 4, lComp);
            EXPECT_EQ(Damages(b),
                      (Damage{"", "",
                              lComp == 0x7FFFFFFFu ? "its data runs past the end of the file"
                                                   : "its data runs past the start of the central directory"}));
        }
    }
    {
        SCOPED_TRACE("a local header offset inside the central directory");
        Bytes b = foreign;
        Set(b, l.Central[2] + 42, 4, static_cast<uint32_t>(l.Central[1]));
        EXPECT_EQ(Damages(b), (Damage{"", "", "its local header lies outside the archive's data"}));
    }
    {
        SCOPED_TRACE("sizes no data can have");
        Bytes b = foreign;
        Set(b, l.Central[0] + 24, 4, Get(b, l.Central[0] + 24, 4) + 1); // stored: one byte longer than its data
        Set(b, l.Central[1] + 10, 2, 8);                                // deflated: 2 GiB from 100 bytes
        Set(b, l.Central[1] + 24, 4, 0x80000000u);
        EXPECT_EQ(Damages(b), (Damage{"its stored data is not as long as its size",
                                      "its size is more than its compressed data can hold", ""}));
    }
    {
        SCOPED_TRACE("a central name that is not its local header's");
        Bytes b = foreign;
        b[l.Central[1] + 46] = 'T';
        const Damage d = Damages(b);
        ASSERT_EQ(d.size(), 3u);
        EXPECT_EQ(d[1], "its local header does not match its central header");
    }
    {
        SCOPED_TRACE("a NUL byte inside a name, central and local alike");
        Bytes b = foreign;
        b[l.Central[1] + 46 + 3] = '\0';
        b[Get(b, l.Central[1] + 42, 4) + 30 + 3] = '\0';
        const Damage d = Damages(b);
        if (d.size() > 1) {
            EXPECT_EQ(d[1], "its name holds a NUL byte");
        }
    }
}

// Broken end records: the scan says why and gives no entries; whatever libzip makes of the
// file, no entry reads as sound.
TEST_F(ArchiveCheckTest, BrokenEndRecordsAndDirectoriesAreRefusedWithoutCrashing) {
    const Bytes foreign = ForeignArchive();
    const Layout l = LayoutOf(foreign);
    struct Case {
        const char* What;
        Bytes Archive;
    };
    Bytes locator = std::string("PK\x06\x07", 4) + std::string(16, '\0');
    Set(locator, 4, 4, 0);
    Set(locator, 8, 4, 0x7FFFFFF0); // the Zip64 end record far past the end of the file
    Set(locator, 16, 4, 1);
    Bytes hugeCount = foreign;
    Set(hugeCount, l.End + 8, 2, 0xFFFF);
    Set(hugeCount, l.End + 10, 2, 0xFFFF);
    Bytes outside = foreign;
    Set(outside, l.End + 16, 4, 0xFFFFFF00);
    const Case cases[] = {
        {"a central directory cut short", foreign.substr(0, l.Central[1] + 20) + foreign.substr(l.End)},
        {"a Zip64 locator pointing outside the file", foreign.substr(0, l.End) + locator + foreign.substr(l.End)},
        {"an entry count far beyond the directory", hugeCount},
        {"a directory offset outside the file", outside},
        {"no end record", foreign.substr(0, l.End)},
        {"nothing but an empty archive's end record", std::string("PK\x05\x06", 4) + std::string(18, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string sPath = Target + "broken.zip";
        Save(sPath, c.Archive);
        const int fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        std::vector<ArchiveCheck::RawEntry> raw;
        std::string sError;
        const bool bScanned = ArchiveCheck::ScanArchive(fd, raw, sError);
        ::close(fd);
        if (std::string(c.What).starts_with("nothing but")) {
            EXPECT_TRUE(bScanned) << sError; // an empty archive is sound
            EXPECT_TRUE(raw.empty());
            continue;
        }
        EXPECT_FALSE(bScanned);
        EXPECT_FALSE(sError.empty());
        EXPECT_TRUE(raw.empty());
        for (const std::string& sDamage : DamagesOf(sPath))
            EXPECT_NE(sDamage, "");
    }
}

// The checksum covers the Zip64 field too: an entry whose size needs it, written by the
// writer itself (the data is not there to read; only the headers matter here).
TEST_F(ArchiveCheckTest, TheZip64FieldIsCoveredByTheChecksum) {
    libZip::detail::ZipWriter w;
    ASSERT_EQ(w.Create(ZipFile), 0);
    libZip::detail::ZipEntryRecord rec;
    rec.Name = "big.bin";
    rec.Mode = 0100644;
    rec.Method = 8;
    const std::string sData(5u << 20, 'd'); // enough compressed bytes for the size below
    rec.CompSize = sData.size();
    ASSERT_TRUE(w.Begin(rec, true, ""));
    ASSERT_TRUE(w.Data(sData.data(), sData.size()));
    ASSERT_TRUE(w.End(rec, 0, 0, sData.size()));
    rec.Size = (uint64_t{1} << 32) + 5; // declared beyond 4 GiB: the Zip64 field carries it
    ASSERT_TRUE(w.Central(rec, 1));
    ASSERT_TRUE(w.Finish(""));
    ExpectSoundFields(ZipFile);
    Bytes b = Load(ZipFile);
    const size_t z = b.find(std::string("\x01\x00\x08\x00", 4), LayoutOf(b).Central[0]);
    ASSERT_NE(z, std::string::npos);
    bool bOpened = false;
    const auto entries = Damaged(b, bOpened);
    ASSERT_TRUE(bOpened);
    EXPECT_EQ(entries[0].Damage, "");
    EXPECT_EQ(entries[0].Size, (uint64_t{1} << 32) + 5);
    b[z + 8] ^= 0x01; // the Zip64 size's top byte
    EXPECT_EQ(Damages(b), Damage{SumMismatch});
}

// The descriptor an archive is read through goes with the archive.
TEST_F(ArchiveCheckTest, TheArchiveKeepsItsOwnDescriptorUntilDiscarded) {
    MakeArchive();
    int iErr = 0;
    zip_t* pZip = ArchiveSource::Open(ZipFile, 0, iErr);
    ASSERT_NE(pZip, nullptr);
    const int fd = ArchiveSource::Fd(pZip);
    ASSERT_GE(fd, 0);
    fs::rename(ZipFile, Target + "moved.zip");
    WriteFile(ZipFile, "not an archive any more");
    std::vector<ArchiveCheck::RawEntry> raw;
    std::string sError;
    EXPECT_TRUE(ArchiveCheck::ScanArchive(fd, raw, sError)) << sError; // still the archive opened
    EXPECT_EQ(raw.size(), 4u);
    zip_discard(pZip);
    EXPECT_EQ(ArchiveSource::Fd(pZip), -1);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1); // closed with it
    EXPECT_EQ(ArchiveSource::Open(App + "missing.zip", 0, iErr), nullptr);
    EXPECT_EQ(iErr, ZIP_ER_NOENT);
    EXPECT_EQ(ArchiveSource::Open(App, 0, iErr), nullptr);
    const std::string sPipe = App + "pipe.zip"; // a pipe with no writer: refused, not waited on
    ASSERT_EQ(::mkfifo(sPipe.c_str(), 0600), 0);
    EXPECT_EQ(ArchiveSource::Open(sPipe, 0, iErr), nullptr);
}

// Several bytes at once, anywhere from the central directory to the end: random but repeatable.
// The reader never crashes (the sanitizer build runs this too) and never calls the result sound.
TEST_F(ArchiveCheckTest, RandomDamageToTheDirectoryAndEndRecordsNeverReadsAsSound) {
    MakeArchive();
    const Bytes sound = Load(ZipFile);
    const size_t from = LayoutOf(sound).Central.front();
    std::mt19937 random(20261207);
    for (int iTrial = 0; iTrial < 600; ++iTrial) {
        Bytes b = sound;
        std::set<size_t> changed;
        const int iBytes = 1 + static_cast<int>(random() % 6);
        while (changed.size() < static_cast<size_t>(iBytes))
            changed.insert(from + random() % (sound.size() - from));
        for (size_t at : changed)
            b[at] = static_cast<char>(b[at] ^ (1 + random() % 255));
        EXPECT_TRUE(AnyDamage(b)) << "trial " << iTrial;
    }
}

// Archives of other programs carry no checksum field and read as sound: folders, empty files,
// links, encryption, data descriptors (streamed input), forced Zip64 records.
TEST_F(ArchiveCheckTest, OtherProgramsArchivesReadAsSound) {
    Put("tree/a.txt", std::string(3000, 'a'));
    Put("tree/sub/b.bin", Noise(70000, 5));
    Put("tree/empty", "");
    fs::create_directories(Data + "/tree/folder");
    ASSERT_EQ(::symlink("a.txt", (Data + "/tree/ln").c_str()), 0);
    const std::string t = "'" + Target;
    const std::vector<std::string> makers = {
        "cd '" + Data + "' && zip -qry " + t + "zip.zip' tree",
        "cd '" + Data + "' && zip -qry -P secret " + t + "zipcrypt.zip' tree",
        "cd '" + Data + "' && zip -qr -0 " + t + "zipstored.zip' tree",
        "cd '" + Data + "' && cat tree/sub/b.bin | zip -q -fz " + t + "stream.zip' -",
        "cd '" + Data + "' && bsdtar --format zip -cf " + t + "bsdtar.zip' tree",
        "cd '" + Data + "' && 7zz a -tzip -bd " + t + "7z.zip' tree",
        "python3 '" STOWLINE_ZIP_TOOLS "/forced_zip64.py' " + t + "python.zip'",
    };
    for (const std::string& sMaker : makers) {
        SCOPED_TRACE(sMaker);
        ASSERT_EQ(Shell(sMaker), 0);
    }
    for (const auto& f : fs::directory_iterator(Target)) {
        SCOPED_TRACE(f.path().string());
        const Damage d = DamagesOf(f.path().string());
        EXPECT_FALSE(d.empty());
        EXPECT_EQ(d, Damage(d.size())); // opened, and every entry sound
    }
}
