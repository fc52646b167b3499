// File and folder names with every byte but NUL and "/" (Latin-1 bytes, control bytes, invalid
// UTF-8) come back byte for byte: backed up, verified after the run, listed and restored, for
// zip jobs and copy jobs alike.

#include "RunTestSupport.h"

#include "engine/libVerify.h"

using namespace runtest;

namespace {

// Slices of the bytes 1..255 without "/", as names: no slice is "." or "..".
std::vector<std::string> ByteSlices(size_t iLength) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != '/') all += static_cast<char>(c);
    std::vector<std::string> slices;
    for (size_t i = 0; i < all.size(); i += iLength)
        slices.push_back(all.substr(i, iLength));
    return slices;
}

class NameBytes : public RunFixture {
protected:
    std::map<std::string, std::string> Files; // path below the source -> content

    void SetUp() override {
        RunFixture::SetUp();
        const auto slices = ByteSlices(40);
        // Each slice names a file at the top and in a folder named by another slice.
        for (size_t i = 0; i < slices.size(); ++i) {
            Files[slices[i]] = "top " + slices[i];
            const std::string sFolder = slices[(i + 1) % slices.size()] + " dir";
            Files[sFolder + "/" + slices[i]] = "in folder " + slices[i];
        }
        Files["\xff\xfe\x80 invalid utf-8/\xe9t\xe9 latin-1.txt"] = "latin-1";
        for (const auto& [sPath, sContent] : Files)
            Source(sPath, sContent);
    }

    // Every file restored below sRoot under its own bytes, and nothing else there.
    void ExpectRestored(const std::string& sRoot) {
        size_t iFiles = 0;
        for (const auto& e : fs::recursive_directory_iterator(sRoot))
            iFiles += e.is_regular_file() ? 1 : 0;
        EXPECT_EQ(iFiles, Files.size());
        for (const auto& [sPath, sContent] : Files)
            EXPECT_EQ(ReadFile(sRoot + sPath), sContent) << sPath;
    }
};

} // namespace

TEST_F(NameBytes, EveryByteOfANameComesBackFromAZipJobAndACopyJob) {
    for (const bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        ResetTarget();
        CBackupJob job = MakeJob("Bytes", {SrcFolder()}, bZip);
        job.SetVerify(true); // the after-run check compares the selection's names with the backup's
        std::vector<libRestore::Entry> entries;
        const auto backup = BackUpAndRead(job, entries);
        std::string sFailure;
        EXPECT_TRUE(libVerify::VerifyNewest(job, sFailure)) << sFailure;
        if (bZip) {
            std::set<std::string> names;
            for (const auto& e : entries) {
                EXPECT_EQ(e.Damage, "") << e.Name;
                names.insert(e.Name);
            }
            for (const auto& [sPath, sContent] : Files)
                EXPECT_EQ(names.count(Src.substr(1) + sPath), 1u) << sPath;
            // Other readers take the names as they are.
            EXPECT_EQ(ziptest::Shell("unzip -tq '" + backup.Path + "'"), 0);
            EXPECT_EQ(ziptest::Shell("bsdtar -tf '" + backup.Path + "'"), 0);
        }
        libRestore::Options o;
        o.ToFolder = App + (bZip ? "outz/" : "outc/");
        const auto report = libRestore::Restore(job, backup, entries, o);
        EXPECT_EQ(report.NotRestored, 0) << (report.Problems.empty() ? "" : report.Problems[0]);
        ExpectRestored(o.ToFolder + (bZip ? Src.substr(1) : "src/"));
    }
}

// Only names that are valid UTF-8 are marked as UTF-8, so that other programs read every name
// as what it is; the rest keep their bytes unmarked.
TEST_F(NameBytes, OnlyValidUtf8NamesAreMarkedAsUtf8) {
    fs::remove_all(Src);
    const std::map<std::string, bool> marked = {
        {"\xc3\xbcnic\xc3\xb6"
         "de \xf0\x9f\x99\x82.txt",
         true},
        {"caf\xe9.txt", false},
        {"overlong \xc0\xaf.txt", false},
        {"surrogate \xed\xa0\x80.txt", false},
        {"plain.txt", false},
    };
    for (const auto& [sName, bUtf8] : marked)
        Source(sName, "x");
    CBackupJob job = MakeJob("Utf8", {SrcFolder()}, true);
    std::vector<libRestore::Entry> entries;
    const std::string sZip = BackUpAndRead(job, entries).Path;
    const std::string sOut = App + "flags.txt";
    ASSERT_EQ(ziptest::Tool("name_flags", {sZip}, sOut), 0);
    std::map<std::string, bool> found;
    std::istringstream in(ReadFile(sOut));
    for (std::string sFlag, sHex; in >> sFlag >> sHex;) {
        std::string sName;
        for (size_t i = 0; i + 1 < sHex.size(); i += 2)
            sName += static_cast<char>(std::stoi(sHex.substr(i, 2), nullptr, 16));
        found[sName.substr(sName.rfind('/') + 1)] = sFlag == "1";
    }
    for (const auto& [sName, bUtf8] : marked) {
        ASSERT_EQ(found.count(sName), 1u) << sName;
        EXPECT_EQ(found[sName], bUtf8) << sName;
    }
}
