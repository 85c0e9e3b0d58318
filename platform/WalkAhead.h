#pragma once

// The walk's read-ahead: worker threads that open and read folders before the walk comes to
// them. Used by DirWalker alone; the walk decides what is entered, in its own order.

#include "platform/DirWalker.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace treelan {

// A folder's descriptor, shared between the walk and the workers that open its subfolders:
// closed when the last of them lets go.
using FolderHandle = std::shared_ptr<UniqueFd>;

// A folder opened, examined and read, by a worker or by the walk itself.
struct FolderRead {
    FolderHandle fd; // null when the open failed
    int openError = 0;
    bool examined = false; // fstat of the open folder worked: `st` holds it
    struct stat st {};
    std::vector<DirEntry> entries; // what the options keep, in enumeration order
    std::vector<std::pair<std::size_t, std::shared_ptr<const void>>> ahead; // WalkFolder::ahead
    int readError = 0; // errno of a failed enumeration
    // The enumeration stopped before its end (the bound of one folder read ahead, or not begun):
    // the rest is read from `fd`, which is still where it stopped.
    bool more = true;
};

// Reads the entries of the open folder `fd`, whose path below the root is `rawRelPath`, that the
// options keep; appends them to `entries`. Stops after `limit` entries kept, or when `stop` is
// set, with `more` true. Returns 0, or the errno of a failed enumeration.
int ReadFolderEntries(int fd, const QByteArray& rawRelPath, const WalkOptions& options,
                      std::vector<DirEntry>& entries, std::size_t limit, bool& more,
                      const std::atomic<bool>* stop = nullptr);

// Where a folder comes in the walk's order: the positions of it and its ancestors among their
// parents' children. Depth first order is the order of these keys.
using WalkKey = std::vector<quint32>;

class WalkAhead {
public:
    // `jobs`: workers, or 0 to take as many as cores on local file systems and four times that
    // (at most 32) on network and FUSE ones, and where the options read files ahead.
    // `options` are copied without their callbacks.
    WalkAhead(const WalkOptions& options, int jobs, dev_t rootDevice);
    // Stops the workers. One still busy after a few milliseconds (a system call on a stalled
    // mount) is left to end on its own; the process joins it at exit.
    ~WalkAhead();
    WalkAhead(const WalkAhead&) = delete;
    WalkAhead& operator=(const WalkAhead&) = delete;

    // The walk entered the folder `path` (at `key`, open as `handle`): its subfolders `names`
    // are read ahead in this order. Subfolders read ahead of it keep their place in the buffer.
    void schedule(const FolderHandle& handle, dev_t device, const QByteArray& path,
                  const WalkKey& key, int depth, const std::vector<const QByteArray*>& names);
    // The walk now goes into the subfolder `path` at `key`, and has passed everything before it.
    // True with `read` filled when a worker read it (waiting for one that is at it; `stillWanted`
    // is asked meanwhile and throws Cancelled when it says no); false when the walk reads it.
    bool take(const QByteArray& path, const WalkKey& key, const std::function<bool()>& stillWanted,
              FolderRead& read);
    // The walk left the folder at `key`: nothing in it is wanted any more.
    void left(const WalkKey& key);
    // Subfolders of a folder the walk read itself (at `key`, open as `handle`), read ahead in
    // enumeration order until the walk schedules them.
    void guess(const FolderHandle& handle, const QByteArray& path, const WalkKey& key, int depth,
               dev_t device, const std::vector<DirEntry>& entries);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

// Opens the folder `name` in the open folder `parentFd` and examines it; reads up to `limit`
// entries unless it is on another file system than `rootDevice` and the options stay on it.
FolderRead ReadFolder(int parentFd, const QByteArray& name, const QByteArray& rawRelPath,
                      const WalkOptions& options, dev_t rootDevice, std::size_t limit,
                      const std::atomic<bool>* stop = nullptr);

} // namespace treelan
