#include "media/MediaPool.h"

#include "TreelanConfig.h"
#include "platform/FileError.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace treelan {

namespace {

constexpr quint32 kRequestMagic = 0x544c4d31; // "TLM1"
constexpr std::size_t kMaxMessage = 64 * 1024;

struct RequestHeader {
    quint32 magic;
    quint32 nameLength;
    qint64 size;
};

QString describe(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Sends `bytes` with the descriptor `fd` attached (or none when fd < 0), as one message.
bool sendMessage(int socket, const QByteArray& bytes, int fd) {
    iovec iov{const_cast<char*>(bytes.constData()), size_t(bytes.size())};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
    }
    for (;;) {
        const ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        return n == ssize_t(bytes.size());
    }
}

// One message; `fd` gets an attached descriptor or -1. Returns the bytes, or null at the end.
QByteArray receiveMessage(int socket, int* fd) {
    QByteArray bytes(qsizetype(kMaxMessage), Qt::Uninitialized);
    iovec iov{bytes.data(), size_t(bytes.size())};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    ssize_t n;
    do {
        n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (fd) *fd = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        int got = -1;
        std::memcpy(&got, CMSG_DATA(c), sizeof(int));
        if (fd && *fd < 0)
            *fd = got;
        else
            ::close(got);
    }
    if (n <= 0) return {};
    bytes.truncate(n);
    return bytes;
}

} // namespace

struct MediaPool::Slot {
    std::mutex lock;
    pid_t pid = -1;
    int socket = -1;
};

MediaPool::MediaPool(QString helper, int helpers, int timeoutMs)
    : m_helper(std::move(helper)), m_timeoutMs(timeoutMs) {
    for (int i = 0; i < qMax(1, helpers); ++i)
        m_slots.push_back(std::make_unique<Slot>());
}

MediaPool::~MediaPool() {
    for (auto& slot : m_slots)
        stop(*slot, false);
}

int MediaPool::started() const {
    std::lock_guard guard(m_lock);
    return m_started;
}

bool MediaPool::spawn(Slot& slot, QString& error) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        error = QStringLiteral("cannot start the media reader: ") + describe(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The helper's end becomes its descriptor 3, without close-on-exec. It reads and writes
    // nothing else: it holds neither the caller's input nor its output (a pipe to a reader that
    // waits for its end), only its error stream for the libraries' last words.
    posix_spawn_file_actions_adddup2(&actions, pair[1], 3);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const QByteArray program = QFile::encodeName(m_helper);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--serve"), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (rc != 0) {
        ::close(pair[0]);
        error = QStringLiteral("cannot start the media reader %1: %2").arg(m_helper, describe(rc));
        return false;
    }
    slot.pid = pid;
    slot.socket = pair[0];
    std::lock_guard guard(m_lock);
    ++m_started;
    return true;
}

QString MediaPool::stop(Slot& slot, bool kill) {
    if (slot.pid < 0) return {};
    if (kill) ::kill(slot.pid, SIGKILL);
    ::close(slot.socket); // the helper sees the end and leaves
    int status = 0;
    // One that does not leave within half a second (busy in a library) is killed.
    for (int waited = 0;; ++waited) {
        const pid_t done = ::waitpid(slot.pid, &status, WNOHANG);
        if (done == slot.pid || (done < 0 && errno != EINTR)) break;
        if (waited == 50) ::kill(slot.pid, SIGKILL);
        if (waited >= 50) {
            while (::waitpid(slot.pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        ::usleep(10000);
    }
    slot.pid = -1;
    slot.socket = -1;
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
        return QStringLiteral("the reader stopped on signal %1 (%2)")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))).toLower());
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return QStringLiteral("the reader stopped with exit status %1").arg(WEXITSTATUS(status));
    return QStringLiteral("the reader stopped");
}

bool MediaPool::send(Slot& slot, Job& job) {
    const QByteArray nameBytes = job.name.toUtf8().left(4096);
    RequestHeader header{kRequestMagic, quint32(nameBytes.size()), job.size};
    QByteArray request(reinterpret_cast<const char*>(&header), sizeof header);
    request += nameBytes;
    // A helper that left since the last read (or never started) is started now; a send that
    // fails finds a dead helper, replaced once.
    QString error;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (slot.pid < 0 && !spawn(slot, error)) break;
        if (sendMessage(slot.socket, request, job.fd)) return true;
        error = QStringLiteral("cannot read media details: ") + stop(slot, false);
    }
    if (job.warn) job.warn(error + QStringLiteral("; left empty"));
    return false;
}

void MediaPool::receive(Slot& slot, Job& job) {
    const QByteArray answer = receiveMessage(slot.socket, nullptr);
    if (!answer.isNull() && DeserializeMediaInfo(answer, job.info)) return;
    // A helper that answers nonsense is not trusted again.
    const QString why = stop(slot, !answer.isNull());
    if (job.warn)
        job.warn(QStringLiteral("cannot read media details: ") + why +
                 QStringLiteral("; left empty"));
}

void MediaPool::expire(Slot& slot, Job& job) {
    stop(slot, true);
    if (job.warn)
        job.warn(QStringLiteral("cannot read media details: the reader gave no answer within "
                                "%1 s; left empty")
                     .arg(m_timeoutMs / 1000.0));
}

MediaInfo MediaPool::read(int fd, qint64 size, const QString& name, const Warning& warn) {
    std::vector<Job> jobs(1);
    jobs[0].fd = fd;
    jobs[0].size = size;
    jobs[0].name = name;
    jobs[0].warn = warn;
    read(jobs);
    return std::move(jobs[0].info);
}

void MediaPool::read(std::vector<Job>& jobs) {
    using Clock = std::chrono::steady_clock;
    // Every free slot; when none is free, wait for one in turn. Side by side only where the
    // processors are there for it: on two, a second helper's start and switching cost more than
    // the overlap gains (measured by bench/media_bench.py).
    static const std::size_t wide = std::thread::hardware_concurrency() >= 4 ? m_slots.size() : 1;
    std::vector<std::unique_lock<std::mutex>> held;
    std::vector<Slot*> mine;
    for (auto& s : m_slots) {
        std::unique_lock<std::mutex> l(s->lock, std::try_to_lock);
        if (!l.owns_lock()) continue;
        mine.push_back(s.get());
        held.push_back(std::move(l));
        if (mine.size() >= std::min(jobs.size(), wide)) break;
    }
    if (mine.empty()) {
        Slot* slot;
        {
            std::lock_guard guard(m_lock);
            slot = m_slots[m_next++ % m_slots.size()].get();
        }
        held.emplace_back(slot->lock);
        mine.push_back(slot);
    }

    struct InFlight {
        Job* job = nullptr;
        Clock::time_point deadline;
    };
    std::vector<InFlight> flight(mine.size());
    std::size_t next = 0, busy = 0;
    for (;;) {
        // Every idle helper takes the next job.
        for (std::size_t k = 0; k < mine.size() && next < jobs.size(); ++k) {
            if (flight[k].job) continue;
            Job& job = jobs[next++];
            if (!send(*mine[k], job)) continue;
            flight[k] = {&job, Clock::now() + std::chrono::milliseconds(m_timeoutMs)};
            ++busy;
        }
        if (busy == 0) {
            if (next >= jobs.size()) return;
            continue;
        }
        std::vector<pollfd> polls;
        std::vector<std::size_t> of;
        auto soonest = Clock::time_point::max();
        for (std::size_t k = 0; k < mine.size(); ++k)
            if (flight[k].job) {
                polls.push_back({mine[k]->socket, POLLIN, 0});
                of.push_back(k);
                soonest = std::min(soonest, flight[k].deadline);
            }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(soonest - Clock::now()).count();
        const int ready = left > 0 ? ::poll(polls.data(), nfds_t(polls.size()), int(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        const auto now = Clock::now();
        for (std::size_t i = 0; i < polls.size(); ++i) {
            const std::size_t k = of[i];
            if (ready > 0 && polls[i].revents != 0)
                receive(*mine[k], *flight[k].job);
            else if (now >= flight[k].deadline)
                expire(*mine[k], *flight[k].job);
            else
                continue;
            flight[k].job = nullptr;
            --busy;
        }
    }
}

QString MediaPool::helperPath() {
    // Beside the running program (the build folder, a relocated install), else where installed.
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString beside = QFileInfo(self).absolutePath() + QStringLiteral("/treelan-media-helper");
    if (!self.isEmpty() && QFileInfo(beside).isExecutable()) return beside;
    return QStringLiteral(TREELAN_LIBEXEC_DIR "/treelan-media-helper");
}

MediaPool& MediaPool::instance() {
    static MediaPool pool(helperPath());
    return pool;
}

int ServeMediaRequests(
    int socket, const std::function<MediaInfo(int fd, qint64 size, const QString& name)>& read) {
    for (;;) {
        int fd = -1;
        const QByteArray request = receiveMessage(socket, &fd);
        if (request.isNull()) return 0; // the caller closed its end
        RequestHeader header{};
        if (request.size() < qsizetype(sizeof header) || fd < 0) {
            if (fd >= 0) ::close(fd);
            return 2;
        }
        std::memcpy(&header, request.constData(), sizeof header);
        if (header.magic != kRequestMagic ||
            qsizetype(header.nameLength) != request.size() - qsizetype(sizeof header)) {
            ::close(fd);
            return 2;
        }
        const QString name =
            QString::fromUtf8(request.constData() + sizeof header, header.nameLength);
        MediaInfo info = read(fd, header.size, name);
        ::close(fd);
        // Tags are for a listing: a few thousand characters at most each, so an answer always
        // fits one message.
        for (QString& f : info.fields)
            if (f.size() > 1000) f.truncate(1000);
        if (!sendMessage(socket, SerializeMediaInfo(info), -1)) return 1;
    }
}

namespace {

// The details, and the warnings of their reading in order; the walk names the file.
struct MediaRead {
    MediaInfo info;
    QStringList warnings;
};

class MediaReader final : public FileReadAhead {
public:
    explicit MediaReader(bool noFollow) : m_noFollow(noFollow) {}
    bool wants(const DirEntry& entry) const override {
        return entry.readsAsFile(m_noFollow) && IsMediaName(entry.name());
    }
    std::shared_ptr<const void> read(int folderFd, const DirEntry& entry) const override {
        auto read = std::make_shared<MediaRead>();
        int error = 0;
        const UniqueFd fd = OpenRegularFile(folderFd, entry.rawName, error);
        if (!fd) {
            read->warnings << QStringLiteral("cannot read media details: ") + ErrnoText(error);
            return read;
        }
        QStringList& warnings = read->warnings;
        read->info =
            MediaPool::instance().read(fd.get(), entry.size, entry.name(),
                                       [&warnings](const QString& reason) { warnings << reason; });
        return read;
    }

private:
    bool m_noFollow;
};

} // namespace

std::shared_ptr<const FileReadAhead> MediaReadAhead(bool noFollow) {
    return std::make_shared<MediaReader>(noFollow);
}

std::vector<MediaInfo> ReadMediaInfoIn(const WalkFolder& folder,
                                       const std::vector<const DirEntry*>& entries,
                                       const QString& displayFolder,
                                       const WarningCallback& warning) {
    std::vector<MediaInfo> read(entries.size());
    std::vector<MediaPool::Job> jobs;
    std::vector<UniqueFd> open;       // held until every job is read
    std::vector<std::size_t> entryOf; // the entry of each job
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const QString name = entries[i]->name();
        const QString display = displayFolder + name;
        const auto warn = [warning, display](const QString& reason) {
            if (warning) warning(display, reason);
        };
        if (const auto* ahead = static_cast<const MediaRead*>(folder.aheadOf(*entries[i]))) {
            for (const QString& reason : ahead->warnings)
                warn(reason);
            read[i] = ahead->info;
            continue;
        }
        int error = 0;
        UniqueFd fd = OpenRegularFile(folder.fd, entries[i]->rawName, error);
        if (!fd) {
            warn(QStringLiteral("cannot read media details: ") + ErrnoText(error));
            continue;
        }
        jobs.push_back({fd.get(), entries[i]->size, name, warn, {}});
        open.push_back(std::move(fd));
        entryOf.push_back(i);
    }
    if (!jobs.empty()) MediaPool::instance().read(jobs);
    for (std::size_t k = 0; k < jobs.size(); ++k)
        read[entryOf[k]] = std::move(jobs[k].info);
    return read;
}

} // namespace treelan
