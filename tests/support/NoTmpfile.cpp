// Preloaded into treelan-cli (LD_PRELOAD) to play a file system without O_TMPFILE (NFS, SMB, FAT,
// FUSE): an open that asks for an unnamed file is refused with EOPNOTSUPP, as there. With
// TREELAN_STOP_AFTER_CREATE set, the process also stops itself (SIGSTOP) just after its first
// exclusive create, so that a test signals it while that file exists, not by winning a race.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

std::atomic<bool> g_stopped{false};

int opened(int fd, int flags) {
    if (fd >= 0 && (flags & O_CREAT) && (flags & O_EXCL) &&
        std::getenv("TREELAN_STOP_AFTER_CREATE") && !g_stopped.exchange(true))
        std::raise(SIGSTOP);
    return fd;
}

} // namespace

// open(path, flags, mode) and openat(folder, path, flags, mode), each under both its names.
#define TREELAN_OPEN(name, ...)                                                                    \
    extern "C" int name(__VA_ARGS__ const char* path, int flags, ...) {                            \
        mode_t mode = 0;                                                                           \
        if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {                               \
            va_list arguments;                                                                     \
            va_start(arguments, flags);                                                            \
            mode = va_arg(arguments, mode_t);                                                      \
            va_end(arguments);                                                                     \
        }                                                                                          \
        if ((flags & O_TMPFILE) == O_TMPFILE) {                                                    \
            errno = EOPNOTSUPP;                                                                    \
            return -1;                                                                             \
        }                                                                                          \
        using Real = int (*)(__VA_ARGS__ const char*, int, ...);                                   \
        static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, #name));                \
        return opened(real(TREELAN_FOLDER_##name path, flags, mode), flags);                       \
    }
#define TREELAN_FOLDER_open
#define TREELAN_FOLDER_open64
#define TREELAN_FOLDER_openat folder,
#define TREELAN_FOLDER_openat64 folder,

TREELAN_OPEN(open)
TREELAN_OPEN(open64)
TREELAN_OPEN(openat, int folder, )
TREELAN_OPEN(openat64, int folder, )
