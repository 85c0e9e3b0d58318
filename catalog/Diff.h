#pragma once

// What changed between a snapshot and another snapshot, or the folder as it is now.

#include "catalog/Catalog.h"
#include "platform/DirWalker.h"
#include "platform/RootPath.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace treelan::catalog {

enum class Op { Added, Removed, Modified, Metadata, Moved, MovedUnsure, Type, NotCompared };
const char* OpSymbol(Op op); // "+", "-", "M", "U", ">", ">?", "T", "!"

// One side of a change.
struct Side {
    bool present = false;
    Kind kind = Kind::File;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    std::string hash; // 32 bytes, or empty
};

struct Change {
    Op op = Op::Added;
    std::string path;      // raw bytes relative to the root; folders end in "/"
    std::string movedFrom; // moves: the old path
    Side before, after;
    std::string note; // why not compared; "size and date unchanged" for content alone
};

struct DiffResult {
    std::vector<Change> changes; // sorted by path
    std::int64_t resolution = 1; // the times were compared at this step (ns)
    bool trouble = false;        // something could not be compared
};

struct DiffOptions {
    bool hashContents = false; // verify: read each file and compare its SHA-256
    bool rehash = false;       // verify: also files whose size changed
    WarningCallback warning;
    ProgressCallback progress;
};

// Snapshot `a` against snapshot `b` (of any volumes): without touching a disk.
DiffResult DiffSnapshots(Catalog& catalog, const SnapshotRow& a, const SnapshotRow& b);
// Snapshot `a` against the folder as it is now, walked with the snapshot's filters.
DiffResult DiffFolder(Catalog& catalog, const SnapshotRow& a, const RootPath& folder,
                      const DiffOptions& options);

// Counts per kind of change.
struct DiffCounts {
    std::int64_t added = 0, removed = 0, modified = 0, metadata = 0, moved = 0, type = 0,
                 notCompared = 0;
    std::int64_t total() const {
        return added + removed + modified + metadata + moved + type + notCompared;
    }
};
DiffCounts CountChanges(const DiffResult& result);

enum class DiffFormat { Text, Json, Tsv };
// The report: one line per change whose op is in `only` (empty: all), then the summary line.
QByteArray FormatDiff(const DiffResult& result, DiffFormat format, const std::vector<Op>& only);
// 0 the same, 1 different, 2 trouble.
int DiffStatus(const DiffResult& result);

} // namespace treelan::catalog
