#include "ui/frmVersions.h"

#include "app/QtHelpers.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "ui/frmRestore.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using QtHelpers::Q;
using QtHelpers::S;
using UserInteraction::Buttons;
using UserInteraction::Icon;

namespace {

const char* const kModule = "frmVersions";
const char* const kOpenPrefix = "stowline-open-"; // + process id + "-" + random

// The folders of opened copies that a program ended without removing (killed): those of this
// user's processes that are gone. A link is never followed.
void RemoveLeftovers() {
    const QDir temp(QDir::tempPath());
    for (const QString& sName : temp.entryList({QString(kOpenPrefix) + "*"}, QDir::Dirs | QDir::NoSymLinks)) {
        bool bNumber = false;
        const pid_t pid = sName.mid(static_cast<int>(std::strlen(kOpenPrefix))).section('-', 0, 0).toInt(&bNumber);
        if (!bNumber || pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        const QString sPath = temp.filePath(sName);
        struct stat st {};
        if (::lstat(sPath.toLocal8Bit().constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        QDir(sPath).removeRecursively();
    }
}

} // namespace

frmVersions::frmVersions(const CBackupJob& job, const std::vector<libRestore::BackupInfo>& backups,
                         const libRestore::Entry& file, const std::string& sToFolder, QWidget* parent)
    : QDialog(parent), m_job(job) {
    setObjectName("frmVersions");
    const std::string sShown = file.OriginalPath.empty() ? file.Name : file.OriginalPath;
    setWindowTitle(tr("Versions - %1").arg(Q(libFiles::FilePathStripPath(sShown))));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Versions of %1, newest first:").arg(Q(sShown)), this));
    lvwVersions = new QTreeWidget(this);
    lvwVersions->setObjectName("lvwVersions");
    lvwVersions->setHeaderLabels({tr("Date"), tr("Size"), tr("Change"), tr("Backup")});
    lvwVersions->setRootIsDecorated(false);
    lvwVersions->header()->setSectionResizeMode(3, QHeaderView::Stretch);
    layout->addWidget(lvwVersions, 1);

    auto* toRow = new QHBoxLayout;
    optOriginal = new QRadioButton(tr("Restore to the &original place"), this);
    optOriginal->setObjectName("optOriginal");
    optFolder = new QRadioButton(tr("Restore &into:"), this);
    optFolder->setObjectName("optFolder");
    txtToFolder = new QLineEdit(Q(sToFolder), this);
    txtToFolder->setObjectName("txtToFolder");
    (sToFolder.empty() ? optOriginal : optFolder)->setChecked(true);
    toRow->addWidget(optOriginal);
    toRow->addWidget(optFolder);
    toRow->addWidget(txtToFolder, 1);
    layout->addLayout(toRow);

    auto* buttons = new QHBoxLayout;
    cmdOpen = new QPushButton(tr("&Open"), this);
    cmdOpen->setObjectName("cmdOpen");
    cmdRestore = new QPushButton(tr("&Restore"), this);
    cmdRestore->setObjectName("cmdRestore");
    cmdClose = new QPushButton(tr("&Close"), this);
    cmdClose->setObjectName("cmdClose");
    buttons->addWidget(cmdOpen);
    buttons->addStretch();
    buttons->addWidget(cmdRestore);
    buttons->addWidget(cmdClose);
    layout->addLayout(buttons);
    sbarVersions = new QStatusBar(this);
    sbarVersions->setObjectName("sbarVersions");
    sbarVersions->setSizeGripEnabled(false);
    layout->addWidget(sbarVersions);
    resize(640, 360);

    connect(cmdOpen, &QPushButton::clicked, this, [this] { cmdOpen_Click(); });
    connect(cmdRestore, &QPushButton::clicked, this, [this] { cmdRestore_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { reject(); });
    connect(lvwVersions, &QTreeWidget::itemDoubleClicked, this, [this] { cmdOpen_Click(); });
    connect(txtToFolder, &QLineEdit::textEdited, this, [this] { optFolder->setChecked(true); });

    libErrorHandler::Trap(kModule, "Form_Load()", [&] {
        std::vector<std::string> problems;
        m_versions = FileVersions::Find(m_job, backups, file, problems);
        for (const FileVersions::Version& v : m_versions) {
            const libRestore::BackupInfo& b = v.Backup;
            auto* row =
                new QTreeWidgetItem(lvwVersions, {frmRestore::TimeText(b.MTimeNs), frmRestore::SizeText(v.Entry.Size),
                                                  ChangeText(v.AgainstOlder), frmRestore::BackupRow(b)[0]});
            row->setToolTip(3, Q(b.Path));
        }
        for (int iColumn = 0; iColumn < 3; ++iColumn)
            lvwVersions->resizeColumnToContents(iColumn);
        if (!m_versions.empty()) lvwVersions->setCurrentItem(lvwVersions->topLevelItem(0));
        QString sStatus = tr("%1 versions").arg(m_versions.size());
        if (!problems.empty()) sStatus += " - " + Q(problems.front());
        sbarVersions->showMessage(sStatus);
    });
}

frmVersions::~frmVersions() = default; // the opened copies' folder goes with m_openFolder

QString frmVersions::ChangeText(FileVersions::Change change) {
    switch (change) {
    case FileVersions::Change::Same:
        return tr("same");
    case FileVersions::Change::Differs:
        return tr("differs");
    case FileVersions::Change::NotCompared:
        return tr("not compared");
    case FileVersions::Change::Oldest:
        break;
    }
    return tr("oldest");
}

std::string frmVersions::OpenFolder() const { return m_openFolder ? S(m_openFolder->path()) : std::string(); }

const FileVersions::Version* frmVersions::Chosen() {
    const int i = lvwVersions->indexOfTopLevelItem(lvwVersions->currentItem());
    if (i >= 0 && i < static_cast<int>(m_versions.size())) return &m_versions[static_cast<size_t>(i)];
    UserInteraction::MsgBox(S(tr("Choose a version first.")), Buttons::OK, Icon::Information, S(tr("Versions")));
    return nullptr;
}

bool frmVersions::RestoreVersion(const FileVersions::Version& version, const std::string& sToFolder,
                                 libRestore::Conflict onConflict) {
    libRestore::Options options;
    options.ToFolder = sToFolder;
    options.OnConflict = onConflict;
    options.Password = m_job.Password();
    // A copy tree is not walked again for one file: the version is its whole selection.
    const std::vector<libRestore::Entry> only{version.Entry};
    options.Contents = &only;
    if (!frmRestore::AskPassword(version.Backup, options.Password)) return false;
    m_report = libRestore::Restore(m_job, version.Backup, only, options);
    if (m_report.Result == libRestore::Status::Ok) return true;
    QString sWhy = Q(m_report.Error);
    for (const std::string& s : m_report.Problems)
        sWhy += (sWhy.isEmpty() ? "" : "\r\n") + Q(s);
    sbarVersions->showMessage(tr("Not restored."));
    UserInteraction::MsgBox(S(tr("The version was not restored.\r\n%1").arg(sWhy)), Buttons::OK, Icon::Exclamation,
                            S(tr("Versions")));
    return false;
}

void frmVersions::cmdRestore_Click() {
    libErrorHandler::Trap(kModule, "cmdRestore_Click()", [&] {
        const FileVersions::Version* version = Chosen();
        if (version == nullptr) return;
        std::string sTo;
        if (optFolder->isChecked()) {
            sTo = S(txtToFolder->text().trimmed());
            if (sTo.empty() || sTo[0] != '/') {
                UserInteraction::MsgBox(S(tr("Choose the folder to restore into (a full path).")), Buttons::OK,
                                        Icon::Information, S(tr("Versions")));
                return;
            }
        }
        const std::string sDest =
            sTo.empty() ? version->Entry.OriginalPath : libFiles::AddTrailingSlash(sTo) + version->Entry.Name;
        struct stat st {};
        const libRestore::Conflict onConflict = frmRestore::ConflictChoice(::lstat(sDest.c_str(), &st) == 0 ? 1 : 0);
        if (!RestoreVersion(*version, sTo, onConflict)) return;
        sbarVersions->showMessage(
            m_report.Restored > 0 ? tr("Restored the version of %1.").arg(frmRestore::TimeText(version->Backup.MTimeNs))
                                  : tr("Not restored: the file that exists was kept."));
    });
}

void frmVersions::cmdOpen_Click() {
    libErrorHandler::Trap(kModule, "cmdOpen_Click()", [&] {
        const FileVersions::Version* version = Chosen();
        if (version == nullptr) return;
        if (!m_openFolder) {
            // Private: the copies may be what the backup keeps from others' eyes.
            RemoveLeftovers();
            m_openFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/" + kOpenPrefix +
                                                           QString::number(::getpid()) + "-XXXXXX");
            if (!m_openFolder->isValid() || ::chmod(m_openFolder->path().toLocal8Bit().constData(), 0700) != 0) {
                const QString sWhy = m_openFolder->errorString();
                m_openFolder.reset();
                UserInteraction::MsgBox(S(tr("No temporary folder could be made: %1").arg(sWhy)), Buttons::OK,
                                        Icon::Exclamation, S(tr("Versions")));
                return;
            }
        }
        // One folder per version, so that versions of one name never meet.
        const auto iVersion = static_cast<size_t>(version - m_versions.data());
        const std::string sFolder = S(m_openFolder->path()) + "/" + std::to_string(iVersion);
        if (::mkdir(sFolder.c_str(), 0700) != 0 && errno != EEXIST) {
            UserInteraction::MsgBox(S(tr("No temporary folder could be made: %1").arg(Q(std::strerror(errno)))),
                                    Buttons::OK, Icon::Exclamation, S(tr("Versions")));
            return;
        }
        const std::string sCopy = sFolder + "/" + version->Entry.Name;
        struct stat st {};
        if (::lstat(sCopy.c_str(), &st) != 0 && !RestoreVersion(*version, sFolder, libRestore::Conflict::Skip)) return;
        // The desktop's handler for the file (QDesktopServices, through the seam).
        if (!UserInteraction::Ui().OpenDocument(sCopy))
            UserInteraction::MsgBox(S(tr("No program could open %1.").arg(Q(sCopy))), Buttons::OK, Icon::Exclamation,
                                    S(tr("Versions")));
        else
            sbarVersions->showMessage(
                tr("Opened a copy of the version of %1.").arg(frmRestore::TimeText(version->Backup.MTimeNs)));
    });
}
