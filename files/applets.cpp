#include "files/applets.h"

#include "common/owners.h"
#include "common/text.h"
#include "console/console.h"
#include "console/messages.h"
#include "probes/probes.h"
#include "lsp/gate.h"
#include "platform/win.h"

namespace {

const int kDots = 5;
const DWORD kDotDelayMs = 500;
const char kLsp64Dll[] = "ztxlsp64.dll";
const char kLspDll[] = "ztxlsp.dll";
const char kCompanionName[] = "\\ztxins64.exe";

typedef BOOL(WINAPI* Wow64DisableFn)(PVOID*);
typedef BOOL(WINAPI* Wow64RevertFn)(PVOID);

// Holds the thread's WOW64 file-system redirection off and switches it back
// on when the scope ends, whatever way it ends.
class ScopedRedirectionOff {
 public:
  ScopedRedirectionOff(Wow64DisableFn disable, Wow64RevertFn revert) : revert_(revert) {
    off_ = disable(&old_value_) != FALSE;
  }
  ~ScopedRedirectionOff() {
    if (off_) revert_(old_value_);
  }
  ScopedRedirectionOff(const ScopedRedirectionOff&) = delete;
  ScopedRedirectionOff& operator=(const ScopedRedirectionOff&) = delete;
  bool Off() const { return off_; }

 private:
  Wow64RevertFn revert_;
  PVOID old_value_ = nullptr;
  bool off_ = false;
};

void Progress(int verbose) {
  if (verbose) ShowProgress(kDots, kDotDelayMs);
}

void Report(int verbose, int succeeded, const char* success_line, const char* failure_line) {
  if (verbose) PrintText(succeeded ? success_line : failure_line);
}

// The Windows directory joined with name; false when either cannot be had.
bool BuildWindowsDirPath(const char* name, char* out) {
  out[0] = '\0';
  char dir[MAX_PATH];
  memset(dir, 0, sizeof dir);
  UINT len = GetWindowsDirectoryA(dir, MAX_PATH - 1);
  if (len == 0 || len >= MAX_PATH - 1) return false;
  return JoinPath(out, kPathSize, dir, name);
}

bool WindowsDirFileExists(const char* name) {
  char path[kPathSize];
  return BuildWindowsDirPath(name, path) && PathExists(path);
}

}  // namespace

int DeleteControlPanelApplet(int verbose) {
  char path[kPathSize];
  BuildAppletPath(path);
  if (path[0] == '\0' || !PathExists(path)) return 1;
  Progress(verbose);
  int deleted = DeleteFileA(path) ? 1 : 0;
  Report(verbose, deleted, kAppletRemoved, kAppletFailed);
  return deleted;
}

int DeleteControlPanelApplet64(int verbose) {
  // The exe imports kernel32: a bare name gets the module already loaded.
  ScopedLibrary kernel(LoadLibraryA("Kernel32.dll"));
  if (!kernel.Valid()) return 1;
  Wow64DisableFn disable = BindProc<Wow64DisableFn>(kernel.Get(), "Wow64DisableWow64FsRedirection");
  Wow64RevertFn revert = BindProc<Wow64RevertFn>(kernel.Get(), "Wow64RevertWow64FsRedirection");
  if (disable == nullptr || revert == nullptr) return 0;
  ScopedRedirectionOff redirection(disable, revert);
  if (!redirection.Off()) return 1;
  // With redirection off the system directory is the native 64-bit one.
  char path[kPathSize];
  BuildApplet64Path(path);
  if (path[0] != '\0' && PathExists(path)) {
    Progress(verbose);
    int deleted = DeleteFileA(path) ? 1 : 0;
    Report(verbose, deleted, kApplet64Removed, kApplet64Failed);
  }
  return 1;
}

int DeleteWindowsDirFile(const char* name) {
  char path[kPathSize];
  if (!BuildWindowsDirPath(name, path) || !PathExists(path)) return 1;
  return DeleteFileA(path) ? 1 : 0;
}

int DeleteLspDllsAfterRemoval(int verbose, int catalog_whole) {
  bool present = WindowsDirFileExists(kLsp64Dll) || WindowsDirFileExists(kLspDll);
  if (!present && catalog_whole) return 1;
  Progress(verbose);
  if (!present) {
    Report(verbose, 0, kLspRemoved, kLspFailed);
    return 0;
  }
  // A DLL still named in the Winsock catalog is loaded into every program that
  // opens a socket; deleting it would cut them all off the network.
  if (IsProductLspListed()) {
    Report(verbose, 0, kLspRemoved, kLspFailed);
    return 0;
  }
  // The 64-bit DLL goes first: when it stays, the 32-bit one stays with it.
  int deleted = DeleteWindowsDirFile(kLsp64Dll) && DeleteWindowsDirFile(kLspDll) ? 1 : 0;
  // A look that could not be made passes for an absent file: look once more,
  // so that a DLL still there is never reported as deleted.
  if (deleted && (WindowsDirFileExists(kLsp64Dll) || WindowsDirFileExists(kLspDll))) deleted = 0;
  // A catalog left with a broken chain is a failed removal even when the
  // DLLs could go.
  int succeeded = deleted && catalog_whole ? 1 : 0;
  Report(verbose, succeeded, kLspRemoved, kLspFailed);
  return succeeded;
}

int DeleteLspDlls(int verbose) { return DeleteLspDllsAfterRemoval(verbose, 1); }

bool RunAndWait(const char* file, const char* parameters, DWORD* exit_code) {
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  // Nobody may be there to answer: no error message box (SEE_MASK_FLAG_NO_UI)
  // and no "Open File - Security Warning" for a companion that came with a
  // download (SEE_MASK_NOZONECHECKS; every 64-bit Windows, where alone the
  // companion runs, knows both).
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  info.hwnd = nullptr;
  info.lpVerb = "open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.lpDirectory = nullptr;
  info.nShow = SW_HIDE;
  if (!ShellExecuteExA(&info)) return false;
  // A start handed to a running instance (DDE) comes back without a process.
  ScopedKernelHandle process(info.hProcess);
  if (!process.Valid()) return false;
  if (WaitForSingleObject(process.Get(), INFINITE) == WAIT_FAILED) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code) || code == STILL_ACTIVE) return false;
  *exit_code = code;
  return true;
}

int RunCompanion64(int verbose) {
  char dir[MAX_PATH];
  memset(dir, 0, sizeof dir);
  DWORD len = GetCurrentDirectoryA(MAX_PATH, dir);
  char path[kPathSize];
  bool built = len != 0 && len < MAX_PATH && ConcatText(path, sizeof path, dir, kCompanionName);
  if (!built || !PathExists(path)) {
    Progress(verbose);
    if (verbose) PrintText(kCompanionMissing);
    return 0;
  }
  // Only the companion can say that the 64-bit catalog no longer lists
  // ztxlsp64.dll: without its exit code 0 both DLLs stay.
  DWORD exit_code = 1;
  if (!RunAndWait(path, "-f", &exit_code) || exit_code != 0) {
    Progress(verbose);
    Report(verbose, 0, kLspRemoved, kLspFailed);
    return 0;
  }
  return DeleteLspDlls(verbose);
}
