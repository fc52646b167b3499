// The main window's job list: building and refreshing it from real job files, the cells, the
// columns and their layout, sorting, the status bar, the window's size and its closing.

#include "ScheduleTestFixture.h"
#include "engine/BackupRun.h"

#include <QTest>

namespace {

namespace P = appPreferences;

TEST_F(ScheduleTest, ListShowsEveryJobWithItsCells) {
    SaveJob("Photos", true);
    SaveJob("Mail", false, false, false, CBackupJob::CopyUpdate);
    SaveJob("Old stuff", true, true);
    Form->RefreshScheduleForm();

    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Headers(),
              (std::vector<std::string>{"Job name", "Date last run", "Date next run", "Start time", "Size", "Status"}));
    EXPECT_EQ(Form->panNbrBackupJobs->text(), "3 Backup Jobs");
    QTreeWidgetItem* photos = RowNamed("Photos");
    ASSERT_NE(photos, nullptr);
    // Never run: "-" for the last run, empty run count; next run today at 20:30.
    EXPECT_EQ(Cells(photos, {P::colDateLastRun, P::colDateNextRun, P::colStartTime, P::colState, P::colSize}),
              (std::vector<std::string>{"-", "Mar-10-2027", "20:30", "D", "?"}));
    EXPECT_EQ(photos->data(0, frmSchedule::ImageRole).toInt(), 1);
    EXPECT_EQ(RowNamed("Mail")->data(0, frmSchedule::ImageRole).toInt(), 2);
    // Suspended: "S", no next run, the suspended image.
    QTreeWidgetItem* old = RowNamed("Old stuff");
    EXPECT_EQ(Cells(old, {P::colState, P::colDateNextRun, P::colStartTime}), (std::vector<std::string>{"S", "-", "-"}));
    EXPECT_EQ(old->data(0, frmSchedule::ImageRole).toInt(), 3);
    // Alignment: the job name left, the others right.
    EXPECT_EQ(photos->textAlignment(Form->ColumnIndex(P::colSize)) & Qt::AlignHorizontal_Mask, Qt::AlignRight);

    // After a run the row shows it: date, run count 1, a size.
    P::Columns[P::colRunCount].Position = 7;
    P::Columns[P::colTimeLastRun].Position = 2;
    P::Columns[P::colJobType].Position = 8;
    Form->RefreshScheduleForm();
    int32_t lHandle = frmSchedule::RowTag(RowNamed("Photos"));
    BackupRun::ExecuteBackup(*JobManager(), lHandle);
    Form->RefreshDetailsByHandle(lHandle);
    photos = RowNamed("Photos");
    EXPECT_EQ(Cells(photos, {P::colDateLastRun, P::colTimeLastRun, P::colRunCount, P::colSize, P::colJobType}),
              (std::vector<std::string>{"Mar-10-2027", "12:00", "1", "1KB", "Zip"}));
    EXPECT_EQ(Cells(RowNamed("Mail"), {P::colJobType, P::colRunCount}), (std::vector<std::string>{"Update", ""}));
}

TEST_F(ScheduleTest, DuplicateJobNameIsReportedAndMarked) {
    SaveJob("Daily", false);
    // A second file that carries the same name (letter case aside).
    std::string sText = ReadFile(App + "BackupJobs/Daily.slj");
    size_t i = sText.find("JobName=Daily");
    ASSERT_NE(i, std::string::npos);
    sText.replace(i, 13, "JobName=DAILY");
    WriteFile(App + "BackupJobs/Daily2.slj", sText);
    Form->RefreshScheduleForm();

    ASSERT_EQ(Rows(), 2);
    auto m = Seam->Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Title, "Data Error ");
    EXPECT_TRUE(m[0].Text == "Duplicate job name \"DAILY\"" || m[0].Text == "Duplicate job name \"Daily\"")
        << m[0].Text;
    int iMarked = 0;
    for (int r = 0; r < Rows(); ++r)
        if (Cell(Row(r), P::colState) == "#") ++iMarked;
    EXPECT_EQ(iMarked, 1);
}

TEST_F(ScheduleTest, SizesInWholeKilobytes) {
    EXPECT_EQ(frmSchedule::FormatSizeKB(0), "0KB");
    EXPECT_EQ(frmSchedule::FormatSizeKB(1025), "2KB"); // rounded up
    EXPECT_EQ(frmSchedule::FormatSizeKB(1048577), "1,025KB");
    EXPECT_EQ(frmSchedule::FormatSizeKB(5LL * 1024 * 1024 * 1024), "5,242,880KB"); // beyond 32 bits
}

TEST_F(ScheduleTest, ColumnLayoutFollowsThePreferences) {
    SaveJob("A", true);
    P::Columns[P::colTimeLastRun] = {1, 900};
    P::Columns[P::colDateLastRun] = {2, 1500};
    P::Columns[P::colSize] = {-5, 720};
    P::Columns[P::colJobType] = {3, 600}; // same position as "Date next run": the earlier one wins
    P::Columns[P::colRunCount] = {8, 600};
    Form->RefreshScheduleForm();
    EXPECT_EQ(Headers(), (std::vector<std::string>{"Job name", "Time last run", "Date last run", "Date next run",
                                                   "Start time", "Status", "Runs"}));
    EXPECT_EQ(Form->ColumnIndex(P::colSize), -1);
    EXPECT_EQ(Form->ColumnIndex(P::colJobType), -1);
    // Widths in twips, 15 to a pixel; a column too narrow for its caption or texts is widened.
    EXPECT_EQ(List()->header()->sectionSize(0), std::max(2000 / 15, Form->MinimumColumnWidth(P::colJobName)));
    P::Columns[P::colDateLastRun].Width = 4500;
    P::Columns[P::colTimeLastRun].Width = 15;
    Form->BuildHeaders();
    EXPECT_EQ(List()->header()->sectionSize(2), 300);
    EXPECT_EQ(List()->header()->sectionSize(1), Form->MinimumColumnWidth(P::colTimeLastRun));
    EXPECT_GT(Form->MinimumColumnWidth(P::colTimeLastRun),
              List()->header()->fontMetrics().horizontalAdvance("Time last run"));
    Form->RefreshScheduleForm();
    // The first column is always left-aligned; the others by their kind.
    EXPECT_EQ(List()->headerItem()->textAlignment(0) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(List()->headerItem()->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(Row(0)->text(6).toStdString(), "");
}

TEST_F(ScheduleTest, HeaderClickSortsOneWayThenTheOther) {
    for (const char* n : {"beta", "Alpha", "gamma", "Delta"})
        SaveJob(n, true);
    Form->RefreshScheduleForm();
    Form->show();
    auto names = [&] {
        std::vector<std::string> v;
        for (int i = 0; i < Rows(); ++i)
            v.push_back(Row(i)->text(0).toStdString());
        return v;
    };
    QHeaderView* header = List()->header();
    QPoint p(header->sectionPosition(0) + 5, header->height() / 2);
    // The list starts ascending and every click flips the order (letter case ignored).
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, p);
    EXPECT_EQ(names(), (std::vector<std::string>{"gamma", "Delta", "beta", "Alpha"}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, p);
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
    // A click on another header flips the order again and sorts by that column.
    Form->lvwSchedule_ColumnClick(5);
    EXPECT_EQ(List()->sortColumn(), 5);
    Form->lvwSchedule_ColumnClick(0);
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
    // The order stays when a job is added or the list is rebuilt.
    SaveJob("Charlie", false);
    Form->RefreshScheduleForm();
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "beta", "Charlie", "Delta", "gamma"}));
}

// A job without a successful backup for StaleDays days: "!" in its Status cell, a tooltip saying
// since when, and the light's warning state (amber lamp, drive at rest) until none is left.
TEST_F(ScheduleTest, StaleJobsAreMarkedAndTurnTheLightToWarning) {
    P::StaleDays = 7;
    CBackupJob old = LoadJob(SaveJob("Old", true));
    old.SetDateLastRun(Now - 1);
    old.SetDateLastSuccess(Now - 7 - 1.0 / 1440);
    ASSERT_FALSE(old.SaveBackupJobIniFile());
    CBackupJob fresh = LoadJob(SaveJob("Fresh", false));
    fresh.SetDateLastRun(Now - 7);
    fresh.SetDateLastSuccess(Now - 7);
    ASSERT_FALSE(fresh.SaveBackupJobIniFile());
    SaveJob("Paused", false, /*bSuspended=*/true);
    Form->RefreshScheduleForm();
    Form->show();
    EXPECT_EQ(Cell(RowNamed("Old"), P::colState), "D!");
    EXPECT_EQ(RowNamed("Old")->toolTip(Form->ColumnIndex(P::colState)).toStdString(),
              "No successful backup since Mar-03-2027 11:59");
    EXPECT_EQ(Cell(RowNamed("Fresh"), P::colState), "D") << "exactly seven days is not more than seven";
    EXPECT_EQ(Cell(RowNamed("Paused"), P::colState), "S");
    EXPECT_TRUE(Form->HealthWarning());
    EXPECT_FALSE(Form->imgLight[0]->isVisible());
    EXPECT_TRUE(Form->imgLight[1]->isVisible());
    EXPECT_FALSE(Form->imgLight[2]->isVisible());
    EXPECT_TRUE(Form->imgLight[3]->isVisible());
    // A minute later the other job is stale too; removing both rows ends the warning.
    libDates::SetClock(Now + 1.0 / 1440);
    Form->RefreshHealth();
    EXPECT_EQ(Cell(RowNamed("Fresh"), P::colState), "D!");
    Form->DeleteItemListView(List()->indexOfTopLevelItem(RowNamed("Old")));
    Form->DeleteItemListView(List()->indexOfTopLevelItem(RowNamed("Fresh")));
    EXPECT_FALSE(Form->HealthWarning());
    EXPECT_TRUE(Form->imgLight[0]->isVisible());
    EXPECT_FALSE(Form->imgLight[1]->isVisible());
}

TEST_F(ScheduleTest, FirstShowSelectsTheFirstRowAndLightsAndSize) {
    SaveJob("One", true);
    SaveJob("Two", false);
    Form->RefreshScheduleForm();
    Form->show();
    ASSERT_NE(Form->CurrentRow(), nullptr);
    EXPECT_TRUE(Form->CurrentRow()->isSelected());
    EXPECT_EQ(List()->indexOfTopLevelItem(Form->CurrentRow()), 0);
    EXPECT_EQ(Form->windowTitle(), "Stowline");
    // The lights at rest: green lamp, drive idle.
    EXPECT_TRUE(Form->imgLight[0]->isVisible());
    EXPECT_FALSE(Form->imgLight[1]->isVisible());
    EXPECT_FALSE(Form->imgLight[2]->isVisible());
    EXPECT_TRUE(Form->imgLight[3]->isVisible());
    // 3000 by 2000 twips snaps back to 6450 by 4000.
    Form->resize(3000 / 15, 2000 / 15);
    EXPECT_EQ(Form->width(), 430);
    EXPECT_EQ(Form->height(), 267);
    // The list follows the window.
    Form->resize(900, 600);
    QApplication::processEvents();
    EXPECT_GT(List()->width(), 850);
    EXPECT_GT(List()->height(), 350);
    P::UseSystemTray = false;
    frmSchedule manual;
    EXPECT_EQ(manual.windowTitle(), "Stowline - Manual backup mode");
}

TEST_F(ScheduleTest, ClosingHidesMinimisesOrEndsByModeAndSavesPlacementAndVisibleWidths) {
    SaveJob("A", true);
    P::SaveFormSize = true;
    Form->RefreshScheduleForm();
    Form->show();
    List()->header()->resizeSection(Form->ColumnIndex(P::colDateLastRun), 300);
    int16_t iHiddenWidth = P::Columns[P::colTimeLastRun].Width;
    Form->close();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(P::Columns[P::colDateLastRun].Width, 4500);
    EXPECT_EQ(P::Columns[P::colTimeLastRun].Width, iHiddenWidth);
    EXPECT_FALSE(P::FormSize.empty());
    EXPECT_TRUE(Exists(P::PreferencesFileName()));
    // Still loaded: it shows again with its rows.
    Form->ShowSchedule();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Rows(), 1);
    Form->mnuFileClose_Click(); // the menu command hides it the same way
    EXPECT_FALSE(Form->isVisible());
    // Without a notification area closing minimises instead, and an Exit entry can be added.
    appSetup::SetHasNotificationArea(false);
    Form->show();
    Form->close();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Form->isMinimized());
    bool bExit = false;
    Form->AddFileMenuExit("Exit Stowline", [&] { bExit = true; });
    QAction* exit = Form->findChild<QAction*>("mnuFileExit");
    ASSERT_NE(exit, nullptr);
    EXPECT_TRUE(Form->mnuFile->actions().contains(exit));
    exit->trigger();
    EXPECT_TRUE(bExit);
    // Window mode: the main window is the program; closing it closes every other window too.
    P::UseSystemTray = false;
    Form->SetKillForm(true);
    Form->show();
    QWidget other;
    other.show();
    Form->mnuFileClose_Click();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(other.isVisible());
}

} // namespace
