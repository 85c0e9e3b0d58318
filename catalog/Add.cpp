#include "catalog/Add.h"

#include "catalog/Entries.h"
#include "catalog/Text.h"
#include "catalog/WalkFilters.h"
#include "codec/Utf8.h"
#include "export/TreeWriter.h"
#include "media/Mp3Info.h"
#include "platform/FileError.h"
#include "platform/FileHash.h"
#include "platform/Volume.h"

#include <QHash>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace treelan::catalog {

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Failures that mean the drive itself went away or broke, not one unreadable folder.
bool volumeTrouble(int error) {
    return error == EIO || error == ENODEV || error == ENXIO || error == ENOTCONN ||
           error == ESTALE || error == ESHUTDOWN || error == EREMOTEIO;
}

QString describe(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The statements of one add, prepared once.
class Store {
public:
    Store(Database& db, std::int64_t snapshot, std::int64_t previous)
        : m_db(db), m_snapshot(snapshot), m_previous(previous),
          m_findName(db.prepare("SELECT id FROM names WHERE coalesce(raw, text) = ?1")),
          m_insertName(db.prepare("INSERT INTO names(text, raw) VALUES(?1, ?2)")),
          m_insertNode(db.prepare("INSERT INTO nodes(parent, name) VALUES(?1, ?2)")),
          m_insertVersion(db.prepare(
              "INSERT INTO versions(node, first, kind, size, mtime, ctime, inode, mode, error, "
              "mp3, hash, digest, children, flags) "
              "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)")),
          m_close(db.prepare("UPDATE versions SET last = ?2 WHERE node = ?1 AND last IS NULL")),
          m_closeSubtree(db.prepare(
              "WITH RECURSIVE sub(id) AS (SELECT id FROM nodes WHERE parent = ?1 UNION ALL "
              "SELECT n.id FROM nodes n JOIN sub ON n.parent = sub.id) "
              "UPDATE versions SET last = ?2 WHERE last IS NULL AND node IN sub")),
          m_open(db.prepare(std::string("SELECT ") + Catalog::versionColumns() +
                            " FROM versions v WHERE node = ?1 AND last IS NULL")),
          m_known(db.prepare(std::string("SELECT n.id, nm.raw, nm.text, ") +
                             Catalog::versionColumns() +
                             " FROM nodes n JOIN names nm ON nm.id = n.name LEFT JOIN versions v "
                             "ON v.node = n.id AND v.last IS NULL WHERE n.parent = ?1")) {}

    std::int64_t nameId(const QByteArray& raw) {
        const bool exact = DecodesExactly(raw);
        const std::string_view bytes(raw.constData(), std::size_t(raw.size()));
        if (exact)
            m_findName.bind(1, bytes);
        else
            m_findName.bindBlob(1, bytes);
        if (m_findName.step()) {
            const std::int64_t id = m_findName.integer(0);
            m_findName.reset();
            return id;
        }
        if (exact) {
            m_insertName.bind(1, bytes).bindNull(2);
        } else {
            m_insertName.bind(1, utf8(DecodeFileName(raw))).bindBlob(2, bytes);
        }
        m_insertName.run();
        return m_db.lastInsertId();
    }

    std::int64_t newNode(std::int64_t parent, std::int64_t name) {
        if (parent == 0)
            m_insertNode.bindNull(1);
        else
            m_insertNode.bind(1, parent);
        m_insertNode.bind(2, name).run();
        return m_db.lastInsertId();
    }

    void insert(std::int64_t node, const Version& v) {
        Statement& s = m_insertVersion;
        s.bind(1, node).bind(2, m_snapshot).bind(3, std::int64_t(v.kind)).bind(4, v.size);
        if (v.fileTime != 0)
            s.bind(5, std::string_view(std::to_string(v.fileTime)));
        else
            s.bind(5, v.mtime);
        s.bind(6, v.ctime).bind(7, v.inode).bind(8, v.mode);
        v.error != 0 ? s.bind(9, std::int64_t(v.error)) : s.bindNull(9);
        v.mp3 ? s.bind(10, *v.mp3) : s.bindNull(10);
        v.hash ? s.bindBlob(11, *v.hash) : s.bindNull(11);
        v.digest ? s.bind(12, *v.digest) : s.bindNull(12);
        v.isFolder() && v.digest ? s.bindBlob(13, v.children) : s.bindNull(13);
        v.flags != 0 ? s.bind(14, std::int64_t(v.flags)) : s.bindNull(14);
        s.run();
        ++written;
    }

    void close(std::int64_t node) {
        if (m_previous > 0) m_close.bind(1, node).bind(2, m_previous).run();
    }
    void closeSubtree(std::int64_t node) {
        if (m_previous > 0) m_closeSubtree.bind(1, node).bind(2, m_previous).run();
    }

    std::optional<Version> open(std::int64_t node) {
        if (m_previous <= 0) return std::nullopt;
        m_open.bind(1, node);
        if (!m_open.step()) return std::nullopt;
        Version v = Catalog::readVersion(m_open, 0);
        m_open.reset();
        return v;
    }

    struct Known {
        std::int64_t node = 0;
        std::optional<Version> version; // open in the previous snapshot
        bool seen = false;
    };
    // Every node ever below `parent`, by raw name, with its version in the previous snapshot.
    QHash<QByteArray, Known> known(std::int64_t parent) {
        QHash<QByteArray, Known> out;
        m_known.bind(1, parent);
        while (m_known.step()) {
            Known k;
            k.node = m_known.integer(0);
            const std::string_view name = m_known.isNull(1) ? m_known.text(2) : m_known.blob(1);
            if (!m_known.isNull(3)) k.version = Catalog::readVersion(m_known, 3);
            out.insert(QByteArray(name.data(), qsizetype(name.size())), std::move(k));
        }
        return out;
    }

    std::int64_t written = 0;

private:
    Database& m_db;
    std::int64_t m_snapshot;
    std::int64_t m_previous;
    Statement m_findName, m_insertName, m_insertNode, m_insertVersion, m_close, m_closeSubtree,
        m_open, m_known;
};

class AddVisitor final : public WalkVisitor {
public:
    AddVisitor(Store& store, const AddOptions& options, std::int64_t rootNode, bool reuse)
        : m_store(store), m_options(options), m_disk(options.root), m_rootNode(rootNode),
          m_reuse(reuse) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        const std::size_t depth = std::size_t(folder.depth);
        if (m_levels.size() <= depth) m_levels.resize(depth + 1);
        Level& level = m_levels[depth];
        level.childNodes.clear();
        if (depth == 0) {
            level.node = m_rootNode;
            DirEntry self;
            if (folder.fd >= 0) ExamineFolder(folder.fd, self);
            level.self = VersionOf(self);
            m_rootDevice = folder.device;
        }
        ++folders;
        if (!folder.readable || folder.loop) {
            if (!folder.loop) noteTrouble(folder.error);
            finish(level, folder.loop ? kLoop : kUnreadable, folder.loop ? 0 : folder.error, {},
                   m_store.open(level.node));
            m_store.closeSubtree(level.node);
            return;
        }
        const std::int64_t digest = DigestOf(folder.entries);
        const std::optional<Version> previous = m_store.open(level.node);
        bool fast = m_reuse && previous && previous->isFolder() && previous->digest == digest &&
                    (previous->flags & (kUnreadable | kLoop | kNotEntered)) == 0;
        if (fast) {
            level.childNodes = UnpackIds(previous->children);
            fast = level.childNodes.size() == folder.entries.size();
        }
        if (!fast) {
            level.childNodes.clear();
            compare(folder, level);
        }
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            if (e.isFolder()) {
                children.push_back(i);
                continue;
            }
            ++files;
            bytes += e.size;
            if (e.kind == DirEntry::Kind::Unexamined) noteTrouble(e.error);
        }
        const int flags = folder.device != m_rootDevice ? kForeign : 0;
        finish(level, flags, 0, digest, previous);
    }

    bool childBegin(WalkFolder& parent, const DirEntry& child) override {
        const std::size_t depth = std::size_t(parent.depth) + 1;
        if (m_levels.size() <= depth) m_levels.resize(depth + 1);
        Level& level = m_levels[depth];
        level.node = m_levels[depth - 1].childNodes[indexOf(parent, child)];
        level.self = VersionOf(child);
        return true;
    }

    void childEnd(WalkFolder& parent, const DirEntry& child, const WalkFolder* entered) override {
        if (entered) return;
        // Not entered (depth, another file system): kept as a folder without its entries.
        Level level;
        level.node = m_levels[std::size_t(parent.depth)].childNodes[indexOf(parent, child)];
        level.self = VersionOf(child);
        ++folders;
        finish(level, kNotEntered, 0, {}, m_store.open(level.node));
        m_store.closeSubtree(level.node);
    }

    void folderDone(WalkFolder&) override {}

    std::int64_t files = 0, folders = 0, bytes = 0;
    int trouble = 0; // the errno that says the volume went away, or 0

private:
    struct Level {
        std::int64_t node = 0;
        Version self; // the folder as an entry of its parent
        std::vector<std::int64_t> childNodes;
    };

    static std::size_t indexOf(const WalkFolder& parent, const DirEntry& child) {
        return std::size_t(&child - parent.entries.data());
    }

    void noteTrouble(int error) {
        if (trouble == 0 && volumeTrouble(error)) trouble = error;
    }

    // Writes the folder's own version unless it is what the previous snapshot had.
    void finish(const Level& level, int flags, int error, std::optional<std::int64_t> digest,
                const std::optional<Version>& previous) {
        Version v = level.self;
        v.kind = Kind::Folder;
        v.flags = flags;
        v.error = error;
        v.digest = digest;
        if (digest) v.children = PackIds(level.childNodes);
        if (previous && previous->isFolder() && SameMetadata(*previous, v) &&
            previous->digest == v.digest && previous->children == v.children &&
            previous->flags == v.flags)
            return;
        if (previous) m_store.close(level.node);
        m_store.insert(level.node, v);
    }

    // The folder's entries against what the previous snapshot saw in it, one by one.
    void compare(const WalkFolder& folder, Level& level) {
        QHash<QByteArray, Store::Known> known = m_store.known(level.node);
        for (const DirEntry& e : folder.entries) {
            std::int64_t node = 0;
            std::optional<Version> previous;
            const auto it = known.find(e.rawName);
            if (it != known.end()) {
                node = it->node;
                previous = it->version;
                it->seen = true;
            } else {
                node = m_store.newNode(level.node, m_store.nameId(e.rawName));
            }
            level.childNodes.push_back(node);
            if (e.isFolder()) {
                // Its own version is written when the walk is done with it.
                if (previous && !previous->isFolder()) m_store.close(node);
                continue;
            }
            if (previous && previous->isFolder()) {
                m_store.close(node);
                m_store.closeSubtree(node);
                previous.reset();
            }
            Version v = VersionOf(e);
            const bool same = previous && SameMetadata(*previous, v);
            contents(folder, e, v, same ? &*previous : nullptr);
            if (same && (!v.hash || v.hash == previous->hash) && (!v.mp3 || v.mp3 == previous->mp3))
                continue;
            if (previous) m_store.close(node);
            m_store.insert(node, v);
        }
        for (const Store::Known& k : std::as_const(known)) {
            if (k.seen || !k.version) continue;
            m_store.close(k.node);
            if (k.version->isFolder()) m_store.closeSubtree(k.node);
        }
    }

    // The hash and MP3 fields the options ask for: the previous snapshot's when the file is
    // unchanged (`unchanged` non-null), else read.
    void contents(const WalkFolder& folder, const DirEntry& e, Version& v,
                  const Version* unchanged) {
        if (m_options.hash && e.kind == DirEntry::Kind::File) {
            if (unchanged && unchanged->hash && !m_options.rehash) {
                v.hash = unchanged->hash;
            } else {
                Sha256Digest digest;
                int error = 0;
                if (Sha256OfFile(folder.fd, e.rawName, digest, error)) {
                    v.hash =
                        std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
                } else {
                    noteTrouble(error);
                    warn(folder, e,
                         QStringLiteral("cannot read the file to hash it: ") + describe(error));
                }
            }
        }
        if (m_options.mp3 && (e.kind == DirEntry::Kind::File || e.kind == DirEntry::Kind::Link) &&
            IsMp3Name(e.name())) {
            if (unchanged && unchanged->mp3) {
                v.mp3 = unchanged->mp3;
            } else {
                const MP3Info info =
                    m_disk.mp3Info(folder, e, displayPath(folder, e), m_options.walk.warning);
                v.mp3 = utf8(info.Duration) + '\t' + utf8(info.Bitrate);
            }
        }
    }

    QString displayPath(const WalkFolder& folder, const DirEntry& e) const {
        return m_options.root.display() + folder.relPath + e.name();
    }

    void warn(const WalkFolder& folder, const DirEntry& e, const QString& reason) const {
        if (m_options.walk.warning) m_options.walk.warning(displayPath(folder, e), reason);
    }

    Store& m_store;
    const AddOptions& m_options;
    DiskTreeSource m_disk;
    std::int64_t m_rootNode;
    bool m_reuse;
    quint64 m_rootDevice = 0;
    std::vector<Level> m_levels;
};

bool allDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::string LabelProblem(const std::string& label) {
    if (label.empty()) return "a label cannot be empty";
    if (allDigits(label)) return "a label of digits only would read as a snapshot number";
    if (label.find('@') != std::string::npos) return "a label cannot hold '@'";
    if (label.find_first_of("\n\t") != std::string::npos)
        return "a label cannot hold a tab or newline";
    return {};
}

std::string DefaultLabel(Catalog& catalog, const std::string& fsLabel, const QByteArray& rawRoot) {
    std::string base = fsLabel;
    if (base.empty()) {
        QByteArray name = rawRoot;
        while (name.size() > 1 && name.endsWith('/'))
            name.chop(1);
        name = name.mid(name.lastIndexOf('/') + 1);
        base = name.isEmpty() ? std::string("root") : utf8(DecodeFileName(name));
    }
    for (char& c : base)
        if (c == '@' || c == '\n' || c == '\t') c = '_';
    std::string label = base;
    for (int n = 2; !LabelProblem(label).empty() || catalog.volumeByLabel(label); ++n)
        label = base + "-" + std::to_string(n);
    return label;
}

AddResult AddSnapshot(Catalog& catalog, const AddOptions& options) {
    Database& db = catalog.db();
    const QByteArray& raw = options.root.raw();
    const std::string rootPath = raw.toStdString();
    VolumeIdentity id;
    int error = 0;
    if (!IdentifyVolume(rootPath, id, error))
        throw FileError::fromErrno(options.root.display(),
                                   QStringLiteral("cannot examine the folder"), error);
    const std::uint64_t device = DeviceOf(rootPath);

    AddResult result;
    std::int64_t snapshotId = 0;
    std::string aborted;
    {
        Transaction t(db);
        Statement find =
            db.prepare("SELECT id FROM volumes WHERE identity = ?1 AND root_in_fs = ?2");
        find.bind(1, id.id).bindBlob(2, id.rootInFs);
        std::optional<VolumeRow> volume;
        if (find.step()) {
            const std::int64_t v = find.integer(0);
            find.reset();
            volume = catalog.volume(v);
        }
        if (!options.label.empty()) {
            if (const std::string problem = LabelProblem(options.label); !problem.empty())
                throw CatalogError("'" + options.label + "': " + problem);
            const std::optional<VolumeRow> holder = catalog.volumeByLabel(options.label);
            if (holder && (!volume || holder->id != volume->id))
                throw CatalogError("the label '" + options.label +
                                   "' names another volume of the catalogue (" + holder->identity +
                                   ")");
        }
        if (!volume) {
            VolumeRow v;
            v.label =
                options.label.empty() ? DefaultLabel(catalog, id.fsLabel, raw) : options.label;
            Store bootstrap(db, 0, 0);
            v.rootNode = bootstrap.newNode(0, bootstrap.nameId(QByteArray()));
            db.prepare(
                  "INSERT INTO volumes(label, identity, root_in_fs, fs_type, fs_label, root_node) "
                  "VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
                .bind(1, v.label)
                .bind(2, id.id)
                .bindBlob(3, id.rootInFs)
                .bind(4, id.fsType)
                .bind(5, id.fsLabel)
                .bind(6, v.rootNode)
                .run();
            v.id = db.lastInsertId();
            volume = catalog.volume(v.id);
            result.newVolume = true;
        } else if (!options.label.empty() && options.label != volume->label) {
            db.prepare("UPDATE volumes SET label = ?2 WHERE id = ?1")
                .bind(1, volume->id)
                .bind(2, options.label)
                .run();
            volume->label = options.label;
        }
        const std::optional<SnapshotRow> previous = catalog.latest(volume->id);
        const std::int64_t maxName = db.number("SELECT coalesce(max(id), 0) FROM names");

        db.prepare("INSERT INTO snapshots(volume, state, started, root_path, options, "
                   "time_resolution, hashed, mp3) VALUES(?1, 'running', ?2, ?3, ?4, ?5, ?6, ?7)")
            .bind(1, volume->id)
            .bind(2, nowNs())
            .bindBlob(3, rootPath)
            .bind(4, FiltersToJson(options.walk))
            .bind(5, id.timeResolutionNs)
            .bind(6, std::int64_t(options.hash))
            .bind(7, std::int64_t(options.mp3))
            .run();
        snapshotId = db.lastInsertId();

        Store store(db, snapshotId, previous ? previous->id : 0);
        // The previous snapshot's versions serve as they are unless this one asks for more.
        const bool reuse = previous && (!options.hash || previous->hashed) &&
                           (!options.mp3 || previous->mp3) && !options.rehash;
        AddVisitor visitor(store, options, volume->rootNode, reuse);
        WalkTree(options.root, visitor, options.walk);

        if (visitor.trouble != 0)
            aborted =
                "the volume failed during the walk: " + std::string(std::strerror(visitor.trouble));
        else if (DeviceOf(rootPath) != device)
            aborted = "the volume went away during the walk";
        if (aborted.empty()) {
            // The new names into the search index, in ascending order (much the fastest).
            Statement fresh = db.prepare("SELECT id, text FROM names WHERE id > ?1 ORDER BY id");
            Statement index = db.prepare("INSERT INTO names_fts(rowid, folded) VALUES(?1, ?2)");
            fresh.bind(1, maxName);
            while (fresh.step())
                index.bind(1, fresh.integer(0)).bind(2, FoldText(fresh.text(1))).run();
            db.prepare("UPDATE snapshots SET state = 'complete', finished = ?2, files = ?3, "
                       "folders = ?4, bytes = ?5, written = ?6 WHERE id = ?1")
                .bind(1, snapshotId)
                .bind(2, nowNs())
                .bind(3, visitor.files)
                .bind(4, visitor.folders)
                .bind(5, visitor.bytes)
                .bind(6, store.written)
                .run();
            t.commit();
            result.volume = *volume;
            result.snapshot = *catalog.snapshot(snapshotId);
            return result;
        }
        // The transaction rolls back as it goes out of scope.
    }
    // What is left: the record that a snapshot was tried, where its volume was known before.
    try {
        Transaction t(db);
        Statement find =
            db.prepare("SELECT id FROM volumes WHERE identity = ?1 AND root_in_fs = ?2");
        find.bind(1, id.id).bindBlob(2, id.rootInFs);
        if (find.step()) {
            const std::int64_t volume = find.integer(0);
            find.reset();
            db.prepare("INSERT INTO snapshots(volume, state, started, finished, root_path, reason) "
                       "VALUES(?1, 'aborted', ?2, ?2, ?3, ?4)")
                .bind(1, volume)
                .bind(2, nowNs())
                .bindBlob(3, rootPath)
                .bind(4, aborted)
                .run();
            t.commit();
        }
    } catch (const CatalogError&) {
        // The snapshot is gone either way; the record of it is a courtesy.
    }
    throw CatalogError(options.root.display().toStdString() + ": " + aborted +
                       "; the snapshot is rolled back");
}

} // namespace treelan::catalog
