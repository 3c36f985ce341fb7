// Simulated ntdll file calls: a name opened relative to a folder handle, a
// folder listed through its handle, the information of a file read and set
// through its handle. Status values are those of ntstatus.h; behaviour follows
// Microsoft's documentation of NtCreateFile, NtQueryDirectoryFile and the
// FILE_*_INFORMATION classes, and Wine's dlls/ntdll/tests/file.c, which
// records what Windows answered.
#include "state.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace {

const NTSTATUS kSuccess = 0;
const NTSTATUS kPending = 0x00000103;
const NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005u);
const NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006u);
const NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003u);
const NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004u);
const NTSTATUS kInvalidHandle = static_cast<NTSTATUS>(0xC0000008u);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000Du);
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022u);
const NTSTATUS kObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033u);
const NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034u);
const NTSTATUS kObjectPathNotFound = static_cast<NTSTATUS>(0xC000003Au);
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043u);
const NTSTATUS kDeletePending = static_cast<NTSTATUS>(0xC0000056u);
const NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAu);
const NTSTATUS kDirectoryNotEmpty = static_cast<NTSTATUS>(0xC0000101u);
const NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103u);
const NTSTATUS kCannotDelete = static_cast<NTSTATUS>(0xC0000121u);
const NTSTATUS kFileDeleted = static_cast<NTSTATUS>(0xC0000123u);

using sim::detail::FsNode;
using sim::detail::KernelObject;

[[noreturn]] void Crash(const char* what) {
  fprintf(stderr, "simwin: %s would fault on Windows\n", what);
  abort();
}

std::string NameOf(const UNICODE_STRING* name) {
  if (name == nullptr || name->Buffer == nullptr) return "";
  return sim::detail::Utf16ToUtf8(name->Buffer, name->Length / sizeof(WCHAR));
}

bool HasAccess(const KernelObject& o, DWORD specific, DWORD generic) {
  return (o.access & (specific | generic | GENERIC_ALL)) != 0;
}

// The file handle and the node it was opened on.
NTSTATUS FileOf(HANDLE handle, KernelObject** object, FsNode** node) {
  *object = sim::detail::FindHandle(handle);
  if (*object == nullptr || (*object)->kind != KernelObject::kFile) return kInvalidHandle;
  *node = sim::detail::FsById((*object)->node);
  return *node == nullptr ? kFileDeleted : kSuccess;
}

NTSTATUS Done(PIO_STATUS_BLOCK io, NTSTATUS status, ULONG_PTR information) {
  if (io != nullptr) {
    io->Status = status;
    io->Information = information;
  }
  return status;
}

// A node's path within its volume, as FileNameInformation gives it: "\dir\file".
std::u16string VolumePath(const FsNode& node) {
  std::string path = sim::detail::FsPathOf(node.id);
  size_t slash = path.find('\\');
  return sim::detail::Utf8ToUtf16(slash == std::string::npos ? "\\" : path.substr(slash));
}

struct Listed {
  std::string key;
  std::string name;
  DWORD attrs;
};

// NTFS lists "." and ".." first (but not in the root of a drive), then the
// names in the order of their upper-case form.
std::vector<Listed> ListingOf(const FsNode& dir) {
  std::vector<Listed> all;
  std::string key;
  FsNode* parent = sim::detail::FsParentOf(dir.id, &key);
  bool drive_root = parent == sim::detail::S().fs_root.get();
  if (!drive_root) {
    all.push_back({"\x01", ".", FILE_ATTRIBUTE_DIRECTORY});
    all.push_back({"\x02", "..", FILE_ATTRIBUTE_DIRECTORY});
  }
  if (sim::detail::IsLinkNode(dir)) return all;  // a junction opened as itself holds nothing
  for (auto& c : dir.children) all.push_back({c.first, c.second->name, sim::detail::ReportedAttributes(*c.second)});
  return all;
}

}  // namespace

using namespace sim::detail;

NTSTATUS NtOpenFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io,
                    ULONG share, ULONG options) {
  DWORD err = 0;
  std::string name = attributes != nullptr ? NameOf(attributes->ObjectName) : "";
  if (Enter("NtOpenFile", err, "root=%p,\"%s\",access=0x%x,share=0x%x,options=0x%x",
            attributes ? attributes->RootDirectory : nullptr, name.c_str(), access, share, options))
    return Done(io, kAccessDenied, 0);
  if (handle == nullptr || attributes == nullptr || io == nullptr || attributes->ObjectName == nullptr)
    Crash("NtOpenFile with a null pointer");
  // The tool opens names relative to a folder it holds, never by full path.
  KernelObject* root = FindHandle(attributes->RootDirectory);
  if (root == nullptr || root->kind != KernelObject::kFile) return Done(io, kInvalidHandle, 0);
  FsNode* node = FsById(root->node);
  if (node == nullptr) return Done(io, kFileDeleted, 0);
  if (!node->dir) return Done(io, kInvalidParameter, 0);
  std::vector<std::string> parts = SplitPath(name);
  if (parts.empty() || name[0] == '\\') return Done(io, kObjectNameInvalid, 0);
  // Synchronous I/O needs SYNCHRONIZE (NtCreateFile, Microsoft's documentation).
  bool synchronous = (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) != 0;
  if (synchronous && !(access & SYNCHRONIZE)) return Done(io, kInvalidParameter, 0);
  bool followed = false;
  bool by_short = false;
  for (size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    if (parts[i] == "." || parts[i] == "..") return Done(io, kObjectNameInvalid, 0);
    // A junction opened as itself is an empty folder of its own.
    FsNode* child = IsLinkNode(*node) ? nullptr : FindChild(node, parts[i], &by_short);
    if (child == nullptr) return Done(io, last ? kObjectNameNotFound : kObjectPathNotFound, 0);
    node = child;
    if (node->delete_pending) return Done(io, kDeletePending, 0);
    // A link inside the name is always followed; the last one only without
    // FILE_OPEN_REPARSE_POINT.
    if (IsLinkNode(*node) && (!last || !(options & FILE_OPEN_REPARSE_POINT))) {
      followed = true;
      node = FsFollow(node->link_target);
      if (node == nullptr) return Done(io, last ? kObjectNameNotFound : kObjectPathNotFound, 0);
    }
    if (!last && !node->dir) return Done(io, kObjectPathNotFound, 0);
  }
  if (node->delete_pending) return Done(io, kDeletePending, 0);
  if ((options & FILE_DIRECTORY_FILE) && !node->dir) return Done(io, kNotADirectory, 0);
  if ((options & FILE_NON_DIRECTORY_FILE) && node->dir) return Done(io, kFileIsADirectory, 0);
  if ((access & (DELETE | GENERIC_ALL)) && node->deny_delete) return Done(io, kAccessDenied, 0);
  if (!AccessGranted(*node, access, S().tool_token, (options & FILE_OPEN_FOR_BACKUP_INTENT) != 0))
    return Done(io, kAccessDenied, 0);
  if (ShareConflict(*node, access, share) != 0) return Done(io, kSharingViolation, 0);
  KernelObject o;
  o.kind = KernelObject::kFile;
  o.access = access;
  o.share = share;
  o.node = node->id;
  o.drive = root->drive;
  o.synchronous = synchronous;
  // As opened: the folder's own name and the names given after it.
  std::string typed = root->opened_name == "\\" ? "" : root->opened_name;
  for (const std::string& part : parts) typed += "\\" + part;
  o.opened_name = OpenedName(*node, typed, followed, by_short);
  o.opened_at = FsPathOf(node->id);
  *handle = NewHandle(o);
  return Done(io, kSuccess, FILE_OPENED);
}

NTSTATUS NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apc, PVOID apc_context, PIO_STATUS_BLOCK io,
                              PVOID buffer, ULONG length, FILE_INFORMATION_CLASS information_class,
                              BOOLEAN single_entry, PUNICODE_STRING pattern, BOOLEAN restart) {
  DWORD err = 0;
  if (Enter("NtQueryDirectoryFile", err, "%p,length=%u,class=%d,single=%d,restart=%d", folder, length,
            static_cast<int>(information_class), single_entry, restart))
    return Done(io, kAccessDenied, 0);
  (void)apc_context;
  if (io == nullptr || buffer == nullptr) Crash("NtQueryDirectoryFile with a null pointer");
  // Only what the tool asks: a synchronous listing of every name.
  if (event != nullptr || apc != nullptr || pattern != nullptr) return Done(io, kInvalidParameter, 0);
  KernelObject* o = nullptr;
  FsNode* dir = nullptr;
  if (NTSTATUS st = FileOf(folder, &o, &dir)) return Done(io, st, 0);
  if (!dir->dir) return Done(io, kInvalidParameter, 0);
  if (!HasAccess(*o, FILE_LIST_DIRECTORY, GENERIC_READ)) return Done(io, kAccessDenied, 0);
  if (information_class != FileDirectoryInformation) return Done(io, kInvalidInfoClass, 0);
  // Without synchronous I/O and without an event the call may end before the
  // listing has been written (STATUS_PENDING): nothing here to wait on.
  if (!o->synchronous) return Done(io, kPending, 0);
  const ULONG fixed = offsetof(FILE_DIRECTORY_INFORMATION, FileName);
  if (length < fixed) return Done(io, kInfoLengthMismatch, 0);
  if (restart || !o->listing) {
    o->listing = true;
    o->listed_key.clear();
  }
  // The listing goes on after the last name it gave, so that names removed
  // or added meanwhile are neither given twice nor make it lose its place.
  std::vector<Listed> all = ListingOf(*dir);
  auto next = std::find_if(all.begin(), all.end(), [o](const Listed& l) { return l.key > o->listed_key; });
  if (next == all.end()) return Done(io, kNoMoreFiles, 0);
  BYTE* out = static_cast<BYTE*>(buffer);
  ULONG used = 0;
  FILE_DIRECTORY_INFORMATION* previous = nullptr;
  for (; next != all.end(); ++next) {
    std::u16string wide = Utf8ToUtf16(next->name);
    ULONG name_bytes = static_cast<ULONG>(wide.size() * sizeof(WCHAR));
    ULONG start = (used + 7) & ~7u;
    if (previous != nullptr && start + fixed + name_bytes > length) break;
    FILE_DIRECTORY_INFORMATION* e = reinterpret_cast<FILE_DIRECTORY_INFORMATION*>(out + start);
    memset(e, 0, fixed);
    e->FileAttributes = next->attrs;
    e->FileNameLength = name_bytes;
    ULONG room = length - start - fixed;
    memcpy(e->FileName, wide.data(), std::min(room, name_bytes));
    o->listed_key = next->key;
    if (previous != nullptr) previous->NextEntryOffset = start - static_cast<ULONG>(reinterpret_cast<BYTE*>(previous) - out);
    previous = e;
    if (room < name_bytes) return Done(io, kBufferOverflow, length);
    used = start + fixed + name_bytes;
    if (single_entry) break;
  }
  return Done(io, kSuccess, used);
}

namespace {

// The start of both information calls: the call's record and the file of
// the handle; any status but success ends the call with it.
NTSTATUS BeginInformation(const char* call, HANDLE file, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                          FILE_INFORMATION_CLASS information_class, KernelObject** o, FsNode** node) {
  DWORD err = 0;
  if (Enter(call, err, "%p,length=%u,class=%d", file, length, static_cast<int>(information_class)))
    return kAccessDenied;
  if (io == nullptr || buffer == nullptr) Crash(call);
  return FileOf(file, o, node);
}

}  // namespace

NTSTATUS NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                FILE_INFORMATION_CLASS information_class) {
  KernelObject* o = nullptr;
  FsNode* node = nullptr;
  if (NTSTATUS st = BeginInformation("NtQueryInformationFile", file, io, buffer, length, information_class, &o, &node))
    return Done(io, st, 0);
  switch (information_class) {
    case FileBasicInformation: {
      if (length < sizeof(FILE_BASIC_INFORMATION)) return Done(io, kInfoLengthMismatch, 0);
      if (!HasAccess(*o, FILE_READ_ATTRIBUTES, GENERIC_READ)) return Done(io, kAccessDenied, 0);
      FILE_BASIC_INFORMATION info;
      memset(&info, 0, sizeof info);
      info.FileAttributes = ReportedAttributes(*node);
      memcpy(buffer, &info, sizeof info);
      return Done(io, kSuccess, sizeof info);
    }
    case FileStandardInformation: {
      if (length < sizeof(FILE_STANDARD_INFORMATION)) return Done(io, kInfoLengthMismatch, 0);
      FILE_STANDARD_INFORMATION info;
      memset(&info, 0, sizeof info);
      info.NumberOfLinks = HardLinkCount(*node);
      info.DeletePending = node->delete_pending ? 1 : 0;
      info.Directory = node->dir ? 1 : 0;
      memcpy(buffer, &info, sizeof info);
      return Done(io, kSuccess, sizeof info);
    }
    case FileInternalInformation: {
      if (length < sizeof(FILE_INTERNAL_INFORMATION)) return Done(io, kInfoLengthMismatch, 0);
      FILE_INTERNAL_INFORMATION info;
      info.IndexNumber.QuadPart = static_cast<int64_t>(node->id);
      memcpy(buffer, &info, sizeof info);
      return Done(io, kSuccess, sizeof info);
    }
    case FileNameInformation: {
      // The name the file has within its volume, without the volume
      // (test_file_name_information in Wine's dlls/ntdll/tests/file.c): a
      // link followed on the way shows in it as its target.
      const ULONG fixed = offsetof(FILE_NAME_INFORMATION, FileName);
      if (length < fixed) return Done(io, kInfoLengthMismatch, 0);
      // As it was opened, unless it has moved since.
      std::u16string path = !o->opened_name.empty() && o->opened_at == FsPathOf(node->id)
                                ? Utf8ToUtf16(o->opened_name)
                                : VolumePath(*node);
      ULONG bytes = static_cast<ULONG>(path.size() * sizeof(WCHAR));
      FILE_NAME_INFORMATION* info = static_cast<FILE_NAME_INFORMATION*>(buffer);
      info->FileNameLength = bytes;
      ULONG room = length - fixed;
      memcpy(info->FileName, path.data(), std::min(room, bytes));
      if (room < bytes) return Done(io, kBufferOverflow, length);
      return Done(io, kSuccess, fixed + bytes);
    }
    default:
      return Done(io, kInvalidInfoClass, 0);
  }
}

NTSTATUS NtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                              FILE_INFORMATION_CLASS information_class) {
  KernelObject* o = nullptr;
  FsNode* node = nullptr;
  if (NTSTATUS st = BeginInformation("NtSetInformationFile", file, io, buffer, length, information_class, &o, &node))
    return Done(io, st, 0);
  switch (information_class) {
    case FileBasicInformation: {
      if (length < sizeof(FILE_BASIC_INFORMATION)) return Done(io, kInfoLengthMismatch, 0);
      if (!HasAccess(*o, FILE_WRITE_ATTRIBUTES, GENERIC_WRITE)) return Done(io, kAccessDenied, 0);
      FILE_BASIC_INFORMATION info;
      memcpy(&info, buffer, sizeof info);
      // Zero leaves the attributes as they are; FILE_ATTRIBUTE_NORMAL clears
      // them. A reparse point stays one.
      if (info.FileAttributes != 0) {
        DWORD attrs = (info.FileAttributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                               FILE_ATTRIBUTE_NORMAL)) |
                      (node->attrs & FILE_ATTRIBUTE_REPARSE_POINT);
        if (attrs == 0 && !node->dir) attrs = FILE_ATTRIBUTE_NORMAL;
        SetFileAttributesOf(node, attrs);
      }
      return Done(io, kSuccess, 0);
    }
    case FileDispositionInformation: {
      if (length < sizeof(FILE_DISPOSITION_INFORMATION)) return Done(io, kInfoLengthMismatch, 0);
      if (!HasAccess(*o, DELETE, 0)) return Done(io, kAccessDenied, 0);
      FILE_DISPOSITION_INFORMATION info;
      memcpy(&info, buffer, sizeof info);
      if (!info.DoDeleteFile) {
        node->delete_pending = false;
        return Done(io, kSuccess, 0);
      }
      // test_file_disposition_information in Wine's dlls/ntdll/tests/file.c:
      // DELETE access is needed, a read-only file gives STATUS_CANNOT_DELETE,
      // a folder that is not empty STATUS_DIRECTORY_NOT_EMPTY (a name still
      // pending counts). A read-only folder is refused like a file: fastfat's
      // FatSetDispositionInfo (microsoft/Windows-driver-samples) checks the
      // attribute before it looks at whether the entry is a folder, and NTFS
      // answers alike (bazelbuild/bazel#11982, dotnet/runtime#98807,
      // microsoft/wil#565).
      if (node->attrs & FILE_ATTRIBUTE_READONLY) return Done(io, kCannotDelete, 0);
      if (node->dir && !IsLinkNode(*node) && !node->children.empty()) return Done(io, kDirectoryNotEmpty, 0);
      node->delete_pending = true;
      return Done(io, kSuccess, 0);
    }
    default:
      return Done(io, kInvalidInfoClass, 0);
  }
}
