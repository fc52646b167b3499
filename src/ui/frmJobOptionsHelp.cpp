// The job editor's help cards: one information box per "?" button.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "support/UserInteraction.h"

#include <string>

using namespace QtHelpers;

void frmJobOptions::cmdCueCard_Click(int iIndex) {
    struct Card {
        const char* Title;
        const char* Text;
    };
    static const Card kCards[CueCardCount] = {
        {QT_TR_NOOP("Add Files and Folders"),
         QT_TR_NOOP("Add the files, folders and wildcard specifications to back up.\r\n"
                    "\r\n"
                    "Zip files keep the folder names of the files they hold (without the leading\r\n"
                    "slash), so keep each job to the folders of one disk where you can.\r\n"
                    "A backup restored on another disk then lands where you expect it.")},
        {QT_TR_NOOP("Full Backup"),
         QT_TR_NOOP("A full backup copies all of the selected files every time the job runs.\r\n"
                    "\r\n"
                    "This is the default for new jobs.")},
        {QT_TR_NOOP("Incremental Backup"),
         QT_TR_NOOP("An incremental backup copies only the files that have changed since they were\r\n"
                    "last backed up (their archive flag is set).\r\n"
                    "\r\n"
                    "Pair it with a full backup job of the same files: for example a full backup\r\n"
                    "every week and an incremental backup on the other days.")},
        {QT_TR_NOOP("Target Directory"),
         QT_TR_NOOP("The backup is written into this directory. Stowline does not span disks, so\r\n"
                    "each backup must fit on the target medium.\r\n"
                    "\r\n"
                    "A network share or cloud drive mounted as a folder can be a target.")},
        {QT_TR_NOOP("Scheduling"), QT_TR_NOOP("There are three kinds of recurring backup:\r\n"
                                              "\r\n"
                                              "Daily - at the start time on every day of the week.\r\n"
                                              "Weekly - at the start time on the days you tick.\r\n"
                                              "Monthly - at the start time on one day of the month, 1 to 28.")},
        {QT_TR_NOOP("Include Subdirectories"),
         QT_TR_NOOP("With wildcard entries such as /home/me/docs/*.odt, ticking this box also takes\r\n"
                    "in the matching files of every folder below that folder.")},
        {QT_TR_NOOP("Exclude Specification(s)"),
         QT_TR_NOOP("Wildcard patterns of files to leave out of the backup, such as *.tmp.\r\n"
                    "\r\n"
                    "Exclusions do not apply to folders, but a pattern can catch a folder whose\r\n"
                    "name starts like the file names it describes.")},
        {QT_TR_NOOP("Clear Backup Count"),
         QT_TR_NOOP("The Total runs box holds the number of times this job has run.\r\n"
                    "Type a new value, or press Clear Count to start again from 0.\r\n"
                    "The job list can show this count in its Runs column.")},
        {QT_TR_NOOP("Non Compression Backup"),
         QT_TR_NOOP("The files are copied into a folder tree under the target directory:\r\n"
                    "\r\n"
                    "Rebuild - rebuild the whole folder tree each time (the default for new jobs).\r\n"
                    "Update - copy files that are newer than their copies, and new files.\r\n"
                    "Freshen - copy only newer files that are already in the backup.")},
        {QT_TR_NOOP("Compression Backup"),
         QT_TR_NOOP("All of the files go into one zip file per run.\r\n"
                    "\r\n"
                    "You can protect the zip file with a password and choose how many older\r\n"
                    "backups are kept, as a number of copies or a number of days, weeks or months.")},
        {QT_TR_NOOP("Password Encryption"),
         QT_TR_NOOP("AES-256 encryption is strong; such a zip file opens in 7-Zip, WinZip and\r\n"
                    "other AES-capable tools. Traditional zip encryption opens in any unzip\r\n"
                    "program, but it is weak.\r\n"
                    "\r\n"
                    "With \"Keep the password in the desktop keyring\" the job's .slj file holds\r\n"
                    "no password; otherwise the password is kept there only in scrambled form,\r\n"
                    "not encrypted. Keep the job files where others cannot read them.")},
        {QT_TR_NOOP("One Shot Backup"),
         QT_TR_NOOP("One shot dates run the job once at a given date and time, besides its\r\n"
                    "recurring schedule.\r\n"
                    "\r\n"
                    "Each date leaves the list after the job has run for it.")},
        {QT_TR_NOOP("Off-site Copy"),
         QT_TR_NOOP("After every successful run the new backup is also sent to an rclone remote,\r\n"
                    "so that a copy survives the loss of this machine and its disks. Pick one of\r\n"
                    "the remotes of your rclone configuration and complete the path, such as\r\n"
                    "nas:backups; leave it empty for no off-site copy. Each job gets a folder of\r\n"
                    "its own there. Remotes are set up with \"rclone config\"; Stowline keeps no\r\n"
                    "credentials itself.\r\n"
                    "\r\n"
                    "Zip backups keep as many archives on the remote as the job keeps here. Copy\r\n"
                    "backups keep changed and deleted files on the remote for the number of days\r\n"
                    "given.\r\n"
                    "\r\n"
                    "Test lists the remote path, writes a small file there, reads it back and\r\n"
                    "removes it.")},
    };
    if (iIndex < 0 || iIndex >= CueCardCount) return;
    UserInteraction::MsgBox(S(tr(kCards[iIndex].Text)), UserInteraction::Buttons::OK,
                            UserInteraction::Icon::Information, S(tr(kCards[iIndex].Title)));
}
