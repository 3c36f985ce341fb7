// Folder removal: the product folders, the Start-menu folder and the
// installer-information folder, all through one shell delete request.
#pragma once

// Deletes the folder (or file) with everything below it; true when the shell
// reported success.
int DeleteFolder(const char* path);
int DeleteProductFolders(int edition, int generation);
void DeleteStartMenuFolder();
