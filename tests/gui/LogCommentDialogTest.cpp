// The log comment dialog: the prompted text and the comment written to the transaction log.

#include "common/ModalScript.h"
#include "common/TempAppFolder.h"
#include "ui/frmLogComment.h"

#include <QLineEdit>
#include <QPushButton>

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
};

TEST_F(LogCommentDialogTest, PromptedTextIsTrimmedButTheLoggedCommentIsNot) {
    frmLogComment dialog;
    ModalScript script;
    script.Then(Answer("  weekly archive  ", true))
        .Then(Answer("thrown away", false))
        .Then(Answer("", true))
        .Then([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); }) // Escape / close box
        .Then(Answer("", true))
        .Then(Answer("ignored", false))
        .Then(Answer("   ", true))
        .Then(Answer("Disk swapped", true));

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

    dialog.GetComment();
    EXPECT_EQ(dialog.windowTitle(), "Add transaction log comment");
    dialog.GetComment();
    EXPECT_TRUE(LogLines().empty()); // empty answer and Cancel write nothing
    dialog.GetComment();
    dialog.GetComment();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"   ", "Disk swapped"}));
    EXPECT_EQ(script.Unexpected(), 0);
    EXPECT_EQ(script.StepsLeft(), 0);
}

} // namespace
