#pragma once

#include "media/MediaInfo.h"
#include "platform/DirWalker.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace treelan {

// The media readers run in helper processes (treelan-media-helper), as desktop thumbnailers do:
// the libraries parse untrusted files, and a thread that loops or crashes inside one cannot be
// stopped or survived. The caller opens the file and hands the descriptor over a socket; a
// helper that does not answer within the timeout is killed, one that dies is reaped, and either
// way the file gets empty fields and a warning and a new helper takes its place on the next read.
// The libraries never load into the calling process: a start without media reading pays nothing.
class MediaPool {
public:
    using Warning = std::function<void(const QString& reason)>;

    // `helper` is the program to start; `helpers` processes at most serve as many threads at once.
    explicit MediaPool(QString helper, int helpers = 2, int timeoutMs = 2000);
    ~MediaPool();
    MediaPool(const MediaPool&) = delete;
    MediaPool& operator=(const MediaPool&) = delete;

    // Media details of the open file `fd` (`size` bytes, named `name` for the MP3 search).
    // `warn` hears why the fields are empty when a helper failed; the pool goes on.
    MediaInfo read(int fd, qint64 size, const QString& name, const Warning& warn);

    // Several files at once, spread over the helpers that are free, so that they read side by
    // side while the caller waits for all. Each job's `fd` stays the caller's to close.
    struct Job {
        int fd = -1;
        qint64 size = 0;
        QString name;
        Warning warn;
        MediaInfo info; // the result
    };
    void read(std::vector<Job>& jobs);

    // Helpers started so far, replacements included.
    int started() const;

    // The pool of this program: the helper beside the running executable, or the installed one.
    static MediaPool& instance();
    static QString helperPath();

private:
    struct Slot;
    std::vector<std::unique_ptr<Slot>> m_slots;
    QString m_helper;
    int m_timeoutMs;
    mutable std::mutex m_lock;
    int m_started = 0;
    std::size_t m_next = 0;

    bool spawn(Slot& slot, QString& error);
    // Hands the job to the slot's helper (started or replaced as needed); false, with the job
    // warned, when no helper takes it.
    bool send(Slot& slot, Job& job);
    // The slot's answer to its job, which has arrived or ended the helper.
    void receive(Slot& slot, Job& job);
    // The job's helper gave no answer in time: killed, the job warned.
    void expire(Slot& slot, Job& job);
    // Ends the slot's helper (killed first when `kill`) and says how it ended.
    QString stop(Slot& slot, bool kill);
};

// The media details of `entries`, files the walk found in the open `folder`, read side by side by
// this program's pool: only regular files are opened (OpenRegularFile). One that cannot be opened
// or read gives empty fields, and `warning` hears why, naming it `displayFolder` and its name.
std::vector<MediaInfo> ReadMediaInfoIn(const WalkFolder& folder,
                                       const std::vector<const DirEntry*>& entries,
                                       const QString& displayFolder,
                                       const WarningCallback& warning);

// Reads the media details of the files with media names on the walk's workers, through this
// program's pool, ahead of ReadMediaInfoIn, which takes them from there. `noFollow`: the walk's
// own (a link not followed is not read).
std::shared_ptr<const FileReadAhead> MediaReadAhead(bool noFollow);

// The helper's side: serves requests on descriptor `socket` until its peer closes it.
int ServeMediaRequests(
    int socket, const std::function<MediaInfo(int fd, qint64 size, const QString& name)>& read);

} // namespace treelan
