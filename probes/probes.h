// What the tool works out for itself: the Windows generation, 64-bit Windows,
// the product edition and where the product's folders and applets lie. Each
// call asks the system again; every failure gives the neutral answer.
#pragma once

#include "platform/win.h"

#include <cstddef>

// 1 = 98, 2 = Me, 3 = 2000, 4 = XP, 5 = Vista, 6 = 7, 0 = anything else.
int GetWindowsGeneration();
// 1 only when the system says it is of the 95/98/Me family; a version query
// that fails gives 0.
int IsWindows9x();
// 1 = 32-bit Windows, 2 = the process runs under WOW64, 3 = native x64/IA64.
int GetPlatformKind(HANDLE process);
int Is64BitWindows(HANDLE process);
int IsWow64(HANDLE process);
int IsNative64BitProcessor();
// 1 = "Corda_Vale\KOBR_SE" installed, 2 = "ORVA\GX_LT", 0 = the vendor's own.
int GetEditionCode();
// The relative install folder of an OEM edition, or null for edition 0.
const char* EditionFolder(int edition);

// The product's uninstall-information key under HKEY_LOCAL_MACHINE; its
// "DisplayName" names the Start-menu folder.
extern const char kUninstallKey[];

extern const char kCordaValeFolder[];
extern const char kOrvaFolder[];

// Every path below is written into a caller's buffer of kPathSize bytes.
const size_t kPathSize = MAX_PATH;

// The application-data folder of the current generation, a backslash and
// name; out stays empty when the folder cannot be had or the path would not fit.
void BuildAppDataPath(const char* name, char* out);
// The application-data folder of the current generation itself; 0 with out
// empty when the shell cannot give it.
int GetAppDataFolder(char* out);
int GetStartMenuProgramsPath(char* out);
int IsProductFolderPresent(int edition);
void BuildAppletPath(char* out);
void BuildApplet64Path(char* out);
// The Program Files folder from the registry, or "" when it cannot be read.
void ReadProgramFilesDir(char* out);
