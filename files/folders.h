// Folder removal: the product folders, the Start-menu folder and the
// installer-information folder, all through one shell delete request.
#pragma once

// Deletes the folder (or file) with everything below it; true when the shell
// reported success.
int DeleteFolder(const char* path);
// Deletes the edition's product folder under Program Files and the first
// product folder under the application-data folder; true when every deletion
// tried succeeded. On Windows 2000 and XP each one's "logs" access list is
// reset first.
int DeleteProductFolders(int edition, int generation);
// Gives "Everyone" full access to folder\logs, when that exists.
void ResetLogsFolderAcl(const char* folder);
// Deletes the Start-menu folder named by the uninstall key's "DisplayName",
// when that names one folder directly inside the Start-menu programs folder.
void DeleteStartMenuFolder();
// True when name is one plain file name: not "." or "..", no separator, drive
// colon or other character a Windows file name cannot hold.
bool IsSingleFolderName(const char* name);
