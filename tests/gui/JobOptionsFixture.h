#pragma once
// The job editor over a job in the temporary application folder, and its message texts.

#include "DriveDialog.h"
#include "app/QtHelpers.h"
#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"
#include "ui/frmJobOptions.h"
#include "ui/frmOneShot.h"
#include "ui/frmPickFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using QtHelpers::Q;
using QtHelpers::S;

using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;

class JobOptionsTest : public TempAppFolder {
protected:
    CBackupJob Job;
    std::unique_ptr<frmJobOptions> Dlg;

    void TearDown() override {
        Dlg.reset();
        TempAppFolder::TearDown();
    }

    frmJobOptions& Open(const std::vector<std::string>& names = {}, int iSelected = -1) {
        Dlg = std::make_unique<frmJobOptions>();
        Dlg->BeginEdit(Job, names, iSelected);
        return *Dlg;
    }

    // An existing job saved in the job folder, as the main window hands it to the editor.
    void MakeExistingJob(const std::string& sName, int iRunCount = 4) {
        const std::string sTarget = Root + "target/";
        std::filesystem::create_directories(sTarget);
        Job.SetJobNameRaw(sName);
        Job.SetTargetDirectoryRaw(sTarget);
        Job.SetFileNameRaw(CBackupJob::JobFileNameFor(sName));
        Job.SetFilesToZip(Root + "src/\r\n");
        Job.SetRunCount(iRunCount);
        Job.SetStartTime(libDates::TimeSerial(21, 15, 0));
        ASSERT_FALSE(Job.SaveBackupJobIniFile());
    }

    // OK clicked, the edit taken, and the job saved as the main window's EditJob then saves it.
    void OkAndSave(frmJobOptions& dlg) {
        dlg.cmdOK->click();
        ASSERT_TRUE(dlg.JobSaved());
        ASSERT_FALSE(Job.SaveBackupJobIniFile());
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : Seam->Messages())
            texts.push_back(m.Text);
        return texts;
    }
    using TextList = std::vector<std::string>;
    // Clicks the button with no message shown before; the texts of the messages it showed.
    std::vector<std::string> Click(QAbstractButton* pButton) {
        Seam->Clear();
        pButton->click();
        return Texts();
    }
    std::string LastText() const {
        auto m = Seam->Messages();
        return m.empty() ? std::string() : m.back().Text;
    }
};
