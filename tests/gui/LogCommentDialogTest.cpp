// The log comment dialog: the prompted text and the comment written to the transaction log.

#include "common/ModalScript.h"
#include "common/TempAppFolder.h"
#include "support/libLog.h"
#include "ui/frmLogComment.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class LogCommentDialogTest : public TempAppFolder {
protected:
    // Types sText into the dialog and presses OK (or Cancel).
    static std::function<void(QWidget*)> Answer(const QString& sText, bool bOk) {
        return [sText, bOk](QWidget* w) {
            auto* d = qobject_cast<frmLogComment*>(w);
            ASSERT_NE(d, nullptr);
            EXPECT_TRUE(d->txtComment->text().isEmpty()); // every call starts with an empty field
            d->txtComment->setText(sText);
            (bOk ? d->cmdOk : d->cmdCancel)->click();
        };
    }
    std::string LogText() { return Exists(libLog::LogFileName()) ? ReadFile(libLog::LogFileName()) : ""; }
};

TEST_F(LogCommentDialogTest, PromptedTextIsTrimmedOnOkAndEmptiedOnCancel) {
    frmLogComment dialog;
    ModalScript script;
    script.Then(Answer("  weekly archive  ", true))
        .Then(Answer("thrown away", false))
        .Then(Answer("", true))
        .Then([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); }); // Escape / close box

    std::string sText = "old";
    EXPECT_TRUE(dialog.GetPromptedText(sText, "Please enter a comment for backup - Daily"));
    EXPECT_EQ(sText, "weekly archive");
    EXPECT_EQ(dialog.windowTitle(), "Please enter a comment for backup - Daily");

    sText = "kept?";
    EXPECT_FALSE(dialog.GetPromptedText(sText, "Second"));
    EXPECT_EQ(sText, "");

    sText = "x";
    EXPECT_TRUE(dialog.GetPromptedText(sText, "Third"));
    EXPECT_EQ(sText, "");

    sText = "y";
    EXPECT_FALSE(dialog.GetPromptedText(sText, "Fourth"));
    EXPECT_EQ(sText, "");
    EXPECT_EQ(script.Unexpected(), 0);
    EXPECT_EQ(script.StepsLeft(), 0);
}

TEST_F(LogCommentDialogTest, CommentGoesToTheLogUntrimmedAndOnlyWhenGiven) {
    frmLogComment dialog;
    ModalScript script;
    script.Then(Answer("", true))
        .Then(Answer("ignored", false))
        .Then(Answer("   ", true))
        .Then(Answer("Disk swapped", true));

    dialog.GetComment();
    EXPECT_EQ(dialog.windowTitle(), "Add transaction log comment");
    dialog.GetComment();
    EXPECT_EQ(LogText(), ""); // empty answer and Cancel write nothing

    dialog.GetComment();
    dialog.GetComment();
    std::string sLog = LogText();
    // "mm/dd/yyyy hh:mm:ss" + two blanks + text + CR LF, one line each.
    ASSERT_EQ(sLog.size(), (19 + 2 + 3 + 2) + (19 + 2 + 12 + 2));
    EXPECT_EQ(sLog.substr(19, 7), "     \r\n");
    EXPECT_EQ(sLog.substr(26 + 19), "  Disk swapped\r\n");
    EXPECT_EQ(script.Unexpected(), 0);
}

} // namespace
