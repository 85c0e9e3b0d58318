#pragma once

#include "catalog/Catalog.h"
#include "export/TreeWriter.h"

#include <QHash>

#include <memory>

namespace treelan::catalog {

// A snapshot as the source of a walk: the folders as the snapshot saw them, handed to a visitor
// as WalkTree hands the disk's (entries in their enumeration order, each folder's time and
// error, what the options leave out left out), so an export or a comparison runs unchanged.
class SnapshotTreeSource final : public TreeSource {
public:
    SnapshotTreeSource(Catalog& catalog, SnapshotRow snapshot, VolumeRow volume);
    ~SnapshotTreeSource() override;

    void walk(WalkVisitor& visitor, const WalkOptions& options) const override;
    // The MP3 fields kept with the file; empty when the snapshot read none.
    MP3Info mp3Info(const WalkFolder& folder, const DirEntry& entry, const QString& displayPath,
                    const WarningCallback& warning) const override;
    // The media details kept with the files; empty where the snapshot read none.
    std::vector<MediaInfo> mediaInfo(const WalkFolder& folder,
                                     const std::vector<const DirEntry*>& entries,
                                     const QString& displayFolder,
                                     const WarningCallback& warning) const override;

    // The stored version and node of an entry of the folder the walk is in now (during the
    // visitor's folderOpened).
    const Version* versionOf(const WalkFolder& folder, const DirEntry& entry) const;

    const SnapshotRow& snapshot() const { return m_snapshot; }

private:
    struct Frame;
    void enter(Frame& frame, const Version& version, WalkVisitor& visitor,
               const WalkOptions& options) const;

    Catalog& m_catalog;
    SnapshotRow m_snapshot;
    VolumeRow m_volume;
    mutable std::vector<std::unique_ptr<Frame>> m_stack;
    mutable QHash<std::int64_t, QString> m_firstPath; // inode of an entered folder -> its path
};

} // namespace treelan::catalog
