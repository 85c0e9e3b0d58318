#include "catalog/Search.h"

#include "catalog/Text.h"
#include "platform/Volume.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace treelan::catalog {

namespace {

struct Selected {
    VolumeRow volume;
    std::vector<SnapshotRow> snapshots; // ascending
    int online = -1;                    // -1 not yet asked
};

struct Hit {
    std::size_t volume = 0; // index into the selection
    std::int64_t first = 0; // the snapshots it holds in, of those selected
    std::int64_t last = 0;
    std::string rootPath; // the last of them's
    std::string path;     // raw, relative; folders end in "/"
    Kind kind = Kind::File;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    std::int64_t resolution = 1;
};

std::size_t codePoints(const std::string& s) {
    std::size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::string extensionOf(std::string_view foldedName) {
    const std::size_t dot = foldedName.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(foldedName.substr(dot + 1));
}

// The cell of a TSV row: quoted when it holds a tab, a quote or a line break.
void appendCell(std::string& out, std::string_view text) {
    if (text.find_first_of("\t\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

class Searcher {
public:
    Searcher(Catalog& catalog, const SearchOptions& options)
        : m_catalog(catalog), m_db(catalog.db()), m_options(options),
          m_pattern(NamePattern::parse(options.pattern)),
          m_hits(m_db.prepare("SELECT n.id, n.parent, v.first, v.last, v.kind, v.size, v.mtime "
                              "FROM nodes n JOIN versions v ON v.node = n.id WHERE n.name = ?1")),
          m_node(
              m_db.prepare("SELECT n.parent, m.raw, m.text FROM nodes n LEFT JOIN names m ON m.id "
                           "= n.name WHERE n.id = ?1")) {}

    std::int64_t run(std::FILE* out) {
        select();
        if (m_selected.empty()) return 0;
        for (const std::int64_t name : names())
            collect(name);
        std::sort(m_found.begin(), m_found.end(), [](const Hit& a, const Hit& b) {
            if (a.volume != b.volume) return a.volume < b.volume;
            if (a.rootPath != b.rootPath) return a.rootPath < b.rootPath;
            if (a.path != b.path) return a.path < b.path;
            return a.first < b.first;
        });
        std::string buffer;
        for (const Hit& h : m_found) {
            write(buffer, h);
            if (buffer.size() >= 1 << 16) flush(buffer, out);
        }
        flush(buffer, out);
        return std::int64_t(m_found.size());
    }

private:
    // The snapshots searched, per volume.
    void select() {
        std::vector<VolumeRow> volumes = m_catalog.volumes();
        if (!m_options.snapshot.empty()) {
            const SnapshotRow s = m_catalog.resolve(m_options.snapshot);
            for (const VolumeRow& v : volumes)
                if (v.id == s.volume) add(v, {s});
            return;
        }
        bool found = m_options.volume.empty();
        for (const VolumeRow& v : volumes) {
            if (!m_options.volume.empty() && v.label != m_options.volume) continue;
            found = true;
            std::vector<SnapshotRow> snapshots;
            if (m_options.allSnapshots) {
                for (const std::int64_t id : m_catalog.completeSnapshots(v.id))
                    snapshots.push_back(*m_catalog.snapshot(id));
            } else if (std::optional<SnapshotRow> latest = m_catalog.latest(v.id)) {
                snapshots.push_back(*latest);
            }
            if (!snapshots.empty()) add(v, std::move(snapshots));
        }
        if (!found)
            throw CatalogError("no volume labelled '" + m_options.volume + "' in the catalogue");
    }

    void add(const VolumeRow& v, std::vector<SnapshotRow> snapshots) {
        m_byRoot[v.rootNode] = m_selected.size();
        m_selected.push_back({v, std::move(snapshots), -1});
    }

    // The ids of the names that match: the trigram index narrows them down where the pattern has
    // a piece of three characters or more, else every name is looked at.
    std::vector<std::int64_t> names() {
        std::vector<std::int64_t> ids;
        const bool indexed = codePoints(m_pattern.longestPiece) >= 3;
        Statement s;
        if (indexed) {
            s = m_db.prepare("SELECT names.id, names.text FROM names_fts JOIN names ON names.id = "
                             "names_fts.rowid WHERE names_fts MATCH ?1");
            // Each trigram of the piece, all of them: the index keeps no positions (detail=none),
            // so a phrase cannot be asked; what the trigrams let through is checked below.
            std::vector<std::size_t> starts;
            const std::string& piece = m_pattern.longestPiece;
            for (std::size_t i = 0; i < piece.size(); ++i)
                if ((static_cast<unsigned char>(piece[i]) & 0xC0) != 0x80) starts.push_back(i);
            starts.push_back(piece.size());
            std::string phrase;
            for (std::size_t i = 0; i + 3 < starts.size(); ++i) {
                if (!phrase.empty()) phrase += " AND ";
                phrase += '"';
                for (const char c : piece.substr(starts[i], starts[i + 3] - starts[i])) {
                    if (c == '"') phrase += '"';
                    phrase += c;
                }
                phrase += '"';
            }
            s.bind(1, phrase);
        } else {
            s = m_db.prepare("SELECT id, text FROM names");
        }
        while (s.step()) {
            const std::string_view text = s.text(1);
            if (text.empty()) continue; // the roots' name
            if (m_pattern.matches(FoldText(text))) ids.push_back(s.integer(0));
        }
        return ids;
    }

    bool passes(Kind kind, std::int64_t size, std::int64_t mtime, std::int64_t name) {
        const bool folder = kind == Kind::Folder;
        if (folder ? !m_pattern.folders : !m_pattern.files) return false;
        if ((m_options.sizeOp || !m_options.types.empty()) && folder) return false;
        if (m_options.sizeOp == '+' && !(size > m_options.size)) return false;
        if (m_options.sizeOp == '-' && !(size < m_options.size)) return false;
        if (m_options.sizeOp == '=' && size != m_options.size) return false;
        if (mtime <= m_options.newerNs || mtime >= m_options.olderNs) return false;
        if (!m_options.types.empty()) {
            std::string raw, text;
            m_catalog.name(name, raw, text);
            const std::string ext = extensionOf(FoldText(text));
            if (std::find(m_options.types.begin(), m_options.types.end(), ext) ==
                m_options.types.end())
                return false;
        }
        return true;
    }

    void collect(std::int64_t name) {
        m_hits.bind(1, name);
        struct Row {
            std::int64_t node, parent, first, last, size, mtime;
            Kind kind;
        };
        std::vector<Row> rows;
        while (m_hits.step()) {
            if (m_hits.isNull(1)) continue; // a root
            Row r;
            r.node = m_hits.integer(0);
            r.parent = m_hits.integer(1);
            r.first = m_hits.integer(2);
            r.last = m_hits.isNull(3) ? INT64_MAX : m_hits.integer(3);
            r.kind = static_cast<Kind>(m_hits.integer(4));
            r.size = m_hits.integer(5);
            r.mtime = m_hits.type(6) == SQLITE_TEXT ? INT64_MIN : m_hits.integer(6);
            rows.push_back(r);
        }
        for (const Row& r : rows) {
            if (!passes(r.kind, r.size, r.mtime, name)) continue;
            const Folder& f = folder(r.parent);
            const auto sel = m_byRoot.find(f.root);
            if (sel == m_byRoot.end()) continue;
            const Selected& s = m_selected[sel->second];
            const SnapshotRow* from = nullptr;
            const SnapshotRow* to = nullptr;
            for (const SnapshotRow& snap : s.snapshots)
                if (snap.id >= r.first && snap.id <= r.last) {
                    if (!from) from = &snap;
                    to = &snap;
                }
            if (!from) continue;
            Hit h;
            h.volume = sel->second;
            h.first = from->id;
            h.last = to->id;
            h.rootPath = to->rootPath;
            h.kind = r.kind;
            h.size = r.size;
            h.mtime = r.mtime;
            h.resolution = to->resolution;
            h.path = f.path;
            std::string raw, text;
            m_catalog.name(name, raw, text);
            h.path += raw;
            if (r.kind == Kind::Folder) h.path += '/';
            m_found.push_back(std::move(h));
        }
    }

    struct Folder {
        std::int64_t root = 0;
        std::string path; // "a/b/"
    };

    // A folder's root and path, remembered.
    const Folder& folder(std::int64_t node) {
        const auto known = m_folders.find(node);
        if (known != m_folders.end()) return known->second;
        m_node.bind(1, node);
        Folder f;
        if (m_node.step()) {
            const bool root = m_node.isNull(0);
            const std::int64_t parent = m_node.integer(0);
            const std::string raw(m_node.isNull(1) ? m_node.text(2) : m_node.blob(1));
            m_node.reset();
            if (root) {
                f.root = node;
            } else {
                const Folder& up = folder(parent);
                f.root = up.root;
                f.path = up.path + raw + '/';
            }
        }
        return m_folders.emplace(node, std::move(f)).first->second;
    }

    bool online(std::size_t index) {
        Selected& s = m_selected[index];
        if (s.online < 0)
            s.online = FindVolume(s.volume.identity, s.volume.rootInFs).empty() ? 0 : 1;
        return s.online == 1;
    }

    void write(std::string& b, const Hit& h) {
        const Selected& s = m_selected[h.volume];
        const std::string full = h.rootPath + h.path;
        const bool folder = h.kind == Kind::Folder;
        std::string snapshot = std::to_string(h.first);
        if (h.last != h.first) snapshot += ".." + std::to_string(h.last);
        switch (m_options.format) {
        case SearchOptions::Format::Nul:
            b += full;
            b += '\0';
            return;
        case SearchOptions::Format::Text:
            b += s.volume.label + '@' + snapshot;
            if (!online(h.volume)) b += " (offline)";
            b += "  ";
            b += folder ? std::string("-") : std::to_string(h.size);
            b += "  ";
            b += IsoTime(h.mtime, h.resolution);
            b += "  ";
            b += full;
            b += '\n';
            return;
        case SearchOptions::Format::Tsv:
            appendCell(b, s.volume.label);
            b += '\t' + snapshot + '\t' + (online(h.volume) ? "online" : "offline") + '\t' +
                 KindName(h.kind) + '\t';
            b += std::to_string(h.size) + '\t' + IsoTime(h.mtime, h.resolution) + '\t';
            appendCell(b, DisplayText(full));
            b += '\n';
            return;
        case SearchOptions::Format::Json:
            b += "{\"volume\":";
            AppendJson(b, s.volume.label);
            b += ",\"snapshot\":" + std::to_string(h.last);
            if (h.last != h.first) b += ",\"firstSnapshot\":" + std::to_string(h.first);
            b += ",\"path\":";
            AppendJson(b, DisplayText(full));
            if (!IsUtf8(full)) {
                b += ",\"rawPath\":\"";
                AppendPercent(b, full);
                b += '"';
            }
            b += ",\"kind\":\"";
            b += KindName(h.kind);
            b += "\",\"size\":" + std::to_string(h.size) + ",\"mtime\":\"" +
                 IsoTime(h.mtime, h.resolution) + '"';
            b += online(h.volume) ? "}\n" : ",\"offline\":true}\n";
            return;
        }
    }

    static void flush(std::string& b, std::FILE* out) {
        if (!b.empty() && std::fwrite(b.data(), 1, b.size(), out) != b.size())
            throw CatalogError("standard output: cannot write");
        b.clear();
    }

    Catalog& m_catalog;
    Database& m_db;
    const SearchOptions& m_options;
    NamePattern m_pattern;
    Statement m_hits;
    Statement m_node;
    std::vector<Selected> m_selected;
    std::unordered_map<std::int64_t, std::size_t> m_byRoot;
    std::unordered_map<std::int64_t, Folder> m_folders;
    std::vector<Hit> m_found;
};

} // namespace

bool ParseSizeFilter(const std::string& text, char& op, std::int64_t& bytes) {
    std::string_view t(text);
    op = '=';
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        op = t[0];
        t.remove_prefix(1);
    }
    std::int64_t unit = 1;
    if (!t.empty()) {
        switch (t.back()) {
        case 'k':
        case 'K':
            unit = 1LL << 10;
            break;
        case 'm':
        case 'M':
            unit = 1LL << 20;
            break;
        case 'g':
        case 'G':
            unit = 1LL << 30;
            break;
        case 't':
        case 'T':
            unit = 1LL << 40;
            break;
        default:
            break;
        }
        if (unit != 1) t.remove_suffix(1);
    }
    if (t.empty() || t.size() > 15 || t.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    bytes = std::stoll(std::string(t)) * unit;
    return true;
}

std::int64_t Search(Catalog& catalog, const SearchOptions& options, std::FILE* out) {
    return Searcher(catalog, options).run(out);
}

} // namespace treelan::catalog
