#include "ui/frmPickFile.h"

#include "app/QtHelpers.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace QtHelpers;

namespace {
const char* const kModule = "frmPickFile";
const char* const kTitle = QT_TRANSLATE_NOOP("frmPickFile", "Verification Error");
// The root of the file system: the one folder for which only "*.*" may be chosen.
const char* const kRoot = "/";

} // namespace

// ---------------------------------------------------------------- CBrowseDlg

CBrowseDlg::ChooserFn& CBrowseDlg::Chooser() {
    static ChooserFn fn;
    return fn;
}

std::string CBrowseDlg::ShowBrowseDlg(const std::string& sStartPath, bool /*bFolderOnly*/) {
    if (Chooser()) return Chooser()(Owner, Prompt, sStartPath);
    QString sChosen = QFileDialog::getExistingDirectory(Owner, Q(Prompt), Q(sStartPath),
                                                        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    return S(sChosen);
}

// ---------------------------------------------------------------- frmPickFile

std::string& frmPickFile::LastFolder() {
    static std::string s;
    return s;
}

frmPickFile::frmPickFile(QWidget* pParent) : QDialog(pParent) {
    setObjectName("frmPickFile");
    setWindowTitle(tr("Select File(s) to Backup"));
    setModal(true);

    auto* pFolderLabel = new QLabel(tr("Folder:"), this);
    txtPath = new QLineEdit(this);
    txtPath->setObjectName("txtPath");
    pFolderLabel->setBuddy(txtPath);
    cmdBrowsePath = new QPushButton("...", this);
    cmdBrowsePath->setObjectName("cmdBrowsePath");
    cmdBrowsePath->setFixedWidth(32);
    cmdBrowsePath->setToolTip(tr("Browse for a folder"));

    optSpecificFiles = new QRadioButton(tr("Specific File(s)"), this);
    optSpecificFiles->setObjectName("optSpecificFiles");
    filFileList = new QListWidget(this);
    filFileList->setObjectName("filFileList");
    filFileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    filFileList->setSortingEnabled(false);

    optWildcards = new QRadioButton(tr("Wildcard Specification"), this);
    optWildcards->setObjectName("optWildcards");
    fraWildcards = new QGroupBox(this);
    fraWildcards->setObjectName("fraWildcards");
    optAllFiles = new QRadioButton(tr("All Files (*.*)"), fraWildcards);
    optAllFiles->setObjectName("optAllFiles");
    optOtherCommon = new QRadioButton(tr("Common Extension:"), fraWildcards);
    optOtherCommon->setObjectName("optOtherCommon");
    cmbCommonExt = new QComboBox(fraWildcards);
    cmbCommonExt->setObjectName("cmbCommonExt");
    optOtherWildcard = new QRadioButton(tr("Custom spec:"), fraWildcards);
    optOtherWildcard->setObjectName("optOtherWildcard");
    txtOtherWildcard = new QLineEdit(fraWildcards);
    txtOtherWildcard->setObjectName("txtOtherWildcard");
    txtOtherWildcard->installEventFilter(this);
    txtOtherWildcard->setMinimumWidth(110);

    lblNote = new QLabel(tr("Note: read the Notes before you select very large files or files that other "
                            "programs keep open."),
                         this);
    lblNote->setObjectName("lblNote");
    lblNote->setWordWrap(true);
    for (int i = 0; i < 3; ++i)
        cmdCueCard[i] = CueCardButton(this, QString("cmdCueCard%1").arg(i));
    CmdNotes = new QPushButton(tr("&Notes"), this);
    CmdNotes->setObjectName("CmdNotes");
    QHBoxLayout* pButtons = OkCancelRow(this, tr("OK"), cmdOk, cmdCancel, 1);

    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->addButton(optSpecificFiles);
    m_modeGroup->addButton(optWildcards);
    m_wildcardGroup = new QButtonGroup(this);
    m_wildcardGroup->addButton(optAllFiles);
    m_wildcardGroup->addButton(optOtherCommon);
    m_wildcardGroup->addButton(optOtherWildcard);

    LayOut(pFolderLabel, pButtons);
    ConnectHandlers();

    // The wildcard choice starts at "All Files", so the extension list and custom text are off.
    optAllFiles->setChecked(true);
}

// Folder row, the two modes side by side, then notes and the buttons.
void frmPickFile::LayOut(QLabel* pFolderLabel, QHBoxLayout* pButtons) {
    auto* pMain = new QVBoxLayout(this);
    auto* pFolderRow = new QHBoxLayout;
    pFolderRow->addWidget(pFolderLabel);
    pFolderRow->addWidget(txtPath, 1);
    pFolderRow->addWidget(cmdBrowsePath);
    pMain->addLayout(pFolderRow);

    auto* pModes = new QHBoxLayout;
    auto* pLeft = new QVBoxLayout;
    auto* pSpecRow = new QHBoxLayout;
    pSpecRow->addWidget(optSpecificFiles);
    pSpecRow->addStretch(1);
    pSpecRow->addWidget(cmdCueCard[0]);
    pLeft->addLayout(pSpecRow);
    pLeft->addWidget(filFileList, 1);
    pModes->addLayout(pLeft, 1);

    auto* pRight = new QVBoxLayout;
    auto* pWildRow = new QHBoxLayout;
    pWildRow->addWidget(optWildcards);
    pWildRow->addStretch(1);
    pWildRow->addWidget(cmdCueCard[1]);
    pRight->addLayout(pWildRow);
    auto* pWildGrid = new QGridLayout(fraWildcards);
    pWildGrid->addWidget(optAllFiles, 0, 0, 1, 2);
    pWildGrid->addWidget(optOtherCommon, 1, 0);
    pWildGrid->addWidget(cmbCommonExt, 1, 1);
    pWildGrid->addWidget(optOtherWildcard, 2, 0);
    auto* pCustomRow = new QHBoxLayout;
    pCustomRow->addWidget(txtOtherWildcard, 1);
    pCustomRow->addWidget(cmdCueCard[2]);
    pWildGrid->addLayout(pCustomRow, 2, 1);
    pRight->addWidget(fraWildcards);
    pRight->addStretch(1);
    pModes->addLayout(pRight, 1);
    pMain->addLayout(pModes, 1);

    pMain->addWidget(lblNote);
    pButtons->insertWidget(0, CmdNotes);
    pMain->addLayout(pButtons);
    resize(560, 400);
}

void frmPickFile::ConnectHandlers() {
    connect(txtPath, &QLineEdit::textChanged, this, [this] { RefreshFileList(); });
    connect(cmdBrowsePath, &QPushButton::clicked, this, &frmPickFile::cmdBrowsePath_Click);
    connect(optSpecificFiles, &QRadioButton::clicked, this, &frmPickFile::optSpecificFiles_Click);
    connect(optWildcards, &QRadioButton::clicked, this, &frmPickFile::optWildcards_Click);
    connect(optAllFiles, &QRadioButton::clicked, this, &frmPickFile::optAllFiles_Click);
    connect(optOtherCommon, &QRadioButton::clicked, this, &frmPickFile::optOtherCommon_Click);
    connect(optOtherWildcard, &QRadioButton::clicked, this, &frmPickFile::optOtherWildcard_Click);
    for (int i = 0; i < 3; ++i)
        connect(cmdCueCard[i], &QPushButton::clicked, this, [this, i] { cmdCueCard_Click(i); });
    connect(CmdNotes, &QPushButton::clicked, this, &frmPickFile::CmdNotes_Click);
    connect(cmdOk, &QPushButton::clicked, this, &frmPickFile::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmPickFile::cmdCancel_Click);
}

void frmPickFile::Execute(QWidget* pOwner, QListWidget* pTarget) {
    frmPickFile dlg(pOwner);
    dlg.m_pTarget = pTarget;
    dlg.FormLoad();
    dlg.exec();
    dlg.m_pTarget = nullptr;
}

void frmPickFile::FormLoad() {
    libErrorHandler::Trap(kModule, "Form_Load()", [&] {
        std::string& sLast = LastFolder();
        if (sLast.empty()) sLast = kRoot;
        // A folder that has gone away since the last opening: start at the root instead.
        if (!libFiles::DirExists(sLast)) sLast = kRoot;
        txtPath->setText(Q(sLast));
        optSpecificFiles->setChecked(true);
        SetMode(true);
        RefreshFileList();
        cmbCommonExt->clear();
        for (const char* p : {"pdf", "exe", "mp3", "jpg", "jpeg", "gif", "bmp", "cfg", "sys", "bat", "dat", "ini",
                              "dll", "ocx", "xls", "doc", "mdb", "ppt"})
            cmbCommonExt->addItem(p);
        cmbCommonExt->setCurrentIndex(-1);
    });
}

void frmPickFile::RefreshFileList() {
    filFileList->clear();
    QString sFolder = txtPath->text();
    if (sFolder.isEmpty()) return;
    QDir dir(sFolder);
    if (!dir.exists()) return;
    // Names beginning with "." are ordinary files here; folders are chosen through txtPath.
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    filFileList->addItems(names);
}

void frmPickFile::SetMode(bool bSpecificFiles) {
    filFileList->setEnabled(bSpecificFiles);
    cmdCueCard[0]->setEnabled(bSpecificFiles);
    fraWildcards->setEnabled(!bSpecificFiles);
    optAllFiles->setEnabled(!bSpecificFiles);
    optOtherCommon->setEnabled(!bSpecificFiles);
    optOtherWildcard->setEnabled(!bSpecificFiles);
    cmdCueCard[1]->setEnabled(!bSpecificFiles);
    cmdCueCard[2]->setEnabled(!bSpecificFiles);
    if (bSpecificFiles) {
        cmbCommonExt->setEnabled(false);
        txtOtherWildcard->setEnabled(false);
    } else {
        cmbCommonExt->setEnabled(optOtherCommon->isChecked());
        txtOtherWildcard->setEnabled(optOtherWildcard->isChecked());
    }
}

void frmPickFile::optSpecificFiles_Click() {
    optSpecificFiles->setChecked(true);
    SetMode(true);
}

void frmPickFile::optWildcards_Click() {
    optWildcards->setChecked(true);
    SetMode(false);
}

void frmPickFile::SetWildcardChoice(QRadioButton* pChosen) {
    pChosen->setChecked(true);
    cmbCommonExt->setEnabled(pChosen == optOtherCommon);
    txtOtherWildcard->setEnabled(pChosen == optOtherWildcard);
}

void frmPickFile::optAllFiles_Click() { SetWildcardChoice(optAllFiles); }
void frmPickFile::optOtherCommon_Click() { SetWildcardChoice(optOtherCommon); }

void frmPickFile::optOtherWildcard_Click() {
    SetWildcardChoice(optOtherWildcard);
    txtOtherWildcard->setFocus();
}

bool frmPickFile::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == txtOtherWildcard && pEvent->type() == QEvent::KeyPress) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        const QString sKey = pKey->text();
        // A wildcard is one name within the chosen folder: no drive or folder separators.
        if (sKey == ":" || sKey == "\\" || sKey == "/") {
            MsgBox(S(tr("You cannot press the '%1' key when defining a wildcard extension.").arg(sKey)), Buttons::OK,
                   Icon::None, S(tr(kTitle)));
            return true;
        }
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

void frmPickFile::cmdBrowsePath_Click() {
    libErrorHandler::Trap(kModule, "cmdAddDirectory_Click()", [&] {
        CBrowseDlg browse;
        browse.Owner = this;
        browse.Prompt = S(tr("Please select a directory to backup."));
        std::string sPath = browse.ShowBrowseDlg(S(txtPath->text()), true);
        if (sPath.empty()) return;
        libFiles::NormalizeFolderPath(sPath);
        if (libFiles::DirExists(sPath)) {
            if (sPath != kRoot) sPath = libFiles::RemoveTrailingSlash(sPath);
            txtPath->setText(Q(sPath));
        } else {
            MsgBox(S(tr("The specified directory does not exist; please try again.")), Buttons::OK, Icon::Exclamation,
                   S(tr(kTitle)));
        }
    });
}

void frmPickFile::cmdOk_Click() {
    libErrorHandler::Trap(kModule, "cmdOK_Click()", [&] {
        const std::string sFolder = libFiles::AddTrailingSlash(S(txtPath->text()));
        if (sFolder.empty() || !libFiles::DirExists(sFolder)) {
            MsgBox(S(tr("The backup path selected does not exist; please correct it.")), Buttons::OK, Icon::None,
                   S(tr(kTitle)));
            return;
        }
        std::vector<std::string> lines;
        if (optSpecificFiles->isChecked()) {
            for (int i = 0; i < filFileList->count(); ++i)
                if (filFileList->item(i)->isSelected()) lines.push_back(sFolder + S(filFileList->item(i)->text()));
            if (lines.empty()) {
                MsgBox(S(tr("You must select files to backup from the file list box before "
                            "clicking Ok, or leave the Wildcards tab visible.  Please do so now.")),
                       Buttons::OK, Icon::None, S(tr(kTitle)));
                return;
            }
        } else {
            if (sFolder == kRoot && !optAllFiles->isChecked()) {
                MsgBox(S(tr("You cannot select any wildcard other than '*.*' for use "
                            "with a full drive path.  Either go to a subdirectory to "
                            "use the *.extension notation, or select *.* to backup "
                            "the entire drive or disk.  This is a weakness of the "
                            "zip.exe engine that Stowline calls.  Fix will have to wait until we replace with dll.")),

                       Buttons::OK, Icon::None, S(tr(kTitle)));
                return;
            }
            std::string sWildcard = "*.*";
            if (optOtherCommon->isChecked() && cmbCommonExt->currentIndex() >= 0)
                sWildcard = "*." + S(cmbCommonExt->currentText());
            else if (optOtherWildcard->isChecked() && !txtOtherWildcard->text().isEmpty())
                sWildcard = S(txtOtherWildcard->text());
            txtOtherWildcard->setText(Q(sWildcard));
            lines.push_back(sFolder + sWildcard);
        }
        if (m_pTarget)
            for (const auto& sLine : lines)
                m_pTarget->addItem(Q(sLine));
        LastFolder() = S(txtPath->text());
        accept();
    });
}

void frmPickFile::cmdCancel_Click() { reject(); }

void frmPickFile::cmdCueCard_Click(int iIndex) {
    switch (iIndex) {
    case 0:
        MsgBox(S(tr("Highlight the file or files that you want to include in \r\n"
                    "this backup set.\r\n"
                    "\r\n"
                    "To select multiple contingent files, click the first file, \r\n"
                    "then while depressing the shift-key, click the last file.\r\n"
                    "\r\n"
                    "To add files, depress the ctrl-key and click the file.")),
               Buttons::OK, Icon::Information, S(tr("Pick Specific File(s)")));
        break;
    case 1:
        MsgBox(S(tr("Pick a wildcard specification from the options below.")), Buttons::OK, Icon::Information,
               S(tr("Pick Specification")));
        break;
    case 2:
        MsgBox(S(tr("Here are some examples:\r\n"
                    "\r\n"
                    "*.doc  -  Word documents only\r\n"
                    "*.c      -  All C source code files\r\n"
                    "*.html  -  All html files")),
               Buttons::OK, Icon::Information, S(tr("Wildcard Custom Specication")));
        break;
    default:
        break;
    }
}

void frmPickFile::CmdNotes_Click() {
    MsgBox(S(tr("1. Never select 'pagefile.sys' or 'win386.swp' files.\r\n"
                "2. Zipping will not work for files larger than 2 GB.\r\n"
                "3. Never select Lotus Organizer, Exchange *.pst files\r\n"
                "   or other files actively in use.")),
           Buttons::OK, Icon::None, S(tr("File Selection Notes")));
}
