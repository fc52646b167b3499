#pragma once
// Where the program keeps its files, and a few desktop services.

#include <string>

namespace appMisc {

// The application folder, ending with "/": the folder of the running executable, or, when that
// is not writable or the program is installed (a ../share/stowline folder beside its folder),
// $XDG_DATA_HOME/stowline (default ~/.local/share/stowline). Created when missing.
std::string AppFolder();
// Points the application folder elsewhere (tests, a command-line switch). A "" restores the default.
void SetAppFolder(const std::string& sPath);
// "stowline".
std::string ExeBaseName();
// The full path of the running executable ("" when unknown).
std::string ExePath();
// AppFolder() + "BackupJobs/" (always ends with "/").
std::string JobFolder();
// The host name.
std::string ComputerName();
// Opens a URL with the desktop's default application; on failure the exclamation box
// "Stowline was unable to open the following url on your system:" CR LF url, "Error Opening Webpage".
void OpenWebPage(const std::string& sUrl);
void ShowHelpContents();
void ShowHelpIndex();

} // namespace appMisc
