#include "catalog/Catalog.h"

#include "catalog/Text.h"
#include "platform/Volume.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <tuple>
#include <unordered_map>

namespace treelan::catalog {

namespace {

// The schema as built; each later version adds a step to kUpgrades.
const char kSchema[] = R"sql(
CREATE TABLE volumes(
    id INTEGER PRIMARY KEY,
    label TEXT NOT NULL UNIQUE,
    identity TEXT NOT NULL,        -- uuid:..., fsid:..., mount:SOURCE TYPE
    root_in_fs BLOB NOT NULL,      -- the catalogued folder's path inside its file system
    fs_type TEXT NOT NULL DEFAULT '',
    fs_label TEXT NOT NULL DEFAULT '',
    root_node INTEGER NOT NULL,
    UNIQUE(identity, root_in_fs));
CREATE TABLE snapshots(
    id INTEGER PRIMARY KEY AUTOINCREMENT, -- a number once given is never given again
    volume INTEGER NOT NULL REFERENCES volumes(id),
    state TEXT NOT NULL CHECK(state IN ('running', 'complete', 'aborted')),
    started INTEGER NOT NULL,      -- ns since 1970 UTC
    finished INTEGER,
    root_path BLOB NOT NULL,       -- the folder as it was added, ending in "/"
    options TEXT NOT NULL DEFAULT '{}',
    time_resolution INTEGER NOT NULL DEFAULT 1, -- ns: 2 s on FAT, 10 ms on exFAT
    hashed INTEGER NOT NULL DEFAULT 0,
    mp3 INTEGER NOT NULL DEFAULT 0,
    files INTEGER NOT NULL DEFAULT 0,
    folders INTEGER NOT NULL DEFAULT 0,
    bytes INTEGER NOT NULL DEFAULT 0,
    written INTEGER NOT NULL DEFAULT 0,
    reason TEXT,
    media INTEGER NOT NULL DEFAULT 0); -- added with --media
CREATE INDEX snapshots_volume ON snapshots(volume, id);
-- Each name once; an add finds a name's id in a table of its own in memory (an index here, filled
-- in random order, cost more than all the rest of an add).
CREATE TABLE names(
    id INTEGER PRIMARY KEY,
    text TEXT NOT NULL,            -- as shown
    raw BLOB);                     -- the bytes, where they are not the text's UTF-8
CREATE VIRTUAL TABLE names_fts USING fts5(folded, content='', detail=none, columnsize=0,
                                          tokenize='trigram case_sensitive 1');
-- A folder's entries are listed by its version (children), so no index on parent is needed.
CREATE TABLE nodes(
    id INTEGER PRIMARY KEY,
    parent INTEGER,                -- NULL for a volume's root
    name INTEGER NOT NULL);
CREATE INDEX nodes_name ON nodes(name, parent); -- with the parent: a search needs no more
-- Each folder node's path below its volume's root, so that a search finds a hit's path in one
-- look-up instead of walking up its folders. A node keeps its parent and name, so its path never
-- changes.
CREATE TABLE folders(
    node INTEGER PRIMARY KEY,
    root INTEGER NOT NULL,         -- the volume's root node
    path BLOB NOT NULL);           -- "" for the root, else "a/b/"
CREATE TABLE versions(
    node INTEGER NOT NULL,
    first INTEGER NOT NULL,        -- the first snapshot it holds in
    last INTEGER,                  -- the last one; NULL: the volume's latest
    kind INTEGER NOT NULL,         -- 0 file, 1 folder, 2 link, 3 special, 4 not examined
    size INTEGER NOT NULL DEFAULT 0,
    mtime,                         -- ns since 1970; beyond that range TEXT of the FILETIME
    ctime INTEGER,
    inode INTEGER,
    mode INTEGER,
    error INTEGER,                 -- errno
    mp3 TEXT,                      -- duration TAB bit rate
    hash BLOB,                     -- SHA-256
    digest INTEGER,                -- folders: of their entries
    children BLOB,                 -- folders: node ids in enumeration order
    flags INTEGER,                 -- folders: unreadable 1, loop 2, other file system 4, not entered 8
    born INTEGER,                  -- 1: written by the volume's first snapshot
    media BLOB,                    -- media details, packed; NULL when none
    PRIMARY KEY(node, first)) WITHOUT ROWID;
-- What a snapshot changed, for diffs: the versions that begin and end there, with what a diff
-- compares, so it reads nothing else. The first snapshot of a volume is never what changed.
CREATE INDEX versions_first ON versions(first, last, kind, size, mtime, hash, flags, error, born)
    WHERE born IS NULL;
CREATE INDEX versions_last ON versions(last, first, kind, size, mtime, hash, flags, error)
    WHERE last IS NOT NULL;
)sql";

// Steps from schema version N (the index + 1) to N + 1. Columns are added at the end, where a
// row written before reads them as their default without being rewritten.
const char* const kUpgrades[] = {
    "ALTER TABLE versions ADD COLUMN media BLOB; "
    "ALTER TABLE snapshots ADD COLUMN media INTEGER NOT NULL DEFAULT 0; "
    "CREATE TABLE folders(node INTEGER PRIMARY KEY, root INTEGER NOT NULL, path BLOB NOT NULL); "
    // Down from each root through the nodes that have entries, the paths' bytes as they are.
    "INSERT INTO folders WITH RECURSIVE p(node, root, path) AS ("
    "SELECT root_node, root_node, CAST('' AS BLOB) FROM volumes UNION ALL "
    "SELECT n.id, p.root, CAST(p.path || CAST(coalesce(m.raw, m.text) AS BLOB) || '/' AS BLOB) "
    "FROM p JOIN nodes n ON n.parent = p.node JOIN names m ON m.id = n.name "
    "WHERE n.id IN (SELECT parent FROM nodes)) SELECT * FROM p;",
};
static_assert(std::size(kUpgrades) == kSchemaVersion - 1);

// What an older catalogue opened for reading lacks (it is upgraded on its first write only), as
// views of the same names that add the missing columns empty; the temporary schema is searched
// before the file's, so every statement reads through them.
const char* const kOlderViews[] = {
    "CREATE TEMP VIEW versions AS SELECT *, NULL AS media FROM main.versions; "
    "CREATE TEMP VIEW snapshots AS SELECT *, 0 AS media FROM main.snapshots; "
    "CREATE TEMP VIEW folders AS SELECT 0 AS node, 0 AS root, x'' AS path WHERE 0;",
};

std::string uriOf(const std::string& path, bool immutable) {
    std::string uri = "file:";
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '?' || c == '#' || c == '%' || c < 0x21 || c >= 0x7F) {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        } else {
            uri += char(c);
        }
    }
    if (immutable) uri += "?immutable=1";
    return uri;
}

// treelan_fold(text): the text as the search folds it, for filling the search index in SQL.
void foldFunction(sqlite3_context* context, int, sqlite3_value** values) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
    if (!text) {
        sqlite3_result_null(context);
        return;
    }
    const std::string folded =
        FoldText(std::string_view(text, std::size_t(sqlite3_value_bytes(values[0]))));
    sqlite3_result_text64(context, folded.data(), folded.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::File:
        return "file";
    case Kind::Folder:
        return "folder";
    case Kind::Link:
        return "link";
    case Kind::Special:
        return "special";
    case Kind::Unexamined:
        return "unexamined";
    }
    return "file";
}

namespace {
void appendVarint(std::string& out, std::uint64_t z) {
    while (z >= 0x80) {
        out += char((z & 0x7F) | 0x80);
        z >>= 7;
    }
    out += char(z);
}

std::uint64_t readVarint(std::string_view in, std::size_t& at) {
    std::uint64_t z = 0;
    for (int shift = 0; at < in.size() && shift < 64; shift += 7) {
        const auto b = static_cast<unsigned char>(in[at++]);
        z |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
    }
    return z;
}

std::pair<std::string, std::string> splitMp3(const std::optional<std::string>& mp3) {
    if (!mp3) return {};
    const std::size_t tab = mp3->find('\t');
    if (tab == std::string::npos) return {*mp3, {}};
    return {mp3->substr(0, tab), mp3->substr(tab + 1)};
}
} // namespace

std::optional<std::string> PackMedia(const MediaTexts& texts,
                                     const std::optional<std::string>& mp3) {
    const auto [duration, bitrate] = splitMp3(mp3);
    const bool timing = texts[0] != duration || texts[1] != bitrate;
    std::size_t end = kMediaTexts;
    while (end > 2 && texts[end - 1].empty())
        --end;
    if (!timing && end == 2) return std::nullopt;
    std::string out(1, timing ? '\1' : '\0');
    for (std::size_t i = timing ? 0 : 2; i < end; ++i) {
        appendVarint(out, texts[i].size());
        out += texts[i];
    }
    return out;
}

MediaTexts UnpackMedia(const std::optional<std::string>& media,
                       const std::optional<std::string>& mp3) {
    MediaTexts texts;
    std::tie(texts[0], texts[1]) = splitMp3(mp3);
    if (!media || media->empty()) return texts;
    const std::string_view in(*media);
    std::size_t at = 1;
    for (std::size_t i = (in[0] & 1) ? 0 : 2; i < kMediaTexts && at < in.size(); ++i) {
        const std::uint64_t n = std::min<std::uint64_t>(readVarint(in, at), in.size() - at);
        texts[i] = std::string(in.substr(at, std::size_t(n)));
        at += std::size_t(n);
    }
    return texts;
}

std::string PackIds(const std::vector<std::int64_t>& ids) {
    std::string out;
    out.reserve(ids.size() + 8);
    std::int64_t previous = 0;
    for (const std::int64_t id : ids) {
        const std::int64_t delta = id - previous;
        previous = id;
        auto z = (std::uint64_t(delta) << 1) ^ std::uint64_t(delta >> 63);
        while (z >= 0x80) {
            out += char((z & 0x7F) | 0x80);
            z >>= 7;
        }
        out += char(z);
    }
    return out;
}

std::vector<std::int64_t> UnpackIds(std::string_view packed) {
    std::vector<std::int64_t> ids;
    ids.reserve(packed.size());
    std::int64_t previous = 0;
    for (std::size_t at = 0; at < packed.size();) {
        std::uint64_t z = 0;
        for (int shift = 0; at < packed.size() && shift < 64; shift += 7) {
            const auto b = static_cast<unsigned char>(packed[at++]);
            z |= std::uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) break;
        }
        previous += std::int64_t(z >> 1) ^ -std::int64_t(z & 1);
        ids.push_back(previous);
    }
    return ids;
}

std::string Catalog::DefaultPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/treelan/catalog.db";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/treelan/catalog.db";
}

Catalog::Catalog(const std::string& path, Mode mode, const Warning& warning)
    : m_path(path), m_mode(mode) {
    if (mode == Mode::Write)
        openWrite(warning);
    else
        openRead();
    sqlite3_create_function_v2(m_db.handle(), "treelan_fold", 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                               foldFunction, nullptr, nullptr, nullptr);
}

void Catalog::openRead() {
    m_db.open(uriOf(m_path, false), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, m_path);
    sqlite3_busy_timeout(m_db.handle(), 5000);
    // Pages read in place: a search touches a few pages each of thousands of entries, and
    // copying each through a read() cost more than the search itself.
    m_db.exec("PRAGMA mmap_size = 1073741824");
    try {
        checkIdentity(false);
    } catch (const CatalogError&) {
        // A catalogue on read-only media, or in a folder this user cannot write: without its
        // shared-memory index SQLite cannot take a read lock. Nobody can write it either, so
        // it is read as unchanging.
        const int code = sqlite3_extended_errcode(m_db.handle()) & 0xFF;
        if (code != SQLITE_CANTOPEN && code != SQLITE_READONLY && code != SQLITE_IOERR) throw;
        m_db.open(uriOf(m_path, true), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, m_path);
        m_db.exec("PRAGMA mmap_size = 1073741824");
        checkIdentity(false);
    }
}

std::unique_ptr<Database> Catalog::readConnection() {
    auto reader = std::make_unique<Database>();
    reader->open(uriOf(m_path, false), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, m_path);
    sqlite3_busy_timeout(reader->handle(), 5000);
    // Not mapped: an add reads a page or so per folder, and mapped pages would count as its
    // memory.
    return reader;
}

void Catalog::openWrite(const Warning& warning) {
    int error = 0;
    const std::string folder = folderOf(m_path);
    if (!MakeFolderPath(folder, error))
        throw CatalogError(folder +
                           ": cannot make the catalogue's folder: " + std::strerror(error));
    if (warning && OnNetworkFileSystem(folder))
        warning(m_path +
                ": the catalogue lies on a network file system (NFS or SMB), which cannot share "
                "the memory that SQLite's write-ahead log needs between computers; keep it on a "
                "local disk");
    m_db.open(uriOf(m_path, false),
              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, m_path);
    sqlite3_busy_timeout(m_db.handle(), 5000);
    checkIdentity(true);
    m_db.exec("PRAGMA synchronous = NORMAL");
    // 12 MiB of pages: an add of a million files stays within 64 MiB with its table of names.
    m_db.exec("PRAGMA cache_size = -12288");
    if (m_db.number("SELECT count(*) FROM snapshots WHERE state = 'running'") > 0) {
        Transaction t(m_db);
        rollBackRunning();
        t.commit();
    }
}

void Catalog::checkIdentity(bool forWriting) {
    const std::int64_t pages = m_db.number("PRAGMA page_count");
    if (pages == 0) {
        if (!forWriting) throw CatalogError(m_path + ": not a catalogue (the file is empty)");
        create();
        return;
    }
    const std::int64_t id = m_db.number("PRAGMA application_id");
    if (id != kApplicationId)
        throw CatalogError(m_path + ": not a catalogue (an SQLite database of another program)");
    const std::int64_t version = m_db.number("PRAGMA user_version");
    if (version > kSchemaVersion && forWriting)
        throw CatalogError(m_path + ": the catalogue was written by a newer Treelan (schema " +
                           std::to_string(version) + "; this one writes schema " +
                           std::to_string(kSchemaVersion) + "): not changed");
    if (version < 1) throw CatalogError(m_path + ": not a catalogue (no schema version)");
    if (version < kSchemaVersion && forWriting) upgrade(version);
    if (version < kSchemaVersion && !forWriting)
        for (std::int64_t v = version; v < kSchemaVersion; ++v)
            m_db.exec(kOlderViews[v - 1]);
}

void Catalog::create() {
    // Two first writers at once: the second finds the schema made when it gets the lock.
    // 16 KiB pages: a first add writes a quarter of the pages and write calls (into the log and
    // again into the file), and a search touches fewer. Larger ones cost more than they save
    // where an add meets an index page it no longer holds (a name met before, in an index ordered
    // by name), which it reads again whole.
    m_db.exec("PRAGMA page_size = 16384");
    m_db.exec("PRAGMA journal_mode = WAL");
    Transaction t(m_db);
    if (m_db.number("SELECT count(*) FROM sqlite_schema") > 0) {
        t.commit();
        checkIdentity(true);
        return;
    }
    m_db.exec("PRAGMA application_id = " + std::to_string(kApplicationId));
    m_db.exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    m_db.exec(kSchema);
    t.commit();
}

void Catalog::upgrade(std::int64_t from) {
    Transaction t(m_db);
    // Read again under the lock: another writer may have upgraded it meanwhile.
    for (std::int64_t v = m_db.number("PRAGMA user_version"); v < kSchemaVersion; ++v) {
        const char* step = kUpgrades[v - 1];
        if (step) m_db.exec(step);
    }
    m_db.exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    t.commit();
    (void)from;
}

void Catalog::rollBackRunning() {
    // A snapshot is written in one transaction, so a running one never reaches the file; one
    // found here came from elsewhere and is taken back whole.
    Statement running = m_db.prepare("SELECT id FROM snapshots WHERE state = 'running'");
    std::vector<std::int64_t> ids;
    while (running.step())
        ids.push_back(running.integer(0));
    for (const std::int64_t id : ids) {
        m_db.prepare("DELETE FROM versions WHERE first = ?1").bind(1, id).run();
        m_db.prepare("UPDATE snapshots SET state = 'aborted', reason = 'interrupted' WHERE id = ?1")
            .bind(1, id)
            .run();
    }
}

const char* Catalog::versionColumns() {
    return "v.node, v.first, v.last, v.kind, v.size, v.mtime, v.ctime, v.inode, v.mode, v.error, "
           "v.mp3, v.hash, v.digest, v.children, v.flags, v.media";
}

Version Catalog::readVersion(const Statement& s, int at) {
    Version v;
    v.node = s.integer(at);
    v.first = s.integer(at + 1);
    v.last = s.isNull(at + 2) ? -1 : s.integer(at + 2);
    v.kind = static_cast<Kind>(s.integer(at + 3));
    v.size = s.integer(at + 4);
    if (s.type(at + 5) == SQLITE_TEXT) {
        // Beyond the range of nanoseconds: the FILETIME itself.
        v.fileTime = std::strtoll(std::string(s.text(at + 5)).c_str(), nullptr, 10);
        v.mtime = v.fileTime < 116444736000000000LL ? INT64_MIN : INT64_MAX;
    } else {
        v.mtime = s.integer(at + 5);
    }
    v.ctime = s.integer(at + 6);
    v.inode = s.integer(at + 7);
    v.mode = s.integer(at + 8);
    v.error = int(s.integer(at + 9));
    if (!s.isNull(at + 10)) v.mp3 = std::string(s.text(at + 10));
    if (!s.isNull(at + 11)) v.hash = std::string(s.blob(at + 11));
    if (!s.isNull(at + 12)) v.digest = s.integer(at + 12);
    v.children = std::string(s.blob(at + 13));
    v.flags = int(s.integer(at + 14));
    if (!s.isNull(at + 15)) v.media = std::string(s.blob(at + 15));
    return v;
}

SnapshotRow Catalog::readSnapshot(const Statement& s) {
    SnapshotRow r;
    r.id = s.integer(0);
    r.volume = s.integer(1);
    r.label = std::string(s.text(2));
    r.state = std::string(s.text(3));
    r.started = s.integer(4);
    r.finished = s.integer(5);
    r.rootPath = std::string(s.blob(6));
    r.options = std::string(s.text(7));
    r.resolution = s.integer(8);
    r.hashed = s.integer(9) != 0;
    r.mp3 = s.integer(10) != 0;
    r.files = s.integer(11);
    r.folders = s.integer(12);
    r.bytes = s.integer(13);
    r.written = s.integer(14);
    r.reason = std::string(s.text(15));
    r.media = s.integer(16) != 0;
    return r;
}

namespace {
const char kSnapshotQuery[] =
    "SELECT s.id, s.volume, v.label, s.state, s.started, s.finished, s.root_path, s.options, "
    "s.time_resolution, s.hashed, s.mp3, s.files, s.folders, s.bytes, s.written, s.reason, "
    "s.media FROM snapshots s JOIN volumes v ON v.id = s.volume ";

VolumeRow readVolume(const Statement& s) {
    VolumeRow v;
    v.id = s.integer(0);
    v.label = std::string(s.text(1));
    v.identity = std::string(s.text(2));
    v.rootInFs = std::string(s.blob(3));
    v.fsType = std::string(s.text(4));
    v.fsLabel = std::string(s.text(5));
    v.rootNode = s.integer(6);
    return v;
}
const char kVolumeQuery[] =
    "SELECT id, label, identity, root_in_fs, fs_type, fs_label, root_node FROM volumes ";
} // namespace

std::vector<VolumeRow> Catalog::volumes() {
    std::vector<VolumeRow> out;
    Statement s = m_db.prepare(std::string(kVolumeQuery) + "ORDER BY label");
    while (s.step())
        out.push_back(readVolume(s));
    return out;
}

std::optional<VolumeRow> Catalog::volume(std::int64_t id) {
    Statement s = m_db.prepare(std::string(kVolumeQuery) + "WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    VolumeRow v = readVolume(s);
    s.reset();
    return v;
}

std::optional<VolumeRow> Catalog::volumeByLabel(const std::string& label) {
    Statement s = m_db.prepare(std::string(kVolumeQuery) + "WHERE label = ?1");
    s.bind(1, label);
    if (!s.step()) return std::nullopt;
    VolumeRow v = readVolume(s);
    s.reset();
    return v;
}

std::vector<SnapshotRow> Catalog::snapshots() {
    std::vector<SnapshotRow> out;
    Statement s = m_db.prepare(std::string(kSnapshotQuery) + "ORDER BY s.id");
    while (s.step())
        out.push_back(readSnapshot(s));
    return out;
}

std::optional<SnapshotRow> Catalog::snapshot(std::int64_t id) {
    Statement s = m_db.prepare(std::string(kSnapshotQuery) + "WHERE s.id = ?1");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    SnapshotRow r = readSnapshot(s);
    s.reset();
    return r;
}

std::optional<SnapshotRow> Catalog::latest(std::int64_t volume) {
    Statement s = m_db.prepare(std::string(kSnapshotQuery) +
                               "WHERE s.volume = ?1 AND s.state = 'complete' ORDER BY s.id DESC "
                               "LIMIT 1");
    s.bind(1, volume);
    if (!s.step()) return std::nullopt;
    SnapshotRow r = readSnapshot(s);
    s.reset();
    return r;
}

std::vector<std::int64_t> Catalog::completeSnapshots(std::int64_t volume) {
    std::vector<std::int64_t> out;
    Statement s = m_db.prepare(
        "SELECT id FROM snapshots WHERE volume = ?1 AND state = 'complete' ORDER BY id");
    s.bind(1, volume);
    while (s.step())
        out.push_back(s.integer(0));
    return out;
}

SnapshotRow Catalog::resolve(const std::string& name) {
    const auto allDigits = [](const std::string& s) {
        return !s.empty() && s.size() < 18 &&
               std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::size_t at = name.rfind('@');
    std::optional<SnapshotRow> found;
    if (allDigits(name)) {
        found = snapshot(std::stoll(name));
        if (!found) throw CatalogError("no snapshot " + name + " in the catalogue");
    } else if (at != std::string::npos) {
        const std::string label = name.substr(0, at), number = name.substr(at + 1);
        if (!allDigits(number))
            throw CatalogError("'" + name + "': a snapshot is N, LABEL or LABEL@N");
        const std::optional<VolumeRow> v = volumeByLabel(label);
        if (!v) throw CatalogError("no volume labelled '" + label + "' in the catalogue");
        found = snapshot(std::stoll(number));
        if (!found || found->volume != v->id)
            throw CatalogError("snapshot " + number + " is not one of '" + label + "'");
    } else {
        const std::optional<VolumeRow> v = volumeByLabel(name);
        if (!v) throw CatalogError("no volume labelled '" + name + "' in the catalogue");
        found = latest(v->id);
        if (!found) throw CatalogError("volume '" + name + "' has no complete snapshot");
    }
    if (found->state != "complete")
        throw CatalogError("snapshot " + std::to_string(found->id) + " is " + found->state +
                           (found->reason.empty() ? "" : " (" + found->reason + ")"));
    return *found;
}

std::optional<Version> Catalog::versionAt(std::int64_t node, std::int64_t snapshot) {
    if (!m_versionAt.prepared())
        m_versionAt = m_db.prepare(std::string("SELECT ") + versionColumns() +
                                   " FROM versions v WHERE node = ?1 AND first <= ?2 AND "
                                   "(last IS NULL OR last >= ?2)");
    m_versionAt.bind(1, node).bind(2, snapshot);
    if (!m_versionAt.step()) return std::nullopt;
    Version v = readVersion(m_versionAt, 0);
    m_versionAt.reset();
    return v;
}

std::vector<Child> Catalog::childrenOf(const Version& folder, std::int64_t snapshot) {
    std::vector<Child> out;
    if (!folder.isFolder()) return out;
    const std::vector<std::int64_t> ids = UnpackIds(folder.children);
    out.reserve(ids.size());
    if (!m_child.prepared())
        m_child =
            m_db.prepare(std::string("SELECT n.name, nm.raw, nm.text, ") + versionColumns() +
                         " FROM nodes n JOIN names nm ON nm.id = n.name JOIN versions v ON "
                         "v.node = n.id AND v.first <= ?2 AND (v.last IS NULL OR v.last >= ?2) "
                         "WHERE n.id = ?1");
    for (const std::int64_t id : ids) {
        m_child.bind(1, id).bind(2, snapshot);
        if (!m_child.step()) continue;
        Child c;
        c.node = id;
        c.nameId = m_child.integer(0);
        c.text = std::string(m_child.text(2));
        c.raw = m_child.isNull(1) ? c.text : std::string(m_child.blob(1));
        c.version = readVersion(m_child, 3);
        m_child.reset();
        out.push_back(std::move(c));
    }
    return out;
}

void Catalog::name(std::int64_t nameId, std::string& raw, std::string& text) {
    if (!m_name.prepared()) m_name = m_db.prepare("SELECT raw, text FROM names WHERE id = ?1");
    m_name.bind(1, nameId);
    if (m_name.step()) {
        text = std::string(m_name.text(1));
        raw = m_name.isNull(0) ? text : std::string(m_name.blob(0));
        m_name.reset();
    } else {
        raw.clear();
        text.clear();
    }
}

std::unordered_map<std::int64_t, Catalog::NodePath>
Catalog::paths(const std::vector<std::int64_t>& nodes) {
    std::string ids = "[";
    for (const std::int64_t id : nodes) {
        if (ids.size() > 1) ids += ',';
        ids += std::to_string(id);
    }
    ids += ']';
    // Each node and everything above it, once.
    Statement up = m_db.prepare(
        "WITH RECURSIVE up(id) AS (SELECT value FROM json_each(?1) UNION SELECT n.parent FROM "
        "nodes n JOIN up ON n.id = up.id WHERE n.parent IS NOT NULL) "
        "SELECT n.id, n.parent, m.raw, m.text FROM up JOIN nodes n ON n.id = up.id "
        "LEFT JOIN names m ON m.id = n.name");
    up.bind(1, ids);
    std::unordered_map<std::int64_t, std::pair<std::int64_t, std::string>> links; // parent, name
    while (up.step())
        links.emplace(up.integer(0),
                      std::make_pair(up.isNull(1) ? 0 : up.integer(1),
                                     std::string(up.isNull(2) ? up.text(3) : up.blob(2))));
    std::unordered_map<std::int64_t, NodePath> out;
    // Down from the roots, each path made once from its parent's.
    const std::function<const NodePath&(std::int64_t)> pathOf =
        [&](std::int64_t id) -> const NodePath& {
        const auto known = out.find(id);
        if (known != out.end()) return known->second;
        NodePath p;
        const auto link = links.find(id);
        if (link != links.end()) {
            if (link->second.first == 0) {
                p.root = id;
            } else {
                const NodePath& parent = pathOf(link->second.first);
                p.root = parent.root;
                p.path = parent.path.empty() ? link->second.second
                                             : parent.path + '/' + link->second.second;
            }
        }
        return out.emplace(id, std::move(p)).first->second;
    };
    for (const std::int64_t id : nodes)
        pathOf(id);
    return out;
}

void Catalog::dropSnapshot(const SnapshotRow& s) {
    const std::vector<std::int64_t> all = completeSnapshots(s.volume);
    std::int64_t previous = -1, next = -1;
    for (const std::int64_t id : all) {
        if (id < s.id) previous = id;
        if (id > s.id && next < 0) next = id;
    }
    const auto run = [this](const char* sql, std::int64_t a, std::int64_t b = 0) {
        m_db.prepare(sql).bind(1, a).bind(2, b).run();
    };
    run("DELETE FROM versions WHERE first = ?1 AND last = ?1", s.id);
    if (next >= 0)
        run("UPDATE versions SET first = ?2 WHERE first = ?1", s.id, next);
    else
        run("DELETE FROM versions WHERE first = ?1", s.id);
    if (previous >= 0 && next < 0)
        // What the dropped latest snapshot no longer saw holds again in the one before it.
        run("UPDATE versions SET last = NULL WHERE last = ?1", previous);
    if (previous >= 0)
        run("UPDATE versions SET last = ?2 WHERE last = ?1", s.id, previous);
    else
        run("DELETE FROM versions WHERE last = ?1", s.id);
    run("DELETE FROM snapshots WHERE id = ?1", s.id);
    Statement left = m_db.prepare("SELECT 1 FROM snapshots WHERE volume = ?1 LIMIT 1");
    left.bind(1, s.volume);
    const bool volumeLeft = left.step();
    left.reset();
    if (!volumeLeft) run("DELETE FROM volumes WHERE id = ?1", s.volume);
    // Nodes and names that no snapshot uses any more.
    m_db.exec("DELETE FROM nodes WHERE id NOT IN (SELECT node FROM versions) AND id NOT IN "
              "(SELECT root_node FROM volumes)");
    m_db.exec("DELETE FROM folders WHERE node NOT IN (SELECT id FROM nodes)");
    Statement unused =
        m_db.prepare("SELECT id, text FROM names WHERE id NOT IN (SELECT name FROM nodes)");
    Statement unindex =
        m_db.prepare("INSERT INTO names_fts(names_fts, rowid, folded) VALUES('delete', ?1, ?2)");
    Statement remove = m_db.prepare("DELETE FROM names WHERE id = ?1");
    std::vector<std::pair<std::int64_t, std::string>> gone;
    while (unused.step())
        gone.emplace_back(unused.integer(0), std::string(unused.text(1)));
    for (const auto& [id, text] : gone) {
        unindex.bind(1, id).bind(2, FoldText(text)).run();
        remove.bind(1, id).run();
    }
}

} // namespace treelan::catalog
