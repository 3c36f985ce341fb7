// Folder removal: the product folders, the Start-menu folder and the
// installer-information folder, all through one shell delete request.
#pragma once

// Deletes the folder (or file) with everything below it; true when the shell
// reported success. A link is never followed: a path that is a link loses the
// link alone, and every link below a folder is removed before the shell runs;
// a link that stays stops the deletion.
int DeleteFolder(const char* path);
// Deletes the edition's product folder under Program Files and the first
// product folder under the application-data folder; true when every deletion
// tried succeeded. On Windows 2000 and XP each one's "logs" access list is
// reset first.
int DeleteProductFolders(int edition, int generation);
// Gives "Everyone" full access to folder\logs, when that exists and neither it
// nor a folder of product (the trailing part of folder below its base, such
// as "Corda Vale\KOBR_SE") is a link.
void ResetLogsFolderAcl(const char* folder, const char* product);
// Deletes the Start-menu folder named by the uninstall key's "DisplayName",
// when that names one folder directly inside the Start-menu programs folder.
void DeleteStartMenuFolder();
// True when name is one plain file name: not "." or "..", no separator, drive
// colon or other character a Windows file name cannot hold.
bool IsSingleFolderName(const char* name);
