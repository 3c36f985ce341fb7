// Folder removal: the product folders, the Start-menu folder and the
// installer-information folder. On the NT family each tree is deleted through
// handles (files/tree_delete.h); Windows 98 and Me, which have no links, hand
// it to the shell.
#pragma once

// Deletes base\relative (the folder or file named by one or more names below
// the folder base) with everything below it; true when it is gone. A link is
// never followed: one among the names before the last stops the deletion,
// one at or below the last name is removed as a link.
int DeleteFolder(const char* base, const char* relative);
// Deletes every product folder present: under Program Files the edition's
// own (for edition 0 both OEM folders), under the application-data folder
// both; true when every deletion tried succeeded and none is left that was
// not seen at first. On Windows 2000 and XP each one's "logs" access list is
// reset first and written back when the folder stays.
int DeleteProductFolders(int edition, int generation);
// Deletes the Start-menu folder named by the uninstall key's "DisplayName"
// (taken as the Win32 calls take a name: its trailing dots and blanks
// dropped), when that names one folder directly inside the Start-menu
// programs folder. 1 when no such folder is left (none named, no programs
// folder, none there, or deleted); 0 when it is there and stays, so that
// the uninstall key, which names it, stays too.
int DeleteStartMenuFolder();
// True when name is one plain file name: not "." or "..", no separator, drive
// colon or other character a Windows file name cannot hold.
bool IsSingleFolderName(const char* name);
