// The job editor's "Also back up every time this drive is connected": shown with the target
// folder, off for new jobs, and kept in the job as it was left.

#include "JobOptionsFixture.h"

TEST_F(JobOptionsTest, RunOnConnectIsReadAndStoredWithTheTarget) {
    MakeExistingJob("Daily");
    Job.SetRunOnConnect(true);
    auto& dlg = Open({"Daily"}, 0);
    EXPECT_EQ(S(dlg.chkRunOnConnect->text()), "Also back up every time this drive is connected");
    EXPECT_EQ(dlg.chkRunOnConnect->parentWidget(), dlg.txtTargDir->parentWidget()) << "on the target's page";
    EXPECT_TRUE(dlg.chkRunOnConnect->isChecked());
    dlg.chkRunOnConnect->setChecked(false);
    dlg.cmdOK->click();
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_FALSE(Job.RunOnConnect());
}

TEST_F(JobOptionsTest, RunOnConnectIsOffForANewJob) {
    auto& dlg = Open();
    EXPECT_FALSE(dlg.chkRunOnConnect->isChecked());
}
