#pragma once
// A small modal dialog with one text field: asks for a free text under a caller's caption
// (the comment before a backup started by hand) or adds a comment line to the transaction log.

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class frmLogComment : public QDialog {
    Q_OBJECT
public:
    explicit frmLogComment(QWidget* parent = nullptr);

    // Shows the dialog under sCaption. OK: sText = the answer without surrounding blanks, true
    // (also when empty). Cancel: sText = "", false.
    bool GetPromptedText(std::string& sText, const std::string& sCaption);
    // Asks for a comment and writes it, untrimmed, as one line of the transaction log (nothing
    // when the answer is empty or the dialog was cancelled).
    void GetComment();

    // Repeats the caption inside the dialog, where every desktop shows it in full.
    QLabel* lblPrompt = nullptr;
    QLineEdit* txtComment = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

    void cmdOk_Click();
    void cmdCancel_Click();

protected:
    void reject() override;

private:
    void Prepare(const std::string& sCaption);

    std::string m_sEntered;
    bool m_bCancelled = false;
};
