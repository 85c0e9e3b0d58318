#include "platform/DirWalker.h"

#include "codec/Bytes.h"
#include "codec/Utf8.h"
#include "platform/FileError.h"
#include "platform/FileTime.h"
#include "platform/WalkAhead.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace treelan {

namespace {

// Frames keep their folder open while children remain; beyond this many open folders the
// shallowest ones are closed and reopened by name when needed.
constexpr int kMaxOpenFolders = 256;
// Folders this deep and deeper are read by the walk alone: a folder's place in the walk's order
// is as long as its depth, and the workers' bookkeeping would grow with its square.
constexpr int kAheadDepth = 200;

struct Frame {
    WalkFolder folder;
    std::vector<std::size_t> children;
    std::size_t next = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    QByteArray rawName;   // this folder's name within its parent
    std::size_t node = 0; // in the walk's record of entered folders
    // With workers reading ahead: the folder's descriptor, shared with those that open its
    // subfolders, and its place in the walk's order.
    FolderHandle handle;
    WalkKey key;
};

qint64 fileTimeOf(const struct stat& st) {
    return FileTimeFromUnix(qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec));
}

// Nanoseconds since 1970, saturated at the ends of the range (years 1678 to 2262).
qint64 nanosecondsOf(const struct timespec& t) {
    constexpr qint64 kLimit = std::numeric_limits<qint64>::max() / 1'000'000'000 - 1;
    if (t.tv_sec > kLimit) return std::numeric_limits<qint64>::max();
    if (t.tv_sec < -kLimit) return std::numeric_limits<qint64>::min();
    return qint64(t.tv_sec) * 1'000'000'000 + qint64(t.tv_nsec);
}

void keepStat(const struct stat& st, DirEntry& entry) {
    entry.fileTime = fileTimeOf(st);
    entry.mtimeNs = nanosecondsOf(st.st_mtim);
    entry.ctimeNs = nanosecondsOf(st.st_ctim);
    entry.inode = quint64(st.st_ino);
    entry.mode = quint32(st.st_mode);
}

// `st` is left as the entry's examination found it.
void examine(int dirFd, const char* rawName, unsigned char type, bool noFollow, DirEntry& entry,
             struct stat& st) {
    if (type == DT_DIR) {
        // A folder's own time, for the exports that show it; its size stays 0.
        entry.kind = DirEntry::Kind::Folder;
        if (::fstatat(dirFd, rawName, &st, AT_SYMLINK_NOFOLLOW) == 0) keepStat(st, entry);
        return;
    }
    const int flags = type == DT_REG || noFollow ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(dirFd, rawName, &st, flags) == 0) {
        entry.kind = S_ISDIR(st.st_mode)   ? DirEntry::Kind::Folder
                     : S_ISREG(st.st_mode) ? DirEntry::Kind::File
                     : S_ISLNK(st.st_mode) ? DirEntry::Kind::Link
                                           : DirEntry::Kind::Special;
        entry.size = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? qint64(st.st_size) : 0;
        keepStat(st, entry);
        return;
    }
    const int error = errno;
    // A dangling link is still listed: the link's own size and time.
    if (flags == 0 && ::fstatat(dirFd, rawName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.kind = S_ISLNK(st.st_mode) ? DirEntry::Kind::Link : DirEntry::Kind::File;
        entry.size = qint64(st.st_size);
        keepStat(st, entry);
        return;
    }
    entry.kind = DirEntry::Kind::Unexamined;
    entry.error = error;
}

// Whether the options leave the examined entry out.
bool leftOut(const WalkOptions& options, const QByteArray& rawRelPath, const char* name,
             qsizetype length, bool isFolder) {
    if (options.noHidden && name[0] == '.') return true;
    if (options.excludePatterns.empty() && (options.includePatterns.empty() || isFolder))
        return false;
    const QByteArrayView rawName(name, length);
    // The path without the folder's trailing "/", as find -path sees it below its start.
    QByteArray path = rawRelPath;
    path.append(rawName);
    for (const PathPattern& p : options.excludePatterns)
        if (p.matches(rawName, path)) return true;
    if (isFolder || options.includePatterns.empty()) return false;
    for (const PathPattern& p : options.includePatterns)
        if (p.matches(rawName, path)) return false;
    return true;
}

// Reads the entries of the open folder that the options keep; returns 0 or the errno of a failed
// enumeration.
int readEntries(const WalkOptions& options, WalkFolder& folder) {
    bool more = false;
    return ReadFolderEntries(folder.fd, folder.rawRelPath, options, folder.entries,
                             std::numeric_limits<std::size_t>::max(), more);
}

} // namespace

int ReadFolderEntries(int fd, const QByteArray& rawRelPath, const WalkOptions& options,
                      std::vector<DirEntry>& entries, std::size_t limit, bool& more,
                      const std::atomic<bool>* stop) {
    // getdents64 straight on the folder's descriptor: readdir would need a duplicate of it (and
    // three more system calls per folder) only to close that again.
    alignas(struct dirent64) char buffer[32 * 1024];
    std::size_t kept = 0;
    more = false;
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        for (ssize_t at = 0; at < got;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += d->d_reclen;
            const char* n = d->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
            const qsizetype len = qsizetype(std::strlen(n));
            DirEntry entry;
            struct stat st {};
            examine(fd, n, d->d_type, options.noFollow, entry, st);
            if (leftOut(options, rawRelPath, n, len, entry.isFolder())) continue;
            if (options.leaveOut.isSet() && entry.kind == DirEntry::Kind::File &&
                st.st_ino == options.leaveOut.inode && st.st_dev == options.leaveOut.device)
                continue;
            entry.rawName = QByteArray(n, len);
            entries.push_back(std::move(entry));
            ++kept;
            if (kept >= limit || (stop && *stop)) {
                // The rest begins after this entry: where its d_off points, unless the buffer
                // ends with it. A folder that cannot go back there is read to its end.
                if (at < got && ::lseek(fd, d->d_off, SEEK_SET) < 0) {
                    limit = std::numeric_limits<std::size_t>::max();
                    stop = nullptr;
                    continue;
                }
                more = true;
                return 0;
            }
        }
    }
}

bool WalkLeavesOut(const WalkOptions& options, const WalkFolder& folder, QByteArrayView name,
                   bool isFolder) {
    return leftOut(options, folder.rawRelPath, name.data(), name.size(), isFolder);
}

QString DirEntry::name() const {
    return DecodeFileName(rawName);
}

const void* WalkFolder::aheadOf(const DirEntry& entry) const {
    if (ahead.empty() || &entry < entries.data() || &entry >= entries.data() + entries.size())
        return nullptr;
    const std::size_t index = std::size_t(&entry - entries.data());
    const auto at = std::lower_bound(ahead.begin(), ahead.end(), index,
                                     [](const auto& a, std::size_t i) { return a.first < i; });
    return at != ahead.end() && at->first == index ? at->second.get() : nullptr;
}

QString WalkFolder::reason() const {
    if (loop)
        return QStringLiteral("leads back to a folder above it; already listed at ") + listedAt;
    if (repeat) return QStringLiteral("already listed at ") + listedAt;
    return readable ? QString() : ErrnoText(error);
}

namespace {

// The folders a walk has entered, by device and inode, each with a number. Open addressing in
// one array: a node allocated per folder would be held for the whole walk between the output's
// short-lived buffers, which then can no longer grow in place.
class FolderSet {
public:
    static constexpr std::size_t kNone = ~std::size_t(0);

    // The number kept for (dev, ino), or kNone after keeping `number` for it.
    std::size_t insert(dev_t dev, ino_t ino, std::size_t number) {
        if ((m_count + 1) * 2 > m_slots.size()) grow();
        Slot& slot = find(m_slots, dev, ino);
        if (slot.number != kNone) return slot.number;
        slot = {dev, ino, number};
        ++m_count;
        return kNone;
    }

private:
    struct Slot {
        dev_t dev = 0;
        ino_t ino = 0;
        std::size_t number = kNone;
    };

    static Slot& find(std::vector<Slot>& table, dev_t dev, ino_t ino) {
        const std::size_t mask = table.size() - 1;
        std::size_t at = std::size_t((std::uint64_t(ino) * 0x9E3779B97F4A7C15ull ^ dev) >> 7);
        for (;; ++at) {
            Slot& slot = table[at & mask];
            if (slot.number == kNone || (slot.ino == ino && slot.dev == dev)) return slot;
        }
    }

    void grow() {
        std::vector<Slot> larger(std::max<std::size_t>(64, m_slots.size() * 2));
        for (const Slot& slot : m_slots)
            if (slot.number != kNone) find(larger, slot.dev, slot.ino) = slot;
        m_slots.swap(larger);
    }

    std::vector<Slot> m_slots;
    std::size_t m_count = 0;
};

// The walk's folder descriptors: each one is opened and closed here alone, and counted, so the
// count is always the number open. Beyond kMaxOpenFolders the walk closes the shallowest ones it
// does not need at once; they are opened again by name when it does.
class FolderDescriptors {
public:
    // The folder `name` inside the open folder `at`, or -1 with `error` set to the open's errno.
    int open(int at, const char* name, int& error) {
        const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            error = errno;
        else
            ++m_open;
        return fd;
    }
    // One opened elsewhere (the root).
    int adopt(int fd) {
        if (fd >= 0) ++m_open;
        return fd;
    }
    void close(int& fd) {
        if (fd < 0) return;
        ::close(fd);
        fd = -1;
        --m_open;
    }
    // The walk lets go of a descriptor shared with the workers, which close it.
    void release(int& fd, FolderHandle& handle) {
        if (!handle) return close(fd);
        handle.reset();
        if (fd >= 0) --m_open;
        fd = -1;
    }
    bool overLimit() const { return m_open > kMaxOpenFolders; }

private:
    int m_open = 0;
};

class Walk {
public:
    Walk(const RootPath& root, WalkVisitor& visitor, const WalkOptions& options)
        : m_rootPath(root), m_root(root.display()), m_visitor(visitor), m_options(options) {}

    void run() {
        auto root = std::make_unique<Frame>();
        root->folder.fd = m_fds.adopt(m_rootPath.open());
        if (root->folder.fd < 0)
            throw FileError::fromErrno(m_root, QStringLiteral("cannot open the folder"), errno);
        struct stat st;
        if (::fstat(root->folder.fd, &st) == 0) {
            m_rootDevice = st.st_dev;
            m_entered.insert(st.st_dev, st.st_ino, 0);
        }
        if (m_options.jobs != 1) {
            m_ahead = std::make_unique<WalkAhead>(m_options, m_options.jobs, m_rootDevice);
            root->handle = std::make_shared<UniqueFd>(root->folder.fd);
        }
        m_nodes.push_back({0, 0});
        m_stack.push_back(std::move(root));
        if (const int error = enter(*m_stack.back()); error != 0)
            throw FileError::fromErrno(m_root, QStringLiteral("cannot read the folder"), error);
        while (!m_stack.empty()) {
            Frame& top = *m_stack.back();
            if (top.next < top.children.size())
                stepInto(top, top.folder.entries[top.children[top.next++]]);
            else
                leave();
        }
    }

    ~Walk() {
        for (auto& frame : m_stack)
            closeFolder(*frame);
    }

private:
    void closeFolder(Frame& frame) { m_fds.release(frame.folder.fd, frame.handle); }

    // Reads the frame's folder, or takes what a worker read of it (`ahead`), and hands it to the
    // visitor. Returns 0, or the errno of a reading that gave no entries at all (the folder is
    // then unreadable).
    int enter(Frame& frame, FolderRead* ahead = nullptr) {
        WalkFolder& folder = frame.folder;
        struct stat st;
        if (ahead) st = ahead->st;
        if (ahead ? ahead->examined : ::fstat(folder.fd, &st) == 0) {
            frame.dev = st.st_dev;
            frame.ino = st.st_ino;
            folder.fileTime = fileTimeOf(st);
            folder.device = quint64(st.st_dev);
        }
        ++m_progress.folders;
        if (m_options.progress) {
            m_progress.currentFolder = folder.relPath;
            if (!m_options.progress(m_progress)) throw Cancelled();
        }
        int error = 0;
        if (!ahead) {
            error = readEntries(m_options, folder);
        } else {
            folder.entries = std::move(ahead->entries);
            folder.ahead = std::move(ahead->ahead);
            error = ahead->readError;
            if (error == 0 && ahead->more)
                error = ReadFolderEntries(folder.fd, folder.rawRelPath, m_options, folder.entries,
                                          std::numeric_limits<std::size_t>::max(), ahead->more);
        }
        m_progress.entries += qint64(folder.entries.size());
        if (error != 0 && folder.entries.empty()) {
            folder.readable = false;
            folder.error = error;
            return error;
        }
        if (error != 0) warn(folder.relPath, ErrnoText(error));
        const bool deeper = (m_options.maxDepth < 0 || folder.depth < m_options.maxDepth) &&
                            folder.depth < kAheadDepth;
        // Read here: the workers may start on its subfolders while the visitor is at it.
        if (m_ahead && !ahead && deeper)
            m_ahead->guess(frame.handle, folder.rawRelPath, frame.key, folder.depth, frame.dev,
                           folder.entries);
        m_visitor.folderOpened(folder, frame.children);
        if (m_ahead && deeper && !frame.children.empty()) {
            std::vector<const QByteArray*> names;
            names.reserve(frame.children.size());
            for (const std::size_t child : frame.children)
                names.push_back(&folder.entries[child].rawName);
            m_ahead->schedule(frame.handle, frame.dev, folder.rawRelPath, frame.key, folder.depth,
                              names);
        }
        return 0;
    }

    // The top folder is done: it leaves the stack, and its parent hears of it.
    void leave() {
        Frame& top = *m_stack.back();
        closeFolder(top);
        m_visitor.folderDone(top.folder);
        const std::unique_ptr<Frame> done = std::move(m_stack.back());
        m_stack.pop_back();
        if (m_ahead) m_ahead->left(done->key);
        if (m_stack.empty()) return;
        Frame& parent = *m_stack.back();
        const DirEntry& child = parent.folder.entries[parent.children[parent.next - 1]];
        m_visitor.childEnd(parent.folder, child, &done->folder);
    }

    // The next subfolder of `top`: entered, or visited without entries when it cannot be read or
    // was entered before, or passed by.
    void stepInto(Frame& top, const DirEntry& child) {
        const bool tooDeep = m_options.maxDepth >= 0 && top.folder.depth >= m_options.maxDepth;
        if (!m_visitor.childBegin(top.folder, child) || tooDeep) {
            m_visitor.childEnd(top.folder, child, nullptr);
            return;
        }
        auto frame = std::make_unique<Frame>();
        WalkFolder& folder = frame->folder;
        frame->rawName = child.rawName;
        folder.relPath = top.folder.relPath + child.name() + QLatin1Char('/');
        folder.rawRelPath = top.folder.rawRelPath + child.rawName + '/';
        folder.depth = top.folder.depth + 1;
        int error = 0;
        FolderRead read;
        bool ahead = false;
        if (m_ahead && top.folder.depth < kAheadDepth) {
            frame->key = top.key;
            frame->key.push_back(quint32(top.next - 1));
            ahead = m_ahead->take(folder.rawRelPath, frame->key, m_options.stillWanted, read);
        }
        if (ahead) {
            error = read.openError;
            frame->handle = std::move(read.fd);
            if (frame->handle) folder.fd = m_fds.adopt(frame->handle->get());
        } else {
            const int parentFd = fdOf(m_stack.size() - 1, error);
            if (parentFd >= 0) folder.fd = m_fds.open(parentFd, child.rawName.constData(), error);
            if (m_ahead && folder.fd >= 0 && folder.depth < kAheadDepth)
                frame->handle = std::make_shared<UniqueFd>(folder.fd);
        }
        // The parent needs its folder again only for later children; the root stays open for the
        // folders opened again by name.
        if (top.next >= top.children.size() && m_stack.size() > 1) closeFolder(top);
        bool entered = false;
        if (folder.fd < 0) {
            folder.readable = false;
            folder.error = error;
            warn(folder.relPath, ErrnoText(error));
        } else {
            struct stat st;
            if (ahead) st = read.st;
            const bool examined = ahead ? read.examined : ::fstat(folder.fd, &st) == 0;
            if (examined && m_options.oneFileSystem && st.st_dev != m_rootDevice) {
                // Not entered, as if the walk did not go into subfolders here.
                closeFolder(*frame);
                m_visitor.childEnd(top.folder, child, nullptr);
                return;
            }
            FolderRead* got = ahead ? &read : nullptr;
            entered = examined ? enterOnce(top, *frame, st, got) : enterNew(top, *frame, got);
        }
        if (!entered) {
            // Unreadable folders and repeats are visited without entries.
            m_visitor.folderOpened(folder, frame->children);
            frame->children.clear();
        }
        m_stack.push_back(std::move(frame));
        for (std::size_t i = 1; i < m_stack.size() && m_fds.overLimit(); ++i)
            closeFolder(*m_stack[i]);
    }

    // Enters the frame's folder unless the walk entered it before (same device and inode).
    bool enterOnce(const Frame& top, Frame& frame, const struct stat& st, FolderRead* ahead) {
        const std::size_t first = m_entered.insert(st.st_dev, st.st_ino, m_nodes.size());
        if (first == FolderSet::kNone) return enterNew(top, frame, ahead);
        WalkFolder& repeat = frame.folder;
        repeat.repeat = true;
        repeat.loop = onPath(st.st_dev, st.st_ino);
        repeat.listedAt = pathOf(first);
        repeat.readable = false;
        closeFolder(frame);
        warn(repeat.relPath, repeat.reason());
        return false;
    }

    bool enterNew(const Frame& top, Frame& frame, FolderRead* ahead) {
        AppendRaw(m_names, frame.rawName.constData(), frame.rawName.size());
        m_nodes.push_back({top.node, m_names.size()});
        frame.node = m_nodes.size() - 1;
        if (const int error = enter(frame, ahead); error != 0) {
            warn(frame.folder.relPath, ErrnoText(error));
            closeFolder(frame);
            return false;
        }
        return true;
    }

    void warn(const QString& relPath, const QString& reason) {
        if (m_options.warning) m_options.warning(m_root + relPath, reason);
    }

    // A descriptor for the frame at `level`, opened again by name from the nearest open ancestor
    // when it was closed; -1 with `error` set to the failed open's own errno.
    int fdOf(std::size_t level, int& error) {
        std::size_t base = level;
        while (m_stack[base]->folder.fd < 0)
            --base; // the root always stays open
        int fd = m_stack[base]->folder.fd;
        for (std::size_t i = base + 1; i <= level; ++i) {
            const int next = m_fds.open(fd, m_stack[i]->rawName.constData(), error);
            if (i - 1 != base) m_fds.close(fd); // a step on the way
            if (next < 0) return -1;
            fd = next;
        }
        m_stack[level]->folder.fd = fd;
        return fd;
    }

    bool onPath(dev_t dev, ino_t ino) const {
        for (const auto& frame : m_stack)
            if (frame->dev == dev && frame->ino == ino) return true;
        return false;
    }

    // Where an entered folder is, relative to the root: its parent's node and its name's end in
    // m_names. Kept for every folder entered, to name the first arrival at a folder that is
    // reached again; a few bytes each, where paths would cost their length times the depth.
    struct Node {
        std::size_t parent;
        qsizetype nameEnd;
    };
    // The path of `node` as documents show it: decoded names, each ending in "/"; "." the root.
    QString pathOf(std::size_t node) const {
        std::vector<std::size_t> chain;
        for (std::size_t n = node; n != 0; n = m_nodes[n].parent)
            chain.push_back(n);
        if (chain.empty()) return QStringLiteral(".");
        QString path;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const qsizetype start = m_nodes[*it - 1].nameEnd;
            path += DecodeFileName(m_names.constData() + start, m_nodes[*it].nameEnd - start);
            path += QLatin1Char('/');
        }
        return path;
    }

    const RootPath& m_rootPath;
    QString m_root;
    WalkVisitor& m_visitor;
    const WalkOptions& m_options;
    FolderDescriptors m_fds;
    std::vector<std::unique_ptr<Frame>> m_stack;
    std::unique_ptr<WalkAhead> m_ahead; // none with one job
    WalkProgress m_progress;
    dev_t m_rootDevice = 0;
    FolderSet m_entered; // -> node
    std::vector<Node> m_nodes;
    QByteArray m_names;
};

} // namespace

UniqueFd OpenRegularFile(int folderFd, const QByteArray& rawName, int& error) {
    UniqueFd fd(
        ::openat(folderFd, rawName.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        error = errno;
        return fd;
    }
    struct stat st;
    const bool examined = ::fstat(fd.get(), &st) == 0;
    if (!examined || !S_ISREG(st.st_mode)) {
        error = !examined ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return {};
    }
    // Reads of a regular file do not block anyway; the flag only kept the open from waiting.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool ExamineFolder(int fd, DirEntry& entry) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    entry.kind = DirEntry::Kind::Folder;
    keepStat(st, entry);
    return true;
}

void WalkTree(const RootPath& root, WalkVisitor& visitor, const WalkOptions& options) {
    Walk(root, visitor, options).run();
}

} // namespace treelan
