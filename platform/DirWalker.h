#pragma once

#include "platform/FileDescriptor.h"
#include "platform/FileTime.h"
#include "platform/PathPattern.h"
#include "platform/RootPath.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace treelan {

// One directory entry, examined once. Links are followed (unless the walk is told not to): a link
// to a file gives that file, a link to a folder that folder.
struct DirEntry {
    enum class Kind : unsigned char {
        File,
        Folder,
        Link,    // a link not followed, or whose target cannot be examined (dangling): the link's
                 // own size and time
        Special, // FIFO, socket or device: listed like a file, never opened
        Unexamined, // neither the entry nor its link could be examined: no size, no time
    };
    QByteArray rawName; // the bytes on disk, for file access
    qint64 size = 0;
    qint64 fileTime = 0;
    Kind kind = Kind::File;
    int error = 0; // errno of the failed examination of an Unexamined entry
    // What the examination gave beyond size and time, for the catalogue, which tells an unchanged
    // file from a changed one by them: exact times in nanoseconds since 1970, inode, st_mode.
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    quint64 inode = 0;
    quint32 mode = 0;

    bool isFolder() const { return kind == Kind::Folder; }
    // Whether its content may be read: a file, or a link the walk follows (a link not followed is
    // the link alone).
    bool readsAsFile(bool noFollow) const {
        return kind == Kind::File || (kind == Kind::Link && !noFollow);
    }
    // The name decoded for display and export. Made on demand: a folder of 300,000 files would
    // otherwise hold every name twice.
    QString name() const;
};

// Work on the content of files that a visitor will want, done ahead of it by the walk's workers,
// which call it on their own threads, several at once: it must keep no state of its own. Each
// result reaches the visitor with its folder (WalkFolder::ahead).
class FileReadAhead {
public:
    virtual ~FileReadAhead() = default;
    virtual bool wants(const DirEntry& entry) const = 0;
    // `entry` of the open folder `folderFd`.
    virtual std::shared_ptr<const void> read(int folderFd, const DirEntry& entry) const = 0;
};

// A folder while the walk is in it.
struct WalkFolder {
    QString relPath;               // relative to the root, ending in "/"; empty for the root
    QByteArray rawRelPath;         // the same in raw bytes
    std::vector<DirEntry> entries; // enumeration order, "." and ".." left out
    int fd = -1;                   // open while the visitor's folderOpened runs
    bool readable = true;          // false: the folder could not be enumerated, or was not entered
    int error = 0;                 // then the errno of the failure (0 for a repeat)
    // The walk arrived here before (same device and inode, through a link or a second mount):
    // not entered again. `listedAt` is where it was entered, relative to the root ("." the root
    // itself); `loop` when that is a folder on the current path.
    bool repeat = false;
    bool loop = false;
    QString listedAt;
    qint64 fileTime = 0; // the folder's own modification time, once it is entered
    quint64 device = 0;  // st_dev of the folder, once it is entered
    int depth = 0;
    // What the options' readAhead read of its entries, by entry index in ascending order; the
    // entries it has nothing for were not read ahead.
    std::vector<std::pair<std::size_t, std::shared_ptr<const void>>> ahead;

    // What was read ahead of `entry`, one of `entries`; null when nothing was.
    const void* aheadOf(const DirEntry& entry) const;

    // Why the folder's entries are not there: the system's reason, or where it is listed
    // instead; empty when it was read.
    QString reason() const;
};

struct WalkProgress {
    qint64 folders = 0;
    qint64 entries = 0;
    QString currentFolder; // relative to the root
};
// Called once per folder entered; returns false to stop the walk (the walk then throws Cancelled).
using ProgressCallback = std::function<bool(const WalkProgress&)>;
// A folder that could not be read, or an entry that could not be examined.
using WarningCallback = std::function<void(const QString& path, const QString& reason)>;

// What a walk does in each folder. The walk is depth first, driven by the visitor, and uses no
// recursion, so tree depth is limited only by memory.
class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;
    // The folder's entries are read and its fd is open. Put into `children` the indexes of the
    // folder entries to step into, in the order to visit them.
    virtual void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) = 0;
    // Before a child; return true to enter it (then its folderOpened/folderDone follow).
    virtual bool childBegin(WalkFolder& parent, const DirEntry& child) = 0;
    // After a child; `entered` is its folder when it was entered (possibly unreadable or a loop).
    virtual void childEnd(WalkFolder& parent, const DirEntry& child, const WalkFolder* entered) = 0;
    // All children are done.
    virtual void folderDone(WalkFolder& folder) = 0;
};

// A file by device and inode, which it keeps when renamed.
struct FileId {
    quint64 device = 0;
    quint64 inode = 0;
    bool isSet() const { return inode != 0; }
};

// What a walk reports, and what it leaves out: an entry left out is not handed to the visitor.
struct WalkOptions {
    ProgressCallback progress;
    WarningCallback warning;
    // A file or folder that matches one of these is left out; a folder so left out is not entered.
    std::vector<PathPattern> excludePatterns;
    // When there are any, only the files that match one of them are kept; folders are walked.
    std::vector<PathPattern> includePatterns;
    bool noHidden = false;      // leave out names that begin with "."
    int maxDepth = -1;          // enter folders down to this depth only (0: the root alone); -1 all
    bool oneFileSystem = false; // do not enter folders on another file system than the root's
    // Never listed, whatever its name: an export's own temporary file in the folder it walks.
    FileId leaveOut;
    // Links below the root are examined themselves (lstat), never followed: each is a Link
    // entry with its own size and time. The root is followed all the same.
    bool noFollow = false;
    // Threads that read folders ahead of the visitor, which still gets them in its own order:
    // 1 none, 0 as many as cores on local file systems and four times that (at most 32) on
    // network and FUSE mounts, where each call waits for a round trip, and with readAhead.
    int jobs = 0;
    // Asked every few milliseconds while the walk waits for a folder being read ahead; false
    // stops the walk as the progress callback's false does.
    std::function<bool()> stillWanted;
    // Content the visitor will read of some files, read by the workers as they read the folder.
    std::shared_ptr<const FileReadAhead> readAhead;
};

// Whether the options leave out the entry `name` of `folder`, as the walk does before handing the
// folder to its visitor. For walks over stored folders, which must leave out what the disk walk
// would.
bool WalkLeavesOut(const WalkOptions& options, const WalkFolder& folder, QByteArrayView name,
                   bool isFolder);

// Walks the folder `root`. Each folder (by device and inode) is entered at most once: the first
// arrival in the visitor's order; a later one is handed over as a repeat, not entered. Folders
// read ahead by other threads reach the visitor all the same, on the calling thread alone. Throws
// FileError when the root itself cannot be opened, Cancelled when the progress callback says so.
void WalkTree(const RootPath& root, WalkVisitor& visitor, const WalkOptions& options = {});

// Opens for reading a file that the walk found in the open folder `folderFd`. Only a regular
// file, after following links, is opened: a FIFO would block the open or the read for ever, and
// opening a device can have effects of its own. The open does not wait (O_NONBLOCK) and the type
// is checked again on the open file, so an entry swapped for a FIFO after the walk examined it
// is refused too. Returns the descriptor, or none with `error` set to an errno value.
UniqueFd OpenRegularFile(int folderFd, const QByteArray& rawName, int& error);

// Examines the open folder `fd` itself as the walk examines entries (times, inode, mode).
// False when it cannot.
bool ExamineFolder(int fd, DirEntry& entry);

} // namespace treelan
