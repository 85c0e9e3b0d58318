#include "platform/WalkAhead.h"

#include "platform/FileError.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

namespace treelan {

namespace {

// What the buffer holds at most: folders read or being read ahead (each with its descriptor
// open), and entries in them. A folder with more entries than kFolderEntries is read ahead that
// far; the walk reads the rest. Descriptors open at once stay well under the usual limit of
// 1,024: the walk's own folders (257 at most), these, and one file per worker (at most 32)
// while it reads one ahead.
constexpr std::size_t kFoldersAhead = 128;
constexpr std::size_t kEntriesAhead = 16 * 1024;
constexpr std::size_t kFolderEntries = 4 * 1024;
// Free places in the buffer that wake a worker waiting at a full one.
constexpr std::size_t kRoom = 16;
// How long the walk waits for a worker before it asks whether it is still wanted.
constexpr auto kPoll = std::chrono::milliseconds(20);
// How long the end of a walk waits for a busy worker before it leaves it to end on its own.
constexpr auto kGrace = std::chrono::milliseconds(30);
// Above the keys of the subfolders the walk ordered: the guesses in enumeration order.
constexpr quint32 kGuessed = 0x80000000u;

// Whether the folder `fd` is on a file system whose every call waits for a round trip, where
// more requests in flight pay: NFS, SMB and FUSE.
bool slowFileSystem(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
        return true;
    default:
        return false;
    }
}

// The threads of walks that ended while they were still in a system call: joined when the
// process ends, once they have returned. One that never returns (a mount that stays stalled) is
// let go.
class Abandoned {
public:
    void keep(std::thread thread, std::shared_ptr<std::atomic<bool>> ended) {
        std::lock_guard guard(m_lock);
        std::erase_if(m_threads, [](Entry& e) {
            if (!e.ended->load()) return false;
            e.thread.join();
            return true;
        });
        m_threads.push_back({std::move(thread), std::move(ended)});
    }
    ~Abandoned() {
        for (Entry& e : m_threads) {
            for (int i = 0; i < 50 && !e.ended->load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (e.ended->load())
                e.thread.join();
            else
                e.thread.detach();
        }
    }

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::mutex m_lock;
    std::vector<Entry> m_threads;
};

Abandoned& abandoned() {
    static Abandoned threads;
    return threads;
}

} // namespace

FolderRead ReadFolder(int parentFd, const QByteArray& name, const QByteArray& rawRelPath,
                      const WalkOptions& options, dev_t rootDevice, std::size_t limit,
                      const std::atomic<bool>* stop) {
    FolderRead read;
    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        read.openError = errno;
        return read;
    }
    read.fd = std::make_shared<UniqueFd>(fd);
    read.examined = ::fstat(fd, &read.st) == 0;
    if (read.examined && options.oneFileSystem && read.st.st_dev != rootDevice) return read;
    if (limit == 0) return read;
    read.readError =
        ReadFolderEntries(fd, rawRelPath, options, read.entries, limit, read.more, stop);
    if (!options.readAhead) return read;
    for (std::size_t i = 0; i < read.entries.size() && !(stop && *stop); ++i)
        if (options.readAhead->wants(read.entries[i]))
            read.ahead.emplace_back(i, options.readAhead->read(fd, read.entries[i]));
    return read;
}

// A folder the workers know of: to be read, being read, or read and waiting for the walk.
struct Node {
    enum class State { Queued, Running, Done };
    QByteArray path; // below the root, ending in "/"
    QByteArray name;
    std::weak_ptr<UniqueFd> parent; // gone: the walk has left the parent, the read is not wanted
    WalkKey key;
    int depth = 0;
    bool slowParent = false;
    bool wanted = false; // the walk waits for it: read even when the buffer is full
    State state = State::Queued;
    FolderRead read;
};

struct ByKey {
    bool operator()(const Node* a, const Node* b) const {
        return a->key < b->key || (a->key == b->key && a < b);
    }
};

struct WalkAhead::Shared {
    WalkOptions options; // without callbacks: read by the workers
    dev_t rootDevice = 0;
    int localWorkers = 1, slowWorkers = 1;

    std::mutex lock;
    std::condition_variable work;  // workers: something to read, or stop
    std::condition_variable ready; // the walk: a read ended
    std::atomic<bool> stop{false};
    std::map<QByteArray, std::unique_ptr<Node>> byPath;
    std::set<Node*, ByKey> queued, done;
    WalkKey passed; // everything before it is behind the walk
    std::size_t running = 0, doneEntries = 0;
    int idle = 0;           // workers waiting for work
    bool walkWaits = false; // for a folder being read
    // Folders whose subfolders were guessed already, by device and inode: a link back up is
    // not followed round and round ahead of the walk.
    std::set<std::pair<dev_t, ino_t>> guessed;
    std::vector<std::pair<dev_t, bool>> slowDevices;
    bool anySlow = false;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
    };
    std::vector<Worker> workers;

    void erase(Node* n) {
        if (n->state == Node::State::Queued) queued.erase(n);
        if (n->state == Node::State::Done) {
            done.erase(n);
            doneEntries -= n->read.entries.size();
        }
        byPath.erase(n->path);
    }

    // Drops what the walk has passed, and what lies in folders it has left (their descriptors
    // are gone). A folder read ahead holds its subfolders' parent: dropping it drops them too.
    void sweep() {
        while (!queued.empty() && (*queued.begin())->key < passed)
            erase(*queued.begin());
        for (bool again = true; again;) {
            again = false;
            for (auto it = done.begin(); it != done.end();) {
                Node* n = *it++;
                if (n->key < passed || n->parent.expired()) {
                    erase(n);
                    again = true;
                }
            }
        }
    }

    // The next folder to read, or null (none wanted, or the buffer is full).
    Node* next() {
        while (!queued.empty()) {
            Node* n = *queued.begin();
            if (n->key < passed || n->parent.expired()) {
                erase(n);
                continue;
            }
            if (n->wanted) return n;
            if (running + done.size() >= kFoldersAhead || doneEntries >= kEntriesAhead)
                return nullptr;
            if (running >= std::size_t(n->slowParent ? slowWorkers : localWorkers)) return nullptr;
            return n;
        }
        return nullptr;
    }

    bool isSlow(dev_t device, int fd) {
        for (const auto& [d, slow] : slowDevices)
            if (d == device) return slow;
        const bool slow = slowFileSystem(fd);
        slowDevices.emplace_back(device, slow);
        if (slow && !anySlow) {
            anySlow = true;
            grow();
        }
        return slow;
    }

    void queue(const FolderHandle& parent, const QByteArray& path, const QByteArray& name,
               WalkKey key, int depth, bool slowParent) {
        auto [at, added] = byPath.try_emplace(path + name + '/');
        if (!added) return;
        auto node = std::make_unique<Node>();
        node->path = at->first;
        node->name = name;
        node->parent = parent;
        node->key = std::move(key);
        node->depth = depth;
        node->slowParent = slowParent;
        queued.insert(node.get());
        at->second = std::move(node);
    }

    // Guesses the subfolders of a folder read ahead, in enumeration order, below its key.
    void guess(const FolderHandle& handle, const QByteArray& path, const WalkKey& key, int depth,
               const std::vector<DirEntry>& entries, bool slow) {
        if (!handle || (options.maxDepth >= 0 && depth >= options.maxDepth)) return;
        WalkKey child = key;
        child.push_back(0);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].isFolder()) continue;
            child.back() = kGuessed + quint32(std::min<std::size_t>(i, 0x7fffffff));
            queue(handle, path, entries[i].rawName, child, depth + 1, slow);
        }
        wake();
    }

    // Wakes an idle worker when there is work it may start; it wakes the next in turn. Workers
    // that stopped at a full buffer wait until a few folders are free again: each wake-up is a
    // pair of system calls, as many as a folder's reading takes on a warm cache.
    void wake() {
        if (idle > 0 && !queued.empty() && running + done.size() + kRoom <= kFoldersAhead &&
            doneEntries < kEntriesAhead)
            work.notify_one();
    }

    void grow() {
        if (stop) return; // the walk has ended: no thread more to join
        const std::size_t want = std::size_t(anySlow ? slowWorkers : localWorkers);
        while (workers.size() < want) {
            Worker w;
            w.thread = std::thread(
                [self = this, ended = w.ended, hold = holder.lock()] { self->run(*ended); });
            workers.push_back(std::move(w));
        }
    }

    void run(std::atomic<bool>& ended) {
        std::unique_lock l(lock);
        while (!stop) {
            Node* n = next();
            if (!n) {
                ++idle;
                work.wait(l);
                --idle;
                continue;
            }
            const FolderHandle parent = n->parent.lock();
            if (!parent) { // the walk has just left the parent
                erase(n);
                continue;
            }
            queued.erase(n);
            n->state = Node::State::Running;
            ++running;
            const QByteArray name = n->name, path = n->path;
            wake();
            l.unlock();
            FolderRead read =
                ReadFolder(parent->get(), name, path, options, rootDevice, kFolderEntries, &stop);
            l.lock();
            --running;
            if (stop) break;
            const bool slow = read.examined && read.fd && isSlow(read.st.st_dev, read.fd->get());
            n->state = Node::State::Done;
            n->read = std::move(read);
            if (n->key < passed) {
                byPath.erase(n->path);
            } else {
                done.insert(n);
                doneEntries += n->read.entries.size();
                // A folder met before (a link back up) is not guessed round and round.
                const FolderRead& r = n->read;
                if (!r.examined || guessed.insert({r.st.st_dev, r.st.st_ino}).second)
                    guess(r.fd, n->path, n->key, n->depth, r.entries, slow);
            }
            if (walkWaits) ready.notify_all();
        }
        l.unlock();
        ended = true;
    }

    // The shared state itself, held by each worker: one left behind by its walk still has it.
    std::weak_ptr<Shared> holder;
};

WalkAhead::WalkAhead(const WalkOptions& options, int jobs, dev_t rootDevice)
    : m_shared(std::make_shared<Shared>()) {
    Shared& s = *m_shared;
    s.holder = m_shared;
    s.options = options;
    s.options.progress = {};
    s.options.warning = {};
    s.options.stillWanted = {};
    s.rootDevice = rootDevice;
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    s.slowWorkers = jobs > 0 ? jobs : std::min(32, 4 * cores);
    // Workers that read files' contents too wait on the disk more than on the processors, as
    // on a network mount.
    s.localWorkers = jobs > 0 ? jobs : options.readAhead ? s.slowWorkers : cores;
    std::lock_guard guard(s.lock);
    s.grow();
}

WalkAhead::~WalkAhead() {
    Shared& s = *m_shared;
    std::vector<Shared::Worker> workers;
    {
        std::lock_guard guard(s.lock);
        s.stop = true;
        workers.swap(s.workers);
        // The folders read ahead go now, their descriptors with them; a worker still reading
        // keeps its own.
        s.queued.clear();
        s.done.clear();
        std::erase_if(s.byPath,
                      [](const auto& p) { return p.second->state != Node::State::Running; });
        s.doneEntries = 0;
    }
    s.work.notify_all();
    const auto until = std::chrono::steady_clock::now() + kGrace;
    for (Shared::Worker& w : workers) {
        while (!w.ended->load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (w.ended->load())
            w.thread.join();
        else
            abandoned().keep(std::move(w.thread), w.ended);
    }
}

void WalkAhead::schedule(const FolderHandle& handle, dev_t device, const QByteArray& path,
                         const WalkKey& key, int depth,
                         const std::vector<const QByteArray*>& names) {
    Shared& s = *m_shared;
    if (!handle || names.empty()) return;
    std::lock_guard guard(s.lock);
    const bool slow = s.isSlow(device, handle->get());
    WalkKey child = key;
    child.push_back(0);
    for (std::size_t i = 0; i < names.size(); ++i) {
        child.back() = quint32(i);
        const auto at = s.byPath.find(path + *names[i] + '/');
        if (at == s.byPath.end()) {
            s.queue(handle, path, *names[i], child, depth + 1, slow);
            continue;
        }
        // Read or queued ahead as a guess: it takes its place in the walk's order.
        Node* n = at->second.get();
        if (n->state == Node::State::Queued) {
            s.queued.erase(n);
            n->key = child;
            n->parent = handle;
            s.queued.insert(n);
        } else if (n->state == Node::State::Done) {
            s.done.erase(n);
            n->key = child;
            s.done.insert(n);
        } else {
            n->key = child;
        }
    }
    s.wake();
}

bool WalkAhead::take(const QByteArray& path, const WalkKey& key,
                     const std::function<bool()>& stillWanted, FolderRead& read) {
    Shared& s = *m_shared;
    std::unique_lock l(s.lock);
    s.passed = key;
    bool got = false;
    for (;;) {
        const auto at = s.byPath.find(path);
        if (at == s.byPath.end()) break;
        Node* n = at->second.get();
        // On a slow mount the walk waits for a worker rather than sit in the system calls
        // itself, where a cancel could not reach it.
        const bool wait =
            n->state == Node::State::Running ||
            (n->state == Node::State::Queued && n->slowParent && !n->parent.expired());
        if (wait) {
            if (n->state == Node::State::Queued && !n->wanted) {
                n->wanted = true;
                if (s.idle > 0) s.work.notify_one();
            }
            s.walkWaits = true;
            const bool late = s.ready.wait_for(l, kPoll) == std::cv_status::timeout;
            s.walkWaits = false;
            if (late && stillWanted && !stillWanted()) throw Cancelled();
            continue;
        }
        if (n->state == Node::State::Done) {
            read = std::move(n->read);
            got = true;
        }
        s.erase(n);
        break;
    }
    s.sweep();
    s.wake();
    return got;
}

void WalkAhead::left(const WalkKey& key) {
    Shared& s = *m_shared;
    if (key.empty()) return;
    {
        std::lock_guard guard(s.lock);
        s.passed = key;
        ++s.passed.back();
        s.sweep();
        s.wake();
    }
}

void WalkAhead::guess(const FolderHandle& handle, const QByteArray& path, const WalkKey& key,
                      int depth, dev_t device, const std::vector<DirEntry>& entries) {
    Shared& s = *m_shared;
    if (!handle) return;
    std::lock_guard guard(s.lock);
    s.guess(handle, path, key, depth, entries, s.isSlow(device, handle->get()));
}

} // namespace treelan
