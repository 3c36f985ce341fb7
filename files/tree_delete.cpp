#include "files/tree_delete.h"

#include <cstddef>

#include "common/owners.h"
#include "files/acl.h"
#include "files/privileges.h"
#include "platform/win.h"

namespace {

typedef NTSTATUS(NTAPI* NtOpenFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* NtFileInformationFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef DWORD(WINAPI* GetLongPathNameAFn)(LPCSTR, LPSTR, DWORD);

const NTSTATUS kStatusSuccess = 0;
const NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006UL);
const NTSTATUS kStatusDirectoryNotEmpty = static_cast<NTSTATUS>(0xC0000101UL);

// Deeper than this is no product's tree.
const int kMaxDepth = 32;
// A path (drive letter and colon included) longer than MAX_PATH less its
// terminator is refused, never cut.
const size_t kMaxPathChars = MAX_PATH - 1;
const size_t kDriveChars = 2;
const size_t kMaxNameChars = 255;
// Names that a user keeps adding while the walk runs must not keep it going.
const unsigned kMaxEntries = 65536;
// The names below a base: "Corda Vale\KOBR_SE" and the like.
const size_t kMaxChain = 4;
// A name another program still holds open (an on-access scanner, an
// indexer) stays in its folder until that handle closes: a folder that is
// not empty only for such names is tried again, every step for at most the
// budget of one deletion.
const DWORD kPendingStepMs = 100;
const DWORD kPendingBudgetMs = 2000;

const ULONG kLink = FILE_ATTRIBUTE_REPARSE_POINT;
const ULONG kFolder = FILE_ATTRIBUTE_DIRECTORY;
const WCHAR kLogs[] = {'l', 'o', 'g', 's', 0};
const char kEveryone[] = "Everyone";

// What each open asks for: no more than its calls need, so that what a
// folder grants over its contents is enough (DELETE through FILE_DELETE_CHILD,
// FILE_READ_ATTRIBUTES through FILE_LIST_DIRECTORY) where the entry's own
// list refuses everything. FileStandardInformation, FileInternalInformation
// and FileNameInformation need no access (ReactOS ntoskrnl/include/io_i.h,
// IopQueryOperationAccess).
// - a folder held on the way down: listed rights, so that it takes part in
//   sharing and cannot be renamed; its attributes judged;
const ACCESS_MASK kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
// - a file or link to delete: judged (FileBasicInformation), then disposed;
const ACCESS_MASK kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES;
// - a folder to delete: listed synchronously too (NtQueryDirectoryFile);
const ACCESS_MASK kFolderAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE;
// - a second handle on a read-only entry, to clear the attribute and put it
//   back (FileBasicInformation set);
const ACCESS_MASK kAttributesAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
// - "logs", held without sharing from its reset until it is gone or its list
//   is back: the reset (READ_CONTROL, WRITE_DAC), the listing and the deletion;
const ACCESS_MASK kLogsAccess = kFolderAccess | READ_CONTROL | WRITE_DAC;
// - "logs" where its list refuses that before the reset: the reset alone.
const ACCESS_MASK kResetAccess = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES;

const ULONG kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const ULONG kShareNone = 0;

// Bound by name: 9x lacks them all, every NT from 2000 on (and Wine) has them.
struct NtFileApi {
  NtOpenFileFn open;
  NtQueryDirectoryFileFn list;
  NtFileInformationFn query;
  NtFileInformationFn set;

  NtFileApi() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    open = BindProc<NtOpenFileFn>(ntdll, "NtOpenFile");
    list = BindProc<NtQueryDirectoryFileFn>(ntdll, "NtQueryDirectoryFile");
    query = BindProc<NtFileInformationFn>(ntdll, "NtQueryInformationFile");
    set = BindProc<NtFileInformationFn>(ntdll, "NtSetInformationFile");
  }
  bool Complete() const { return open && list && query && set; }
};

// What a handle says of the file or folder it was opened on.
struct Facts {
  ULONG attributes = 0;
  ULONG links = 0;
  bool delete_pending = false;
};

WCHAR FoldAscii(WCHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool IsDotName(const WCHAR* name, size_t chars) {
  return (chars == 1 && name[0] == '.') || (chars == 2 && name[0] == '.' && name[1] == '.');
}

bool IsLogsName(const WCHAR* name, size_t chars) {
  if (chars != 4) return false;
  for (size_t i = 0; i < chars; ++i)
    if (FoldAscii(name[i]) != FoldAscii(kLogs[i])) return false;
  return true;
}

class TreeDeleter {
 public:
  TreeDeleter(const NtFileApi& api, const char* volume_path) : api_(api), volume_path_(volume_path) {}

  // Starts at the base folder: its name as its volume gives it.
  bool Start(HANDLE base) {
    length_ = 0;
    return ReadName(base, path_, &length_);
  }

  // Opens one name below a held folder and holds it: a folder that is no
  // link. Without delete sharing, nobody can rename or remove it meanwhile.
  ScopedFile HoldFolder(HANDLE folder, const WCHAR* name, size_t chars) {
    size_t prefix = length_;
    ScopedFile held;
    if (!Enter(name, chars)) return held;
    held = OpenBelow(folder, name, chars, kHoldAccess, kShareNoDelete, 0);
    Facts facts;
    if (held.Valid() && !(Judge(held.Get(), &facts) && (facts.attributes & (kFolder | kLink)) == kFolder &&
                          IsNamed(held.Get(), prefix)))
      held.Reset();
    return held;
  }

  // Deletes the last name with everything below it; with reset_logs, the
  // access list of its "logs" folder is replaced right before what is in
  // "logs" goes.
  bool DeleteTarget(HANDLE folder, const WCHAR* name, size_t chars, bool reset_logs) {
    size_t prefix = length_;
    if (!Enter(name, chars)) return false;
    reset_logs_ = reset_logs;
    ScopedFile target = OpenBelow(folder, name, chars, kFolderAccess, kShareNoDelete, FILE_SYNCHRONOUS_IO_NONALERT);
    Facts facts;
    if (!target.Valid() || !Judge(target.Get(), &facts) || !IsNamed(target.Get(), prefix)) return false;
    return DeleteJudged(folder, name, chars, target.Get(), facts, false, true, 0);
  }

 private:
  // FILE_OPEN_REPARSE_POINT opens a link itself, never what it points at;
  // backup intent lets the backup and restore privileges act where they are
  // enabled.
  ScopedFile OpenBelow(HANDLE folder, const WCHAR* name, size_t chars, ACCESS_MASK access, ULONG share,
                       ULONG options) {
    UNICODE_STRING text;
    text.Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    text.MaximumLength = text.Length;
    text.Buffer = const_cast<PWSTR>(name);
    OBJECT_ATTRIBUTES attributes;
    memset(&attributes, 0, sizeof attributes);
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &text;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io;
    memset(&io, 0, sizeof io);
    HANDLE opened = INVALID_HANDLE_VALUE;
    NTSTATUS status = api_.open(&opened, access, &attributes, &io, share,
                                options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
    return ScopedFile(status == kStatusSuccess ? opened : INVALID_HANDLE_VALUE);
  }

  bool Judge(HANDLE file, Facts* facts) {
    IO_STATUS_BLOCK io;
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    memset(&basic, 0, sizeof basic);
    memset(&standard, 0, sizeof standard);
    if (api_.query(file, &io, &basic, sizeof basic, FileBasicInformation) != kStatusSuccess) return false;
    if (api_.query(file, &io, &standard, sizeof standard, FileStandardInformation) != kStatusSuccess) return false;
    facts->attributes = basic.FileAttributes;
    facts->links = standard.NumberOfLinks;
    facts->delete_pending = standard.DeletePending != 0;
    return true;
  }

  bool FileId(HANDLE file, LARGE_INTEGER* id) {
    IO_STATUS_BLOCK io;
    FILE_INTERNAL_INFORMATION info;
    memset(&info, 0, sizeof info);
    if (api_.query(file, &io, &info, sizeof info, FileInternalInformation) != kStatusSuccess) return false;
    *id = info.IndexNumber;
    return true;
  }

  bool SameFile(HANDLE a, HANDLE b) {
    LARGE_INTEGER first, second;
    return FileId(a, &first) && FileId(b, &second) && first.QuadPart == second.QuadPart;
  }

  // The name a handle's file has on its volume ("\dir\file"); false when it
  // cannot be read or would not fit.
  bool ReadName(HANDLE file, WCHAR* out, size_t* chars) {
    union {
      FILE_NAME_INFORMATION info;
      BYTE bytes[offsetof(FILE_NAME_INFORMATION, FileName) + sizeof(WCHAR) * (kMaxPathChars + 1)];
    } name;
    IO_STATUS_BLOCK io;
    memset(&name, 0, sizeof name);
    if (api_.query(file, &io, &name, sizeof name, FileNameInformation) != kStatusSuccess) return false;
    size_t length = name.info.FileNameLength / sizeof(WCHAR);
    if (length == 0 || length + kDriveChars > kMaxPathChars) return false;
    memcpy(out, name.info.FileName, length * sizeof(WCHAR));
    *chars = length;
    return true;
  }

  // True when the handle's file has the name the walk stands at: the folder
  // it came from, then the name opened (in any letter case). A handle on
  // anything else (a link the open followed after all, as Wine 8 does with a
  // symbolic link) differs. The walk goes on with the name as stored.
  bool IsNamed(HANDLE file, size_t prefix) {
    WCHAR name[kMaxPathChars + 1];
    size_t chars = 0;
    if (!ReadName(file, name, &chars) || chars != length_) return false;
    for (size_t i = 0; i < prefix; ++i)
      if (name[i] != path_[i]) return false;
    for (size_t i = prefix; i < length_; ++i)
      if (FoldAscii(name[i]) != FoldAscii(path_[i])) return false;
    memcpy(path_ + prefix, name + prefix, (length_ - prefix) * sizeof(WCHAR));
    return true;
  }

  // Steps into a name; false when the path would not fit.
  bool Enter(const WCHAR* name, size_t chars) {
    bool root = length_ == 1 && path_[0] == '\\';
    size_t length = length_ + (root ? 0 : 1) + chars;
    if (chars == 0 || chars > kMaxNameChars || length + kDriveChars > kMaxPathChars) return false;
    if (!root) path_[length_] = '\\';
    memcpy(path_ + length - chars, name, chars * sizeof(WCHAR));
    length_ = length;
    return true;
  }

  NTSTATUS Dispose(HANDLE file) {
    IO_STATUS_BLOCK io;
    FILE_DISPOSITION_INFORMATION disposition;
    disposition.DoDeleteFile = TRUE;
    return api_.set(file, &io, &disposition, sizeof disposition, FileDispositionInformation);
  }

  // A folder emptied of everything but names that other programs still hold:
  // those go when their handles close, so the deletion is tried again a
  // little later, within the budget.
  bool DisposeFolder(HANDLE folder) {
    NTSTATUS status = Dispose(folder);
    while (status == kStatusDirectoryNotEmpty && waited_ms_ < kPendingBudgetMs) {
      Sleep(kPendingStepMs);
      waited_ms_ += kPendingStepMs;
      status = Dispose(folder);
    }
    return status == kStatusSuccess;
  }

  bool SetAttributes(HANDLE file, ULONG attributes) {
    IO_STATUS_BLOCK io;
    FILE_BASIC_INFORMATION basic;
    memset(&basic, 0, sizeof basic);  // zero times stay as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return api_.set(file, &io, &basic, sizeof basic, FileBasicInformation) == kStatusSuccess;
  }

  // Deletes what `file` was opened on (folder\name): a read-only one gets
  // the attribute cleared through a second handle on the same file, opened
  // while the first one keeps it in place, and back when the deletion is
  // refused. Windows refuses to delete a read-only folder as it does a file.
  // A file with another name elsewhere keeps its attributes: they belong to
  // that name too, so its name here goes only as it is.
  bool DisposeJudged(HANDLE folder, const WCHAR* name, size_t chars, HANDLE file, const Facts& facts) {
    bool is_folder = (facts.attributes & kFolder) != 0;
    if (!(facts.attributes & FILE_ATTRIBUTE_READONLY) || (!is_folder && facts.links != 1))
      return is_folder ? DisposeFolder(file) : Dispose(file) == kStatusSuccess;
    ScopedFile attributes = OpenBelow(folder, name, chars, kAttributesAccess, kShareAll, 0);
    if (!attributes.Valid() || !SameFile(attributes.Get(), file)) return false;
    if (!SetAttributes(attributes.Get(), facts.attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    if (is_folder ? DisposeFolder(file) : Dispose(file) == kStatusSuccess) return true;
    SetAttributes(attributes.Get(), facts.attributes);
    return false;
  }

  // listed_link: the listing called it a link; can_list: opened to be listed.
  bool DeleteJudged(HANDLE folder, const WCHAR* name, size_t chars, HANDLE file, const Facts& facts,
                    bool listed_link, bool can_list, int depth) {
    if (facts.attributes & kLink) return Dispose(file) == kStatusSuccess;  // the link itself
    // Listed as a link but not opened as one: the open followed it, or
    // another name took its place. Never deleted through.
    if (listed_link) return false;
    if ((facts.attributes & kFolder) && !(can_list && EmptyFolder(file, depth + 1))) return false;
    return DisposeJudged(folder, name, chars, file, facts);
  }

  bool DeleteEntry(HANDLE folder, const WCHAR* name, size_t chars, ULONG listed, int depth) {
    if (IsDotName(name, chars)) return true;
    size_t prefix = length_;
    if (!Enter(name, chars)) return false;
    bool listed_link = (listed & kLink) != 0;
    bool listed_folder = (listed & (kFolder | kLink)) == kFolder;
    bool done = false;
    if (listed_folder && depth == 1 && reset_logs_ && IsLogsName(name, chars)) {
      done = DeleteLogs(folder, name, chars, prefix, depth);
    } else {
      ScopedFile entry = OpenBelow(folder, name, chars, listed_folder ? kFolderAccess : kDeleteAccess,
                                   kShareNoDelete, listed_folder ? FILE_SYNCHRONOUS_IO_NONALERT : 0);
      Facts facts;
      done = entry.Valid() && Judge(entry.Get(), &facts) && IsNamed(entry.Get(), prefix) &&
             DeleteJudged(folder, name, chars, entry.Get(), facts, listed_link, listed_folder, depth);
    }
    length_ = prefix;
    return done;
  }

  // The product's installer locked its "logs" folder on 2000 and XP. Its
  // list opens to Everyone only while the walk holds it: from right before
  // its contents go until it is gone, or its list is back when it stays.
  // Where "logs" opens at once with everything the walk needs (the backup
  // and restore privileges, or a list that allows it), one handle that
  // shares nothing does it all, so nobody else can open it for reading,
  // writing or deleting meanwhile. Where its list refuses that before the
  // reset, the reset's own handle holds it with DELETE (which the product
  // folder grants) sharing reading alone, so that the listing can follow.
  bool DeleteLogs(HANDLE folder, const WCHAR* name, size_t chars, size_t prefix, int depth) {
    ScopedFile logs = OpenBelow(folder, name, chars, kLogsAccess, kShareNone, FILE_SYNCHRONOUS_IO_NONALERT);
    ScopedFile holder;
    Facts facts;
    HANDLE lists = logs.Get();
    if (!logs.Valid()) {
      bool holds = true;
      holder = OpenBelow(folder, name, chars, kResetAccess | DELETE, FILE_SHARE_READ, 0);
      if (!holder.Valid()) {
        holds = false;
        holder = OpenBelow(folder, name, chars, kResetAccess, kShareNone, 0);
      }
      if (!holder.Valid() || !IsPlainFolder(holder.Get(), prefix, &facts)) return false;
      lists = holder.Get();
      ScopedLocalMemory saved;
      ResetFolderAcl(lists, volume_path_, kEveryone, GENERIC_ALL, &saved);
      // Opened now that its list lets it be: it must be the folder held.
      ScopedFile lister = OpenBelow(folder, name, chars, holds ? kFolderAccess & ~DELETE : kFolderAccess,
                                    holds ? FILE_SHARE_READ | FILE_SHARE_DELETE : kShareNone,
                                    FILE_SYNCHRONOUS_IO_NONALERT);
      bool done = lister.Valid() && SameFile(lister.Get(), holder.Get()) && EmptyFolder(lister.Get(), depth + 1) &&
                  DisposeJudged(folder, name, chars, holds ? holder.Get() : lister.Get(), facts);
      if (!done) RestoreFolderDacl(lists, saved);
      return done;
    }
    if (!IsPlainFolder(logs.Get(), prefix, &facts)) return false;
    ScopedLocalMemory saved;
    ResetFolderAcl(lists, volume_path_, kEveryone, GENERIC_ALL, &saved);
    bool done = EmptyFolder(logs.Get(), depth + 1) && DisposeJudged(folder, name, chars, logs.Get(), facts);
    // Once deleted, it is gone when the handle closes; a "logs" that stays
    // must not stay open to everyone.
    if (!done) RestoreFolderDacl(lists, saved);
    return done;
  }

  bool IsPlainFolder(HANDLE file, size_t prefix, Facts* facts) {
    return Judge(file, facts) && (facts->attributes & (kFolder | kLink)) == kFolder && IsNamed(file, prefix);
  }

  // Deletes everything in a folder, each name through its own handle; what
  // cannot go stays and the rest still goes. True when all went.
  bool EmptyFolder(HANDLE folder, int depth) {
    if (depth > kMaxDepth) return false;
    union {
      FILE_DIRECTORY_INFORMATION info;
      LARGE_INTEGER align;
      BYTE bytes[offsetof(FILE_DIRECTORY_INFORMATION, FileName) + sizeof(WCHAR) * (kMaxNameChars + 1)];
    } entry;
    bool all = true;
    BOOLEAN restart = TRUE;
    for (;;) {
      if (++entries_ > kMaxEntries) return false;
      IO_STATUS_BLOCK io;
      memset(&io, 0, sizeof io);
      NTSTATUS status = api_.list(folder, nullptr, nullptr, nullptr, &io, &entry, sizeof entry,
                                  FileDirectoryInformation, TRUE, nullptr, restart);
      restart = FALSE;
      if (status == kStatusNoMoreFiles) return all;
      if (status != kStatusSuccess) return false;
      size_t chars = entry.info.FileNameLength / sizeof(WCHAR);
      if (chars > kMaxNameChars || !DeleteEntry(folder, entry.info.FileName, chars, entry.info.FileAttributes, depth))
        all = false;
    }
  }

  const NtFileApi& api_;
  const char* volume_path_;
  WCHAR path_[kMaxPathChars + 1] = {};
  size_t length_ = 0;
  unsigned entries_ = 0;
  DWORD waited_ms_ = 0;
  bool reset_logs_ = false;
};

// The base in its long form: a folder named in 8.3 form ("C:\PROGRA~1", a
// Program Files value written short) would otherwise give its own name
// short and every name below it long (FAT's FileNameInformation). The base
// is the system's own folder; where the call is missing or fails, it is
// taken as it is. A long form that does not fit is refused.
bool LongBase(const char* base, char* out, size_t size) {
  GetLongPathNameAFn long_path =
      BindProc<GetLongPathNameAFn>(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA");
  DWORD length = long_path != nullptr ? long_path(base, out, static_cast<DWORD>(size)) : 0;
  if (length != 0 && length < size) return true;
  if (length >= size) return false;
  size_t chars = strlen(base);
  if (chars >= size) return false;
  memcpy(out, base, chars + 1);
  return true;
}

}  // namespace

int DeleteTreeByHandles(const char* base, const char* relative, bool reset_logs) {
  if (base == nullptr || relative == nullptr || base[0] == '\0') return 0;
  NtFileApi api;
  if (!api.Complete()) return 0;
  // The names below the base, in Unicode: a byte sequence of the code page
  // that is no character refuses them.
  WCHAR names[kMaxPathChars + 1];
  int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, relative, -1, names, kMaxPathChars + 1);
  if (count <= 1) return 0;
  size_t total = static_cast<size_t>(count) - 1;
  char long_base[MAX_PATH];
  if (!LongBase(base, long_base, sizeof long_base)) return 0;

  // Every open below the base asks for backup intent: with these enabled,
  // what lies in the product's folders is listed and deleted whatever its
  // own list says (a subfolder of "logs" that inherited its deny).
  ScopedBackupPrivileges privileges;
  // The base is the system's own folder; what its path leads to is taken as it is.
  ScopedFile base_folder(CreateFileA(long_base, FILE_LIST_DIRECTORY, kShareNoDelete, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!base_folder.Valid()) return 0;
  TreeDeleter deleter(api, long_base);
  if (!deleter.Start(base_folder.Get())) return 0;

  ScopedFile held[kMaxChain];
  HANDLE folder = base_folder.Get();
  size_t start = 0;
  for (size_t depth = 0;; ++depth) {
    size_t end = start;
    while (end < total && names[end] != '\\') ++end;
    const WCHAR* name = names + start;
    size_t chars = end - start;
    if (chars == 0 || IsDotName(name, chars)) return 0;
    if (end == total) return deleter.DeleteTarget(folder, name, chars, reset_logs) ? 1 : 0;
    if (depth == kMaxChain) return 0;
    held[depth] = deleter.HoldFolder(folder, name, chars);
    if (!held[depth].Valid()) return 0;
    folder = held[depth].Get();
    start = end + 1;
  }
}
