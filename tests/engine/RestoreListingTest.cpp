// The compact listing /RESTORE reads a backup into gives back every entry exactly as the plain
// listing does: real zip and copy backups (folders, a link, an empty file, a single-file source
// outside the others), and an archive with a damaged central header.

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

} // namespace

TEST_F(RestoreListingRun, HoldsEveryEntryOfRealBackupsAsThePlainListing) {
    Source("empty.txt", "");
    ASSERT_EQ(::symlink("a.txt", (Src + "sub/to-a").c_str()), 0);
    const std::string sSolo = WriteFile(App + "elsewhere/solo.txt", "solo");
    for (const bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        ResetTarget();
        CBackupJob job = MakeJob(bZip ? "ListZip" : "ListCopy", {SrcFolder(), sSolo}, bZip);
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
