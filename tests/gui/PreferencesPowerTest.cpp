// The preferences dialog's laptop group: its three boxes show, store and save their keys.

#include "common/TempAppFolder.h"
#include "support/libIni.h"
#include "ui/frmPreferences.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

namespace P = appPreferences;

class PreferencesPowerTest : public TempAppFolder {};

TEST_F(PreferencesPowerTest, BoxesShowStoreAndSaveTheirKeys) {
    P::ResetToDefaults();
    frmPreferences d;
    EXPECT_EQ(d.chkPostponeOnBattery->text(), "Postpone scheduled backups while on battery");
    EXPECT_EQ(d.chkBackgroundRuns->text(), "Back up in the background");
    EXPECT_EQ(d.chkPostponeOffsiteMetered->text(), "Postpone off-site copies on metered networks");
    EXPECT_FALSE(d.chkPostponeOnBattery->isChecked());
    EXPECT_FALSE(d.chkBackgroundRuns->isChecked());
    EXPECT_FALSE(d.chkPostponeOffsiteMetered->isChecked());
    d.chkPostponeOnBattery->setChecked(true);
    d.chkPostponeOffsiteMetered->setChecked(true);
    d.cmdOk->click();
    EXPECT_TRUE(P::PostponeOnBattery);
    EXPECT_FALSE(P::BackgroundRuns);
    EXPECT_TRUE(P::PostponeOffsiteMetered);

    // Read back from the file: the keys set are there, the one never set is not written.
    IniFile ini;
    ASSERT_TRUE(ini.Load(P::PreferencesFileName()));
    EXPECT_EQ(ini.Get("Preferences", "PostponeOnBattery", ""), "-1");
    EXPECT_EQ(ini.Get("Preferences", "PostponeOffsiteMetered", ""), "-1");
    EXPECT_FALSE(ini.Has("Preferences", "BackgroundRuns"));
    P::ResetToDefaults();
    P::LoadPreferences();
    EXPECT_TRUE(P::PostponeOnBattery);
    EXPECT_TRUE(P::PostponeOffsiteMetered);

    // Shown as stored; turned off again, a key once written says so.
    frmPreferences again;
    EXPECT_TRUE(again.chkPostponeOnBattery->isChecked());
    EXPECT_TRUE(again.chkPostponeOffsiteMetered->isChecked());
    again.chkPostponeOnBattery->setChecked(false);
    again.chkBackgroundRuns->setChecked(true);
    again.cmdOk->click();
    ASSERT_TRUE(ini.Load(P::PreferencesFileName()));
    EXPECT_EQ(ini.Get("Preferences", "PostponeOnBattery", ""), "0");
    EXPECT_EQ(ini.Get("Preferences", "BackgroundRuns", ""), "-1");
}

} // namespace
