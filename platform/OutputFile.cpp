#include "platform/OutputFile.h"

#include "platform/FileError.h"

#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace treelan {

namespace {

constexpr int kMaxLinks = 40; // as the kernel follows them (ELOOP beyond)
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The one named temporary file that a signal removes before the signal's default action ends the
// process. Only what a handler may touch: lock-free atomics and a fixed buffer.
std::atomic<bool> g_cleanupTaken{false};
std::atomic<bool> g_cleanupArmed{false};
std::atomic<int> g_cleanupDirFd{-1};
char g_cleanupName[NAME_MAX + 1];
bool g_handlerInstalled[std::size(kCleanupSignals)];

extern "C" void removeTemporaryAndEnd(int signal) {
    if (g_cleanupArmed.load()) ::unlinkat(g_cleanupDirFd.load(), g_cleanupName, 0);
    ::signal(signal, SIG_DFL);
    ::raise(signal); // delivered once the handler returns
}

// Claims the cleanup for `name` in `dirFd`; false when another export holds it.
bool armCleanup(int dirFd, const QByteArray& name) {
    if (g_cleanupTaken.exchange(true)) return false;
    std::memcpy(g_cleanupName, name.constData(), std::size_t(name.size()) + 1);
    g_cleanupDirFd = dirFd;
    g_cleanupArmed = true;
    struct sigaction ours {};
    ours.sa_handler = removeTemporaryAndEnd;
    sigemptyset(&ours.sa_mask);
    for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
        struct sigaction old {};
        // A signal that is ignored (nohup, a background job) or handled by someone else stays so.
        g_handlerInstalled[i] = ::sigaction(kCleanupSignals[i], nullptr, &old) == 0 &&
                                !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL &&
                                ::sigaction(kCleanupSignals[i], &ours, nullptr) == 0;
    }
    return true;
}

void disarmCleanup() {
    g_cleanupArmed = false;
    for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i)
        if (g_handlerInstalled[i]) ::signal(kCleanupSignals[i], SIG_DFL);
    g_cleanupTaken = false;
}

// Holds the cleanup signals back while a temporary name is made and recorded, so none comes
// between the two.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (const int s : kCleanupSignals)
            sigaddset(&set, s);
        ::pthread_sigmask(SIG_BLOCK, &set, &m_old);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_old;
};

// "name.Xy3kQz", within the longest name a folder takes.
QByteArray temporaryName(const QByteArray& name) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray temp = name.left(NAME_MAX - 7) + '.';
    for (int i = 0; i < 6; ++i)
        temp += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
    return temp;
}

// The descriptor that a path names ("/dev/fd/3"), or -1: such a path is the caller's open file.
int descriptorNamed(const QByteArray& path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    QByteArray digits;
    if (path.startsWith("/dev/fd/"))
        digits = path.mid(8);
    else if (path.startsWith("/proc/self/fd/"))
        digits = path.mid(14);
    if (digits.isEmpty() || digits.size() > 9) return -1;
    for (const char c : digits)
        if (c < '0' || c > '9') return -1;
    return digits.toInt();
}

bool writableKind(mode_t mode) {
    return S_ISCHR(mode) || S_ISFIFO(mode);
}

} // namespace

OutputFile::OutputFile(QByteArray rawPath, QString displayName)
    : m_rawPath(std::move(rawPath)), m_displayName(std::move(displayName)) {}

OutputFile::~OutputFile() {
    discard();
    if (m_dirFd >= 0) ::close(m_dirFd);
}

void OutputFile::fail(const char* action, int error) const {
    throw FileError::fromErrno(m_displayName, QString::fromLatin1(action), error);
}

void OutputFile::open() {
    if (m_rawPath == "-") return openDescriptor(STDOUT_FILENO);
    if (m_rawPath.isEmpty()) fail("cannot create the file", ENOENT);
    QByteArray path = m_rawPath;
    for (int links = 0;; ++links) {
        if (const int fd = descriptorNamed(path); fd >= 0) return openDescriptor(fd);
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) {
            if (errno != ENOENT) fail("cannot create the file", errno);
            return openReplacement(path, nullptr);
        }
        if (S_ISREG(st.st_mode)) return openReplacement(path, &st);
        if (writableKind(st.st_mode)) return openDevice(path);
        if (S_ISDIR(st.st_mode)) fail("cannot write", EISDIR);
        if (S_ISSOCK(st.st_mode))
            throw FileError(m_displayName, QStringLiteral("cannot write into a socket"));
        if (S_ISBLK(st.st_mode))
            throw FileError(m_displayName, QStringLiteral("cannot write over a block device"));
        if (!S_ISLNK(st.st_mode))
            throw FileError(m_displayName, QStringLiteral("cannot write: not a regular file"));
        // A link: its final target is what is written, the link stays.
        if (links == kMaxLinks) fail("cannot create the file", ELOOP);
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t length =
            ::readlink(path.constData(), target.data(), std::size_t(target.size()));
        if (length < 0) fail("cannot create the file", errno);
        target.truncate(qsizetype(length));
        path = target.startsWith('/') ? target : path.left(path.lastIndexOf('/') + 1) + target;
    }
}

void OutputFile::openDescriptor(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) fail("cannot write", errno);
    if (S_ISBLK(st.st_mode))
        throw FileError(m_displayName, QStringLiteral("cannot write over a block device"));
    if (S_ISDIR(st.st_mode)) fail("cannot write", EISDIR);
    m_fd = fd;
    m_ownsFd = false;
}

void OutputFile::openDevice(const QByteArray& path) {
    // As a shell's ">" would, without the truncation: a FIFO waits here for its reader.
    do
        m_fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) fail("cannot open for writing", errno);
    m_ownsFd = true;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) fail("cannot write", errno);
    // Swapped for something else between the look and the open.
    if (!writableKind(st.st_mode))
        throw FileError(m_displayName,
                        QStringLiteral("cannot write: no longer a character device or a FIFO"));
}

void OutputFile::openReplacement(const QByteArray& path, const struct stat* existing) {
    const qsizetype slash = path.lastIndexOf('/');
    m_name = path.mid(slash + 1);
    if (m_name.isEmpty() || m_name == "." || m_name == "..") fail("cannot create the file", EISDIR);
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : path.left(slash);
    m_dirFd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0) fail("cannot create the file", errno);

    // Until it has the old file's mode, the new content is the user's alone; a new file gets
    // what the umask leaves of 0666, as any editor's.
    const mode_t mode = existing ? 0600 : 0666;
    m_fd = ::openat(m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    // Without O_TMPFILE (NFS, SMB, FAT, FUSE, old kernels) the file has a name from the start.
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        for (int attempt = 0; m_fd < 0 && attempt < 100; ++attempt) {
            const QByteArray name = temporaryName(m_name);
            const SignalsHeld held;
            m_fd = ::openat(m_dirFd, name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (m_fd >= 0) {
                m_temporaryName = name;
                m_cleanupArmed = armCleanup(m_dirFd, name);
            } else if (errno != EEXIST) {
                break;
            }
        }
    }
    if (m_fd < 0) fail("cannot create the file", errno);
    m_ownsFd = true;
    m_replacing = true;

    if (existing) {
        // The owner only root may give; the group any member. A file that cannot keep its owner
        // does not keep set-user or set-group either.
        const bool ownerKept = ::fchown(m_fd, existing->st_uid, existing->st_gid) == 0;
        [[maybe_unused]] const bool groupKept =
            ownerKept || ::fchown(m_fd, uid_t(-1), existing->st_gid) == 0;
        const mode_t keep = existing->st_mode & (ownerKept ? 07777 : 01777);
        if (::fchmod(m_fd, keep) != 0) fail("cannot create the file", errno);
    }
    struct stat st;
    if (::fstat(m_fd, &st) == 0) m_temporary = {quint64(st.st_dev), quint64(st.st_ino)};
}

void OutputFile::write(const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, std::size_t(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write", errno);
        }
        data += n;
        size -= qsizetype(n);
    }
}

void OutputFile::commit() {
    if (!m_replacing) {
        const int fd = m_fd;
        m_fd = -1;
        if (m_ownsFd && ::close(fd) != 0 && errno != EINTR) fail("cannot write", errno);
        return;
    }
    // Some file systems report a full disk or a lost server only here, or at the close.
    if (::fdatasync(m_fd) != 0 && errno != EINVAL && errno != EOPNOTSUPP)
        fail("cannot save the file", errno);
    if (m_temporaryName.isEmpty()) {
        // The unnamed file gets a name beside the target, then takes the target's place.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        for (int attempt = 0; m_temporaryName.isEmpty() && attempt < 100; ++attempt) {
            const QByteArray name = temporaryName(m_name);
            const SignalsHeld held;
            int linked =
                ::linkat(AT_FDCWD, self.constData(), m_dirFd, name.constData(), AT_SYMLINK_FOLLOW);
            if (linked != 0 && errno == ENOENT) // no /proc: needs CAP_DAC_READ_SEARCH
                linked = ::linkat(m_fd, "", m_dirFd, name.constData(), AT_EMPTY_PATH);
            if (linked == 0) {
                m_temporaryName = name;
                m_cleanupArmed = armCleanup(m_dirFd, name);
            } else if (errno != EEXIST) {
                fail("cannot save the file", errno);
            }
        }
        if (m_temporaryName.isEmpty()) fail("cannot save the file", EEXIST);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        discard();
        fail("cannot save the file", error);
    }
    // What took the target's place during the export is not replaced either.
    struct stat now;
    if (::fstatat(m_dirFd, m_name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(now.st_mode)) {
        discard();
        throw FileError(m_displayName,
                        QStringLiteral("cannot save the file: no longer a regular file"));
    }
    if (::renameat(m_dirFd, m_temporaryName.constData(), m_dirFd, m_name.constData()) != 0) {
        const int error = errno;
        discard();
        fail("cannot save the file", error);
    }
    m_temporaryName.clear();
    m_replacing = false;
    if (m_cleanupArmed) disarmCleanup();
    m_cleanupArmed = false;
}

void OutputFile::discard() {
    if (m_replacing && !m_temporaryName.isEmpty())
        ::unlinkat(m_dirFd, m_temporaryName.constData(), 0);
    if (m_cleanupArmed) disarmCleanup();
    m_cleanupArmed = false;
    m_replacing = false;
    m_temporaryName.clear();
    if (m_fd >= 0 && m_ownsFd) ::close(m_fd);
    m_fd = -1;
}

void RestoreBrokenPipeDefault() {
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void BlockBrokenPipeInThisThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

} // namespace treelan
