/* Preloaded into the 32-bit Wine processes that run under qemu-user for
 * scripts/test32.sh; test equipment, never part of the tool.
 *
 * Linux refuses mmap(MAP_FIXED_NOREPLACE) with EEXIST when the range is taken.
 * qemu-user 7.2 does not know the flag: it takes the address as a hint and
 * maps the memory somewhere else. Wine reserves its address space with that
 * flag; every refusal it never gets leaves a stray reservation high up, which
 * then makes each later reservation there fail too, and Wine retries in
 * ever smaller pieces: about 60,000 calls, close to a minute of emulated
 * start-up for every process. This gives Wine the kernel's answer.
 *
 * Built without the C library's headers or start files (no 32-bit
 * development files are needed); the C library's functions are bound when
 * the object is loaded. The 64-bit build is empty, so that the native wine
 * server, which inherits the same LD_PRELOAD, loads it silently and
 * unchanged. */

#if defined(__i386__)

typedef unsigned int size_t_;
typedef long long off64_;

#define ZTX_MAP_FIXED_NOREPLACE 0x100000
#define ZTX_EEXIST 17
#define ZTX_MAP_FAILED ((void *)-1)
#define ZTX_RTLD_NEXT ((void *)-1l)

extern void *dlsym(void *handle, const char *name);
extern int munmap(void *addr, size_t_ len);
extern int *__errno_location(void);

typedef void *(*mmap64_fn)(void *, size_t_, int, int, int, off64_);
typedef void *(*mmap_fn)(void *, size_t_, int, int, int, long);

static void *refuse_elsewhere(void *wanted, void *got, size_t_ len) {
  if (got == ZTX_MAP_FAILED || got == wanted) return got;
  munmap(got, len);
  *__errno_location() = ZTX_EEXIST;
  return ZTX_MAP_FAILED;
}

static mmap64_fn next_mmap64;
static mmap_fn next_mmap;

/* Bound while the program is still one thread (dlsym takes the loader's
 * lock, and a later first call might come from a thread that holds a lock
 * of Wine's), and again on a call that comes before that. */
__attribute__((constructor)) static void bind_next(void) {
  if (!next_mmap64) next_mmap64 = (mmap64_fn)dlsym(ZTX_RTLD_NEXT, "mmap64");
  if (!next_mmap) next_mmap = (mmap_fn)dlsym(ZTX_RTLD_NEXT, "mmap");
}

void *mmap64(void *addr, size_t_ len, int prot, int flags, int fd, off64_ off) {
  if (!next_mmap64) bind_next();
  if (!(flags & ZTX_MAP_FIXED_NOREPLACE)) return next_mmap64(addr, len, prot, flags, fd, off);
  return refuse_elsewhere(addr, next_mmap64(addr, len, prot, flags & ~ZTX_MAP_FIXED_NOREPLACE, fd, off), len);
}

void *mmap(void *addr, size_t_ len, int prot, int flags, int fd, long off) {
  if (!next_mmap) bind_next();
  if (!(flags & ZTX_MAP_FIXED_NOREPLACE)) return next_mmap(addr, len, prot, flags, fd, off);
  return refuse_elsewhere(addr, next_mmap(addr, len, prot, flags & ~ZTX_MAP_FIXED_NOREPLACE, fd, off), len);
}

#endif
