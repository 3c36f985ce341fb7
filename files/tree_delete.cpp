#include "files/tree_delete.h"

#include <cstddef>

#include "common/owners.h"
#include "files/acl.h"
#include "platform/win.h"

namespace {

typedef NTSTATUS(NTAPI* NtOpenFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* NtFileInformationFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

const NTSTATUS kStatusSuccess = 0;
const NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006UL);

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

const ULONG kLink = FILE_ATTRIBUTE_REPARSE_POINT;
const ULONG kFolder = FILE_ATTRIBUTE_DIRECTORY;
const WCHAR kLogs[] = {'l', 'o', 'g', 's', 0};
const char kEveryone[] = "Everyone";

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

class TreeDeleter {
 public:
  explicit TreeDeleter(const NtFileApi& api) : api_(api) {}

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
    held = OpenBelow(folder, name, chars, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE);
    Facts facts;
    if (held.Valid() && !(Judge(held.Get(), &facts) && (facts.attributes & (kFolder | kLink)) == kFolder &&
                          IsNamed(held.Get(), prefix)))
      held.Reset();
    return held;
  }

  // Deletes the last name with everything below it.
  bool DeleteTarget(HANDLE folder, const WCHAR* name, size_t chars, const char* base, bool reset_logs) {
    size_t prefix = length_;
    if (!Enter(name, chars)) return false;
    ScopedFile target = OpenBelow(folder, name, chars, kDeleteAccess | FILE_LIST_DIRECTORY, kShareNoDelete);
    Facts facts;
    if (!target.Valid() || !Judge(target.Get(), &facts) || !IsNamed(target.Get(), prefix)) return false;
    if (!reset_logs || (facts.attributes & (kFolder | kLink)) != kFolder)
      return DeleteJudged(target.Get(), facts, false, true, 0);
    // The product's installer locked its "logs" folder on 2000 and XP.
    ScopedFile logs = OpenLogs(target.Get());
    ScopedLocalMemory saved;
    if (logs.Valid()) ReplaceFolderDacl(logs.Get(), base, kEveryone, GENERIC_ALL, &saved);
    bool emptied = EmptyFolder(target.Get(), 1);
    // A "logs" folder that the walk could not delete gets its list back: it
    // must not stay open to everyone. Once deleted it is gone when the
    // handle closes.
    Facts now;
    if (saved.Valid() && !(Judge(logs.Get(), &now) && now.delete_pending)) RestoreFolderDacl(logs.Get(), saved);
    logs.Reset();
    return emptied && Dispose(target.Get());
  }

 private:
  static constexpr ACCESS_MASK kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
  static constexpr ULONG kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

  // FILE_OPEN_REPARSE_POINT opens a link itself, never what it points at.
  ScopedFile OpenBelow(HANDLE folder, const WCHAR* name, size_t chars, ACCESS_MASK access, ULONG share) {
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
                                FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT);
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

  ScopedFile OpenLogs(HANDLE target) {
    size_t prefix = length_;
    ScopedFile logs;
    if (!Enter(kLogs, 4)) return logs;
    logs = OpenBelow(target, kLogs, 4, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    Facts facts;
    if (logs.Valid() && !(Judge(logs.Get(), &facts) && (facts.attributes & (kFolder | kLink)) == kFolder &&
                          IsNamed(logs.Get(), prefix)))
      logs.Reset();
    length_ = prefix;
    return logs;
  }

  bool Dispose(HANDLE file) {
    IO_STATUS_BLOCK io;
    FILE_DISPOSITION_INFORMATION disposition;
    disposition.DoDeleteFile = TRUE;
    return api_.set(file, &io, &disposition, sizeof disposition, FileDispositionInformation) == kStatusSuccess;
  }

  bool SetAttributes(HANDLE file, ULONG attributes) {
    IO_STATUS_BLOCK io;
    FILE_BASIC_INFORMATION basic;
    memset(&basic, 0, sizeof basic);  // zero times stay as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return api_.set(file, &io, &basic, sizeof basic, FileBasicInformation) == kStatusSuccess;
  }

  bool DeleteFileJudged(HANDLE file, const Facts& facts) {
    // A file with another name elsewhere keeps its attributes: they belong
    // to that name too. Its name here goes only as it is.
    if (!(facts.attributes & FILE_ATTRIBUTE_READONLY) || facts.links != 1) return Dispose(file);
    if (!SetAttributes(file, facts.attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    if (Dispose(file)) return true;
    SetAttributes(file, facts.attributes);
    return false;
  }

  // listed_link: the listing called it a link; can_list: opened to be listed.
  bool DeleteJudged(HANDLE file, const Facts& facts, bool listed_link, bool can_list, int depth) {
    if (facts.attributes & kLink) return Dispose(file);  // the link itself
    // Listed as a link but not opened as one: the open followed it, or
    // another name took its place. Never deleted through.
    if (listed_link) return false;
    if (facts.attributes & kFolder) return can_list && EmptyFolder(file, depth + 1) && Dispose(file);
    return DeleteFileJudged(file, facts);
  }

  bool DeleteEntry(HANDLE folder, const WCHAR* name, size_t chars, ULONG listed, int depth) {
    if (IsDotName(name, chars)) return true;
    size_t prefix = length_;
    if (!Enter(name, chars)) return false;
    bool listed_link = (listed & kLink) != 0;
    bool listed_folder = (listed & (kFolder | kLink)) == kFolder;
    ScopedFile entry = OpenBelow(folder, name, chars, kDeleteAccess | (listed_folder ? FILE_LIST_DIRECTORY : 0),
                                 kShareNoDelete);
    Facts facts;
    bool done = entry.Valid() && Judge(entry.Get(), &facts) && IsNamed(entry.Get(), prefix) &&
                DeleteJudged(entry.Get(), facts, listed_link, listed_folder, depth);
    length_ = prefix;
    return done;
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
  WCHAR path_[kMaxPathChars + 1] = {};
  size_t length_ = 0;
  unsigned entries_ = 0;
};

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

  // The base is the system's own folder; what its path leads to is taken as it is.
  ScopedFile base_folder(CreateFileA(base, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!base_folder.Valid()) return 0;
  TreeDeleter deleter(api);
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
    if (end == total) return deleter.DeleteTarget(folder, name, chars, base, reset_logs) ? 1 : 0;
    if (depth == kMaxChain) return 0;
    held[depth] = deleter.HoldFolder(folder, name, chars);
    if (!held[depth].Valid()) return 0;
    folder = held[depth].Get();
    start = end + 1;
  }
}
