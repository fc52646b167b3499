#pragma once
// The main window over real job files in a temporary application folder.

#include "DriveDialog.h"
#include "app/ScheduleView.h"
#include "app/SchedulerTick.h"
#include "common/TempJobFolder.h"
#include "engine/RunState.h"
#include "ui/frmSchedule.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

// The agent as the tick sees it, its main window hidden unless a test shows it: every switch of
// the tray menu and refresh in Events, each failure as "<job>: <reason>", and what a user is told
// of each failure and of stale jobs.
struct RecordingHost : SchedulerTick::TickHost {
    bool bVisible = false;
    std::vector<std::string> Events; // "menu:0", "menu:1", "refresh:<h>", "failure:<name>|<log>"
    std::vector<std::string> Failures, Notices, StaleReports;
    std::function<void()> OnRefresh;
    bool MainWindowVisible() override { return bVisible; }
    void SetTrayMenuEnabled(bool b) override { Events.push_back(b ? "menu:1" : "menu:0"); }
    void RefreshDetailsByHandle(int32_t h) override {
        Events.push_back("refresh:" + std::to_string(h));
        if (OnRefresh) OnRefresh();
    }
    void ReportFailure(const std::string& sName, const std::string& sLog, const std::string& sReason,
                       bool bOffsite) override {
        Events.push_back("failure:" + sName + "|" + sLog);
        Failures.push_back(sName + ": " + sReason);
        Notices.push_back(SchedulerTick::FailureText(sName, sLog, sReason, bOffsite));
    }
    void ReportStale(const std::string& sText) override { StaleReports.push_back(sText); }
};

class ScheduleTest : public TempJobFolder {
protected:
    std::unique_ptr<frmSchedule> Form;

    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 0, 0), true);
        // The job files are saved today, long before the fixed clock: without this every
        // never-run job would be marked stale (the mark has its own test).
        appPreferences::StaleDays = 0;
        appSetup::SetHasNotificationArea(true);
        Form = std::make_unique<frmSchedule>();
    }
    void TearDown() override {
        RunState::SetAbortRequested(false);
        Form.reset();
        appSetup::SetHasNotificationArea(false);
        TempJobFolder::TearDown();
    }

    // A job saved in its own file. Zip jobs archive Root/src-<name>/, copy jobs copy it.
    std::string SaveJob(const std::string& sName, bool bZip, bool bSuspended = false, bool bMissingSource = false,
                        int iCopyStyle = 0) {
        std::string sSource = Root + "src-" + sName + "/";
        if (!bMissingSource) WriteFile(sSource + "data.txt", "payload of " + sName + "\n");
        CBackupJob job;
        job.SetJobNameRaw(sName);
        job.SetFileNameRaw(CBackupJob::JobFileNameFor(sName));
        job.SetTargetDirectoryRaw(Root + "target-" + sName + "/");
        job.SetFilesToZip((bMissingSource ? Root + "missing-" + sName + "/" : sSource) + "\r\n");
        job.SetSubdirectories(true);
        job.SetCompress(bZip);
        job.SetCopyStyle(iCopyStyle);
        job.SetNumberCopies(3);
        job.SetStartTime(libDates::TimeSerial(20, 30, 0));
        job.SetFrequency(CBackupJob::Daily);
        job.SetDayOfWeek(CBackupJob::AllDays);
        job.SetSuspended(bSuspended);
        EXPECT_FALSE(job.SaveBackupJobIniFile());
        std::filesystem::create_directories(Root + "target-" + sName + "/");
        return job.FileName();
    }

    QTreeWidget* List() { return Form->lvwSchedule; }
    int Rows() { return List()->topLevelItemCount(); }
    QTreeWidgetItem* Row(int i) { return List()->topLevelItem(i); }
    QTreeWidgetItem* RowNamed(const std::string& sName) {
        for (int i = 0; i < Rows(); ++i)
            if (Row(i)->text(0).toStdString() == sName) return Row(i);
        return nullptr;
    }
    // The text of a column (by identity) in a row; "<hidden>" when the column is not shown.
    std::string Cell(QTreeWidgetItem* row, int iColumn) {
        int i = Form->ColumnIndex(iColumn);
        return i < 0 ? "<hidden>" : row->text(i).toStdString();
    }
    // The texts of several columns of a row, in the order asked for.
    std::vector<std::string> Cells(QTreeWidgetItem* row, std::initializer_list<int> columns) {
        std::vector<std::string> texts;
        for (int iColumn : columns)
            texts.push_back(Cell(row, iColumn));
        return texts;
    }
    std::vector<std::string> Headers() {
        std::vector<std::string> h;
        for (int i = 0; i < List()->columnCount(); ++i)
            h.push_back(List()->headerItem()->text(i).toStdString());
        return h;
    }
    void Select(std::initializer_list<const char*> names) {
        List()->clearSelection();
        bool bFirst = true;
        for (const char* n : names) {
            QTreeWidgetItem* r = RowNamed(n);
            ASSERT_NE(r, nullptr) << n;
            if (bFirst) List()->setCurrentItem(r, 0, QItemSelectionModel::NoUpdate);
            r->setSelected(true);
            bFirst = false;
        }
    }
};
