<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>QtHelpers</name>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ReportMail</name>
    <message>
        <source>Stowline daily report: %1 jobs, %2 failed, %3 stale</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2; last run %3, last success %4, next run %5, off-site copy %6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There are no backup jobs.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline: backup of &apos;%1&apos; failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline: backup of &apos;%1&apos; succeeded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup job: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Computer: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Result: failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Result: succeeded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reason: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the run did not complete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Summary: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>none</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The log&apos;s lines of this run:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline: test report</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This test report from Stowline on %1 shows that its reports reach you.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SchedulerTick</name>
    <message>
        <source>Backup Job &apos;%1&apos; has failed. See transaction log for details: &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup Job &apos;%1&apos; has failed: %3 See transaction log for details: &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&apos;%1&apos; (since %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>No successful backup for more than %n day(s): %1</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Backup Job &apos;%1&apos; backed up locally; off-site copy failed. See transaction log for details: &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup Job &apos;%1&apos; backed up locally; off-site copy failed: %3 See transaction log for details: &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&apos;%1&apos; (off-site copy behind since %2)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>appPreferences</name>
    <message>
        <source>Job name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Date last run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time last run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Date next run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Runs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>appSetup</name>
    <message>
        <source>You have attempted to run Stowline with command-line parameters.<byte value="xd"/>
Unfortunately, the file as you specified does not exist.<byte value="xd"/>
<byte value="xd"/>
The missing file as you specified is: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exit Stowline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Command-Line Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verification Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An instance of Stowline is already running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline command-line parameters are as follows:<byte value="xd"/>
/SILENT -		No dialog at startup, tray only<byte value="xd"/>
/RUN &lt;jobname.slj&gt; -	Notice: no path, no spaces<byte value="xd"/>
/EXIT -			Exit Stowline upon completion<byte value="xd"/>
/? -			This help dialog<byte value="xd"/>
/STATUS -		Each job&apos;s state; exit 1 if any failed or stale<byte value="xd"/>
/RESTORE &lt;job&gt; [/FROM &lt;archive or folder&gt;] [/TO &lt;folder&gt;] [/ONLY &lt;wildcard&gt;]... [/OVERWRITE] -	Restore files<byte value="xd"/>
/VERIFY &lt;job&gt;... -	Read the newest backups back<byte value="xd"/>
/RETENTION &lt;job&gt; -	Which snapshots the calendar keeps or removes (nothing is changed)<byte value="xd"/>
/SETPASSWORD &lt;job&gt; -	Keep the job&apos;s password (read from standard input) in the desktop keyring<byte value="xd"/>
/SETPASSWORD /SMTP -	Keep the mail server&apos;s password for reports (read from standard input) in the desktop keyring</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmAbout</name>
    <message>
        <source>About Stowline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zip Backup Job Scheduling Agent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ZIP dll version: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline is free: you may use it at home or at work, and give copies to anyone, at no cost.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It keeps your backups as plain zip archives and plain folder copies, so any tool can read them back.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ideas and bug reports are welcome: please write to the support address below.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error &amp;Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Display Error Log File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Download Source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Thank You</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline &lt;Ver&gt; (Bld &lt;Bld&gt;)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Many thanks to everyone who helped rewrite Stowline and who tested it on their own machines, with their own data, and told us what went wrong.<byte value="xd"/>
<byte value="xd"/>
And last, thanks to the Info-ZIP group, whose zip code forms the core of Stowline&apos;s compression, and to the libzip authors who carry that format on.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmJobOptions</name>
    <message>
        <source>Select the day(s) of the week:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select the day of the month:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select the one shot date(s):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Start Time field cannot be left blank.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The time you entered is not valid.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1  Please correct the value now using the format &apos;hh:mm&apos; where between 00:00 - 23:59.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>in addition to the current backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>worth of backup files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You must first select a file or folder to remove.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You have to type in *.ext where ext is the extension for the file type you wish to exclude.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The proper format for an exclude is *.ext where ext represents the extension of the file type you wish to exclude.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You must first select an exclude specification to remove.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please select a directory into which the backup will be placed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The specified directory does not exist; please try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verification Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You must select at least one file or directory to backup.  Please make a selection now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Backup Job name must not be blank.  Please enter a name now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Job name %1 has already been used; please enter a different name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A derivative of this name has already been used; please enter a different name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Backup Job name cannot be used as a file name.  Please enter a different name now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The target directory is blank.  Please enter a valid directory now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Disk Error - cannot locate target dir.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Disk Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The target directory doesnt exist.  Do you want to create it?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to creat target directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create failure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Total runs value must be a whole number, such as 0 or 12.  Please correct it now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>For a Frequency set to Daily or Weekly, you must select at least one day of the week from the checkboxes provided.  Please make a selection now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>For a Frequency set to Monthly, you must select a day of the month from the drop down box provided.  Please make a selection now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The source path cannot have the same name as the target path in which the backup will be made.<byte value="xd"/>
<byte value="xd"/>
The following file/path must be removed:<byte value="xd"/>
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Password Protect flag is set; however, no password is assigned in the Password text box.  Please enter a password now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shift any existing backups?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Files and Folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add the files, folders and wildcard specifications to back up.<byte value="xd"/>
<byte value="xd"/>
Zip files keep the folder names of the files they hold (without the leading<byte value="xd"/>
slash), so keep each job to the folders of one disk where you can.<byte value="xd"/>
A backup restored on another disk then lands where you expect it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Full Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A full backup copies all of the selected files every time the job runs.<byte value="xd"/>
<byte value="xd"/>
This is the default for new jobs.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Incremental Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An incremental backup copies only the files that have changed since they were<byte value="xd"/>
last backed up (their archive flag is set).<byte value="xd"/>
<byte value="xd"/>
Pair it with a full backup job of the same files: for example a full backup<byte value="xd"/>
every week and an incremental backup on the other days.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Target Directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The backup is written into this directory. Stowline does not span disks, so<byte value="xd"/>
each backup must fit on the target medium.<byte value="xd"/>
<byte value="xd"/>
A network share or cloud drive mounted as a folder can be a target.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Scheduling</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There are three kinds of recurring backup:<byte value="xd"/>
<byte value="xd"/>
Daily - at the start time on every day of the week.<byte value="xd"/>
Weekly - at the start time on the days you tick.<byte value="xd"/>
Monthly - at the start time on one day of the month, 1 to 28.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Include Subdirectories</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>With wildcard entries such as /home/me/docs/*.odt, ticking this box also takes<byte value="xd"/>
in the matching files of every folder below that folder.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exclude Specification(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wildcard patterns of files to leave out of the backup, such as *.tmp.<byte value="xd"/>
<byte value="xd"/>
Exclusions do not apply to folders, but a pattern can catch a folder whose<byte value="xd"/>
name starts like the file names it describes.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear Backup Count</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Total runs box holds the number of times this job has run.<byte value="xd"/>
Type a new value, or press Clear Count to start again from 0.<byte value="xd"/>
The job list can show this count in its Runs column.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Non Compression Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The files are copied into a folder tree under the target directory:<byte value="xd"/>
<byte value="xd"/>
Rebuild - rebuild the whole folder tree each time (the default for new jobs).<byte value="xd"/>
Update - copy files that are newer than their copies, and new files.<byte value="xd"/>
Freshen - copy only newer files that are already in the backup.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Compression Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All of the files go into one zip file per run.<byte value="xd"/>
<byte value="xd"/>
You can protect the zip file with a password and choose how many older<byte value="xd"/>
backups are kept, as a number of copies or a number of days, weeks or months.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password Encryption</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One Shot Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One shot dates run the job once at a given date and time, besides its<byte value="xd"/>
recurring schedule.<byte value="xd"/>
<byte value="xd"/>
Each date leaves the list after the job has run for it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;General</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Scheduling</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>E&amp;xclude</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Compression</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enter a job name that uniquely identifies this backup job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select a target directory into which the backup will be placed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse for the target directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>F&amp;ull</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Incremental</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Total runs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear Count</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose the frequency and other options for the backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fre&amp;quency</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Monday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>T&amp;uesday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Wednesday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>T&amp;hursday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>F&amp;riday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>S&amp;aturday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sunda&amp;y</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One shot dates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>O&amp;ne shot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Include subdirectories for all wildcard references?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exclude Specification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;ZIP compression - Compress files into Winzip/PKZIP compatible files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No co&amp;mpression - Copy files to destination without compression</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep up to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Protect using the following password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy backup style</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rebuild</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Freshen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>GENERAL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SCHEDULING</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SOURCE FILES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>EXCLUSIONS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>COMPRESSION</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Daily</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Weekly</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Monthly</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One Shot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copies</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Weeks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Months</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edit job - %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add New Backup Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>03:00</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The character &apos;%1&apos; is not allowed in a backup job name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keypress Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Verify the backup after each run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The password is kept in the desktop keyring, not in the job file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No desktop keyring answers: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The job is not saved. Save it again once the keyring answers, or clear &quot;Keep the password in the desktop keyring&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep the password in the desktop keyring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Encryption: AES-256 (recommended; opens in 7-Zip, WinZip and other AES-capable tools)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Traditional (opens in any unzip; weak)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES-256 encryption is strong; such a zip file opens in 7-Zip, WinZip and<byte value="xd"/>
other AES-capable tools. Traditional zip encryption opens in any unzip<byte value="xd"/>
program, but it is weak.<byte value="xd"/>
<byte value="xd"/>
With &quot;Keep the password in the desktop keyring&quot; the job&apos;s .slj file holds<byte value="xd"/>
no password; otherwise the password is kept there only in scrambled form,<byte value="xd"/>
not encrypted. Keep the job files where others cannot read them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Off-site Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>After every successful run the new backup is also sent to an rclone remote,<byte value="xd"/>
so that a copy survives the loss of this machine and its disks. Pick one of<byte value="xd"/>
the remotes of your rclone configuration and complete the path, such as<byte value="xd"/>
nas:backups; leave it empty for no off-site copy. Each job gets a folder of<byte value="xd"/>
its own there. Remotes are set up with &quot;rclone config&quot;; Stowline keeps no<byte value="xd"/>
credentials itself.<byte value="xd"/>
<byte value="xd"/>
Zip backups keep as many archives on the remote as the job keeps here. Copy<byte value="xd"/>
backups keep changed and deleted files on the remote for the number of days<byte value="xd"/>
given.<byte value="xd"/>
<byte value="xd"/>
Test lists the remote path, writes a small file there, reads it back and<byte value="xd"/>
removes it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Off-site copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remote path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty: no off-site copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An rclone remote and a folder on it, such as nas:backups; empty: no off-site copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>List the remote path, write a small file there, read it back and remove it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy style: keep changed and deleted files on the remote for</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rclone is not installed, so this job cannot be copied off-site. Install rclone (Debian package rclone) and set up a remote with &quot;rclone config&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rclone could not list its remotes: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rclone has no remotes yet: set one up with &quot;rclone config&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type the remote path to test, such as nas:backups.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Testing &apos;%1&apos;...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test of &apos;%1&apos; failed: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test of &apos;%1&apos; succeeded: the folder did not exist yet (the first upload makes it); it was made, written to, read back and removed again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test of &apos;%1&apos; succeeded: listed, written to, read back and cleaned up.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The off-site remote path cannot begin with &apos;-&apos;: rclone would read it as one of its options.  Please correct it now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Leave out caches, trash and folders marked as not worth backing up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folders holding a CACHEDIR.TAG or a .nobackup file, ~/.cache, the desktop Trash and thumbnail caches</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep a dated snapshot of every run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Each run makes a dated folder beside the copy holding the whole backup; files unchanged since the snapshot before take no space again (hard links)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>snapshots,</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>weeks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>months</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>years</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep the last</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>and the newest one of each of the last</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>0: this rule keeps none</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>What these settings keep of the job&apos;s snapshots:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The snapshots cannot be listed: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No snapshots yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Also back up every time this drive is connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Monitoring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ping address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty: no ping</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An http or https address of a monitoring service: &quot;/start&quot; is added when a run starts, nothing after a success, &quot;/fail&quot; after a failure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The ping address cannot be used: %1.  Please correct it now.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmLogComment</name>
    <message>
        <source>Add transaction log comment</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>Stowline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline - %1: %2 files done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline - %1: %2 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline - %1: %2 % (%3)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmOneShot</name>
    <message>
        <source>Scheduled one shot backups</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Day</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HH:MM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One shot dates for - %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The proper format for the time is military format HH:MM,<byte value="xd"/>
  where HH is between 00 and 23,<byte value="xd"/>
  and MM is between 00 and 59</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verification Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This date is in the past, please try again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmPickFile</name>
    <message>
        <source>Verification Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select File(s) to Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse for a folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Specific File(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wildcard Specification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All Files (*.*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Common Extension:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Custom spec:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Note: read the Notes before you select very large files or files that other programs keep open.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Notes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You cannot press the &apos;%1&apos; key when defining a wildcard extension.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please select a directory to backup.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The specified directory does not exist; please try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The backup path selected does not exist; please correct it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You must select files to backup from the file list box before clicking Ok, or leave the Wildcards tab visible.  Please do so now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You cannot select any wildcard other than &apos;*.*&apos; for use with a full drive path.  Either go to a subdirectory to use the *.extension notation, or select *.* to backup the entire drive or disk.  This is a weakness of the zip.exe engine that Stowline calls.  Fix will have to wait until we replace with dll.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Highlight the file or files that you want to include in <byte value="xd"/>
this backup set.<byte value="xd"/>
<byte value="xd"/>
To select multiple contingent files, click the first file, <byte value="xd"/>
then while depressing the shift-key, click the last file.<byte value="xd"/>
<byte value="xd"/>
To add files, depress the ctrl-key and click the file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pick Specific File(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pick a wildcard specification from the options below.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pick Specification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Here are some examples:<byte value="xd"/>
<byte value="xd"/>
*.doc  -  Word documents only<byte value="xd"/>
*.c      -  All C source code files<byte value="xd"/>
*.html  -  All html files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wildcard Custom Specication</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1. Never select &apos;pagefile.sys&apos; or &apos;win386.swp&apos; files.<byte value="xd"/>
2. Zipping will not work for files larger than 2 GB.<byte value="xd"/>
3. Never select Lotus Organizer, Exchange *.pst files<byte value="xd"/>
   or other files actively in use.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File Selection Notes</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmPopup</name>
    <message>
        <source>Stowline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Schedule Backup Jobs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exit Stowline</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmPreferences</name>
    <message>
        <source>Max Backup Copies</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set up the drop down values for number of backup<byte value="xd"/>
copies to maintain in the Job Options form.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Halt Auto Backups</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop auto backups and popup message box if error is <byte value="xd"/>
encountered during backup?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run as Tray App</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run Stowline in system tray?<byte value="xd"/>
<byte value="xd"/>
Note that this feature must be set to Yes for Stowline<byte value="xd"/>
to automatically run scheduled backup jobs.  Yes is<byte value="xd"/>
the default when you first run Stowline.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Transaction Logging Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select transaction logging mode:<byte value="xd"/>
+ Detailed  -  Everything possible is logged<byte value="xd"/>
+ Standard  -  Intermediate level of detail<byte value="xd"/>
+ Minimal  -  Only header information showing which jobs ran<byte value="xd"/>
+ Nothing  -  Only errors are always logged<byte value="xd"/>
<byte value="xd"/>
NOTE that errors are always logged regardless of mode selected.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log Viewer Executable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pick the executable name for the default viewer used<byte value="xd"/>
to view error and transaction log files.  Notepad.exe<byte value="xd"/>
or Wordpad.exe are good choices.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Screen Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Checking this option will enable Stowline to save and restore<byte value="xd"/>
your form size settings every time you exit and restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Manual Comment Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>If Yes, will prompt for comments on manually executed backups.<byte value="xd"/>
If No, will not prompt for comments.<byte value="xd"/>
<byte value="xd"/>
NOTE that Scheduled backups run automatically will never prompt.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View Columns</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check the fields to display as columns, or uncheck to hide<byte value="xd"/>
the column(s) in the Scheduling Form&apos;s listview control.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verification Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline Preferences</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help on this setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose the log viewer program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Maximum number of Backup Copies?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop Auto Backups?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run Stowline in System Tray (Yes for Auto-Scheduled Backups)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move down</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Default</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View columns</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Yes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Detailed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Never</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Programs (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run missed backups at start-up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A scheduled run missed while the computer was off or asleep runs once when Stowline starts or wakes (up to seven days back)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warn when a job has no successful backup for N days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rclone&apos;s --bwlimit syntax, such as 10M, or a timetable such as &quot;08:00,512k 19:00,off&quot;; empty: unlimited</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>unlimited</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Off-site bandwidth</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rclone does not accept the off-site bandwidth &apos;%1&apos;: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mount the backup drive when it is connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A job&apos;s target drive that is connected but not mounted is mounted (through udisks2); no other drive is mounted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Postpone scheduled backups while on battery</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A scheduled backup waits for mains power and starts when it returns.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Back up in the background</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Scheduled backups give way to your work: low priority, half the processor cores. Backups started by hand run at full speed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Postpone off-site copies on metered networks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The off-site copy of a scheduled backup waits until the network is no longer metered.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Power and network</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>smtps://mail.example.org:465 (empty: no mail)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>smtps:// for TLS from the start, or smtp:// with STARTTLS, which is then required: nothing is ever sent without TLS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty: no login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>kept in the desktop keyring; empty: unchanged</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty: the first address below</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>one address or several, separated by commas</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty: the system&apos;s certificates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A file of certificates to trust instead of the system&apos;s, for a mail server with a private certificate authority</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>When a backup fails</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>After every backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Once a day, every job&apos;s state</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send test report</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reports</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mail server</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>From</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>To</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send mail</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Certificates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no password is stored for the mail server: type it in the Password box</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the desktop keyring cannot be reached: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The report settings cannot be used: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The mail server&apos;s password cannot be kept: the desktop keyring cannot be reached: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The test report was not sent: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The test report was sent to %1.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmRestore</name>
    <message>
        <source>Restore Files - %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backups, newest first:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show only:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>wildcards, for example *.doc; *.txt</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Modified</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore to the &amp;original place</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore &amp;into:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Restore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Abort</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No backups exist for this job yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 entries</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore into</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The backup %1 is protected by a password. Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The password is wrong for %1. Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing was restored: the password for %1 is wrong.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of the files to restore already exist.<byte value="xd"/>
<byte value="xd"/>
Yes: replace those older than the backup&apos;s copy<byte value="xd"/>
No: keep both, the restored copy named with &quot; (restored)&quot;<byte value="xd"/>
Cancel: leave them as they are and restore the others</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files Already Exist</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There is nothing to restore.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose the folder to restore into (a full path).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restoring %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restored %1 files, skipped %2, not restored %3.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore aborted. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A backup of %1 is running. Its backups can be read when it has ended.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Listing the backups on %1...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The backups on %1 could not be listed: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 backups on %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading %1...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading %1: %2 of %3 bytes (%4%)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download stopped.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Versions...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Snapshot %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a file to see its versions.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Versions</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmSchedule</name>
    <message>
        <source>Stowline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stowline - Manual backup mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Action</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edit Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run Now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Abort</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Suspend / Resume</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Job Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One-shot Dates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Logs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Transaction Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log Comment</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Contents</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Index</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Home Page</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>License</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add a new backup job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edit the selected backup job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy the selected backup job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete the selected backup jobs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Run Now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run the selected backup jobs now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Suspend</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Suspend or resume the selected backup jobs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View the latest backup of the selected job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 Backup Jobs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Are you sure you want to delete the job called %1?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Are you sure you want to delete %1 Backup Jobs?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove Confirmation</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A backup is already running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please enter a comment for backup - %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup Job &apos;%1&apos; has failed.<byte value="xd"/>
<byte value="xd"/>
See transaction log for details: &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup aborted!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aborting backup...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to open backup job () -%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verification Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The backup directory does not yet exist.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No backups appear to exist for job &apos;%1&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing to view</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The zip program on your system was unable to open the backup zip.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zip Program Failure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You cannot make another copy of this Backup Job until<byte value="xd"/>
you rename the existing copy.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Multiple jobs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zip</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rebuild</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Freshen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You must first add and then select a backup job before clicking this button.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You must first select a backup job before clicking this button.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Duplicate job name &quot;%1&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Data Error </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore Files...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verify Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verifying %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No successful backup since %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A job has no recent successful backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The backups of %1 are being read. Back it up when the restore or verify has ended.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The newest backup of %1 reads back whole:<byte value="xd"/>
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The newest backup of %1 (%2) does not read back whole:<byte value="xd"/>
%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Its password stays in the keyring.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Give the copy %1 its password in its options.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Off-site copy behind since %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Off-site copy: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for its drive</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last run: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 files (%2) done, counting...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 files</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>frmVersions</name>
    <message>
        <source>Versions - %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Versions of %1, newest first:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Change</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore to the &amp;original place</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore &amp;into:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Restore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 versions</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>same</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>differs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not compared</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>oldest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a version first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Versions</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not restored.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The version was not restored.<byte value="xd"/>
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose the folder to restore into (a full path).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restored the version of %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not restored: the file that exists was kept.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No temporary folder could be made: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No program could open %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Opened a copy of the version of %1.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
