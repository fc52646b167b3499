// The job editor's "Off-site copy" group and the preferences' off-site bandwidth, driven through
// real rclone with a test configuration (RCLONE_CONFIG): a "local" remote and an "alias" remote
// over a folder of the test. The Test button runs against real folders (writable, read-only,
// missing, a file in the folder's place); rclone taken out of PATH disables the group and
// leaves the job's remote as it was.

#include "JobOptionsFixture.h"
#include "ScopedEnv.h"
#include "engine/OffsiteProbe.h"
#include "ui/frmPreferences.h"

#include <QCoreApplication>
#include <QSpinBox>

#include <iostream>
#include <set>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// A read-only folder that root cannot write either: a read-only tmpfs mounted there (chmod is
// enough for other users). Made is false when neither works.
struct ReadOnlyFolder {
    std::string Path;
    bool Mounted = false, Made = false;
    explicit ReadOnlyFolder(const std::string& sPath) : Path(sPath) {
        std::filesystem::create_directories(Path);
        if (::geteuid() == 0)
            Made = Mounted = ::mount("tmpfs", Path.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
        else
            Made = ::chmod(Path.c_str(), 0555) == 0;
    }
    ~ReadOnlyFolder() {
        if (Mounted) ::umount(Path.c_str());
        ::chmod(Path.c_str(), 0755);
    }
};

class OffsiteEditor : public JobOptionsTest {
protected:
    ScopedEnv Env;
    std::string Store; // the alias remote "vault:" is this folder

    void SetUp() override {
        JobOptionsTest::SetUp();
        // Events run as with the real seam, so that a timer fires while rclone works.
        Seam->OnEvents = [](int) { QCoreApplication::processEvents(); };
        if (!OffsiteProbe::RcloneInstalled()) GTEST_SKIP() << "rclone is not installed";
        Store = Root + "store/";
        std::filesystem::create_directories(Store + "backups");
        const std::string sConfig =
            WriteFile(Root + "rclone.conf", "[vault]\ntype = alias\nremote = " + Store + "\n\n[disk]\ntype = local\n");
        Env.Set("RCLONE_CONFIG", sConfig.c_str());
    }
    // Every path below the store, relative to it.
    std::set<std::string> StoreContents() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(Store))
            names.insert(std::filesystem::relative(e.path(), Store).string());
        return names;
    }
    // Opens the job on the Compression page (which lists rclone's remotes).
    frmJobOptions& OpenOffsite() {
        auto& dlg = Open({Job.JobName()}, 0);
        dlg.SetCurrentPage(4);
        return dlg;
    }
    std::string TestOutcome(frmJobOptions& dlg, const std::string& sRemote) {
        dlg.cmbOffsiteRemote->setEditText(Q(sRemote));
        dlg.cmdOffsiteTest->click();
        return S(dlg.lblOffsiteStatus->text());
    }
    static bool Usable(const frmJobOptions& dlg, const QWidget* p) { return p->isEnabledTo(dlg.fraOptions[4]); }
};

TEST_F(OffsiteEditor, TheListOffersTheRemotesAndTheTestSucceedsOrNamesTheFailingStep) {
    MakeExistingJob("Docs");
    auto& dlg = OpenOffsite();
    EXPECT_EQ(dlg.fraOffsite->title(), "Off-site copy");
    ASSERT_EQ(dlg.cmbOffsiteRemote->count(), 2);
    EXPECT_EQ(dlg.cmbOffsiteRemote->itemText(0), "disk:");
    EXPECT_EQ(dlg.cmbOffsiteRemote->itemText(1), "vault:");
    EXPECT_EQ(dlg.cmbOffsiteRemote->currentText(), "") << "a job without a remote shows none";
    EXPECT_TRUE(Usable(dlg, dlg.cmbOffsiteRemote));
    EXPECT_TRUE(Usable(dlg, dlg.cmdOffsiteTest));
    EXPECT_EQ(dlg.cmdOffsiteTest->text(), "Test");
    const TextList help = Click(dlg.cmdCueCard[12]);
    ASSERT_EQ(help.size(), 1u);
    EXPECT_NE(help[0].find("rclone config"), std::string::npos) << help[0];

    // While rclone works the window takes events, the button is off and a second click does nothing.
    const auto before = StoreContents();
    bool bSeen = false, bEnabledMeanwhile = true;
    std::string sMeanwhile;
    QTimer::singleShot(0, &dlg, [&] {
        bSeen = true;
        bEnabledMeanwhile = dlg.cmdOffsiteTest->isEnabled();
        sMeanwhile = S(dlg.lblOffsiteStatus->text());
        dlg.cmdOffsiteTest->click();
    });
    EXPECT_EQ(TestOutcome(dlg, "vault:backups"),
              "Test of 'vault:backups' succeeded: listed, written to, read back and cleaned up.");
    EXPECT_TRUE(bSeen);
    EXPECT_FALSE(bEnabledMeanwhile);
    EXPECT_EQ(sMeanwhile, "Testing 'vault:backups'...");
    EXPECT_TRUE(Usable(dlg, dlg.cmdOffsiteTest));
    EXPECT_EQ(StoreContents(), before) << "the test leaves nothing behind";

    // A folder that does not exist yet: made by the write, as the first upload will, and removed.
    EXPECT_NE(TestOutcome(dlg, "vault:backups/new").find("succeeded: the folder did not exist yet"), std::string::npos);
    EXPECT_EQ(StoreContents(), before);
    // A missing parent, a file in the folder's place, a read-only folder: the failing step named.
    EXPECT_EQ(TestOutcome(dlg, "vault:none/deeper")
                  .rfind("Test of 'vault:none/deeper' failed: Listing "
                         "'vault:none/deeper' failed: it does not exist, and listing "
                         "its parent 'vault:none' failed: ",
                         0),
              0u)
        << S(dlg.lblOffsiteStatus->text());
    WriteFile(Store + "afile", "x");
    EXPECT_NE(TestOutcome(dlg, "vault:afile").find("failed: Writing the test file 'vault:afile/.stowline-test-"),
              std::string::npos)
        << S(dlg.lblOffsiteStatus->text());
    {
        const ReadOnlyFolder readOnly(Store + "locked");
        if (readOnly.Made) {
            const std::string sOutcome = TestOutcome(dlg, "disk:" + Store + "locked");
            EXPECT_NE(sOutcome.find("failed: Writing the test file '"), std::string::npos) << sOutcome;
            EXPECT_TRUE(std::filesystem::is_empty(Store + "locked"));
        } else {
            std::cout << "note: the read-only case was skipped (no read-only folder could be made)\n";
        }
    }
    std::filesystem::remove(Store + "afile");
    std::filesystem::remove(Store + "locked");
    EXPECT_EQ(StoreContents(), before);

    // A path rclone would take for an option: refused by the test and by OK.
    EXPECT_EQ(TestOutcome(dlg, "-vault:x"),
              "Test of '-vault:x' failed: '-vault:x' is not an rclone remote path: it begins with '-'");
    const std::string sFile = ReadFile(Job.FileName());
    EXPECT_EQ(Click(dlg.cmdOK), TextList{"The off-site remote path cannot begin with '-': rclone would read it as one "
                                         "of its options.  Please correct it now."});
    EXPECT_FALSE(dlg.JobSaved());
    EXPECT_EQ(ReadFile(Job.FileName()), sFile);
}

TEST_F(OffsiteEditor, AnEditWritesTheKeysAndAJobWithoutThemStaysByteEqual) {
    MakeExistingJob("Plain");
    const std::string sBefore = ReadFile(Job.FileName());
    ASSERT_NO_FATAL_FAILURE(OkAndSave(OpenOffsite()));
    EXPECT_EQ(ReadFile(Job.FileName()), sBefore);

    auto& dlg = OpenOffsite();
    EXPECT_FALSE(Usable(dlg, dlg.spnOffsiteKeepDays)) << "the days are the copy style's";
    dlg.optCompression[0]->setChecked(true);
    ASSERT_TRUE(Usable(dlg, dlg.spnOffsiteKeepDays));
    EXPECT_EQ(dlg.spnOffsiteKeepDays->value(), CBackupJob::DefaultOffsiteKeepDays);
    EXPECT_EQ(dlg.spnOffsiteKeepDays->minimum(), 1);
    EXPECT_EQ(dlg.spnOffsiteKeepDays->maximum(), 36500);
    dlg.cmbOffsiteRemote->setCurrentIndex(1); // "vault:", completed by the user
    dlg.cmbOffsiteRemote->setEditText(dlg.cmbOffsiteRemote->currentText() + "backups ");
    dlg.spnOffsiteKeepDays->setValue(45);
    ASSERT_NO_FATAL_FAILURE(OkAndSave(dlg));
    const std::string sText = ReadFile(Job.FileName());
    EXPECT_NE(sText.find("\r\nOffsiteRemote=vault:backups\r\nOffsiteKeepDays=45\r\n"), std::string::npos) << sText;

    CBackupJob loaded;
    ASSERT_FALSE(loaded.OpenBackupJob(Job.FileName()));
    Job = loaded;
    auto& again = OpenOffsite();
    EXPECT_EQ(again.cmbOffsiteRemote->currentText(), "vault:backups");
    EXPECT_EQ(again.spnOffsiteKeepDays->value(), 45);
    again.cmbOffsiteRemote->setEditText("");
    again.cmdOK->click();
    ASSERT_TRUE(again.JobSaved());
    EXPECT_EQ(Job.OffsiteRemote(), "") << "emptied: the copy is off";
    EXPECT_EQ(Job.OffsiteKeepDays(), 45);
}

TEST_F(OffsiteEditor, WithoutRcloneTheGroupSaysSoAndTheJobKeepsItsRemote) {
    MakeExistingJob("Kept");
    Job.SetOffsiteRemote("vault:kept");
    Job.SetOffsiteKeepDays(9);
    ASSERT_FALSE(Job.SaveBackupJobIniFile());
    const std::string sBefore = ReadFile(Job.FileName());
    std::filesystem::create_directories(Root + "bin");
    Env.Set("PATH", (Root + "bin").c_str());

    auto& dlg = OpenOffsite();
    EXPECT_EQ(S(dlg.lblOffsiteStatus->text()).rfind("rclone is not installed", 0), 0u);
    EXPECT_EQ(dlg.cmbOffsiteRemote->currentText(), "vault:kept");
    EXPECT_EQ(dlg.cmbOffsiteRemote->count(), 0);
    for (QWidget* p : {static_cast<QWidget*>(dlg.cmbOffsiteRemote), static_cast<QWidget*>(dlg.spnOffsiteKeepDays),
                       static_cast<QWidget*>(dlg.cmdOffsiteTest)})
        EXPECT_FALSE(Usable(dlg, p)) << S(p->objectName());
    dlg.cmdOffsiteTest->click();
    EXPECT_EQ(S(dlg.lblOffsiteStatus->text()).rfind("rclone is not installed", 0), 0u);
    ASSERT_NO_FATAL_FAILURE(OkAndSave(dlg));
    EXPECT_EQ(ReadFile(Job.FileName()), sBefore);
}

TEST_F(OffsiteEditor, ThePreferencesBandwidthRoundTripsAndRcloneMustAcceptIt) {
    namespace P = appPreferences;
    P::LogViewCommand = "sh";
    {
        frmPreferences d;
        EXPECT_EQ(d.txtOffsiteBandwidth->text(), "");
        EXPECT_NE(S(d.txtOffsiteBandwidth->toolTip()).find("--bwlimit"), std::string::npos);
        d.cmdOk->click();
        ASSERT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(ReadFile(P::PreferencesFileName()).find("OffsiteBandwidth"), std::string::npos)
            << "unlimited and never set: not written";
    }
    {
        frmPreferences d;
        d.txtOffsiteBandwidth->setText("fast");
        EXPECT_EQ(Click(d.cmdOk).size(), 1u);
        EXPECT_EQ(LastText().rfind("rclone does not accept the off-site bandwidth 'fast': ", 0), 0u) << LastText();
        EXPECT_NE(d.result(), QDialog::Accepted);
        EXPECT_EQ(P::OffsiteBandwidth, "");
        d.txtOffsiteBandwidth->setText(" 08:00,512k 19:00,off ");
        d.cmdOk->click();
        ASSERT_EQ(d.result(), QDialog::Accepted);
    }
    EXPECT_NE(ReadFile(P::PreferencesFileName()).find("OffsiteBandwidth=08:00,512k 19:00,off\r\n"), std::string::npos)
        << ReadFile(P::PreferencesFileName());
    P::ResetToDefaults();
    P::LoadPreferences();
    EXPECT_EQ(P::OffsiteBandwidth, "08:00,512k 19:00,off");
    frmPreferences shown;
    EXPECT_EQ(shown.txtOffsiteBandwidth->text(), "08:00,512k 19:00,off");
}

} // namespace
