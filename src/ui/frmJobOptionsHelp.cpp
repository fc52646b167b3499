// The job editor's help cards: one information box per "?" button.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "support/UserInteraction.h"

#include <string>

using namespace QtHelpers;

void frmJobOptions::cmdCueCard_Click(int iIndex) {
    struct Card {
        const char* Title;
        std::string Text;
    };
    static const Card kCards[12] = {
        {"Add Files and Folders",
         JoinCrLf({"Add the files, folders and wildcard specifications to back up.", "",
                   "Zip files keep the folder names of the files they hold (without the leading",
                   "slash), so keep each job to the folders of one disk where you can.",
                   "A backup restored on another disk then lands where you expect it."})},
        {"Full Backup", JoinCrLf({"A full backup copies all of the selected files every time the job runs.", "",
                                  "This is the default for new jobs."})},
        {"Incremental Backup",
         JoinCrLf({"An incremental backup copies only the files that have changed since they were",
                   "last backed up (their archive flag is set).", "",
                   "Pair it with a full backup job of the same files: for example a full backup",
                   "every week and an incremental backup on the other days."})},
        {"Target Directory", JoinCrLf({"The backup is written into this directory. Stowline does not span disks, so",
                                       "each backup must fit on the target medium.", "",
                                       "A network share or cloud drive mounted as a folder can be a target."})},
        {"Scheduling", JoinCrLf({"There are three kinds of recurring backup:", "",
                                 "Daily - at the start time on every day of the week.",
                                 "Weekly - at the start time on the days you tick.",
                                 "Monthly - at the start time on one day of the month, 1 to 28."})},
        {"Include Subdirectories",
         JoinCrLf({"With wildcard entries such as /home/me/docs/*.odt, ticking this box also takes",
                   "in the matching files of every folder below that folder."})},
        {"Exclude Specification(s)",
         JoinCrLf({"Wildcard patterns of files to leave out of the backup, such as *.tmp.", "",
                   "Exclusions do not apply to folders, but a pattern can catch a folder whose",
                   "name starts like the file names it describes."})},
        {"Clear Backup Count", JoinCrLf({"The Total runs box holds the number of times this job has run.",
                                         "Type a new value, or press Clear Count to start again from 0.",
                                         "The job list can show this count in its Runs column."})},
        {"Non Compression Backup",
         JoinCrLf({"The files are copied into a folder tree under the target directory:", "",
                   "Rebuild - rebuild the whole folder tree each time (the default for new jobs).",
                   "Update - copy files that are newer than their copies, and new files.",
                   "Freshen - copy only newer files that are already in the backup."})},
        {"Compression Backup",
         JoinCrLf({"All of the files go into one zip file per run.", "",
                   "You can protect the zip file with a password and choose how many older",
                   "backups are kept, as a number of copies or a number of days, weeks or months."})},
        {"Password Encryption", JoinCrLf({"The password is kept in the job's .slj file only in scrambled form, not",
                                          "encrypted, and zip encryption itself is weak.", "",
                                          "Keep the job files and the backups where others cannot read them."})},
        {"One Shot Backup",
         JoinCrLf({"One shot dates run the job once at a given date and time, besides its", "recurring schedule.", "",
                   "Each date leaves the list after the job has run for it."})},
    };
    if (iIndex < 0 || iIndex >= 12) return;
    UserInteraction::MsgBox(kCards[iIndex].Text, UserInteraction::Buttons::OK, UserInteraction::Icon::Information,
                            kCards[iIndex].Title);
}
