#include "ui/frmRestore.h"

#include "app/QtHelpers.h"
#include "engine/RunProgressRestore.h"
#include "support/UserInteraction.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <QAction>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>
#include <set>
#include <sys/stat.h>

using QtHelpers::Q;
using QtHelpers::S;
using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;

namespace {

const char* const kModule = "frmRestore";
constexpr int EntryRole = Qt::UserRole; // index into the contents, -1 for a folder only implied

// The restore's own bar: its percent and time left, shown on the restore's thread (the window's).
class RestoreBar : public RunProgress::Display {
public:
    explicit RestoreBar(QProgressBar* pBar) : m_pBar(pBar) {}
    void Show(const RunProgress::View& view) override {
        const std::string sLeft = RunProgress::TimeLeftText(view.SecondsLeft);
        m_pBar->setRange(0, view.Percent < 0 ? 0 : 100);
        if (view.Percent >= 0) m_pBar->setValue(view.Percent);
        m_pBar->setFormat(sLeft.empty() ? QString("%p %") : QString("%p % (") + Q(sLeft) + ")");
        m_pBar->show();
    }
    void End(const RunProgress::View&) override { m_pBar->hide(); }

private:
    QProgressBar* m_pBar;
};

} // namespace

QString frmRestore::TimeText(int64_t lNs) {
    return QDateTime::fromMSecsSinceEpoch(lNs / 1000000).toString("yyyy-MM-dd hh:mm:ss");
}

QString frmRestore::SizeText(uint64_t lBytes) { return QLocale().toString(static_cast<qulonglong>(lBytes)); }

frmRestore::frmRestore(const CBackupJob& job, QWidget* parent)
    : QDialog(parent), m_reading(job.FileName()), m_job(job) {
    setObjectName("frmRestore");
    setWindowTitle(tr("Restore Files - %1").arg(Q(job.JobName())));
    auto* layout = new QVBoxLayout(this);

    layout->addWidget(new QLabel(tr("Backups, newest first:"), this));
    lvwBackups = new QTreeWidget(this);
    lvwBackups->setObjectName("lvwBackups");
    lvwBackups->setHeaderLabels({tr("Backup"), tr("Date"), tr("Size")});
    lvwBackups->setRootIsDecorated(false);
    lvwBackups->setMaximumHeight(130);
    layout->addWidget(lvwBackups);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(new QLabel(tr("Show only:"), this));
    txtFilter = new QLineEdit(this);
    txtFilter->setObjectName("txtFilter");
    txtFilter->setPlaceholderText(tr("wildcards, for example *.doc; *.txt"));
    filterRow->addWidget(txtFilter, 1);
    layout->addLayout(filterRow);

    tvwContents = new QTreeWidget(this);
    tvwContents->setObjectName("tvwContents");
    tvwContents->setHeaderLabels({tr("Name"), tr("Size"), tr("Modified")});
    tvwContents->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvwContents->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(tvwContents, 1);

    auto* toRow = new QHBoxLayout;
    optOriginal = new QRadioButton(tr("Restore to the &original place"), this);
    optOriginal->setObjectName("optOriginal");
    optOriginal->setChecked(true);
    optFolder = new QRadioButton(tr("Restore &into:"), this);
    optFolder->setObjectName("optFolder");
    txtToFolder = new QLineEdit(this);
    txtToFolder->setObjectName("txtToFolder");
    cmdBrowse = new QPushButton(tr("&Browse..."), this);
    cmdBrowse->setObjectName("cmdBrowse");
    toRow->addWidget(optOriginal);
    toRow->addWidget(optFolder);
    toRow->addWidget(txtToFolder, 1);
    toRow->addWidget(cmdBrowse);
    layout->addLayout(toRow);

    auto* buttons = new QHBoxLayout;
    cmdRestore = new QPushButton(tr("&Restore"), this);
    cmdRestore->setObjectName("cmdRestore");
    cmdVersions = new QPushButton(tr("&Versions..."), this);
    cmdVersions->setObjectName("cmdVersions");
    cmdAbort = new QPushButton(tr("&Abort"), this);
    cmdAbort->setObjectName("cmdAbort");
    cmdAbort->setEnabled(false);
    cmdClose = new QPushButton(tr("&Close"), this);
    cmdClose->setObjectName("cmdClose");
    buttons->addWidget(cmdVersions);
    buttons->addStretch();
    buttons->addWidget(cmdRestore);
    buttons->addWidget(cmdAbort);
    buttons->addWidget(cmdClose);
    layout->addLayout(buttons);

    sbarRestore = new QStatusBar(this);
    sbarRestore->setObjectName("sbarRestore");
    sbarRestore->setSizeGripEnabled(false);
    prgRestore = new QProgressBar(sbarRestore);
    prgRestore->setObjectName("prgRestore");
    prgRestore->setMaximumWidth(220);
    prgRestore->hide();
    sbarRestore->addPermanentWidget(prgRestore);
    layout->addWidget(sbarRestore);
    resize(720, 560);

    ConnectControls();

    libErrorHandler::Trap(kModule, "Form_Load()", [&] {
        if (m_reading.Busy()) {
            SetStatus(Q(BusyText(m_job.JobName())));
            cmdRestore->setEnabled(false);
            return;
        }
        m_backups = libRestore::ListRestorable(m_job);
        for (const libRestore::BackupInfo& b : m_backups) {
            auto* row = new QTreeWidgetItem(lvwBackups, BackupRow(b));
            row->setToolTip(0, Q(b.Path));
        }
        for (int iColumn = 0; iColumn < 3; ++iColumn)
            lvwBackups->resizeColumnToContents(iColumn);
        if (m_backups.empty())
            SetStatus(tr("No backups exist for this job yet."));
        else
            lvwBackups->setCurrentItem(lvwBackups->topLevelItem(0));
        // The remote is listed once the window shows, so that a slow remote never keeps it away.
        if (!m_job.OffsiteRemote().empty()) QTimer::singleShot(0, this, [this] { ListRemote(); });
    });
}

void frmRestore::ConnectControls() {
    connect(lvwBackups, &QTreeWidget::currentItemChanged, this, [this] { lvwBackups_Click(); });
    connect(txtFilter, &QLineEdit::textChanged, this, [this] { txtFilter_Change(); });
    connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cmdRestore, &QPushButton::clicked, this, [this] { cmdRestore_Click(); });
    connect(cmdAbort, &QPushButton::clicked, this, [this] { cmdAbort_Click(); });
    connect(cmdVersions, &QPushButton::clicked, this, [this] { cmdVersions_Click(); });
    tvwContents->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* versions = new QAction(tr("&Versions..."), tvwContents);
    versions->setObjectName("mnuVersions");
    tvwContents->addAction(versions);
    connect(versions, &QAction::triggered, this, [this] { cmdVersions_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { reject(); });
    connect(txtToFolder, &QLineEdit::textEdited, this, [this] { optFolder->setChecked(true); });
}

void frmRestore::ListRemote() {
    libErrorHandler::Trap(kModule, "ListRemote()", [&] {
        const std::string& sRemote = m_job.OffsiteRemote();
        if (m_bRemoteListed || m_reading.Busy() || sRemote.empty() || !OffsiteFetch::RcloneInstalled()) return;
        m_bRemoteListed = true;
        SetStatus(tr("Listing the backups on %1...").arg(Q(sRemote)));
        // rclone's own time-outs, kept short, end the listing of a remote that does not answer;
        // the local backups stay usable meanwhile.
        std::string sWhy;
        std::vector<OffsiteFetch::RemoteBackup> listed;
        if (!OffsiteFetch::List(m_job, listed, sWhy, OffsiteFetch::QuickTimeouts())) {
            SetStatus(tr("The backups on %1 could not be listed: %2").arg(Q(sRemote), Q(sWhy)));
            return;
        }
        m_remote = listed;
        for (const OffsiteFetch::RemoteBackup& r : m_remote) {
            const QString sWhen =
                r.IsArchive ? TimeText(static_cast<int64_t>(libDates::ToTimeT(r.When)) * 1000000000) : QString();
            auto* row = new QTreeWidgetItem(lvwBackups, {Q(r.Shown), sWhen, r.IsArchive ? SizeText(r.Size) : ""});
            row->setToolTip(0, Q(r.Path));
        }
        // Wide enough for the remote's name after each of its backups.
        for (int iColumn = 0; iColumn < 3; ++iColumn)
            lvwBackups->resizeColumnToContents(iColumn);
        SetStatus(tr("%1 backups on %2.").arg(m_remote.size()).arg(Q(sRemote)));
    });
}

const libRestore::BackupInfo* frmRestore::ChosenBackup() {
    const int i = lvwBackups->indexOfTopLevelItem(lvwBackups->currentItem());
    const int iLocal = static_cast<int>(m_backups.size());
    if (i < 0 || i >= iLocal + static_cast<int>(m_remote.size())) return nullptr;
    if (i == m_iDownloaded && m_download.Present()) return &m_download.Backup();
    // One download at a time: the one of another row goes now, not when the window closes.
    m_download.Remove();
    m_iDownloaded = -1;
    if (i < iLocal) return &m_backups[static_cast<size_t>(i)];
    const OffsiteFetch::RemoteBackup& remote = m_remote[static_cast<size_t>(i - iLocal)];
    const QString sShown = Q(remote.Shown);
    SetStatus(tr("Downloading %1...").arg(sShown));
    SetBusy(true);
    // Abort stops the download; so does closing the window, which then closes.
    m_bAbort = false;
    m_bCloseAfterDownload = false;
    cmdAbort->setEnabled(true);
    cmdClose->setEnabled(true);
    m_bDownloading = true;
    std::string sWhy;
    const bool bOk = m_download.Fetch(
        m_job, remote.Path, remote.IsArchive,
        [&](uint64_t lDone, uint64_t lTotal) {
            if (lTotal > 0)
                SetStatus(tr("Downloading %1: %2 of %3 bytes (%4%)")
                              .arg(sShown, SizeText(lDone), SizeText(lTotal))
                              .arg(lDone * 100 / lTotal));
        },
        sWhy, [this] { return m_bAbort; });
    m_bDownloading = false;
    cmdAbort->setEnabled(false);
    SetBusy(false);
    if (!bOk && m_bAbort) {
        SetStatus(tr("Download stopped."));
        if (m_bCloseAfterDownload) QDialog::reject();
        return nullptr;
    }
    if (!bOk) {
        SetStatus(Q(sWhy));
        UserInteraction::MsgBox(sWhy, Buttons::OK, Icon::Exclamation, S(tr("Restore Files")));
        return nullptr;
    }
    m_iDownloaded = i;
    return &m_download.Backup();
}

// While a download or a restore runs, nothing else may be chosen and the window stays open.
void frmRestore::SetBusy(bool bBusy) {
    m_bRunning = bBusy;
    lvwBackups->setEnabled(!bBusy);
    cmdRestore->setEnabled(!bBusy);
    cmdClose->setEnabled(!bBusy);
}

std::string frmRestore::BusyText(const std::string& sJobName) {
    return S(tr("A backup of %1 is running. Its backups can be read when it has ended.").arg(Q(sJobName)));
}

void frmRestore::Execute(const CBackupJob& job, QWidget* owner) {
    frmRestore dialog(job, owner);
    if (dialog.RunningBackup()) {
        UserInteraction::MsgBox(BusyText(job.JobName()), Buttons::OK, Icon::Information, S(tr("Restore Files")));
        return;
    }
    dialog.exec();
}

void frmRestore::SetStatus(const QString& sText) { sbarRestore->showMessage(sText); }

void frmRestore::lvwBackups_Click() {
    libErrorHandler::Trap(kModule, "lvwBackups_Click()", [&] {
        if (m_bRunning) return;
        m_entries.clear();
        if (const libRestore::BackupInfo* backup = ChosenBackup()) {
            std::string sError;
            const libRestore::Status listed = libRestore::ReadContents(m_job, *backup, m_entries, sError);
            if (listed != libRestore::Status::Ok) {
                // A listing that stopped still shows what it found.
                if (listed != libRestore::Status::Incomplete) m_entries.clear();
                SetStatus(Q(sError));
                UserInteraction::MsgBox(sError, Buttons::OK, Icon::Exclamation, S(tr("Restore Files")));
            } else {
                SetStatus(tr("%1 entries").arg(m_entries.size()));
            }
        }
        FillContents();
    });
}

void frmRestore::txtFilter_Change() {
    libErrorHandler::Trap(kModule, "txtFilter_Change()", [&] { FillContents(); });
}

void frmRestore::FillContents() {
    tvwContents->clear();
    std::vector<std::string> specs;
    for (const QString& s : txtFilter->text().split(QRegularExpression("[;\\s]+"), Qt::SkipEmptyParts))
        specs.push_back(S(s));
    const std::vector<libRestore::Entry> shown = libRestore::Filter(m_entries, specs);
    std::map<std::string, QTreeWidgetItem*> folders; // by path inside the backup, with "/"
    std::map<std::string, int> index;
    for (size_t i = 0; i < m_entries.size(); ++i)
        index.emplace(m_entries[i].Name, static_cast<int>(i));
    for (const libRestore::Entry& e : shown) {
        const std::string sPath = e.IsDir ? e.Name.substr(0, e.Name.size() - 1) : e.Name;
        QTreeWidgetItem* parent = nullptr;
        size_t iFrom = 0;
        for (size_t iSlash; (iSlash = sPath.find('/', iFrom)) != std::string::npos; iFrom = iSlash + 1) {
            const std::string sFolder = sPath.substr(0, iSlash + 1);
            auto it = folders.find(sFolder);
            if (it == folders.end()) {
                const QStringList cols{Q(sPath.substr(iFrom, iSlash - iFrom))};
                auto* item = parent ? new QTreeWidgetItem(parent, cols) : new QTreeWidgetItem(tvwContents, cols);
                item->setData(0, EntryRole, index.count(sFolder) ? index[sFolder] : -1);
                item->setData(0, EntryRole + 1, Q(sFolder));
                it = folders.emplace(sFolder, item).first;
            }
            parent = it->second;
        }
        if (e.IsDir && folders.count(e.Name)) continue;
        const QStringList cols{Q(sPath.substr(iFrom)), e.IsDir ? QString() : SizeText(e.Size), TimeText(e.MTimeNs)};
        auto* item = parent ? new QTreeWidgetItem(parent, cols) : new QTreeWidgetItem(tvwContents, cols);
        item->setData(0, EntryRole, index[e.Name]);
        item->setData(0, EntryRole + 1, Q(e.Name));
        if (e.IsDir) folders.emplace(e.Name, item);
    }
    tvwContents->expandAll();
    tvwContents->resizeColumnToContents(1);
    tvwContents->resizeColumnToContents(2);
}

// The selected rows (nothing selected: everything shown); a folder brings what lies below it.
std::vector<libRestore::Entry> frmRestore::SelectedEntries() const {
    QList<QTreeWidgetItem*> rows = tvwContents->selectedItems();
    if (rows.isEmpty())
        for (QTreeWidgetItemIterator it(tvwContents); *it; ++it)
            if ((*it)->childCount() == 0) rows.push_back(*it);
    std::vector<libRestore::Entry> result;
    for (QTreeWidgetItem* row : rows) {
        const int i = row->data(0, EntryRole).toInt();
        if (i >= 0 && i < static_cast<int>(m_entries.size())) {
            result.push_back(m_entries[static_cast<size_t>(i)]);
        } else { // a folder the backup holds no entry for
            libRestore::Entry e;
            e.Name = S(row->data(0, EntryRole + 1).toString());
            e.IsDir = true;
            result.push_back(e);
        }
    }
    return result;
}

const libRestore::Entry* frmRestore::CurrentFile() const {
    const QTreeWidgetItem* row = tvwContents->currentItem();
    if (row == nullptr) return nullptr;
    const int i = row->data(0, EntryRole).toInt();
    if (i < 0 || i >= static_cast<int>(m_entries.size())) return nullptr;
    const libRestore::Entry& e = m_entries[static_cast<size_t>(i)];
    return e.IsDir ? nullptr : &e;
}

void frmRestore::cmdBrowse_Click() {
    libErrorHandler::Trap(kModule, "cmdBrowse_Click()", [&] {
        const QString s = QFileDialog::getExistingDirectory(this, tr("Restore into"), txtToFolder->text());
        if (s.isEmpty()) return;
        txtToFolder->setText(s);
        optFolder->setChecked(true);
    });
}

bool frmRestore::AskPassword(const libRestore::BackupInfo& backup, std::string& sPassword) {
    for (;;) {
        const libRestore::Status status = libRestore::CheckPassword(backup, sPassword);
        if (status != libRestore::Status::WrongPassword) return true;
        std::string sAnswer;
        const QString sAsk = sPassword.empty() ? tr("The backup %1 is protected by a password. Password:")
                                               : tr("The password is wrong for %1. Password:");
        const std::string sPrompt = S(sAsk.arg(Q(backup.Path)));
        if (!UserInteraction::Ui().InputBox(sPrompt, S(tr("Password")), "", sAnswer) || sAnswer.empty()) {
            UserInteraction::MsgBox(S(tr("Nothing was restored: the password for %1 is wrong.").arg(Q(backup.Path))),
                                    Buttons::OK, Icon::Exclamation, S(tr("Restore Files")));
            return false;
        }
        sPassword = sAnswer;
    }
}

libRestore::Conflict frmRestore::ConflictChoice(int iExisting) {
    if (iExisting == 0) return libRestore::Conflict::Skip;
    const Answer a = UserInteraction::MsgBox(S(tr("%1 of the files to restore already exist.\r\n\r\n"
                                                  "Yes: replace those older than the backup's copy\r\n"
                                                  "No: keep both, the restored copy named with \" (restored)\"\r\n"
                                                  "Cancel: leave them as they are and restore the others")
                                                   .arg(iExisting)),
                                             Buttons::YesNoCancel, Icon::Question, S(tr("Files Already Exist")));
    if (a == Answer::Yes) return libRestore::Conflict::OverwriteOlder;
    if (a == Answer::No) return libRestore::Conflict::KeepBoth;
    return libRestore::Conflict::Skip;
}

libRestore::Conflict frmRestore::AskConflict(const std::vector<libRestore::Entry>& selection) {
    // Files of the selection (and below its folders) that already stand where they would go.
    std::set<std::string> chosen, folders;
    for (const libRestore::Entry& e : selection)
        (e.IsDir ? folders : chosen).insert(e.Name);
    const std::string sTo = optFolder->isChecked() ? libFiles::AddTrailingSlash(S(txtToFolder->text())) : "";
    int iExisting = 0;
    for (const libRestore::Entry& e : m_entries) {
        if (e.IsDir) continue;
        bool bTake = chosen.count(e.Name) != 0;
        for (auto it = folders.begin(); !bTake && it != folders.end(); ++it)
            bTake = e.Name.rfind(*it, 0) == 0;
        if (!bTake) continue;
        const std::string sDest = sTo.empty() ? e.OriginalPath : sTo + e.Name;
        struct stat st {};
        if (::lstat(sDest.c_str(), &st) == 0) ++iExisting;
    }
    return ConflictChoice(iExisting);
}

void frmRestore::cmdRestore_Click() {
    libErrorHandler::Trap(kModule, "cmdRestore_Click()", [&] {
        if (m_bRunning) return;
        const libRestore::BackupInfo* chosen = ChosenBackup();
        if (chosen == nullptr) return;
        const libRestore::BackupInfo backup = *chosen;
        const std::vector<libRestore::Entry> selection = SelectedEntries();
        if (selection.empty()) {
            UserInteraction::MsgBox(S(tr("There is nothing to restore.")), Buttons::OK, Icon::Information,
                                    S(tr("Restore Files")));
            return;
        }
        libRestore::Options options;
        if (optFolder->isChecked()) {
            options.ToFolder = S(txtToFolder->text().trimmed());
            if (options.ToFolder.empty() || options.ToFolder[0] != '/') {
                UserInteraction::MsgBox(S(tr("Choose the folder to restore into (a full path).")), Buttons::OK,
                                        Icon::Information, S(tr("Restore Files")));
                return;
            }
        }
        options.Password = m_job.Password();
        options.Contents = &m_entries;
        if (!AskPassword(backup, options.Password)) return;
        options.OnConflict = AskConflict(selection);
        m_bAbort = false;
        RunProgress progress(m_job.JobName());
        RestoreBar bar(prgRestore);
        progress.SetDisplay(&bar);
        RestoreProgress restoreProgress(progress, m_entries, selection);
        options.Progress = [&](const std::string& sName, uint64_t, uint64_t) {
            restoreProgress.Step(sName);
            SetStatus(tr("Restoring %1").arg(Q(libStrings::ShortenForDisplay(sName))));
            UserInteraction::DoEvents();
            return !m_bAbort;
        };
        SetBusy(true);
        cmdAbort->setEnabled(true);
        m_report = libRestore::Restore(m_job, backup, selection, options);
        restoreProgress.End();
        SetBusy(false);
        cmdAbort->setEnabled(false);
        QString sSummary = tr("Restored %1 files, skipped %2, not restored %3.")
                               .arg(m_report.Restored)
                               .arg(m_report.Skipped)
                               .arg(m_report.NotRestored);
        if (m_report.Result == libRestore::Status::Aborted) sSummary = tr("Restore aborted. ") + sSummary;
        SetStatus(sSummary);
        if (!m_report.Error.empty()) sSummary += "\r\n" + Q(m_report.Error);
        for (size_t i = 0; i < m_report.Problems.size() && i < 10; ++i)
            sSummary += "\r\n" + Q(m_report.Problems[i]);
        UserInteraction::MsgBox(S(sSummary), Buttons::OK,
                                m_report.Result == libRestore::Status::Ok ? Icon::Information : Icon::Exclamation,
                                S(tr("Restore Files")));
    });
}

void frmRestore::cmdAbort_Click() { m_bAbort = true; }

void frmRestore::reject() {
    if (m_bDownloading) {
        m_bAbort = true;
        m_bCloseAfterDownload = true;
        return;
    }
    if (m_bRunning) return;
    QDialog::reject();
}
