// Small move-only owners, one per kind of Windows resource, each releasing its
// resource when it goes out of scope. The empty value of each kind is stated
// in its traits.
#pragma once

#include "platform/win.h"

#include <cstdlib>

template <typename Traits>
class ScopedOwner {
 public:
  using Handle = typename Traits::Handle;

  ScopedOwner() : handle_(Traits::Empty()) {}
  explicit ScopedOwner(Handle handle) : handle_(handle) {}
  ~ScopedOwner() { Reset(); }
  ScopedOwner(const ScopedOwner&) = delete;
  ScopedOwner& operator=(const ScopedOwner&) = delete;
  ScopedOwner(ScopedOwner&& other) noexcept : handle_(other.Release()) {}
  ScopedOwner& operator=(ScopedOwner&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }

  Handle Get() const { return handle_; }
  bool Valid() const { return handle_ != Traits::Empty(); }
  // For calls that hand the resource back through an out-parameter.
  Handle* Receive() {
    Reset();
    return &handle_;
  }
  Handle Release() {
    Handle h = handle_;
    handle_ = Traits::Empty();
    return h;
  }
  void Reset(Handle handle = Traits::Empty()) {
    if (handle_ != Traits::Empty()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_;
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};
// A handle from OpenProcess or ShellExecuteExA: empty is NULL.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};
// A toolhelp snapshot: empty is INVALID_HANDLE_VALUE.
struct SnapshotTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
// A file or folder from CreateFileA: empty is INVALID_HANDLE_VALUE.
struct FileTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
// A folder listing from FindFirstFileA: empty is INVALID_HANDLE_VALUE.
struct FindTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};
struct LibraryTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { LocalFree(h); }
};
struct CrtBlockTraits {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { free(h); }
};

using ScopedRegKey = ScopedOwner<RegKeyTraits>;
using ScopedKernelHandle = ScopedOwner<KernelHandleTraits>;
using ScopedSnapshot = ScopedOwner<SnapshotTraits>;
using ScopedFile = ScopedOwner<FileTraits>;
using ScopedFind = ScopedOwner<FindTraits>;
using ScopedLibrary = ScopedOwner<LibraryTraits>;
using ScopedLocalMemory = ScopedOwner<LocalMemoryTraits>;
using ScopedCrtBlock = ScopedOwner<CrtBlockTraits>;

// A block of the process heap, freed on the heap it came from.
class ScopedHeapBlock {
 public:
  ScopedHeapBlock() = default;
  ScopedHeapBlock(HANDLE heap, void* block) : heap_(heap), block_(block) {}
  ~ScopedHeapBlock() { Reset(); }
  ScopedHeapBlock(const ScopedHeapBlock&) = delete;
  ScopedHeapBlock& operator=(const ScopedHeapBlock&) = delete;

  void* Get() const { return block_; }
  void* Release() {
    void* b = block_;
    block_ = nullptr;
    return b;
  }
  void Reset() {
    if (block_ != nullptr && heap_ != nullptr) HeapFree(heap_, 0, block_);
    block_ = nullptr;
  }
  void Reset(HANDLE heap, void* block) {
    Reset();
    heap_ = heap;
    block_ = block;
  }

 private:
  HANDLE heap_ = nullptr;
  void* block_ = nullptr;
};

// Binds an entry point looked up by name to its typed pointer. The cast goes
// through void(*)(void) so that GCC accepts the change of function type.
template <typename Fn>
Fn BindProc(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(module, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}
