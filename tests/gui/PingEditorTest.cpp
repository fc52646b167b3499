// The job editor's "Monitoring" group: the job's ping address shown, refused unless it is an
// http or https address, and stored trimmed.

#include "JobOptionsFixture.h"

namespace {

class PingEditor : public JobOptionsTest {};

TEST_F(PingEditor, TheAddressIsShownCheckedAndStored) {
    MakeExistingJob("Docs");
    auto& dlg = Open({Job.JobName()}, 0);
    dlg.SetCurrentPage(4);
    EXPECT_EQ(dlg.txtPingUrl->text(), "");
    dlg.txtPingUrl->setText("ftp://monitor.example.org/abc");
    dlg.cmdOK->click();
    EXPECT_FALSE(dlg.JobSaved());
    EXPECT_EQ(LastText(), "The ping address cannot be used: 'ftp://monitor.example.org/abc' is no ping address "
                          "(https:// or http:// only).  Please correct it now.");
    dlg.txtPingUrl->setText(" https://hc.example.org/ping/abc ");
    dlg.cmdOK->click();
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.PingUrl(), "https://hc.example.org/ping/abc");

    auto& again = Open({Job.JobName()}, 0);
    EXPECT_EQ(again.txtPingUrl->text(), "https://hc.example.org/ping/abc");
}

} // namespace
