// The preferences dialog: loading, validation on OK, column moves and what OK stores.

#include "common/ModalScript.h"
#include "common/TempAppFolder.h"
#include "ui/frmPreferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace {

namespace P = appPreferences;

class PreferencesDialogTest : public TempAppFolder {
protected:
    // Captions of lstColumns top to bottom, "-" in front of unchecked ones.
    static std::vector<std::string> Rows(const frmPreferences& d) {
        std::vector<std::string> rows;
        for (int r = 0; r < d.lstColumns->count(); ++r) {
            auto* item = d.lstColumns->item(r);
            rows.push_back((item->checkState() == Qt::Checked ? "" : "-") + item->text().toStdString());
        }
        return rows;
    }
};

TEST_F(PreferencesDialogTest, LoadShowsEveryPreferenceOkStoresCancelKeepsAndColumnsMove) {
    P::MaxBackupCopies = 7;
    P::StopOnError = false;
    P::UseSystemTray = true;
    P::LoggingMode = 2;
    P::LogViewCommand = "xdg-open";
    P::SaveFormSize = true;
    P::Commenting = 1;
    frmPreferences d;
    EXPECT_EQ(d.cmbMaxBackupCopies->currentText(), "7");
    EXPECT_EQ(d.cmbStopOnError->currentText(), "No");
    EXPECT_EQ(d.cmbUseSystemTray->currentText(), "Yes");
    EXPECT_EQ(d.cmbLogMode->currentText(), "Minimal");
    EXPECT_EQ(d.cmbCommentMode->currentText(), "Always");
    EXPECT_EQ(d.txtLogViewer->text(), "xdg-open");
    EXPECT_TRUE(d.chkSaveFormSize->isChecked());
    EXPECT_FALSE(d.chkRunMissedBackups->isChecked());
    EXPECT_EQ(d.chkRunMissedBackups->text(), "Run missed backups at start-up");
    EXPECT_EQ(d.spnStaleDays->value(), 7);
    // Default columns: rows by position, hidden ones unchecked.
    EXPECT_EQ(Rows(d), (std::vector<std::string>{"Job name", "Date last run", "-Time last run", "Date next run",
                                                 "Start time", "Size", "Status", "-Runs", "-Type"}));

    d.cmbMaxBackupCopies->setCurrentIndex(98);
    d.cmbStopOnError->setCurrentIndex(1);
    d.cmbUseSystemTray->setCurrentIndex(1);
    d.cmbLogMode->setCurrentIndex(3);
    d.cmbCommentMode->setCurrentIndex(2);
    d.chkSaveFormSize->setChecked(false);
    d.chkRunMissedBackups->setChecked(true);
    d.spnStaleDays->setValue(0);
    EXPECT_EQ(d.spnStaleDays->text(), "off");
    ModalScript script;
    script.Then([&](QWidget*) { d.cmdOk->click(); });
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(P::MaxBackupCopies, 99);
    EXPECT_FALSE(P::StopOnError);
    EXPECT_FALSE(P::UseSystemTray);
    EXPECT_EQ(P::LoggingMode, 3);
    EXPECT_EQ(P::Commenting, 2);
    EXPECT_FALSE(P::SaveFormSize);
    EXPECT_TRUE(P::RunMissedBackups);
    EXPECT_EQ(P::StaleDays, 0);
    EXPECT_TRUE(Exists(P::PreferencesFileName())); // the file's round trip: see the preferences tests

    // Cancel leaves the preferences and their file untouched.
    std::string sBefore = ReadFile(P::PreferencesFileName());
    frmPreferences cancelled;
    cancelled.cmbMaxBackupCopies->setCurrentIndex(40);
    cancelled.lstColumns->setCurrentRow(3);
    cancelled.cmdMoveColumnUp->click();
    script.Then([&](QWidget*) { cancelled.cmdCancel->click(); });
    EXPECT_FALSE(cancelled.Execute());
    EXPECT_EQ(ReadFile(P::PreferencesFileName()), sBefore);
    EXPECT_EQ(P::Columns[P::colDateNextRun].Position, 3);
    EXPECT_EQ(P::MaxBackupCopies, 99);

    // Column moves: "Job name" never moves, and nothing moves above it.
    frmPreferences c;
    c.lstColumns->setCurrentRow(0);
    c.cmdMoveColumnDown->click();
    c.cmdMoveColumnUp->click();
    c.lstColumns->setCurrentRow(1);
    c.cmdMoveColumnUp->click();
    EXPECT_EQ(Rows(c), (std::vector<std::string>{"Job name", "Date last run", "-Time last run", "Date next run",
                                                 "Start time", "Size", "Status", "-Runs", "-Type"}));
    // Unchecking "Job name" has no effect.
    c.lstColumns->item(0)->setCheckState(Qt::Unchecked);

    // "Time last run" (hidden) from row 2 to row 1.
    c.lstColumns->setCurrentRow(2);
    c.cmdMoveColumnUp->click();
    EXPECT_EQ(c.lstColumns->currentRow(), 1);
    EXPECT_EQ(Rows(c)[1], "-Time last run");
    EXPECT_EQ(Rows(c)[2], "Date last run");
    // "Type" down is impossible at the bottom; "Runs" moves down to the bottom and is shown.
    c.lstColumns->setCurrentRow(8);
    c.cmdMoveColumnDown->click();
    EXPECT_EQ(Rows(c)[8], "-Type");
    c.lstColumns->setCurrentRow(7);
    c.cmdMoveColumnDown->click();
    EXPECT_EQ(c.lstColumns->currentRow(), 8);
    c.lstColumns->item(8)->setCheckState(Qt::Checked);

    c.cmdOk->click();
    EXPECT_EQ(c.result(), QDialog::Accepted);
    std::vector<int> positions; // in the columns' own order, from the job name to the type
    for (const auto& column : P::Columns)
        positions.push_back(column.Position);
    EXPECT_EQ(positions, (std::vector<int>{0, 2, -1, 3, 4, 5, 6, 8, -7}));
    EXPECT_EQ(P::Columns[P::colJobName].Width, 2000); // widths untouched
    EXPECT_TRUE(Exists(P::PreferencesFileName()));

    // A new dialog shows the stored layout; Default puts the list (only) back.
    frmPreferences again;
    EXPECT_EQ(Rows(again), (std::vector<std::string>{"Job name", "-Time last run", "Date last run", "Date next run",
                                                     "Start time", "Size", "Status", "-Type", "Runs"}));
    again.cmdDefault->click();
    EXPECT_EQ(Rows(again), (std::vector<std::string>{"Job name", "Date last run", "-Time last run", "Date next run",
                                                     "Start time", "Size", "Status", "-Runs", "-Type"}));
    EXPECT_EQ(P::Columns[P::colRunCount].Position, 8);
}

TEST_F(PreferencesDialogTest, OkRefusesInOrderAndStaysOpen) {
    P::MaxBackupCopies = 0; // a file without that key
    P::LogViewCommand = "/no/such/viewer";
    frmPreferences d;
    EXPECT_EQ(d.cmbMaxBackupCopies->currentIndex(), -1);
    d.cmdOk->click();
    d.cmbMaxBackupCopies->setCurrentIndex(2);
    d.cmbStopOnError->setCurrentIndex(-1);
    d.cmdOk->click();
    d.cmbStopOnError->setCurrentIndex(0);
    d.cmbUseSystemTray->setCurrentIndex(-1);
    d.cmdOk->click();
    d.cmbUseSystemTray->setCurrentIndex(1);
    d.cmdOk->click();

    auto m = Seam->Messages();
    ASSERT_EQ(m.size(), 4u);
    for (auto& r : m) {
        EXPECT_EQ(r.Title, "Verification Error");
        EXPECT_EQ(r.IconKind, UserInteraction::Icon::None);
        EXPECT_EQ(r.ButtonSet, UserInteraction::Buttons::OK);
    }
    EXPECT_EQ(m[0].Text, "You must select a value between 1 and 99 \r\nfor the 'Maximum Number of Backup Copies' "
                         "\r\ndrop-down box.");
    EXPECT_EQ(m[1].Text, "You must select either Yes or No from \r\nthe 'Stop on Error' drop-down box. ");
    EXPECT_EQ(m[2].Text, "You must select either Yes or No from \r\nthe 'Use system tray' drop-down box. ");
    EXPECT_EQ(m[3].Text, "Log viewer is invalid ");
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_FALSE(Exists(P::PreferencesFileName()));
    EXPECT_EQ(P::MaxBackupCopies, 0);
}

} // namespace
