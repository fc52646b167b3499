#pragma once
// The pick-files dialog: choose a folder, then specific files in it or one wildcard
// specification for it; OK appends one source line per choice to the caller's list.
// Also home of CBrowseDlg, the folder browser shared by the dialogs.

#include <QDialog>

#include <array>
#include <functional>
#include <string>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// The folder browser. The platform dialog is a modal QFileDialog; tests set Chooser() so
// that nothing blocks, and answer as the user would (the chosen folder, "" for Cancel).
class CBrowseDlg {
public:
    using ChooserFn =
        std::function<std::string(QWidget* pParent, const std::string& sPrompt, const std::string& sStartPath)>;

    std::string Prompt;
    QWidget* Owner = nullptr; // the window the browser is shown over

    // Shows the folder browser starting at sStartPath; the chosen folder, "" when cancelled.
    std::string ShowBrowseDlg(const std::string& sStartPath, bool bFolderOnly = true);

    // When set, answers in place of the platform dialog.
    static ChooserFn& Chooser();
};

class frmPickFile : public QDialog {
    Q_OBJECT
public:
    explicit frmPickFile(QWidget* pParent = nullptr);

    // Shows the dialog modally over pOwner; OK appends the chosen sources to pTarget.
    static void Execute(QWidget* pOwner, QListWidget* pTarget);
    // The folder used by the last OK, kept for the next opening ("" at first).
    static std::string& LastFolder();

    // Load: the starting folder, the specific-files mode, the file list and the extensions.
    void FormLoad();
    // Points the file list at the folder in txtPath.
    void RefreshFileList();

    QLineEdit* txtPath;
    QPushButton* cmdBrowsePath;
    QRadioButton* optSpecificFiles;
    QListWidget* filFileList;
    QRadioButton* optWildcards;
    QGroupBox* fraWildcards;
    QRadioButton* optAllFiles;
    QRadioButton* optOtherCommon;
    QComboBox* cmbCommonExt;
    QRadioButton* optOtherWildcard;
    QLineEdit* txtOtherWildcard;
    QLabel* lblNote;
    std::array<QPushButton*, 3> cmdCueCard{};
    QPushButton* CmdNotes;
    QPushButton* cmdOk;
    QPushButton* cmdCancel;

public slots:
    void cmdBrowsePath_Click();
    void cmdOk_Click();
    void cmdCancel_Click();
    void optSpecificFiles_Click();
    void optWildcards_Click();
    void optAllFiles_Click();
    void optOtherCommon_Click();
    void optOtherWildcard_Click();
    void cmdCueCard_Click(int iIndex);
    void CmdNotes_Click();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    // Construction: the widgets' places, then their handlers.
    void LayOut(QLabel* pFolderLabel, QHBoxLayout* pButtons);
    void ConnectHandlers();
    void SetMode(bool bSpecificFiles);
    void SetWildcardChoice(QRadioButton* pChosen);

    QListWidget* m_pTarget = nullptr;
    QButtonGroup* m_modeGroup;
    QButtonGroup* m_wildcardGroup;
};
