// The job editor's dated snapshots and caches: an old job file opened and saved unchanged stays
// byte-equal; ticking the box and setting the counts writes only the keys set; the preview lists
// hand-made snapshot folders with the verdicts of the counts shown, as they change; a new job
// leaves caches out and lists what a job of its name left in its target.

#include "JobOptionsFixture.h"

#include <QSpinBox>

namespace {

class SnapshotEditor : public JobOptionsTest {
protected:
    // A copy-style job file as an earlier version wrote it (CR LF lines, none of the new keys).
    void WriteOldJob(const std::string& sName, const std::vector<std::string>& extra = {}) {
        std::string sText;
        std::vector<std::string> lines = {"[Config]",
                                          "JobName=" + sName,
                                          "DateLastRun=Mar-10-2026 21:00",
                                          "SizeLastRun=2048",
                                          "RunCount=7",
                                          "StartTime=21:00",
                                          "Frequency=1",
                                          "DayOfWeek=254",
                                          "DayOfMonth=1",
                                          "Compress=0",
                                          "CopyStyle=0",
                                          "KeepCount=3",
                                          "KeepPeriod=Copies",
                                          "Password=",
                                          "ParseSubDir=-1",
                                          "Incremental=0",
                                          "Suspended=0",
                                          "PreBackupCommand=",
                                          "PostBackupCommand=",
                                          "TargetDir=" + Root + "target/"};
        lines.insert(lines.end(), extra.begin(), extra.end());
        for (const char* s : {"[Source]", "File_0=", "[Exclude]", "[OneShot]"})
            lines.push_back(s);
        lines[lines.size() - 3] += Root + "src/";
        for (const std::string& s : lines)
            sText += s + "\r\n";
        std::filesystem::create_directories(Root + "target");
        WriteFile(CBackupJob::JobFileNameFor(sName), sText);
        ASSERT_FALSE(Job.OpenBackupJob(CBackupJob::JobFileNameFor(sName)));
    }
    frmJobOptions& OpenCompression() {
        auto& dlg = Open({Job.JobName()}, 0);
        dlg.SetCurrentPage(4);
        return dlg;
    }
    static bool Usable(const frmJobOptions& dlg, const QWidget* p) { return p->isEnabledTo(dlg.fraOptions[4]); }
    static std::vector<std::string> Preview(const frmJobOptions& dlg) {
        std::vector<std::string> lines;
        for (int i = 0; i < dlg.lstSnapshotPreview->count(); ++i)
            lines.push_back(S(dlg.lstSnapshotPreview->item(i)->text()));
        return lines;
    }
    void SetKeep(frmJobOptions& dlg, const std::array<int, 5>& values) {
        for (size_t i = 0; i < values.size(); ++i)
            dlg.spnKeep[i]->setValue(values[i]);
    }
};

} // namespace

TEST_F(SnapshotEditor, AnOldJobStaysByteEqualAndOnlyTheKeysSetAreWritten) {
    WriteOldJob("Old");
    const std::string sBefore = ReadFile(Job.FileName());
    auto& dlg = OpenCompression();
    EXPECT_EQ(dlg.chkSnapshots->text(), "Keep a dated snapshot of every run");
    EXPECT_FALSE(dlg.chkSnapshots->isChecked());
    EXPECT_FALSE(dlg.chkExcludeCaches->isChecked()) << "a job file without the key leaves nothing out";
    EXPECT_TRUE(Usable(dlg, dlg.chkSnapshots));
    for (QSpinBox* p : dlg.spnKeep)
        EXPECT_FALSE(Usable(dlg, p)) << "live only while the box is ticked";
    EXPECT_EQ(Preview(dlg), TextList{"No snapshots yet."});
    ASSERT_NO_FATAL_FAILURE(OkAndSave(dlg));
    EXPECT_EQ(ReadFile(Job.FileName()), sBefore);

    // Ticked, four counts changed (the monthly one left at its default): those keys only.
    auto& again = OpenCompression();
    again.chkSnapshots->setChecked(true);
    for (QSpinBox* p : again.spnKeep) {
        EXPECT_TRUE(Usable(again, p));
        EXPECT_EQ(p->minimum(), 0);
        EXPECT_EQ(p->maximum(), 9999);
    }
    SetKeep(again, {2, 5, 3, 12, 1});
    again.optCompression[1]->setChecked(true);
    EXPECT_FALSE(Usable(again, again.chkSnapshots)) << "snapshots are the copy style's";
    EXPECT_FALSE(Usable(again, again.spnKeep[1]));
    again.optCompression[0]->setChecked(true);
    EXPECT_TRUE(Usable(again, again.spnKeep[1]));
    ASSERT_NO_FATAL_FAILURE(OkAndSave(again));
    const std::string sText = ReadFile(Job.FileName());
    for (const char* sKey : {"\r\nSnapshots=-1\r\n", "\r\nKeepLast=2\r\n", "\r\nKeepDaily=5\r\n",
                             "\r\nKeepWeekly=3\r\n", "\r\nKeepYearly=1\r\n"})
        EXPECT_NE(sText.find(sKey), std::string::npos) << sKey << " in " << sText;
    EXPECT_EQ(sText.find("KeepMonthly"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("ExcludeCaches"), std::string::npos) << sText;

    // Read back as saved; switched off again, the counts stay as they were.
    CBackupJob loaded;
    ASSERT_FALSE(loaded.OpenBackupJob(Job.FileName()));
    Job = loaded;
    auto& third = OpenCompression();
    EXPECT_TRUE(third.chkSnapshots->isChecked());
    EXPECT_EQ(third.spnKeep[0]->value(), 2);
    EXPECT_EQ(third.spnKeep[3]->value(), 12);
    third.spnKeep[0]->setValue(50);
    third.chkSnapshots->setChecked(false);
    third.chkExcludeCaches->setChecked(true);
    third.cmdOK->click();
    ASSERT_TRUE(third.JobSaved());
    EXPECT_FALSE(Job.Snapshots());
    EXPECT_EQ(Job.SnapshotKeeping().Last, 2);
    EXPECT_TRUE(Job.ExcludeCaches());
}

TEST_F(SnapshotEditor, ThePreviewFollowsTheCountsShownAndANewJobLeavesCachesOut) {
    WriteOldJob("Pics", {"Snapshots=-1", "KeepLast=1", "KeepDaily=2", "KeepWeekly=0", "KeepMonthly=1"});
    const std::string sSnaps = Root + "target/Pics.snapshots/";
    for (const char* s : {"2026-03-10_210000", "2026-03-10_080000", "2026-03-09_080000", "2026-03-01_080000",
                          "2026-02-28_080000", "2025-12-31_080000", "notes"})
        std::filesystem::create_directories(sSnaps + s);
    std::filesystem::create_directory_symlink("2026-03-10_210000", sSnaps + "latest");
    WriteFile(sSnaps + "2026-03-11_080000", "a file, not a snapshot");
    const std::string sBefore = ReadFile(Job.FileName());

    auto& dlg = OpenCompression();
    EXPECT_TRUE(Usable(dlg, dlg.lstSnapshotPreview));
    EXPECT_EQ(Preview(dlg), (TextList{"2026-03-10_210000  keep (last)", "2026-03-10_080000  remove",
                                      "2026-03-09_080000  keep (daily)", "2026-03-01_080000  remove",
                                      "2026-02-28_080000  remove", "2025-12-31_080000  remove"}));
    // 2026-03-01 is a Sunday, the last day of ISO week 9.
    SetKeep(dlg, {0, 0, 2, 2, 2});
    EXPECT_EQ(Preview(dlg), (TextList{"2026-03-10_210000  keep (weekly)", "2026-03-10_080000  remove",
                                      "2026-03-09_080000  remove", "2026-03-01_080000  keep (weekly)",
                                      "2026-02-28_080000  keep (monthly)", "2025-12-31_080000  keep (yearly)"}));
    SetKeep(dlg, {0, 0, 0, 0, 0});
    EXPECT_EQ(Preview(dlg)[0], "2026-03-10_210000  keep (newest)");
    dlg.cmdCancel->click();
    EXPECT_EQ(ReadFile(Job.FileName()), sBefore);
    EXPECT_TRUE(std::filesystem::is_directory(sSnaps + "2026-03-10_080000")) << "the preview removes nothing";

    // A folder that cannot be listed is said to be so, not shown as empty.
    std::filesystem::remove_all(sSnaps);
    WriteFile(Root + "target/Pics.snapshots", "a file in the folder's place");
    EXPECT_EQ(Preview(OpenCompression()), TextList{"The snapshots cannot be listed: the snapshot folder '" + Root +
                                                   "target/Pics.snapshots' cannot be read: it is not a folder"});
    Dlg->cmdCancel->click();

    // A new job: caches left out; the snapshots a job of its name left in its target are shown.
    Job = CBackupJob();
    auto& fresh = Open({"Pics"});
    EXPECT_TRUE(fresh.chkExcludeCaches->isChecked());
    EXPECT_EQ(fresh.chkExcludeCaches->text(), "Leave out caches, trash and folders marked as not worth backing up");
    fresh.txtBackupJobName->setText("Holiday");
    fresh.txtTargDir->setText(Q(Root + "target/"));
    std::filesystem::create_directories(Root + "target/Holiday.snapshots/2026-07-01_120000");
    fresh.cmdNext->click();
    fresh.cmdNext->click();
    fresh.lstFilesToBackup->addItem(Q(Root + "src/"));
    fresh.cmdNext->click();
    fresh.cmdNext->click();
    ASSERT_EQ(fresh.CurrentPage(), 4) << (Texts().empty() ? "" : Texts().back());
    EXPECT_FALSE(Usable(fresh, fresh.chkSnapshots)) << "a new job starts in the zip style";
    fresh.optCompression[0]->setChecked(true);
    fresh.chkSnapshots->setChecked(true);
    EXPECT_EQ(Preview(fresh), TextList{"2026-07-01_120000  keep (last)"});
    fresh.cmdOK->click();
    ASSERT_TRUE(fresh.JobSaved()) << (Texts().empty() ? "" : Texts().back());
    ASSERT_FALSE(Job.SaveBackupJobIniFile());
    const std::string sText = ReadFile(Job.FileName());
    EXPECT_NE(sText.find("\r\nSnapshots=-1\r\n"), std::string::npos) << sText;
    EXPECT_NE(sText.find("\r\nExcludeCaches=-1\r\n"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("KeepLast"), std::string::npos) << "the defaults are not written: " << sText;
}
