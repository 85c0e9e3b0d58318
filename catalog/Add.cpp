#include "catalog/Add.h"

#include "catalog/Entries.h"
#include "catalog/Text.h"
#include "catalog/WalkFilters.h"
#include "codec/Utf8.h"
#include "export/TreeWriter.h"
#include "format/Sort.h"
#include "media/MediaPool.h"
#include "media/Mp3Info.h"
#include "platform/FileError.h"
#include "platform/FileHash.h"
#include "platform/Volume.h"

#include <QHash>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

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

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// 64 bits of a name's bytes (FNV-1a, then mixed): where the name table looks first.
std::uint64_t hashName(const QByteArray& raw) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (const char c : raw)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    return h;
}

// The ids of the dictionary's names by their bytes, in memory: 8 bytes a slot (the high half of
// the name's hash and its id), at most three quarters of them used. A slot that matches is checked
// against the name itself. Made when the first new name comes, so an add of an unchanged tree never
// reads the dictionary.
class NameTable {
public:
    template <typename Same> std::int64_t find(std::uint64_t h, const Same& same) const {
        if (m_slots.empty()) return 0;
        const std::uint64_t high = h & 0xFFFFFFFF00000000ULL;
        for (std::size_t i = slotOf(high);; i = (i + 1) & (m_slots.size() - 1)) {
            const std::uint64_t slot = m_slots[i];
            if (slot == 0) return 0;
            if ((slot & 0xFFFFFFFF00000000ULL) != high) continue;
            const auto id = std::int64_t(slot & 0xFFFFFFFFULL);
            if (same(id)) return id;
        }
    }

    void insert(std::uint64_t h, std::int64_t id) {
        // Ids beyond 32 bits are left out: such a name may then be kept twice, which costs
        // room but never a wrong answer.
        if (id <= 0 || id > 0xFFFFFFFFLL) return;
        if ((m_used + 1) * 4 > m_slots.size() * 3) grow();
        place((h & 0xFFFFFFFF00000000ULL) | std::uint64_t(id));
        ++m_used;
    }

    bool ready() const { return !m_slots.empty(); }
    void start() {
        if (m_slots.empty()) m_slots.assign(1 << 16, 0);
    }

private:
    std::size_t slotOf(std::uint64_t high) const {
        return std::size_t(high >> 32) & (m_slots.size() - 1);
    }
    void place(std::uint64_t slot) {
        std::size_t i = slotOf(slot & 0xFFFFFFFF00000000ULL);
        while (m_slots[i] != 0)
            i = (i + 1) & (m_slots.size() - 1);
        m_slots[i] = slot;
    }
    void grow() {
        std::vector<std::uint64_t> old(std::max<std::size_t>(m_slots.size() * 2, 1 << 16), 0);
        old.swap(m_slots);
        for (const std::uint64_t slot : old)
            if (slot != 0) place(slot);
    }

    std::vector<std::uint64_t> m_slots;
    std::size_t m_used = 0;
};

// One write of an add, handed from the walk to the writer.
struct Op {
    enum class Type : unsigned char { Node, Version, Close, Folder } type = Type::Node;
    std::int64_t node = 0;
    std::int64_t parent = 0; // Node: 0 for a root; Folder: the volume's root
    QByteArray raw;          // Node: its name; Folder: its path below the root
    Version version;         // Version
};

// The writing half of an add, on a thread of its own: the walk (system calls) and SQLite (work of
// the processor) overlap. It owns the catalogue's connection while the walk runs, finds the
// names' ids (its connection sees the names this add wrote), and writes many rows to a statement.
class Writer {
public:
    Writer(Database& db, std::int64_t snapshot, std::int64_t previous)
        : m_db(db), m_snapshot(snapshot), m_previous(previous),
          m_names(db, "names(id, text, raw)", 3), m_nodes(db, "nodes(id, parent, name)", 3),
          m_versions(db,
                     "versions(node, first, kind, size, mtime, ctime, inode, mode, error, mp3, "
                     "hash, digest, children, flags, born, media)",
                     16),
          m_readName(db.prepare("SELECT raw, text FROM names WHERE id = ?1")),
          m_close(db.prepare("UPDATE versions SET last = ?2 WHERE node = ?1 AND last IS NULL")),
          m_folder(
              db.prepare("INSERT OR IGNORE INTO folders(node, root, path) VALUES(?1, ?2, ?3)")) {
        m_nextName = db.number("SELECT coalesce(max(id), 0) FROM names") + 1;
        m_firstNewName = m_pendingName = m_nextName;
        m_current.reserve(kChunk);
        m_thread = std::thread([this] { run(); });
    }

    // Without stop(true): what is queued is dropped, the transaction rolls back.
    ~Writer() {
        if (!m_thread.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.clear();
            m_done = true;
            m_ready.notify_one();
        }
        m_thread.join();
    }

    // Walk side: queues one write. Throws CatalogError when the writer failed.
    void push(Op&& op) {
        m_current.push_back(std::move(op));
        if (m_current.size() < kChunk) return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_roomy.wait(lock, [this] { return m_queue.size() < kChunks || m_failed; });
        if (m_failed) throw CatalogError(m_error);
        m_queue.push_back(std::move(m_current));
        m_current = {};
        m_current.reserve(kChunk);
        m_ready.notify_one();
    }

    // Walk side: writes what is queued and ends the thread, then puts the new names into the
    // search index. Throws CatalogError when the writer failed.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_current.empty()) m_queue.push_back(std::move(m_current));
            m_current.clear();
            m_done = true;
            m_ready.notify_one();
        }
        m_thread.join();
        if (m_failed) throw CatalogError(m_error);
        // Into the search index in ascending order, which fills it fastest.
        m_db.prepare("INSERT INTO names_fts(rowid, folded) SELECT id, treelan_fold(text) FROM "
                     "names WHERE id >= ?1")
            .bind(1, m_firstNewName)
            .run();
    }

    bool failed() const { return m_failed; }
    std::int64_t written() const { return m_written; }

private:
    static constexpr std::size_t kChunk = 1024; // writes handed over at a time
    static constexpr std::size_t kChunks = 4;   // at most this many waiting
    static constexpr std::size_t kPerInsert = 64;

    void run() {
        try {
            for (;;) {
                std::vector<Op> chunk;
                {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    m_ready.wait(lock, [this] { return !m_queue.empty() || m_done; });
                    if (m_queue.empty()) break;
                    chunk = std::move(m_queue.front());
                    m_queue.pop_front();
                    m_roomy.notify_one();
                }
                for (Op& op : chunk)
                    apply(op);
            }
            flushNames();
            m_nodes.flush();
            m_versions.flush();
        } catch (const CatalogError& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_error = e.what();
            m_failed = true;
            m_roomy.notify_all();
        }
    }

    void apply(const Op& op) {
        switch (op.type) {
        case Op::Type::Node:
            m_nodes.row();
            m_nodes.set(0, op.node);
            if (op.parent != 0) m_nodes.set(1, op.parent);
            m_nodes.set(2, op.parent == 0 ? 0 : nameId(op.raw));
            break;
        case Op::Type::Version:
            insert(op.node, op.version);
            break;
        case Op::Type::Close:
            m_close.bind(1, op.node).bind(2, m_previous).run();
            break;
        case Op::Type::Folder:
            m_folder.bind(1, op.node)
                .bind(2, op.parent)
                .bindBlob(3, std::string_view(op.raw.constData(), std::size_t(op.raw.size())))
                .run();
            break;
        }
    }

    std::int64_t nameId(const QByteArray& raw) {
        if (!m_table.ready()) loadNames();
        const std::uint64_t h = hashName(raw);
        const std::string_view bytes(raw.constData(), std::size_t(raw.size()));
        const auto same = [&](std::int64_t id) { return nameBytes(id) == bytes; };
        if (const std::int64_t id = m_table.find(h, same)) return id;
        if (m_names.pending() == kPerInsert) flushNames();
        const std::int64_t id = m_nextName++;
        m_names.row();
        m_names.set(0, id);
        if (DecodesExactly(raw)) {
            m_names.setText(1, bytes);
        } else {
            m_names.setText(1, utf8(DecodeFileName(raw)));
            m_names.setBlob(2, bytes);
        }
        m_table.insert(h, id);
        return id;
    }

    void insert(std::int64_t node, const Version& v) {
        BatchInsert& b = m_versions;
        b.row();
        b.set(0, node);
        b.set(1, m_snapshot);
        b.set(2, std::int64_t(v.kind));
        b.set(3, v.size);
        if (v.fileTime != 0)
            b.setText(4, std::to_string(v.fileTime));
        else
            b.set(4, v.mtime);
        b.set(5, v.ctime);
        b.set(6, v.inode);
        b.set(7, v.mode);
        if (v.error != 0) b.set(8, v.error);
        if (v.mp3) b.setText(9, *v.mp3);
        if (v.hash) b.setBlob(10, *v.hash);
        if (v.digest) b.set(11, *v.digest);
        if (v.isFolder() && v.digest) b.setBlob(12, v.children);
        if (v.flags != 0) b.set(13, v.flags);
        if (m_previous <= 0) b.set(14, 1);
        if (v.media) b.setBlob(15, *v.media);
        ++m_written;
    }

    void flushNames() {
        m_names.flush();
        m_pendingName = m_nextName;
    }

    // The bytes of the name `id`, written or still kept.
    std::string nameBytes(std::int64_t id) {
        if (id >= m_pendingName) {
            const auto row = std::size_t(id - m_pendingName);
            return std::string(m_names.pendingNull(row, 2) ? m_names.pendingBytes(row, 1)
                                                           : m_names.pendingBytes(row, 2));
        }
        m_readName.bind(1, id);
        std::string bytes;
        if (m_readName.step()) {
            bytes = std::string(m_readName.isNull(0) ? m_readName.text(1) : m_readName.blob(0));
            m_readName.reset();
        }
        return bytes;
    }

    void loadNames() {
        m_table.start();
        Statement all = m_db.prepare("SELECT id, raw, text FROM names");
        while (all.step()) {
            const std::string_view bytes = all.isNull(1) ? all.text(2) : all.blob(1);
            m_table.insert(hashName(QByteArray(bytes.data(), qsizetype(bytes.size()))),
                           all.integer(0));
        }
    }

    Database& m_db;
    std::int64_t m_snapshot;
    std::int64_t m_previous;
    NameTable m_table;
    BatchInsert m_names, m_nodes, m_versions;
    std::int64_t m_nextName = 1, m_firstNewName = 1, m_pendingName = 1;
    std::int64_t m_written = 0;
    Statement m_readName, m_close, m_folder;

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_roomy;
    std::deque<std::vector<Op>> m_queue;
    std::vector<Op> m_current; // the walk's, not yet handed over
    bool m_done = false;
    std::atomic<bool> m_failed{false};
    std::string m_error;
};

// The walk's side of an add: what the previous snapshot holds (read on a connection of its own,
// which sees the catalogue as it was before this add), and the writes, handed to the writer.
class Store {
public:
    Store(Database& reader, Writer& writer, std::int64_t firstNode, std::int64_t previous)
        : m_writer(writer), m_previous(previous), m_nextNode(firstNode),
          m_open(reader.prepare(std::string("SELECT ") + Catalog::versionColumns() +
                                " FROM versions v WHERE node = ?1 AND last IS NULL")),
          m_known(reader.prepare(std::string("SELECT nm.raw, nm.text, ") +
                                 Catalog::versionColumns() +
                                 " FROM nodes n JOIN names nm ON nm.id = n.name JOIN versions v ON "
                                 "v.node = n.id AND v.last IS NULL WHERE n.id = ?1")) {}

    std::int64_t newNode(std::int64_t parent, const QByteArray& raw) {
        Op op;
        op.type = Op::Type::Node;
        op.node = m_nextNode++;
        op.parent = parent;
        op.raw = raw;
        m_writer.push(std::move(op));
        return m_nextNode - 1;
    }

    void insert(std::int64_t node, Version&& v) {
        Op op;
        op.type = Op::Type::Version;
        op.node = node;
        op.version = std::move(v);
        m_writer.push(std::move(op));
    }

    // Notes the path of a node that is a folder in this snapshot (kept once per node).
    void folder(std::int64_t node, std::int64_t root, QByteArray path) {
        Op op;
        op.type = Op::Type::Folder;
        op.node = node;
        op.parent = root;
        op.raw = std::move(path);
        m_writer.push(std::move(op));
    }

    void close(std::int64_t node) {
        if (m_previous <= 0) return;
        Op op;
        op.type = Op::Type::Close;
        op.node = node;
        m_writer.push(std::move(op));
    }

    // Closes the open versions of everything below the folder whose open version is `folder`.
    void closeSubtree(const Version& folder) {
        if (m_previous <= 0 || !folder.isFolder()) return;
        std::vector<std::int64_t> todo = UnpackIds(folder.children);
        while (!todo.empty()) {
            const std::int64_t node = todo.back();
            todo.pop_back();
            const std::optional<Version> v = open(node);
            if (!v) continue;
            close(node);
            if (v->isFolder()) {
                const std::vector<std::int64_t> more = UnpackIds(v->children);
                todo.insert(todo.end(), more.begin(), more.end());
            }
        }
    }

    // The version of `node` that the previous snapshot holds.
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
        Version version; // open in the previous snapshot
        bool seen = false;
    };
    // The entries of the folder whose open version is `folder`, by raw name.
    QHash<QByteArray, Known> known(const Version& folder) {
        QHash<QByteArray, Known> out;
        for (const std::int64_t id : UnpackIds(folder.children)) {
            m_known.bind(1, id);
            if (!m_known.step()) continue;
            Known k;
            k.node = id;
            const std::string_view name = m_known.isNull(0) ? m_known.text(1) : m_known.blob(0);
            k.version = Catalog::readVersion(m_known, 2);
            out.insert(QByteArray(name.data(), qsizetype(name.size())), std::move(k));
            m_known.reset();
        }
        return out;
    }

private:
    Writer& m_writer;
    std::int64_t m_previous;
    std::int64_t m_nextNode;
    Statement m_open, m_known;
};

class AddVisitor final : public WalkVisitor {
public:
    AddVisitor(Store& store, const AddOptions& options, std::int64_t rootNode, bool reuse,
               bool previousMedia)
        : m_store(store), m_options(options), m_disk(options.root), m_rootNode(rootNode),
          m_reuse(reuse), m_previousMedia(previousMedia) {}

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
        if (!folder.readable || folder.repeat) {
            if (!folder.repeat) noteTrouble(folder.error);
            const std::optional<Version> previous = m_store.open(level.node);
            const int flags = folder.loop ? kLoop : folder.repeat ? kRepeat : kUnreadable;
            finish(level, flags, folder.repeat ? 0 : folder.error, {}, previous);
            if (previous) m_store.closeSubtree(*previous);
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
            compare(folder, level, previous);
        }
        // Subfolders in the order the writers enter them: the walk enters a folder reached twice
        // (through a link) at its first arrival, and an export of this snapshot must find its
        // entries there.
        struct Sub {
            QString key, name;
            std::size_t index;
        };
        std::vector<Sub> subfolders;
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            if (e.isFolder()) {
                QString name = e.name();
                subfolders.push_back({SortKey(name), std::move(name), i});
                continue;
            }
            ++files;
            bytes += e.size;
            if (e.kind == DirEntry::Kind::Unexamined) noteTrouble(e.error);
        }
        SortRecords(subfolders);
        for (const Sub& s : subfolders)
            children.push_back(s.index);
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
        const std::optional<Version> previous = m_store.open(level.node);
        finish(level, kNotEntered, 0, {}, previous);
        if (previous) m_store.closeSubtree(*previous);
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
        m_store.insert(level.node, std::move(v));
    }

    // The folder's entries against what the previous snapshot saw in it, one by one.
    void compare(const WalkFolder& folder, Level& level, const std::optional<Version>& before) {
        QHash<QByteArray, Store::Known> known;
        if (before && before->isFolder()) known = m_store.known(*before);
        for (const DirEntry& e : folder.entries) {
            std::int64_t node = 0;
            std::optional<Version> previous;
            const auto it = known.find(e.rawName);
            if (it != known.end()) {
                node = it->node;
                previous = it->version;
                it->seen = true;
            } else {
                node = m_store.newNode(level.node, e.rawName);
            }
            level.childNodes.push_back(node);
            if (e.isFolder()) {
                // Its own version is written when the walk is done with it.
                if (previous && !previous->isFolder()) m_store.close(node);
                m_store.folder(node, m_rootNode, folder.rawRelPath + e.rawName + '/');
                continue;
            }
            if (previous && previous->isFolder()) {
                m_store.close(node);
                m_store.closeSubtree(*previous);
                previous.reset();
            }
            Version v = VersionOf(e);
            const bool same = previous && SameMetadata(*previous, v);
            contents(folder, e, v, same ? &*previous : nullptr);
            if (m_options.media && e.readsAsFile(m_options.walk.noFollow) &&
                IsMediaName(e.name())) {
                if (same && m_previousMedia) {
                    v.media = previous->media;
                } else {
                    m_pendingMedia.push_back({&e, node, std::move(v), std::move(previous)});
                    if (m_pendingMedia.size() >= kMediaBatch) readMedia(folder);
                    continue;
                }
            }
            keep(node, std::move(v), previous, same);
        }
        readMedia(folder);
        for (const Store::Known& k : std::as_const(known)) {
            if (k.seen) continue;
            m_store.close(k.node);
            m_store.closeSubtree(k.version);
        }
    }

    // Writes the file's version unless the previous one (`same` metadata) holds all of it.
    void keep(std::int64_t node, Version&& v, const std::optional<Version>& previous, bool same) {
        if (same && (!v.hash || v.hash == previous->hash) && (!v.mp3 || v.mp3 == previous->mp3) &&
            (!m_options.media || v.media == previous->media))
            return;
        if (previous) m_store.close(node);
        m_store.insert(node, std::move(v));
    }

    // The media details of the files waiting for them, read side by side by the helpers.
    void readMedia(const WalkFolder& folder) {
        if (m_pendingMedia.empty()) return;
        std::vector<const DirEntry*> entries;
        for (const PendingMedia& p : m_pendingMedia)
            entries.push_back(p.entry);
        const std::vector<MediaInfo> read = ReadMediaInfoIn(
            folder, entries, m_options.root.display() + folder.relPath, m_options.walk.warning);
        for (std::size_t i = 0; i < m_pendingMedia.size(); ++i) {
            PendingMedia& p = m_pendingMedia[i];
            if (i < read.size()) p.version.media = PackMediaInfo(read[i], p.version.mp3);
            const bool same = p.previous && SameMetadata(*p.previous, p.version);
            keep(p.node, std::move(p.version), p.previous, same);
        }
        m_pendingMedia.clear();
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
                         QStringLiteral("cannot read the file to hash it: ") + ErrnoText(error));
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

    // Files open at once for the media helpers, as the export's walk has them.
    static constexpr std::size_t kMediaBatch = 32;

    Store& m_store;
    const AddOptions& m_options;
    DiskTreeSource m_disk;
    std::int64_t m_rootNode;
    bool m_reuse;
    bool m_previousMedia; // the previous snapshot read media details: its versions hold them
    quint64 m_rootDevice = 0;
    // Files of the folder being compared whose media details are read in one batch.
    struct PendingMedia {
        const DirEntry* entry;
        std::int64_t node;
        Version version;
        std::optional<Version> previous;
    };
    std::vector<PendingMedia> m_pendingMedia;
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
            // A root has no name of its own (name 0): its path is the snapshot's.
            db.exec("INSERT INTO nodes(parent, name) VALUES(NULL, 0)");
            v.rootNode = db.lastInsertId();
            db.prepare("INSERT INTO folders(node, root, path) VALUES(?1, ?1, x'')")
                .bind(1, v.rootNode)
                .run();
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

        db.prepare(
              "INSERT INTO snapshots(volume, state, started, root_path, options, "
              "time_resolution, hashed, mp3, media) VALUES(?1, 'running', ?2, ?3, ?4, ?5, ?6, ?7, "
              "?8)")
            .bind(1, volume->id)
            .bind(2, nowNs())
            .bindBlob(3, rootPath)
            .bind(4, FiltersToJson(options.walk))
            .bind(5, id.timeResolutionNs)
            .bind(6, std::int64_t(options.hash))
            .bind(7, std::int64_t(options.mp3))
            .bind(8, std::int64_t(options.media))
            .run();
        snapshotId = db.lastInsertId();

        const std::int64_t previousId = previous ? previous->id : 0;
        const std::int64_t firstNode = db.number("SELECT coalesce(max(id), 0) FROM nodes") + 1;
        const std::unique_ptr<Database> reader = catalog.readConnection();
        Writer writer(db, snapshotId, previousId);
        Store store(*reader, writer, firstNode, previousId);
        // The previous snapshot's versions serve as they are unless this one asks for more.
        const bool reuse = previous && (!options.hash || previous->hashed) &&
                           (!options.mp3 || previous->mp3) && (!options.media || previous->media) &&
                           !options.rehash;
        AddVisitor visitor(store, options, volume->rootNode, reuse, previous && previous->media);
        WalkTree(options.root, visitor, options.walk);

        if (visitor.trouble != 0)
            aborted =
                "the volume failed during the walk: " + std::string(std::strerror(visitor.trouble));
        else if (DeviceOf(rootPath) != device)
            aborted = "the volume went away during the walk";
        if (aborted.empty()) {
            writer.stop();
            db.prepare("UPDATE snapshots SET state = 'complete', finished = ?2, files = ?3, "
                       "folders = ?4, bytes = ?5, written = ?6 WHERE id = ?1")
                .bind(1, snapshotId)
                .bind(2, nowNs())
                .bind(3, visitor.files)
                .bind(4, visitor.folders)
                .bind(5, visitor.bytes)
                .bind(6, writer.written())
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
