// The one-shot dates editor: the sorted unique list, the past-date check, the spinners and the
// texts handed back.

#include "DriveDialog.h"
#include "app/QtHelpers.h"
#include "common/TempAppFolder.h"
#include "ui/frmOneShot.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using QtHelpers::Q;
using QtHelpers::S;

using UserInteraction::Icon;

namespace {

void Pick(frmOneShot& dlg, int iYear, int iMonth, int iDay, const char* sTime) {
    dlg.vscrYear->setValue(iYear);
    dlg.vscrMonth->setValue(iMonth);
    dlg.vscrDay->setValue(iDay);
    dlg.txtTime->setText(sTime);
    dlg.txtTime_LostFocus();
}
} // namespace

class OneShotTest : public TempAppFolder {
protected:
    ModalScript Script;

    void SetUp() override {
        TempAppFolder::SetUp();
        // Saturday Dec-05-2026 15:00.
        libDates::SetClock(libDates::DateSerial(2026, 12, 5) + libDates::TimeSerial(15, 0, 0));
    }
};

TEST_F(OneShotTest, LoadsSortsAddsDeletesAndWritesBackOnOkRefusingThePast) {
    std::string sDates = "Dec-12-2026 09:00\r\nnot a date\r\n\r\nDec-10-2026 09:00\r\nDec-11-2026 09:00\r\n"
                         "Dec-12-2026 09:00\r\n";
    DriveDialog<frmOneShot>(Script, [](frmOneShot& dlg) {
        EXPECT_EQ(S(dlg.windowTitle()), "One shot dates for - Daily");
        EXPECT_EQ(Lines(*dlg.lstDates),
                  (std::vector<std::string>{"Dec-10-2026 09:00", "Dec-11-2026 09:00", "Dec-12-2026 09:00"}));
        // The spinners start at the present date and time.
        EXPECT_EQ(S(dlg.txtMonth->text()), "Dec");
        EXPECT_EQ(S(dlg.txtDay->text()), "5");
        EXPECT_EQ(S(dlg.txtYear->text()), "2026");
        EXPECT_EQ(S(dlg.txtTime->text()), "15:00");
        // Delete selects the entry now at the current position; without a selection nothing goes.
        dlg.lstDates->setCurrentRow(2);
        dlg.cmdDelete->click();
        ASSERT_EQ(dlg.lstDates->selectedItems().size(), 1);
        EXPECT_EQ(S(dlg.lstDates->selectedItems()[0]->text()), "Dec-11-2026 09:00");
        dlg.lstDates->clearSelection();
        dlg.cmdDelete->click();
        EXPECT_EQ(dlg.lstDates->count(), 2);
        dlg.cmdOK->click();
    });
    EXPECT_TRUE(frmOneShot::Execute(sDates, "Daily"));
    EXPECT_EQ(sDates, "Dec-10-2026 09:00\r\nDec-11-2026 09:00\r\n");

    // OK on a cleared list removes every date.
    DriveDialog<frmOneShot>(Script, [](frmOneShot& dlg) {
        dlg.cmdClear->click();
        EXPECT_EQ(dlg.lstDates->count(), 0);
        dlg.cmdOK->click();
    });
    EXPECT_TRUE(frmOneShot::Execute(sDates, "Daily"));
    EXPECT_EQ(sDates, "");

    // Add keeps the list sorted and unique.
    DriveDialog<frmOneShot>(Script, [](frmOneShot& dlg) {
        Pick(dlg, 2026, 12, 5, "14:30"); // today, at an hour already gone: accepted
        dlg.cmdAdd->click();
        dlg.cmdAdd->click();
        EXPECT_EQ(Lines(*dlg.lstDates), std::vector<std::string>{"Dec-05-2026 14:30"});
        Pick(dlg, 2027, 1, 2, "7:5");
        EXPECT_EQ(S(dlg.txtTime->text()), "07:05");
        dlg.cmdAdd->click();
        Pick(dlg, 2026, 12, 31, "23:59");
        dlg.cmdAdd->click();
        EXPECT_EQ(Lines(*dlg.lstDates),
                  (std::vector<std::string>{"Dec-05-2026 14:30", "Dec-31-2026 23:59", "Jan-02-2027 07:05"}));
        // The new entry is the one selected.
        ASSERT_EQ(dlg.lstDates->selectedItems().size(), 1);
        EXPECT_EQ(S(dlg.lstDates->selectedItems()[0]->text()), "Dec-31-2026 23:59");
        dlg.cmdOK->click();
    });
    EXPECT_TRUE(frmOneShot::Execute(sDates, "Job"));
    EXPECT_EQ(sDates, "Dec-05-2026 14:30\r\nDec-31-2026 23:59\r\nJan-02-2027 07:05\r\n");

    // Yesterday and a bad time are refused, and Cancel keeps the dates.
    sDates = "Dec-24-2026 08:00\r\n";
    DriveDialog<frmOneShot>(Script, [](frmOneShot& dlg) {
        Pick(dlg, 2026, 12, 4, "23:00");
        dlg.cmdAdd->click();
        EXPECT_EQ(dlg.lstDates->count(), 1);
        dlg.txtTime->setText("24:10");
        EXPECT_FALSE(dlg.txtTime_LostFocus());
        dlg.cmdCancel->click();
    });
    EXPECT_FALSE(frmOneShot::Execute(sDates, "Job"));
    EXPECT_EQ(sDates, "Dec-24-2026 08:00\r\n");
    auto m = Seam->Messages();
    ASSERT_EQ(m.size(), 2u);
    ExpectBox(m[0], "Verification Error", Icon::Information, "This date is in the past, please try again.");
    EXPECT_EQ(m[1].Text, "The proper format for the time is military format HH:MM,\r\n  where HH is "
                         "between 00 and 23,\r\n  and MM is between 00 and 59");
    EXPECT_EQ(m[1].IconKind, Icon::None);
}
