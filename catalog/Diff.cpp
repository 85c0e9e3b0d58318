#include "catalog/Diff.h"

#include "catalog/Entries.h"
#include "catalog/Source.h"
#include "catalog/Text.h"
#include "catalog/WalkFilters.h"
#include "codec/TextEscape.h"
#include "platform/FileError.h"
#include "platform/FileHash.h"
#include "platform/Volume.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

namespace treelan::catalog {

namespace {

std::int64_t floorTo(std::int64_t ns, std::int64_t step) {
    std::int64_t q = ns / step;
    if (ns % step != 0 && ns < 0) --q;
    return q;
}

Side sideOf(const Version& v) {
    Side s;
    s.present = true;
    s.kind = v.kind;
    s.size = v.isFolder() ? 0 : v.size;
    s.mtime = v.mtime;
    if (v.hash) s.hash = *v.hash;
    return s;
}

std::string reasonOf(int flags, int error) {
    if (flags & kLoop) return "leads back to a folder above it; not followed";
    return error != 0 ? std::strerror(error) : "not examined";
}

// Compares two entries that stand at the same path; appends the change, if any.
class Judge {
public:
    explicit Judge(std::int64_t resolution) : m_resolution(resolution) {}

    // False when the entries are alike.
    bool compare(const std::string& path, const Version& a, const Version& b, Change& out) const {
        out = Change();
        out.path = path;
        out.before = sideOf(a);
        out.after = sideOf(b);
        if (a.kind == Kind::Unexamined || b.kind == Kind::Unexamined) {
            out.op = Op::NotCompared;
            out.note = reasonOf(0, a.kind == Kind::Unexamined ? a.error : b.error);
            return true;
        }
        const int badA = a.isFolder() ? a.flags & (kUnreadable | kLoop) : 0;
        const int badB = b.isFolder() ? b.flags & (kUnreadable | kLoop) : 0;
        if (badA || badB) {
            out.op = Op::NotCompared;
            out.note = badB ? reasonOf(badB, b.error) : reasonOf(badA, a.error);
            return true;
        }
        if (a.kind != b.kind) {
            out.op = Op::Type;
            return true;
        }
        if (a.isFolder()) return false; // its entries tell
        if (a.size != b.size || (a.hash && b.hash && *a.hash != *b.hash)) {
            out.op = Op::Modified;
            if (a.size == b.size && sameTime(a.mtime, b.mtime))
                out.note = "size and date unchanged";
            return true;
        }
        if (!sameTime(a.mtime, b.mtime)) {
            out.op = Op::Metadata;
            return true;
        }
        return false;
    }

    bool sameTime(std::int64_t a, std::int64_t b) const {
        return floorTo(a, m_resolution) == floorTo(b, m_resolution);
    }
    std::int64_t resolution() const { return m_resolution; }

private:
    std::int64_t m_resolution;
};

Change added(const std::string& path, const Version& v) {
    Change c;
    c.op = Op::Added;
    c.path = path;
    c.after = sideOf(v);
    return c;
}

Change removed(const std::string& path, const Version& v) {
    Change c;
    c.op = Op::Removed;
    c.path = path;
    c.before = sideOf(v);
    return c;
}

// Lists a snapshot's subtree below the folder `folder` (at `prefix`, ending in "/") as removed
// or added.
void listSubtree(Catalog& catalog, const Version& folder, std::int64_t snapshot,
                 const std::string& prefix, bool asAdded, std::vector<Change>& out) {
    std::vector<std::pair<Version, std::string>> todo{{folder, prefix}};
    while (!todo.empty()) {
        auto [version, path] = std::move(todo.back());
        todo.pop_back();
        for (Child& c : catalog.childrenOf(version, snapshot)) {
            std::string p = path + c.raw;
            if (c.version.isFolder()) p += '/';
            out.push_back(asAdded ? added(p, c.version) : removed(p, c.version));
            if (c.version.isFolder()) todo.emplace_back(std::move(c.version), p);
        }
    }
}

// Two snapshots of one volume: the versions that begin or end between them.
void rangeDiff(Catalog& catalog, const SnapshotRow& a, const SnapshotRow& b, const Judge& judge,
               std::vector<Change>& out) {
    Database& db = catalog.db();
    // The versions valid in `x` but not in `y`, by node.
    const auto validInNot = [&](const SnapshotRow& x, const SnapshotRow& y) {
        std::unordered_map<std::int64_t, Version> found;
        std::string sql =
            "SELECT v.node, v.first, v.last, v.kind, v.size, v.mtime, v.hash, v.flags, v.error "
            "FROM versions v WHERE ";
        if (x.id > y.id)
            sql += "v.born IS NULL AND v.first IN (SELECT id FROM snapshots WHERE volume = ?1 AND "
                   "id > ?3 AND id <= ?2) AND (v.last IS NULL OR v.last >= ?2)";
        else
            sql +=
                "v.last IN (SELECT id FROM snapshots WHERE volume = ?1 AND id >= ?2 AND id < ?3) "
                "AND v.first <= ?2";
        Statement s = db.prepare(sql);
        s.bind(1, x.volume).bind(2, x.id).bind(3, y.id);
        while (s.step()) {
            Version v;
            v.node = s.integer(0);
            v.first = s.integer(1);
            v.last = s.isNull(2) ? -1 : s.integer(2);
            v.kind = static_cast<Kind>(s.integer(3));
            v.size = s.integer(4);
            v.mtime = s.type(5) == SQLITE_TEXT ? INT64_MIN : s.integer(5);
            if (!s.isNull(6)) v.hash = std::string(s.blob(6));
            v.flags = int(s.integer(7));
            v.error = int(s.integer(8));
            found.emplace(v.node, std::move(v));
        }
        return found;
    };
    const auto before = validInNot(a, b);
    const auto after = validInNot(b, a);
    std::vector<std::int64_t> nodes;
    nodes.reserve(before.size() + after.size());
    for (const auto& [node, v] : before)
        nodes.push_back(node);
    for (const auto& [node, v] : after)
        nodes.push_back(node);
    const auto paths = catalog.paths(nodes);
    const auto pathOf = [&](const Version& v) {
        const auto it = paths.find(v.node);
        std::string p = it == paths.end() ? std::string() : it->second.path;
        if (v.isFolder() && !p.empty()) p += '/';
        return p;
    };
    // By node; an entry removed and made again has a new node, so what is left is paired by path.
    std::map<std::string, const Version*> gone;
    for (const auto& [node, v] : before) {
        const auto other = after.find(node);
        if (other == after.end()) {
            gone.emplace(pathOf(v), &v);
            continue;
        }
        Change c;
        if (judge.compare(pathOf(other->second), v, other->second, c)) out.push_back(std::move(c));
    }
    for (const auto& [node, v] : after) {
        if (before.count(node)) continue;
        std::string p = pathOf(v);
        auto same = gone.find(p);
        if (same == gone.end() && v.isFolder()) same = gone.find(p.substr(0, p.size() - 1));
        if (same == gone.end() && !v.isFolder()) same = gone.find(p + '/');
        if (same == gone.end()) {
            out.push_back(added(p, v));
            continue;
        }
        Change c;
        if (judge.compare(p, *same->second, v, c)) out.push_back(std::move(c));
        gone.erase(same);
    }
    for (const auto& [p, v] : gone)
        out.push_back(removed(p, *v));
}

// Walks the other side (a folder on disk or a snapshot of another volume) and compares each
// folder with the snapshot's folder at the same path.
class CompareVisitor final : public WalkVisitor {
public:
    CompareVisitor(Catalog& catalog, const SnapshotRow& a, const VolumeRow& volume,
                   const Judge& judge, const DiffOptions& options, const SnapshotTreeSource* other,
                   bool sameVolume, std::vector<Change>& out)
        : m_catalog(catalog), m_a(a), m_volume(volume), m_judge(judge), m_options(options),
          m_other(other), m_sameVolume(sameVolume), m_out(out) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        const std::size_t depth = std::size_t(folder.depth);
        if (m_levels.size() <= depth) m_levels.resize(depth + 1);
        Level& level = m_levels[depth];
        level.childNodes.assign(folder.entries.size(), 0);
        level.childVersions.assign(folder.entries.size(), std::nullopt);
        if (depth == 0) {
            level.node = m_volume.rootNode;
            level.version = m_catalog.versionAt(level.node, m_a.id);
            level.skip = false;
        }
        const std::string path = folder.rawRelPath.toStdString();
        if (level.skip) return;
        if (!folder.readable || folder.loop) {
            // This side could not be read: what is inside is not compared.
            Change c;
            c.op = Op::NotCompared;
            c.path = path;
            c.note = folder.loop ? "leads back to a folder above it; not followed"
                                 : std::strerror(folder.error);
            if (level.version) c.before = sideOf(*level.version);
            m_out.push_back(std::move(c));
            return;
        }
        for (std::size_t i = 0; i < folder.entries.size(); ++i)
            if (folder.entries[i].isFolder()) children.push_back(i);
        if (!level.version) {
            for (std::size_t i = 0; i < folder.entries.size(); ++i)
                m_out.push_back(added(path + entryPath(folder.entries[i]), hashed(folder, i)));
            return;
        }
        const Version& mine = *level.version;
        if (mine.flags & (kUnreadable | kLoop)) {
            // Told already where its parent was compared.
            for (std::size_t i = 0; i < level.childNodes.size(); ++i)
                level.childNodes[i] = -1;
            return;
        }
        if (m_sameVolume && !m_options.hashContents && mine.digest &&
            *mine.digest == DigestOf(folder.entries)) {
            // Nothing in this folder itself changed; its subfolders are looked at in turn.
            const std::vector<std::int64_t> ids = UnpackIds(mine.children);
            if (ids.size() == folder.entries.size()) {
                level.childNodes = ids;
                return;
            }
        }
        std::unordered_map<std::string, Child> known;
        for (Child& c : m_catalog.childrenOf(mine, m_a.id))
            known.emplace(c.raw, std::move(c));
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            const std::string raw = e.rawName.toStdString();
            const auto it = known.find(raw);
            Version theirs = otherVersion(folder, i);
            const std::string p = path + entryPath(e);
            if (it == known.end()) {
                m_out.push_back(added(p, hashed(folder, i)));
                continue;
            }
            const Child& child = it->second;
            // Verifying: a file whose size changed is told by its size, unless --rehash.
            if (child.version.hash && (child.version.size == e.size || m_options.rehash))
                theirs = hashed(folder, i);
            Change c;
            if (m_judge.compare(p, child.version, theirs, c)) {
                if (c.op == Op::Type && child.version.isFolder())
                    listSubtree(m_catalog, child.version, m_a.id, p + "/", false, m_out);
                m_out.push_back(std::move(c));
            }
            if (e.isFolder() && child.version.isFolder()) {
                level.childNodes[i] = child.node;
                level.childVersions[i] = child.version;
            }
            known.erase(it);
        }
        for (const auto& [raw, child] : known) {
            std::string p = path + raw;
            if (child.version.isFolder()) {
                p += '/';
                listSubtree(m_catalog, child.version, m_a.id, p, false, m_out);
            }
            m_out.push_back(removed(p, child.version));
        }
    }

    bool childBegin(WalkFolder& parent, const DirEntry& child) override {
        const std::size_t depth = std::size_t(parent.depth) + 1;
        if (m_levels.size() <= depth) m_levels.resize(depth + 1);
        Level& up = m_levels[depth - 1];
        Level& level = m_levels[depth];
        const std::size_t i = std::size_t(&child - parent.entries.data());
        level.skip = up.skip || !parent.readable || up.childNodes[i] < 0;
        level.node = level.skip ? 0 : up.childNodes[i];
        level.version.reset();
        if (level.node > 0)
            level.version =
                up.childVersions[i] ? up.childVersions[i] : m_catalog.versionAt(level.node, m_a.id);
        if (!up.version && !up.skip) level.version.reset(); // inside an added folder
        return true;
    }

    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override {}
    void folderDone(WalkFolder&) override {}

private:
    struct Level {
        std::int64_t node = 0; // 0: not in the snapshot
        std::optional<Version> version;
        bool skip = false;
        std::vector<std::int64_t> childNodes; // -1: not to be compared
        std::vector<std::optional<Version>> childVersions;
    };

    static std::string entryPath(const DirEntry& e) {
        std::string p = e.rawName.toStdString();
        if (e.isFolder()) p += '/';
        return p;
    }

    // The other side's version, with the file's SHA-256 read from the disk when verifying.
    Version hashed(const WalkFolder& folder, std::size_t i) const {
        Version v = otherVersion(folder, i);
        const DirEntry& e = folder.entries[i];
        if (!m_options.hashContents || e.kind != DirEntry::Kind::File || folder.fd < 0) return v;
        Sha256Digest digest;
        int error = 0;
        if (Sha256OfFile(folder.fd, e.rawName, digest, error)) {
            v.hash = std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
        } else {
            v.kind = Kind::Unexamined;
            v.error = error;
        }
        return v;
    }

    Version otherVersion(const WalkFolder& folder, std::size_t i) const {
        if (m_other)
            if (const Version* v = m_other->versionOf(folder, folder.entries[i])) return *v;
        return VersionOf(folder.entries[i]);
    }

    Catalog& m_catalog;
    const SnapshotRow& m_a;
    const VolumeRow& m_volume;
    const Judge& m_judge;
    const DiffOptions& m_options;
    const SnapshotTreeSource* m_other;
    bool m_sameVolume;
    std::vector<Change>& m_out;
    std::vector<Level> m_levels;
};

bool isFolderPath(const std::string& p) {
    return !p.empty() && p.back() == '/';
}

std::string parentOf(const std::string& p) {
    std::string s = isFolderPath(p) ? p.substr(0, p.size() - 1) : p;
    const std::size_t slash = s.rfind('/');
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

bool below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
}

// Whether `path` or a folder above it is in `folders`.
bool inOrBelow(const std::string& path, const std::set<std::string>& folders) {
    if (folders.empty()) return false;
    for (std::string p = path; !p.empty(); p = parentOf(p))
        if (folders.count(p)) return true;
    return false;
}

// Pairs removed and added entries into moves, one to one where the pairing is unambiguous.
void findMoves(std::vector<Change>& changes, const Judge& judge) {
    std::sort(changes.begin(), changes.end(),
              [](const Change& a, const Change& b) { return a.path < b.path; });
    std::vector<const Change*> removedList, addedList;
    std::set<std::string> removedFolders, addedFolders;
    for (const Change& c : changes) {
        if (c.op == Op::Removed) {
            removedList.push_back(&c);
            if (c.before.kind == Kind::Folder) removedFolders.insert(c.path);
        }
        if (c.op == Op::Added) {
            addedList.push_back(&c);
            if (c.after.kind == Kind::Folder) addedFolders.insert(c.path);
        }
    }
    struct Subtree {
        const Change* folder = nullptr;
        std::vector<const Change*> members; // by path
        std::string signature;
    };
    // The top folders of removed (added) subtrees, each with what lies below it.
    const auto subtrees = [&](const std::set<std::string>& folders,
                              const std::vector<const Change*>& list, bool old) {
        std::vector<Subtree> out;
        for (const Change* c : list) {
            if (!folders.count(c->path) || folders.count(parentOf(c->path))) continue;
            Subtree t;
            t.folder = c;
            auto it =
                std::upper_bound(list.begin(), list.end(), c->path,
                                 [](const std::string& p, const Change* x) { return p < x->path; });
            for (; it != list.end() && below((*it)->path, c->path); ++it) {
                t.members.push_back(*it);
                const Side& s = old ? (*it)->before : (*it)->after;
                t.signature += (*it)->path.substr(c->path.size());
                t.signature += '\0';
                t.signature +=
                    std::to_string(int(s.kind)) + ':' + std::to_string(s.size) + ':' +
                    (s.kind == Kind::Folder ? std::string()
                                            : std::to_string(floorTo(s.mtime, judge.resolution())));
                t.signature += '\0';
            }
            out.push_back(std::move(t));
        }
        return out;
    };
    std::vector<Change> moves;
    std::set<std::string> movedAway, movedHere; // folders whose subtrees are now one move each
    {
        const std::vector<Subtree> gone = subtrees(removedFolders, removedList, true);
        const std::vector<Subtree> come = subtrees(addedFolders, addedList, false);
        std::map<std::string, std::vector<const Subtree*>> from, to;
        for (const Subtree& t : gone)
            from[t.signature].push_back(&t);
        for (const Subtree& t : come)
            to[t.signature].push_back(&t);
        for (const auto& [signature, olds] : from) {
            const auto news = to.find(signature);
            if (olds.size() != 1 || news == to.end() || news->second.size() != 1) continue;
            const Subtree& a = *olds[0];
            const Subtree& b = *news->second[0];
            bool decided = false, contradicted = false, allDecided = true;
            for (std::size_t i = 0; i < a.members.size(); ++i) {
                const Side& x = a.members[i]->before;
                const Side& y = b.members[i]->after;
                if (x.kind == Kind::Folder) continue;
                if (!x.hash.empty() && !y.hash.empty()) {
                    decided = true;
                    contradicted = contradicted || x.hash != y.hash;
                } else {
                    allDecided = false;
                }
            }
            if (contradicted) continue;
            Change m;
            m.op = decided && allDecided ? Op::Moved : Op::MovedUnsure;
            m.path = b.folder->path;
            m.movedFrom = a.folder->path;
            m.before = a.folder->before;
            m.after = b.folder->after;
            moves.push_back(std::move(m));
            movedAway.insert(a.folder->path);
            movedHere.insert(b.folder->path);
        }
    }
    if (!movedAway.empty())
        changes.erase(std::remove_if(changes.begin(), changes.end(),
                                     [&](const Change& c) {
                                         return (c.op == Op::Removed &&
                                                 inOrBelow(c.path, movedAway)) ||
                                                (c.op == Op::Added && inOrBelow(c.path, movedHere));
                                     }),
                      changes.end());
    // Files: one removed and one added of the same kind, size and date.
    using Key = std::tuple<int, std::int64_t, std::int64_t>;
    std::map<Key, std::vector<std::size_t>> gone, come;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        if (c.op == Op::Removed && c.before.kind != Kind::Folder &&
            c.before.kind != Kind::Unexamined)
            gone[{int(c.before.kind), c.before.size, floorTo(c.before.mtime, judge.resolution())}]
                .push_back(i);
        if (c.op == Op::Added && c.after.kind != Kind::Folder && c.after.kind != Kind::Unexamined)
            come[{int(c.after.kind), c.after.size, floorTo(c.after.mtime, judge.resolution())}]
                .push_back(i);
    }
    std::set<std::size_t> paired;
    for (const auto& [key, from] : gone) {
        const auto to = come.find(key);
        if (from.size() != 1 || to == come.end() || to->second.size() != 1) continue;
        const Change& a = changes[from[0]];
        const Change& b = changes[to->second[0]];
        const bool hashed = !a.before.hash.empty() && !b.after.hash.empty();
        if (hashed && a.before.hash != b.after.hash) continue;
        Change m;
        m.op = hashed ? Op::Moved : Op::MovedUnsure;
        m.path = b.path;
        m.movedFrom = a.path;
        m.before = a.before;
        m.after = b.after;
        moves.push_back(std::move(m));
        paired.insert(from[0]);
        paired.insert(to->second[0]);
    }
    std::vector<Change> kept;
    kept.reserve(changes.size() - paired.size() + moves.size());
    for (std::size_t i = 0; i < changes.size(); ++i)
        if (!paired.count(i)) kept.push_back(std::move(changes[i]));
    for (Change& m : moves)
        kept.push_back(std::move(m));
    changes = std::move(kept);
}

// Drops what lies below a folder that could not be compared, and sorts.
DiffResult finish(std::vector<Change> changes, const Judge& judge) {
    std::set<std::string> blind;
    for (const Change& c : changes)
        if (c.op == Op::NotCompared && (isFolderPath(c.path) || c.path.empty()))
            blind.insert(c.path);
    if (!blind.empty())
        changes.erase(std::remove_if(changes.begin(), changes.end(),
                                     [&](const Change& c) {
                                         return !blind.count(c.path) &&
                                                inOrBelow(parentOf(c.path), blind);
                                     }),
                      changes.end());
    findMoves(changes, judge);
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        if (a.path != b.path) return a.path < b.path;
        return int(a.op) < int(b.op);
    });
    // A folder that one side could not read is told once, from whichever side saw it first.
    changes.erase(std::unique(changes.begin(), changes.end(),
                              [](const Change& a, const Change& b) {
                                  return a.op == b.op && a.path == b.path;
                              }),
                  changes.end());
    DiffResult r;
    r.resolution = judge.resolution();
    for (const Change& c : changes)
        if (c.op == Op::NotCompared) r.trouble = true;
    r.changes = std::move(changes);
    return r;
}

VolumeRow volumeOf(Catalog& catalog, const SnapshotRow& s) {
    const std::optional<VolumeRow> v = catalog.volume(s.volume);
    if (!v) throw CatalogError("snapshot " + std::to_string(s.id) + " has no volume");
    return *v;
}

} // namespace

const char* OpSymbol(Op op) {
    switch (op) {
    case Op::Added:
        return "+";
    case Op::Removed:
        return "-";
    case Op::Modified:
        return "M";
    case Op::Metadata:
        return "U";
    case Op::Moved:
        return ">";
    case Op::MovedUnsure:
        return ">?";
    case Op::Type:
        return "T";
    case Op::NotCompared:
        return "!";
    }
    return "?";
}

DiffResult DiffSnapshots(Catalog& catalog, const SnapshotRow& a, const SnapshotRow& b) {
    const Judge judge(std::max(a.resolution, b.resolution));
    std::vector<Change> changes;
    if (a.volume == b.volume) {
        if (a.id != b.id) rangeDiff(catalog, a, b, judge, changes);
        return finish(std::move(changes), judge);
    }
    const VolumeRow va = volumeOf(catalog, a), vb = volumeOf(catalog, b);
    SnapshotTreeSource other(catalog, b, vb);
    DiffOptions options;
    CompareVisitor visitor(catalog, a, va, judge, options, &other, false, changes);
    WalkOptions walk;
    other.walk(visitor, walk);
    return finish(std::move(changes), judge);
}

DiffResult DiffFolder(Catalog& catalog, const SnapshotRow& a, const RootPath& folder,
                      const DiffOptions& options) {
    const VolumeRow va = volumeOf(catalog, a);
    VolumeIdentity id;
    int error = 0;
    if (!IdentifyVolume(folder.raw().toStdString(), id, error))
        throw FileError::fromErrno(folder.display(), QStringLiteral("cannot examine the folder"),
                                   error);
    const Judge judge(std::max(a.resolution, id.timeResolutionNs));
    WalkOptions walk;
    if (!FiltersFromJson(a.options, walk))
        throw CatalogError("snapshot " + std::to_string(a.id) + ": its options cannot be read");
    walk.warning = options.warning;
    walk.progress = options.progress;
    std::vector<Change> changes;
    const bool sameVolume = id.id == va.identity && id.rootInFs == va.rootInFs;
    CompareVisitor visitor(catalog, a, va, judge, options, nullptr, sameVolume, changes);
    WalkTree(folder, visitor, walk);
    return finish(std::move(changes), judge);
}

DiffCounts CountChanges(const DiffResult& result) {
    DiffCounts n;
    for (const Change& c : result.changes) {
        switch (c.op) {
        case Op::Added:
            ++n.added;
            break;
        case Op::Removed:
            ++n.removed;
            break;
        case Op::Modified:
            ++n.modified;
            break;
        case Op::Metadata:
            ++n.metadata;
            break;
        case Op::Moved:
        case Op::MovedUnsure:
            ++n.moved;
            break;
        case Op::Type:
            ++n.type;
            break;
        case Op::NotCompared:
            ++n.notCompared;
            break;
        }
    }
    return n;
}

int DiffStatus(const DiffResult& result) {
    if (result.trouble) return 2;
    return result.changes.empty() ? 0 : 1;
}

namespace {

std::string sideText(const Side& s, std::int64_t resolution) {
    if (s.kind == Kind::Folder) return "folder";
    if (s.kind == Kind::Unexamined) return "not examined";
    return std::to_string(s.size) + ' ' + IsoTime(s.mtime, resolution);
}

void jsonSide(std::string& b, const char* key, const Side& s, std::int64_t resolution) {
    b += ",\"";
    b += key;
    b += "\":{\"kind\":\"";
    b += KindName(s.kind);
    b += '"';
    if (s.kind != Kind::Folder && s.kind != Kind::Unexamined) {
        b += ",\"size\":" + std::to_string(s.size) + ",\"mtime\":\"" +
             IsoTime(s.mtime, resolution) + '"';
        if (!s.hash.empty()) b += ",\"sha256\":\"" + Hex(s.hash) + '"';
    }
    b += '}';
}

void jsonPath(std::string& b, const char* key, const char* rawKey, const std::string& path) {
    b += ",\"";
    b += key;
    b += "\":";
    AppendJson(b, DisplayText(path));
    if (!IsUtf8(path)) {
        b += ",\"";
        b += rawKey;
        b += "\":\"";
        AppendPercent(b, path);
        b += '"';
    }
}

void tsvCell(std::string& b, const std::string& utf8) {
    QByteArray cell;
    AppendCsvField(cell, utf8.data(), qsizetype(utf8.size()), '\t');
    b.append(cell.constData(), std::size_t(cell.size()));
}

} // namespace

QByteArray FormatDiff(const DiffResult& result, DiffFormat format, const std::vector<Op>& only) {
    std::string b;
    const std::int64_t res = result.resolution;
    if (format == DiffFormat::Tsv)
        b += "op\tpath\tmoved from\told kind\told size\told date\tnew kind\tnew size\tnew "
             "date\tnote\n";
    for (const Change& c : result.changes) {
        if (!only.empty() && std::find(only.begin(), only.end(), c.op) == only.end()) continue;
        const std::string op = OpSymbol(c.op);
        switch (format) {
        case DiffFormat::Text:
            b += op + ' ';
            b += c.path;
            if (c.op == Op::Moved || c.op == Op::MovedUnsure) {
                b += " <- " + c.movedFrom;
                if (c.after.kind != Kind::Folder) b += "  " + sideText(c.after, res);
            } else if (c.op == Op::Added) {
                if (c.after.kind != Kind::Folder) b += "  " + sideText(c.after, res);
            } else if (c.op == Op::Removed) {
                if (c.before.kind != Kind::Folder) b += "  " + sideText(c.before, res);
            } else if (c.op == Op::Type) {
                b += std::string("  ") + KindName(c.before.kind) + " -> " + KindName(c.after.kind);
            } else if (c.op == Op::NotCompared) {
                b += "  " + c.note;
            } else if (c.op == Op::Metadata) {
                b += "  " + IsoTime(c.before.mtime, res) + " -> " + IsoTime(c.after.mtime, res);
            } else {
                b += "  " + sideText(c.before, res) + " -> " + sideText(c.after, res);
                if (!c.before.hash.empty() && !c.after.hash.empty() &&
                    c.before.hash != c.after.hash)
                    b += "  sha256 " + Hex(c.before.hash).substr(0, 16) + " -> " +
                         Hex(c.after.hash).substr(0, 16);
                if (!c.note.empty()) b += " (" + c.note + ")";
            }
            b += '\n';
            break;
        case DiffFormat::Json:
            b += "{\"op\":";
            AppendJson(b, op);
            jsonPath(b, "path", "rawPath", c.path);
            if (c.op == Op::Moved || c.op == Op::MovedUnsure)
                jsonPath(b, "movedFrom", "rawMovedFrom", c.movedFrom);
            if (c.before.present) jsonSide(b, "old", c.before, res);
            if (c.after.present) jsonSide(b, "new", c.after, res);
            if (!c.note.empty()) {
                b += ",\"note\":";
                AppendJson(b, c.note);
            }
            b += "}\n";
            break;
        case DiffFormat::Tsv: {
            b += op + '\t';
            tsvCell(b, DisplayText(c.path));
            b += '\t';
            tsvCell(b, DisplayText(c.movedFrom));
            for (const Side* s : {&c.before, &c.after}) {
                b += '\t';
                if (s->present) b += KindName(s->kind);
                b += '\t';
                if (s->present && s->kind != Kind::Folder) b += std::to_string(s->size);
                b += '\t';
                if (s->present && s->kind != Kind::Folder) b += IsoTime(s->mtime, res);
            }
            b += '\t';
            tsvCell(b, c.note);
            b += '\n';
            break;
        }
        }
    }
    const DiffCounts n = CountChanges(result);
    const int status = DiffStatus(result);
    if (format == DiffFormat::Json) {
        b += "{\"summary\":{\"added\":" + std::to_string(n.added) +
             ",\"removed\":" + std::to_string(n.removed) +
             ",\"modified\":" + std::to_string(n.modified) +
             ",\"metadata\":" + std::to_string(n.metadata) +
             ",\"moved\":" + std::to_string(n.moved) + ",\"type\":" + std::to_string(n.type) +
             ",\"notCompared\":" + std::to_string(n.notCompared) +
             ",\"status\":" + std::to_string(status) + ",\"resolutionNs\":" + std::to_string(res) +
             "}}\n";
    } else if (format == DiffFormat::Text) {
        b += "# " + std::to_string(n.added) + " added, " + std::to_string(n.removed) +
             " removed, " + std::to_string(n.modified) + " modified, " +
             std::to_string(n.metadata) + " metadata, " + std::to_string(n.moved) + " moved, " +
             std::to_string(n.type) + " type, " + std::to_string(n.notCompared) + " not compared\n";
    }
    return QByteArray(b.data(), qsizetype(b.size()));
}

} // namespace treelan::catalog
