#pragma once

#include "catalog/Catalog.h"
#include "platform/DirWalker.h"
#include "platform/RootPath.h"

#include <QString>

namespace treelan::catalog {

struct AddOptions {
    RootPath root;
    std::string label;   // empty: the volume's label, or for a new volume a default one
    bool mp3 = false;    // read MP3 playing time and bit rate
    bool media = false;  // read media details (with `mp3`: a plain MP3 reading is kept too)
    bool hash = false;   // keep each file's SHA-256
    bool rehash = false; // read every file again, even where size, times and inode are unchanged
    WalkOptions walk;    // filters, progress, warnings
};

struct AddResult {
    SnapshotRow snapshot;
    VolumeRow volume;
    bool newVolume = false;
};

// Walks the folder and writes what changed since the volume's latest snapshot as a new
// snapshot, in one transaction. Throws CatalogError (the catalogue, or the volume gone during
// the walk: the snapshot is then rolled back and recorded as aborted) or FileError (the folder).
AddResult AddSnapshot(Catalog& catalog, const AddOptions& options);

// The label a new volume gets when none is given: the file system's label, else the folder's
// name; made unique and valid ("-2" appended, "@" replaced).
std::string DefaultLabel(Catalog& catalog, const std::string& fsLabel, const QByteArray& rawRoot);
// Empty, or why the label cannot name a volume.
std::string LabelProblem(const std::string& label);

} // namespace treelan::catalog
