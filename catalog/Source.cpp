#include "catalog/Source.h"

#include "catalog/Entries.h"
#include "platform/FileError.h"

#include <cstring>

namespace treelan::catalog {

struct SnapshotTreeSource::Frame {
    WalkFolder folder;
    std::vector<std::size_t> children;
    std::size_t next = 0;
    std::vector<Version> versions; // per entry
};

SnapshotTreeSource::SnapshotTreeSource(Catalog& catalog, SnapshotRow snapshot, VolumeRow volume)
    : m_catalog(catalog), m_snapshot(std::move(snapshot)), m_volume(std::move(volume)) {}

SnapshotTreeSource::~SnapshotTreeSource() = default;

void SnapshotTreeSource::enter(Frame& frame, const Version& version, WalkVisitor& visitor,
                               const WalkOptions& options) const {
    WalkFolder& folder = frame.folder;
    folder.fileTime = EntryOf(version, {}).fileTime;
    folder.loop = (version.flags & kLoop) != 0;
    folder.repeat = (version.flags & (kLoop | kRepeat)) != 0;
    folder.readable = (version.flags & (kUnreadable | kLoop | kRepeat)) == 0;
    folder.error = folder.readable || folder.repeat ? 0 : version.error;
    // Where the disk walk had entered the same folder: the first folder of that inode here.
    if (folder.repeat)
        folder.listedAt = m_firstPath.value(version.inode, QStringLiteral("."));
    else if (folder.readable && !m_firstPath.contains(version.inode))
        m_firstPath.insert(version.inode,
                           folder.relPath.isEmpty() ? QStringLiteral(".") : folder.relPath);
    const QString display = QString::fromUtf8(m_snapshot.rootPath) + folder.relPath;
    if (folder.readable) {
        for (Child& c : m_catalog.childrenOf(version, m_snapshot.id)) {
            const bool isFolder = c.version.kind == Kind::Folder;
            if (WalkLeavesOut(options, folder,
                              QByteArrayView(c.raw.data(), qsizetype(c.raw.size())), isFolder))
                continue;
            folder.entries.push_back(EntryOf(c.version, c.raw));
            c.version.node = c.node;
            frame.versions.push_back(std::move(c.version));
        }
    } else if (options.warning && folder.depth > 0) {
        options.warning(display, folder.reason());
    }
    visitor.folderOpened(folder, frame.children);
    if (!folder.readable) frame.children.clear();
}

void SnapshotTreeSource::walk(WalkVisitor& visitor, const WalkOptions& options) const {
    const std::optional<Version> rootVersion =
        m_catalog.versionAt(m_volume.rootNode, m_snapshot.id);
    if (!rootVersion)
        throw FileError(QString::fromUtf8(m_snapshot.rootPath),
                        QStringLiteral("the snapshot holds no folder"));
    WalkProgress progress;
    m_stack.clear();
    m_firstPath.clear();
    m_stack.push_back(std::make_unique<Frame>());
    enter(*m_stack.back(), *rootVersion, visitor, options);
    while (!m_stack.empty()) {
        Frame& top = *m_stack.back();
        if (top.next >= top.children.size()) {
            visitor.folderDone(top.folder);
            std::unique_ptr<Frame> done = std::move(m_stack.back());
            m_stack.pop_back();
            if (!m_stack.empty()) {
                Frame& parent = *m_stack.back();
                const DirEntry& child = parent.folder.entries[parent.children[parent.next - 1]];
                visitor.childEnd(parent.folder, child, &done->folder);
            }
            continue;
        }
        const std::size_t index = top.children[top.next++];
        const DirEntry& child = top.folder.entries[index];
        const Version& childVersion = top.versions[index];
        const bool tooDeep = options.maxDepth >= 0 && top.folder.depth >= options.maxDepth;
        if (!visitor.childBegin(top.folder, child) || tooDeep ||
            (childVersion.flags & kNotEntered) ||
            (options.oneFileSystem && (childVersion.flags & kForeign))) {
            visitor.childEnd(top.folder, child, nullptr);
            continue;
        }
        auto frame = std::make_unique<Frame>();
        frame->folder.relPath = top.folder.relPath + child.name() + QLatin1Char('/');
        frame->folder.rawRelPath = top.folder.rawRelPath + child.rawName + '/';
        frame->folder.depth = top.folder.depth + 1;
        ++progress.folders;
        if (options.progress) {
            progress.currentFolder = frame->folder.relPath;
            if (!options.progress(progress)) throw Cancelled();
        }
        Frame& pushed = *frame;
        m_stack.push_back(std::move(frame));
        enter(pushed, childVersion, visitor, options);
        progress.entries += qint64(pushed.folder.entries.size());
    }
}

const Version* SnapshotTreeSource::versionOf(const WalkFolder& folder,
                                             const DirEntry& entry) const {
    for (auto it = m_stack.rbegin(); it != m_stack.rend(); ++it) {
        if (&(*it)->folder != &folder) continue;
        const auto index = std::size_t(&entry - folder.entries.data());
        return index < (*it)->versions.size() ? &(*it)->versions[index] : nullptr;
    }
    return nullptr;
}

MP3Info SnapshotTreeSource::mp3Info(const WalkFolder& folder, const DirEntry& entry, const QString&,
                                    const WarningCallback&) const {
    const Version* v = versionOf(folder, entry);
    MP3Info info;
    if (!v || !v->mp3) return info;
    const std::size_t tab = v->mp3->find('\t');
    info.Duration = QString::fromStdString(v->mp3->substr(0, tab));
    if (tab != std::string::npos) info.Bitrate = QString::fromStdString(v->mp3->substr(tab + 1));
    return info;
}

std::vector<MediaInfo> SnapshotTreeSource::mediaInfo(const WalkFolder& folder,
                                                     const std::vector<const DirEntry*>& entries,
                                                     const QString&, const WarningCallback&) const {
    std::vector<MediaInfo> out;
    out.reserve(entries.size());
    for (const DirEntry* e : entries) {
        const Version* v = versionOf(folder, *e);
        out.push_back(v && m_snapshot.media ? UnpackMediaInfo(v->media, v->mp3) : MediaInfo());
    }
    return out;
}

} // namespace treelan::catalog
