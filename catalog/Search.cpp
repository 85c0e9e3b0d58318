#include "catalog/Search.h"

#include "catalog/Text.h"
#include "media/MediaFieldKeys.h"
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
    std::int64_t parent = 0; // the folder's node
    std::int64_t root = 0;   // its volume's root node, once known
    std::size_t volume = 0;  // index into the selection
    std::int64_t first = 0;  // the snapshots it holds in, of those selected
    std::int64_t last = 0;
    std::string rootPath; // the last of them's
    std::string path;     // raw, relative; folders end in "/"
    Kind kind = Kind::File;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    std::int64_t resolution = 1;
    // --json: what the version keeps of a media file, and whether the snapshot read it.
    std::optional<std::string> mp3, media;
    bool mediaRead = false;
};

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
          m_pattern(NamePattern::parse(options.pattern)) {}

    std::int64_t run(std::FILE* out) {
        select();
        if (m_selected.empty()) return 0;
        collect();
        resolvePaths();
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

    static constexpr std::int64_t kFewNames = 300, kSomeNames = 8192;

    // The trigrams of the pattern's longest plain piece that the fewest names hold, at most
    // three; none when the piece is shorter than a trigram. Counting stops at a limit, so a
    // trigram that every name holds costs little to find out about.
    std::vector<std::string> rarestTrigrams() {
        const std::string& piece = m_pattern.longestPiece;
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < piece.size(); ++i)
            if ((static_cast<unsigned char>(piece[i]) & 0xC0) != 0x80) starts.push_back(i);
        starts.push_back(piece.size());
        std::vector<std::pair<std::int64_t, std::string>> counted;
        Statement count = m_db.prepare("SELECT count(*) FROM (SELECT rowid FROM names_fts WHERE "
                                       "names_fts MATCH ?1 LIMIT ?2)");
        std::int64_t limit = kFewNames;
        for (std::size_t i = 0; i + 3 < starts.size(); ++i) {
            std::string phrase = "\"";
            for (const char c : piece.substr(starts[i], starts[i + 3] - starts[i])) {
                if (c == '"') phrase += '"';
                phrase += c;
            }
            phrase += '"';
            if (std::any_of(counted.begin(), counted.end(),
                            [&](const auto& c) { return c.second == phrase; }))
                continue;
            count.bind(1, phrase).bind(2, limit);
            const std::int64_t n = count.step() ? count.integer(0) : 0;
            count.reset();
            counted.emplace_back(n, phrase);
            if (n == 0) break; // no name holds it
        }
        // Every trigram common at the first count: the rare ones among them are told apart at a
        // higher limit, where the common ones still stop early.
        if (!counted.empty() && std::all_of(counted.begin(), counted.end(),
                                            [&](const auto& c) { return c.first >= limit; })) {
            limit = kSomeNames;
            for (auto& [n, phrase] : counted) {
                count.bind(1, phrase).bind(2, limit);
                n = count.step() ? count.integer(0) : 0;
                count.reset();
            }
        }
        std::sort(counted.begin(), counted.end());
        // A common trigram beside a rarer one costs more to intersect (its whole list of names)
        // than the few names it would leave out: the rarest, and those under the limit.
        std::vector<std::string> out;
        for (std::size_t i = 0; i < counted.size() && i < 3; ++i)
            if (i == 0 || counted[i].first < limit || counted[0].first >= limit)
                out.push_back(counted[i].second);
        return out;
    }

    // Every version of every entry whose name matches, in one statement: the trigram index
    // narrows the names down where the pattern has three characters in a row, the pattern itself
    // (treelan_match) decides.
    void collect() {
        sqlite3_create_function_v2(
            m_db.handle(), "treelan_match", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &m_pattern,
            [](sqlite3_context* context, int, sqlite3_value** values) {
                const auto* pattern = static_cast<const NamePattern*>(sqlite3_user_data(context));
                const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
                const std::string_view name(text ? text : "",
                                            std::size_t(sqlite3_value_bytes(values[0])));
                sqlite3_result_int(context, !name.empty() && pattern->matches(FoldText(name)));
            },
            nullptr, nullptr, nullptr);
        const std::vector<std::string> trigrams = rarestTrigrams();
        std::string where;
        for (const std::string& t : trigrams)
            where += (where.empty() ? "" : " AND ") + t;
        const std::string columns =
            "names.id, names.raw, names.text, n.id, n.parent, v.first, v.last, v.kind, "
            "v.size, v.mtime, v.mp3, v.media, f.root, f.path";
        const std::string joins =
            " JOIN nodes n ON n.name = names.id JOIN versions v ON v.node = n.id "
            "LEFT JOIN folders f ON f.node = n.parent ";
        Statement s = where.empty() ? m_db.prepare("SELECT " + columns + " FROM names" + joins +
                                                   "WHERE treelan_match(names.text)")
                                    : m_db.prepare("SELECT " + columns +
                                                   " FROM names_fts JOIN names ON names.id = "
                                                   "names_fts.rowid" +
                                                   joins +
                                                   "WHERE names_fts MATCH ?1 AND "
                                                   "treelan_match(names.text)");
        if (!where.empty()) s.bind(1, where);
        while (s.step()) {
            const auto kind = static_cast<Kind>(s.integer(7));
            const std::int64_t size = s.integer(8);
            const std::int64_t mtime = s.type(9) == SQLITE_TEXT ? INT64_MIN : s.integer(9);
            const std::string_view text = s.text(2);
            if (!passes(kind, size, mtime, text)) continue;
            const std::int64_t first = s.integer(5);
            const std::int64_t last = s.isNull(6) ? INT64_MAX : s.integer(6);
            Hit h;
            h.parent = s.integer(4);
            h.first = first;
            h.last = last;
            h.kind = kind;
            h.size = size;
            h.mtime = mtime;
            h.path = std::string(s.isNull(1) ? text : s.blob(1));
            if (kind == Kind::Folder) h.path += '/';
            if (!s.isNull(12)) {
                h.root = s.integer(12);
                h.path.insert(0, s.blob(13));
            }
            if (m_options.format == SearchOptions::Format::Json) {
                if (!s.isNull(10)) h.mp3 = std::string(s.text(10));
                if (!s.isNull(11)) h.media = std::string(s.blob(11));
            }
            m_rows.push_back(std::move(h));
        }
    }

    bool passes(Kind kind, std::int64_t size, std::int64_t mtime, std::string_view text) const {
        const bool folder = kind == Kind::Folder;
        if (folder ? !m_pattern.folders : !m_pattern.files) return false;
        if ((m_options.sizeOp || !m_options.types.empty()) && folder) return false;
        if (m_options.sizeOp == '+' && !(size > m_options.size)) return false;
        if (m_options.sizeOp == '-' && !(size < m_options.size)) return false;
        if (m_options.sizeOp == '=' && size != m_options.size) return false;
        if (mtime <= m_options.newerNs || mtime >= m_options.olderNs) return false;
        if (!m_options.types.empty()) {
            const std::string ext = extensionOf(FoldText(text));
            if (std::find(m_options.types.begin(), m_options.types.end(), ext) ==
                m_options.types.end())
                return false;
        }
        return true;
    }

    // The folders above the rows, all in one statement, then each row's volume, snapshots and
    // path.
    void resolvePaths() {
        std::string ids = "[";
        for (const Hit& h : m_rows)
            if (h.root == 0 && !m_folders.count(h.parent)) {
                if (ids.size() > 1) ids += ',';
                ids += std::to_string(h.parent);
            }
        ids += ']';
        std::unordered_map<std::int64_t, std::pair<std::int64_t, std::string>>
            nodes; // parent, name
        if (ids.size() > 2) walkUp(ids, nodes);
        for (Hit& h : m_rows) {
            if (h.root == 0) {
                const Folder& f = folder(h.parent, nodes);
                h.root = f.root;
                h.path = f.path + h.path;
            }
            const auto sel = m_byRoot.find(h.root);
            if (sel == m_byRoot.end()) continue;
            const Selected& s = m_selected[sel->second];
            const SnapshotRow* from = nullptr;
            const SnapshotRow* to = nullptr;
            for (const SnapshotRow& snap : s.snapshots)
                if (snap.id >= h.first && snap.id <= h.last) {
                    if (!from) from = &snap;
                    to = &snap;
                }
            if (!from) continue;
            h.volume = sel->second;
            h.first = from->id;
            h.last = to->id;
            h.rootPath = to->rootPath;
            h.resolution = to->resolution;
            h.mediaRead = to->media;
            m_found.push_back(std::move(h));
        }
    }

    // The folders `ids` (a JSON array) and everything above them, for the paths the catalogue
    // does not keep (a file of the first schema read as it is).
    void walkUp(const std::string& ids,
                std::unordered_map<std::int64_t, std::pair<std::int64_t, std::string>>& nodes) {
        Statement up = m_db.prepare(
            "WITH RECURSIVE up(id) AS (SELECT value FROM json_each(?1) UNION SELECT n.parent FROM "
            "nodes n JOIN up ON n.id = up.id WHERE n.parent IS NOT NULL) "
            "SELECT n.id, n.parent, m.raw, m.text FROM up JOIN nodes n ON n.id = up.id "
            "LEFT JOIN names m ON m.id = n.name");
        up.bind(1, ids);
        while (up.step())
            nodes.emplace(up.integer(0),
                          std::make_pair(up.isNull(1) ? 0 : up.integer(1),
                                         std::string(up.isNull(2) ? up.text(3) : up.blob(2))));
    }

    struct Folder {
        std::int64_t root = 0;
        std::string path; // "a/b/"
    };

    // A folder's root and path, remembered.
    const Folder&
    folder(std::int64_t node,
           const std::unordered_map<std::int64_t, std::pair<std::int64_t, std::string>>& nodes) {
        const auto known = m_folders.find(node);
        if (known != m_folders.end()) return known->second;
        Folder f;
        const auto it = nodes.find(node);
        if (it != nodes.end()) {
            if (it->second.first == 0) {
                f.root = node;
            } else {
                const Folder& up = folder(it->second.first, nodes);
                f.root = up.root;
                f.path = up.path + it->second.second + '/';
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
            writeMedia(b, h);
            b += online(h.volume) ? "}\n" : ",\"offline\":true}\n";
            return;
        }
    }

    // A file's playing time and bit rate as the listing shows them, then its media fields by
    // their shared names; from a snapshot that read no media details, the MP3 fields alone.
    static void writeMedia(std::string& b, const Hit& h) {
        const MediaTexts texts = UnpackMedia(h.mediaRead ? h.media : std::nullopt, h.mp3);
        const char* const timing[] = {"duration", "bitrate"};
        for (std::size_t i = 0; i < 2; ++i)
            if (!texts[i].empty()) {
                b += ",\"";
                b += timing[i];
                b += "\":";
                AppendJson(b, texts[i]);
            }
        bool first = true;
        for (std::size_t i = 2; i < kMediaTexts; ++i) {
            if (texts[i].empty()) continue;
            b += first ? ",\"media\":{\"" : ",\"";
            b += kMediaFieldKeys[i - 2];
            b += "\":";
            AppendJson(b, texts[i]);
            first = false;
        }
        if (!first) b += '}';
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
    std::vector<Selected> m_selected;
    std::unordered_map<std::int64_t, std::size_t> m_byRoot;
    std::unordered_map<std::int64_t, Folder> m_folders;
    std::vector<Hit> m_rows;  // matched, before their paths are known
    std::vector<Hit> m_found; // in the snapshots searched, with their paths
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
