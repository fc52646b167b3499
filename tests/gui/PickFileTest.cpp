// The pick-files dialog: specific files and every wildcard mode appended to the caller's list,
// the root-folder rule, the refusals and the remembered folder.

#include "DriveDialog.h"
#include "app/QtHelpers.h"
#include "common/TempAppFolder.h"
#include "ui/frmPickFile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using QtHelpers::Q;
using QtHelpers::S;

using UserInteraction::Icon;

class PickFileTest : public TempAppFolder {
protected:
    std::string Data; // Root + "data" (no final slash, as the dialog shows folders)
    QListWidget Target;
    bool Accepted = false;

    void SetUp() override {
        TempAppFolder::SetUp();
        Data = Root + "data";
        WriteFile(Data + "/a.txt", "a");
        WriteFile(Data + "/b.txt", "b");
        WriteFile(Data + "/c.doc", "c");
        WriteFile(Data + "/.hidden", "h");
        std::filesystem::create_directories(Data + "/sub");
        frmPickFile::LastFolder().clear();
    }
    void TearDown() override {
        CBrowseDlg::Chooser() = nullptr;
        frmPickFile::LastFolder().clear();
        TempAppFolder::TearDown();
    }

    // Opens the dialog, lets fn drive it, and records whether OK closed it.
    void Run(const std::function<void(frmPickFile&)>& fn) {
        ModalScript script;
        DriveDialog<frmPickFile>(script, [&](frmPickFile& dlg) {
            fn(dlg);
            Accepted = dlg.result() == QDialog::Accepted;
        });
        frmPickFile::Execute(nullptr, &Target);
        EXPECT_EQ(script.Handled(), 1);
    }
};

TEST_F(PickFileTest, SpecificFilesAppendOneLinePerSelectedFileInListOrderAndBrowseTakesExistingFolders) {
    Run([&](frmPickFile& dlg) {
        EXPECT_EQ(S(dlg.windowTitle()), "Select File(s) to Backup");
        EXPECT_TRUE(dlg.optSpecificFiles->isChecked());
        EXPECT_TRUE(dlg.filFileList->isEnabled());
        EXPECT_FALSE(dlg.optAllFiles->isEnabled());
        dlg.txtPath->setText(QString::fromStdString(Data));
        // Files only, names beginning with "." included, in name order.
        ASSERT_EQ(dlg.filFileList->count(), 4);
        EXPECT_EQ(S(dlg.filFileList->item(0)->text()), ".hidden");
        dlg.filFileList->item(2)->setSelected(true); // b.txt
        dlg.filFileList->item(1)->setSelected(true); // a.txt
        dlg.cmdOk->click();
    });
    EXPECT_TRUE(Accepted);
    EXPECT_EQ(Lines(Target), (std::vector<std::string>{Data + "/a.txt", Data + "/b.txt"}));
    EXPECT_EQ(frmPickFile::LastFolder(), Data);

    // The next opening starts in the folder used last.
    Run([&](frmPickFile& dlg) {
        EXPECT_EQ(S(dlg.txtPath->text()), Data);
        dlg.optWildcards->click();
        dlg.optSpecificFiles->click(); // back to the list
        EXPECT_TRUE(dlg.filFileList->isEnabled());
        dlg.cmdCancel->click();
    });
    EXPECT_FALSE(Accepted);
    EXPECT_EQ(Target.count(), 2);

    // Browse takes an existing folder without its final slash.
    std::string sPrompt;
    CBrowseDlg::Chooser() = [&](QWidget*, const std::string& sP, const std::string&) {
        sPrompt = sP;
        return Data + "/sub/";
    };
    Run([&](frmPickFile& dlg) {
        dlg.cmdBrowsePath->click();
        EXPECT_EQ(S(dlg.txtPath->text()), Data + "/sub");
        CBrowseDlg::Chooser() = [&](QWidget*, const std::string&, const std::string&) { return std::string("/"); };
        dlg.cmdBrowsePath->click();
        EXPECT_EQ(S(dlg.txtPath->text()), "/");
        CBrowseDlg::Chooser() = [&](QWidget*, const std::string&, const std::string&) { return Root + "gone/"; };
        dlg.cmdBrowsePath->click();
        EXPECT_EQ(S(dlg.txtPath->text()), "/");
    });
    EXPECT_EQ(sPrompt, "Please select a directory to backup.");
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "The specified directory does not exist; please try again.");
    EXPECT_EQ(Seam->Messages()[0].IconKind, Icon::Exclamation);
}

TEST_F(PickFileTest, EveryWildcardMode) {
    struct Case {
        std::function<void(frmPickFile&)> Choose;
        std::string Expected;
        bool bCommonEnabled, bWildcardEnabled; // each choice enables its own field only
    };
    std::vector<Case> cases = {
        {[](frmPickFile& d) { d.optAllFiles->click(); }, "*.*", false, false},
        {[](frmPickFile& d) {
             d.optOtherCommon->click();
             d.cmbCommonExt->setCurrentIndex(d.cmbCommonExt->findText("doc"));
         },
         "*.doc", true, false},
        {[](frmPickFile& d) { d.optOtherCommon->click(); }, "*.*", true, false},
        {[](frmPickFile& d) {
             d.optOtherWildcard->click();
             d.txtOtherWildcard->setText("*.t?t");
         },
         "*.t?t", false, true},
        {[](frmPickFile& d) { d.optOtherWildcard->click(); }, "*.*", false, true},
    };
    for (const auto& c : cases) {
        Target.clear();
        Run([&](frmPickFile& dlg) {
            dlg.txtPath->setText(QString::fromStdString(Data + "/"));
            dlg.optWildcards->click();
            EXPECT_FALSE(dlg.filFileList->isEnabled());
            EXPECT_FALSE(dlg.optSpecificFiles->isChecked());
            c.Choose(dlg);
            EXPECT_EQ(dlg.cmbCommonExt->isEnabled(), c.bCommonEnabled) << c.Expected;
            EXPECT_EQ(dlg.txtOtherWildcard->isEnabled(), c.bWildcardEnabled) << c.Expected;
            dlg.cmdOk->click();
        });
        EXPECT_TRUE(Accepted) << c.Expected;
        EXPECT_EQ(Lines(Target), std::vector<std::string>{Data + "/" + c.Expected});
    }
}

TEST_F(PickFileTest, RootFolderTakesOnlyAllFilesAndRefusalsKeepTheDialogOpen) {
    Run([&](frmPickFile& dlg) {
        dlg.txtPath->setText("/");
        dlg.optWildcards->click();
        dlg.optOtherWildcard->click();
        dlg.txtOtherWildcard->setText("*.*");
        dlg.cmdOk->click();
        EXPECT_EQ(dlg.result(), 0);
        dlg.optOtherCommon->click();
        dlg.cmdOk->click();
        dlg.optAllFiles->click();
        dlg.cmdOk->click();
    });
    ASSERT_EQ(Seam->Messages().size(), 2u);
    EXPECT_EQ(Seam->Messages()[0].Text,
              "You cannot select any wildcard other than '*.*' for use with a full drive path.  Either go to a "
              "subdirectory to use the *.extension notation, or select *.* to backup the entire drive or disk.  This "
              "is a weakness of the zip.exe engine that Stowline calls.  Fix will have to wait until we replace with "
              "dll.");
    EXPECT_EQ(Seam->Messages()[0].Title, "Verification Error");
    EXPECT_EQ(Lines(Target), std::vector<std::string>{"/*.*"});

    // The other refusals keep the dialog open.
    Target.clear();
    Seam->Clear();
    Run([&](frmPickFile& dlg) {
        dlg.txtPath->setText(QString::fromStdString(Data));
        dlg.cmdOk->click(); // nothing selected
        dlg.txtPath->setText(QString::fromStdString(Root + "missing"));
        EXPECT_EQ(dlg.filFileList->count(), 0);
        dlg.cmdOk->click();
        dlg.optWildcards->click();
        dlg.optOtherWildcard->click();
        dlg.txtOtherWildcard->setText("*.d");
        QTest::keyClicks(dlg.txtOtherWildcard, ":");
        QTest::keyClicks(dlg.txtOtherWildcard, "\\");
        EXPECT_EQ(S(dlg.txtOtherWildcard->text()), "*.d");
    });
    EXPECT_FALSE(Accepted);
    EXPECT_EQ(Target.count(), 0);
    auto m = Seam->Messages();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].Text, "You must select files to backup from the file list box before clicking Ok, or leave the "
                         "Wildcards tab visible.  Please do so now.");
    EXPECT_EQ(m[1].Text, "The backup path selected does not exist; please correct it.");
    EXPECT_EQ(m[2].Text, "You cannot press the ':' key when defining a wildcard extension.");
    EXPECT_EQ(m[3].Text, "You cannot press the '\\' key when defining a wildcard extension.");
    EXPECT_EQ(m[2].IconKind, Icon::None);
}
