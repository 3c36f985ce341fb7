#include "driver/cleanup.h"

#include "common/owners.h"
#include "common/text.h"
#include "console/console.h"
#include "console/messages.h"
#include "files/acl.h"
#include "files/applets.h"
#include "files/folders.h"
#include "files/lsp_removal.h"
#include "probes/probes.h"
#include "process/stop.h"
#include "registry/product_registry.h"
#include "regops/primitives.h"

namespace {

const char kInstallInfoName[] =
    "InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const int kDots = 5;
const DWORD kDotDelayMs = 500;

// The console framework needs the module instance of the tool.
bool InitFramework() { return GetModuleHandleA(nullptr) != nullptr; }

// Only the whole one-byte lines count; length covers NUL bytes too.
bool IsYes(const char* answer, size_t length) { return length == 1 && (answer[0] == 'Y' || answer[0] == 'y'); }
bool IsNo(const char* answer, size_t length) { return length == 1 && (answer[0] == 'N' || answer[0] == 'n'); }

// Asks until the answer is y/Y/n/N. Gives true to go on; false for a cancel,
// also when the input ends before a valid answer, since nobody is left to ask.
bool AskToProceed() {
  PrintText(kQuestion);
  char answer[16];
  size_t length = 0;
  for (;;) {
    if (!ReadAnswerLine(answer, sizeof answer, &length)) return false;
    if (IsYes(answer, length)) return true;
    if (IsNo(answer, length)) return false;
    PrintText(kAskAgain);
  }
}

struct StepFlags {
  int applet = 1;
  int lsp = 1;
  int applet64 = 1;
  int companion = 1;
  bool AllSucceeded() const { return applet && lsp && applet64 && companion; }
};

void RunStep(int succeeded, const char* success_line, const char* failure_line) {
  PrintText(succeeded ? success_line : failure_line);
}

void CleanUp(int generation, int is64, StepFlags* flags) {
  int edition = GetEditionCode();
  StopProductProcesses();

  if (HasProductRegistry(edition, generation)) {
    ShowProgress(kDots, kDotDelayMs);
    RunStep(DeleteProductRegistry(edition, generation), kRegistryRemoved, kRegistryFailed);
  }
  if (is64 && HasProductRegistry64(edition)) {
    ShowProgress(kDots, kDotDelayMs);
    RunStep(DeleteProductRegistry64(edition), kRegistry64Removed, kRegistry64Failed);
  }

  int verbose = 1;
  if (IsProductFolderPresent(edition)) {
    ShowProgress(kDots, kDotDelayMs);
    RunStep(DeleteProductFolders(edition, generation), kFoldersRemoved, kFoldersFailed);
    verbose = 0;
  }

  if (is64) {
    flags->applet64 = DeleteControlPanelApplet64(verbose);
    flags->companion = RunCompanion64(verbose);
  } else {
    flags->applet = DeleteControlPanelApplet(verbose);
    flags->lsp = RemoveProductLsp(verbose);
  }

  char program_files[MAX_PATH];
  ReadProgramFilesDir(program_files);
  char install_info[MAX_PATH];
  // An empty Program Files folder leaves the path in the root of the current
  // drive; the folder name carries the product's own GUID.
  if (JoinPath(install_info, sizeof install_info, program_files, kInstallInfoName) &&
      PathExists(install_info)) {
    ShowProgress(kDots, kDotDelayMs);
    RunStep(DeleteFolder(program_files, kInstallInfoName), kInstallInfoRemoved, kInstallInfoFailed);
  }

  if (IsRegKeyPresent(HKEY_LOCAL_MACHINE, kUninstallKey)) {
    ShowProgress(kDots, kDotDelayMs);
    // The Start-menu folder is named by the key's "DisplayName": it goes
    // first, and while it stays the key stays too, so that the next run
    // finds both again.
    int start_menu = DeleteStartMenuFolder();
    RunStep(start_menu && DeleteUninstallRegistry(), kUninstallKeyRemoved, kUninstallKeyFailed);
  }
}

}  // namespace

void PrintBanner() {
  PrintText(kBannerRule);
  PrintText(kBannerTitle);
  PrintText(kBannerRule);
  PrintText(kBannerEnd);
}

int RunCleanup() {
  if (!InitFramework()) {
    fputs(kFatalInit, stderr);
    fputs("\n", stderr);
    fflush(stderr);
    return 1;
  }
  StepFlags flags;
  bool confirmed = false;
  {
    // The exe imports advapi32: a bare name gets the module already loaded.
    ScopedLibrary advapi(LoadLibraryA("advapi32.dll"));
    g_AdvapiModule = advapi.Get();
    PrintBanner();
    int generation = GetWindowsGeneration();
    int is64 = Is64BitWindows(GetCurrentProcess());
    confirmed = AskToProceed();
    if (confirmed) {
      CleanUp(generation, is64, &flags);
    } else {
      PrintText(kCancelled);
    }
    g_AdvapiModule = nullptr;
  }
  if (confirmed) PrintText(flags.AllSucceeded() ? kSummaryRestart : kSummaryRunAgain);
  PrintText(kClosing);
  WaitForKey();
  return 0;
}
