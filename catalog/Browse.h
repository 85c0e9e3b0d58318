#pragma once

// What a window shows of the catalogue: the volumes with their snapshots and whether each can be
// reached now, a search whose results come in batches and can be stopped, and the changes of a
// comparison summed per folder.

#include "catalog/Catalog.h"
#include "catalog/Diff.h"
#include "catalog/Search.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace treelan::catalog {

struct VolumeState {
    VolumeRow volume;
    std::string mountedAt;              // where its root can be reached now; empty: offline
    std::vector<SnapshotRow> snapshots; // complete ones, oldest first
    bool online() const { return !mountedAt.empty(); }
};

// Every volume, by label, with its complete snapshots.
std::vector<VolumeState> BrowseVolumes(Catalog& catalog);

// One result of a search, as `catalog search --json` gives it.
struct SearchHit {
    std::string volume;             // its label
    std::int64_t snapshot = 0;      // the latest snapshot of those searched that holds it
    std::int64_t firstSnapshot = 0; // the first (the same unless every snapshot was searched)
    std::string path;               // full, in raw bytes; a folder's ends in "/"
    Kind kind = Kind::File;
    std::int64_t size = 0;
    std::int64_t mtime = 0; // ns since 1970, at the resolution that was kept
    bool offline = false;
};

// Runs the search (options.format is ignored) and hands its results over in order, at most
// `batchSize` at a time; `take` returns false to stop the search, and so does `stop` once set,
// also in the middle of a query. Returns how many were handed over. Throws CatalogError, except
// for a stop.
using SearchBatch = std::function<bool(std::vector<SearchHit>& hits)>;
std::int64_t SearchInBatches(Catalog& catalog, SearchOptions options, std::size_t batchSize,
                             const SearchBatch& take, const std::atomic<bool>* stop = nullptr);

// The changes of a comparison that lie directly in one folder.
struct FolderChanges {
    std::string folder; // raw, relative to the root, ending in "/"; "" for the root
    DiffCounts counts;
    std::int64_t addedFiles = 0, removedFiles = 0;
    std::int64_t bytes = 0; // what the folder's files grew by (negative: shrank)
};
// Per folder, sorted by path; a move counts in its new folder, a folder change in the folder
// that holds it.
std::vector<FolderChanges> ChangesByFolder(const DiffResult& result);
// The folder a change lies in.
std::string FolderOfChange(const Change& change);

} // namespace treelan::catalog
