#include "catalog/Browse.h"

#include "catalog/Text.h"
#include "platform/CallbackFile.h"
#include "platform/Volume.h"

#include <sqlite3.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>

namespace treelan::catalog {

std::vector<VolumeState> BrowseVolumes(Catalog& catalog) {
    std::vector<VolumeState> out;
    const std::vector<SnapshotRow> snapshots = catalog.snapshots();
    for (VolumeRow& v : catalog.volumes()) {
        VolumeState state;
        state.mountedAt = FindVolume(v.identity, v.rootInFs);
        for (const SnapshotRow& s : snapshots)
            if (s.volume == v.id && s.state == "complete") state.snapshots.push_back(s);
        state.volume = std::move(v);
        out.push_back(std::move(state));
    }
    std::sort(out.begin(), out.end(), [](const VolumeState& a, const VolumeState& b) {
        return a.volume.label < b.volume.label;
    });
    return out;
}

namespace {

Kind kindNamed(const QString& name) {
    for (const Kind k : {Kind::File, Kind::Folder, Kind::Link, Kind::Special, Kind::Unexamined})
        if (name == QLatin1String(KindName(k))) return k;
    return Kind::File;
}

// The search's JSON Lines read back into hits, line by line as they are written.
class HitReader {
public:
    HitReader(std::size_t batchSize, const SearchBatch& take) : m_batch(batchSize), m_take(take) {}

    bool write(const char* data, std::size_t size) {
        m_pending.append(data, size);
        std::size_t start = 0;
        for (std::size_t end; (end = m_pending.find('\n', start)) != std::string::npos;
             start = end + 1)
            if (!line(std::string_view(m_pending).substr(start, end - start))) return false;
        m_pending.erase(0, start);
        return true;
    }
    bool finish() { return m_hits.empty() || hand(); }
    std::int64_t handed() const { return m_handed; }
    bool stopped() const { return m_stopped; }

private:
    bool line(std::string_view text) {
        const QJsonObject o =
            QJsonDocument::fromJson(QByteArray(text.data(), qsizetype(text.size()))).object();
        SearchHit h;
        h.volume = o.value(QLatin1String("volume")).toString().toStdString();
        h.snapshot = o.value(QLatin1String("snapshot")).toInteger();
        h.firstSnapshot = o.value(QLatin1String("firstSnapshot")).toInteger(h.snapshot);
        const QJsonValue raw = o.value(QLatin1String("rawPath"));
        h.path = raw.isString()
                     ? QByteArray::fromPercentEncoding(raw.toString().toLatin1()).toStdString()
                     : o.value(QLatin1String("path")).toString().toStdString();
        h.kind = kindNamed(o.value(QLatin1String("kind")).toString());
        if (h.kind == Kind::Folder && (h.path.empty() || h.path.back() != '/')) h.path += '/';
        h.size = o.value(QLatin1String("size")).toInteger();
        ParseIsoTime(o.value(QLatin1String("mtime")).toString().toStdString(), h.mtime);
        h.offline = o.value(QLatin1String("offline")).toBool();
        m_hits.push_back(std::move(h));
        return m_hits.size() < m_batch || hand();
    }
    bool hand() {
        m_handed += std::int64_t(m_hits.size());
        const bool goOn = m_take(m_hits);
        m_hits.clear();
        m_stopped = !goOn;
        return goOn;
    }

    std::size_t m_batch;
    const SearchBatch& m_take;
    std::string m_pending;
    std::vector<SearchHit> m_hits;
    std::int64_t m_handed = 0;
    bool m_stopped = false;
};

} // namespace

std::int64_t SearchInBatches(Catalog& catalog, SearchOptions options, std::size_t batchSize,
                             const SearchBatch& take, const std::atomic<bool>* stop) {
    options.format = SearchOptions::Format::Json;
    HitReader reader(std::max<std::size_t>(batchSize, 1), take);
    // A query over a large catalogue runs for seconds before its first row: a stop interrupts it.
    struct Interrupt {
        sqlite3* db;
        ~Interrupt() { sqlite3_progress_handler(db, 0, nullptr, nullptr); }
    } interrupt{catalog.db().handle()};
    if (stop)
        sqlite3_progress_handler(
            interrupt.db, 10000,
            [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
            const_cast<std::atomic<bool>*>(stop));
    std::FILE* out = OpenCallbackFile(
        [&reader](const char* data, std::size_t size) { return reader.write(data, size); });
    if (!out) throw CatalogError("cannot open a stream for the search's results");
    try {
        Search(catalog, options, out);
        const bool flushed = std::fflush(out) == 0;
        std::fclose(out);
        out = nullptr;
        if (flushed && !reader.stopped()) reader.finish();
    } catch (const CatalogError&) {
        if (out) std::fclose(out);
        if (!reader.stopped() && !(stop && *stop)) throw;
    }
    return reader.handed();
}

std::string FolderOfChange(const Change& change) {
    std::string path = change.path;
    if (!path.empty() && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

namespace {

std::int64_t& countOf(DiffCounts& n, Op op) {
    switch (op) {
    case Op::Added:
        return n.added;
    case Op::Removed:
        return n.removed;
    case Op::Modified:
        return n.modified;
    case Op::Metadata:
        return n.metadata;
    case Op::Moved:
    case Op::MovedUnsure:
        return n.moved;
    case Op::Type:
        return n.type;
    case Op::NotCompared:
        break;
    }
    return n.notCompared;
}

} // namespace

std::vector<FolderChanges> ChangesByFolder(const DiffResult& result) {
    std::map<std::string, FolderChanges> folders;
    const auto bytesOf = [](const Side& s) {
        return s.present && s.kind != Kind::Folder && s.kind != Kind::Unexamined ? s.size : 0;
    };
    const auto isFile = [](const Side& s) { return s.kind != Kind::Folder; };
    for (const Change& c : result.changes) {
        const std::string folder = FolderOfChange(c);
        FolderChanges& f = folders[folder];
        f.folder = folder;
        ++countOf(f.counts, c.op);
        if (c.op == Op::Added && isFile(c.after)) ++f.addedFiles;
        if (c.op == Op::Removed && isFile(c.before)) ++f.removedFiles;
        if (c.op == Op::Added || c.op == Op::Removed || c.op == Op::Modified || c.op == Op::Type)
            f.bytes += bytesOf(c.after) - bytesOf(c.before);
    }
    std::vector<FolderChanges> out;
    out.reserve(folders.size());
    for (auto& [path, f] : folders)
        out.push_back(std::move(f));
    return out;
}

} // namespace treelan::catalog
