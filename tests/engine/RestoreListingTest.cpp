// The compact listing /RESTORE reads a backup into gives back every entry exactly as the plain
// listing (libzip's view of the archive) does: real zip and copy backups (folders, a link, an
// empty file, a single-file source outside the others, both kinds of encryption), other zip
// programs' archives, and archives damaged byte by byte where the directory lies: the same
// entries, the same damage, or the same refusal.

#include "ArchiveBytes.h"
#include "RunTestSupport.h"

#include "engine/RestoreListing.h"
#include "engine/libRestore.h"

using namespace runtest;

namespace {

void ExpectSameEntries(const std::vector<libRestore::Entry>& plain, const libRestore::Listing& listing) {
    ASSERT_EQ(listing.Count(), plain.size());
    libRestore::Entry got;
    for (size_t i = 0; i < plain.size(); ++i) {
        const libRestore::Entry& want = plain[i];
        listing.Get(i, got);
        SCOPED_TRACE(want.Name);
        EXPECT_EQ(listing.Name(i), want.Name);
        EXPECT_EQ(got.Name, want.Name);
        EXPECT_EQ(got.OriginalPath, want.OriginalPath);
        EXPECT_EQ(got.Size, want.Size);
        EXPECT_EQ(got.MTimeNs, want.MTimeNs);
        EXPECT_EQ(got.Mode, want.Mode);
        EXPECT_EQ(got.IsDir, want.IsDir);
        EXPECT_EQ(got.IsLink, want.IsLink);
        EXPECT_EQ(got.Index, want.Index);
        EXPECT_EQ(got.Crc, want.Crc);
        EXPECT_EQ(got.CrcKnown, want.CrcKnown);
        EXPECT_EQ(got.AesStrength, want.AesStrength);
        EXPECT_EQ(got.DataStart, want.DataStart);
        EXPECT_EQ(got.StoredSize, want.StoredSize);
        EXPECT_EQ(got.Method, want.Method);
        EXPECT_EQ(got.Encrypted, want.Encrypted);
        EXPECT_EQ(got.Damage, want.Damage);
    }
}

class RestoreListingRun : public TreeRunFixture {};

// The archive at sPath listed both ways: the same result, the same words for a refusal.
void ExpectSameListing(const std::string& sPath) {
    libRestore::BackupInfo backup;
    ASSERT_TRUE(libRestore::BackupAt(sPath, backup));
    const CBackupJob job;
    std::vector<libRestore::Entry> plain;
    libRestore::Listing listing;
    std::string sPlain, sList;
    const libRestore::Status plainStatus = libRestore::ReadContents(job, backup, plain, sPlain);
    ASSERT_EQ(libRestore::ReadContents(job, backup, listing, sList), plainStatus) << sList << " / " << sPlain;
    EXPECT_EQ(sList, sPlain);
    if (plainStatus == libRestore::Status::Ok)
        ExpectSameEntries(plain, listing);
    else
        EXPECT_EQ(listing.Count(), 0u);
}

} // namespace

TEST_F(RestoreListingRun, HoldsEveryEntryOfRealBackupsAsThePlainListing) {
    Source("empty.txt", "");
    ASSERT_EQ(::symlink("a.txt", (Src + "sub/to-a").c_str()), 0);
    const std::string sSolo = WriteFile(App + "elsewhere/solo.txt", "solo");
    using Kind = CBackupJob::EncryptionKind;
    for (const auto& [bZip, sPassword, kind] : {std::tuple{true, "", Kind::Traditional},
                                                {false, "", Kind::Traditional},
                                                {true, "pw", Kind::Aes256},
                                                {true, "pw", Kind::Traditional}}) {
        SCOPED_TRACE(std::string(bZip ? "zip " : "copy ") + sPassword);
        ResetTarget();
        CBackupJob job = MakeJob(bZip ? "ListZip" : "ListCopy", {SrcFolder(), sSolo}, bZip);
        job.SetPasswordRaw(sPassword);
        job.SetEncryption(kind);
        std::vector<libRestore::Entry> plain;
        const auto backup = BackUpAndRead(job, plain);
        ASSERT_GE(plain.size(), 8u);
        libRestore::Listing listing;
        std::string sError;
        ASSERT_EQ(libRestore::ReadContents(job, backup, listing, sError), libRestore::Status::Ok) << sError;
        ExpectSameEntries(plain, listing);
        // Read again into the same listing: nothing of the first reading stays.
        ASSERT_EQ(libRestore::ReadContents(job, backup, listing, sError), libRestore::Status::Ok) << sError;
        ExpectSameEntries(plain, listing);
    }
}

TEST_F(RestoreListingRun, KeepsTheDamageOfAnArchiveAndRefusesOneThatIsNoArchive) {
    CBackupJob job = MakeJob("ListDamage", {SrcFolder()});
    std::vector<libRestore::Entry> plain;
    const auto backup = BackUpAndRead(job, plain);
    // One bit of c.txt's external attributes: the header's own checksum no longer matches.
    const archivetest::Bytes bytes = archivetest::Load(backup.Path);
    const size_t at = archivetest::CentralOf(bytes, "c.txt");
    ASSERT_NE(at, std::string::npos);
    FlipBit(backup.Path, static_cast<off_t>(at + 38));
    std::string sError;
    ASSERT_EQ(libRestore::ReadContents(job, backup, plain, sError), libRestore::Status::Ok) << sError;
    ASSERT_EQ(std::count_if(plain.begin(), plain.end(), [](const auto& e) { return !e.Damage.empty(); }), 1);
    libRestore::Listing listing;
    ASSERT_EQ(libRestore::ReadContents(job, backup, listing, sError), libRestore::Status::Ok) << sError;
    ExpectSameEntries(plain, listing);

    // Not an archive at all: the same refusal, and nothing listed.
    WriteFile(backup.Path, "not a zip archive");
    std::string sPlainError, sListError;
    EXPECT_EQ(libRestore::ReadContents(job, backup, plain, sPlainError), libRestore::Status::Unreadable);
    EXPECT_EQ(libRestore::ReadContents(job, backup, listing, sListError), libRestore::Status::Unreadable);
    EXPECT_EQ(sListError, sPlainError);
    EXPECT_EQ(listing.Count(), 0u);
}

// Archives of other programs: data descriptors, Zip64 fields and end records, traditional and
// AES encryption, MS-DOS times only, UTF-8 names and an archive comment.
TEST_F(RestoreListingRun, ListsOtherProgramsArchivesAsLibzipReadsThem) {
    Source("tree/name \xc3\xa9t\xc3\xa9.txt", "utf-8 name");
    ASSERT_EQ(::symlink("a.txt", (Src + "sub/ln").c_str()), 0);
    const std::string t = "'" + Tgt, tools = "'" STOWLINE_ZIP_TOOLS "/";
    for (const std::string& sMaker : {
             "cd '" + Src + "' && zip -qry " + t + "zip.zip' .",
             "cd '" + Src + "' && echo a comment | zip -qry -P secret -z " + t + "zipcrypt.zip' .",
             "cd '" + Src + "' && cat sub/b.dat | zip -q -fz " + t + "stream.zip' -",
             "cd '" + Src + "' && bsdtar --format zip -cf " + t + "bsdtar.zip' .",
             "cd '" + Src + "' && 7zz a -tzip -bd -snl -mem=AES256 -psecret " + t + "7zaes.zip' . >/dev/null",
             "python3 " + tools + "forced_zip64.py' " + t + "python.zip'",
             "cp " + t + "zip.zip' " + t + "zip64end.zip' && python3 " + tools + "zip64_end.py' " + t + "zip64end.zip'",
         }) {
        SCOPED_TRACE(sMaker);
        ASSERT_EQ(ziptest::Shell(sMaker), 0);
    }
    for (const auto& f : fs::directory_iterator(Tgt)) {
        SCOPED_TRACE(f.path().string());
        ExpectSameListing(f.path().string());
    }
}

// Bytes changed at random in the directory, the end records and the local headers of a
// Stowline archive (with Zip64 end records too) and of another program's: whatever the
// directory then says, both listings read it alike.
TEST_F(RestoreListingRun, ListsArchivesDamagedAtRandomAsLibzipReadsThem) {
    CBackupJob job = MakeJob("ListFuzz", {SrcFolder()});
    std::vector<libRestore::Entry> plain;
    const std::string sOwn = BackUpAndRead(job, plain).Path, sTrial = App + "trial.zip";
    ASSERT_EQ(ziptest::Shell("cp '" + sOwn + "' '" + App +
                             "own64.zip' && python3 '" STOWLINE_ZIP_TOOLS "/zip64_end.py' '" + App +
                             "own64.zip' && python3 '" STOWLINE_ZIP_TOOLS "/forced_zip64.py' '" + App + "other.zip'"),
              0);
    srandom(26);
    for (const std::string& sSound : {sOwn, App + "own64.zip", App + "other.zip"}) {
        const archivetest::Bytes sound = archivetest::Load(sSound);
        std::vector<size_t> places; // the directory and end records, and each local header
        for (size_t at = sound.find(std::string("PK\x01\x02", 4)); at < sound.size(); ++at)
            places.push_back(at);
        for (size_t at = 0; (at = sound.find("PK\x03\x04", at)) != std::string::npos; ++at)
            for (size_t k = 0; k < 46 && at + k < sound.size(); ++k)
                places.push_back(at + k);
        for (int iTrial = 0; iTrial < 150; ++iTrial) {
            archivetest::Bytes b = sound;
            for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n)
                b[places[random() % places.size()]] ^= static_cast<char>(1 + random() % 255);
            archivetest::Save(sTrial, b);
            SCOPED_TRACE(sSound + " trial " + std::to_string(iTrial));
            ExpectSameListing(sTrial);
        }
    }
}
