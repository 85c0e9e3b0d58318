// treelan-cli catalog: snapshots of folders and drives kept in one SQLite file, searched, compared
// and verified when the drive is in a drawer.
#include "cli/CatalogCommand.h"

#include "catalog/Add.h"
#include "catalog/Catalog.h"
#include "catalog/Diff.h"
#include "catalog/Search.h"
#include "catalog/Source.h"
#include "catalog/Text.h"
#include "catalog/WalkFilters.h"
#include "cli/ProgressLine.h"
#include "platform/FileError.h"
#include "platform/Volume.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace treelan {

using namespace catalog;

namespace {

constexpr int kExitTrouble = 2;

const char kUsage[] =
    "Usage: treelan-cli catalog VERB [OPTIONS] ...\n"
    "\n"
    "Keeps snapshots of folders and drives in one catalogue file, so that their files can be\n"
    "found while a drive is unplugged, what changed can be seen, and copies verified.\n"
    "\n"
    "  add FOLDER             take a snapshot of FOLDER; a volume already catalogued keeps\n"
    "                         only what changed since its latest snapshot\n"
    "      --label L          the volume's label (default: the file system's label, else the\n"
    "                         folder's name); not digits only, no \"@\"\n"
    "  -m, --mp3              keep MP3 playing time and bit rate (export -m needs them)\n"
    "  -M, --media            also keep every media file's details (export -M needs them)\n"
    "      --hash sha256      keep each file's SHA-256 (verify needs them); an unchanged file\n"
    "                         (size, modification and change time, inode) keeps its hash\n"
    "      --rehash           read every file again for its hash\n"
    "      and the walk's filters of export: --exclude-pattern, --include-pattern, --no-hidden,\n"
    "      --max-depth, --one-file-system, --jobs\n"
    "  list                   the snapshots, one line each\n"
    "  search PATTERN         files and folders by name: a part of the name, or the whole name\n"
    "                         when PATTERN holds * or ?; \"f:\" files only, \"d:\" folders only;\n"
    "                         case ignored. Default: each volume's latest snapshot\n"
    "      --volume L         only the volume labelled L\n"
    "      --snapshot S       only snapshot S\n"
    "      --all-snapshots    every snapshot (a result names the snapshots it holds in)\n"
    "      --size +N|-N|N     larger than, smaller than, exactly N bytes (K, M, G: 1024s)\n"
    "      --newer DATE       modified after DATE (ISO 8601; UTC unless it names a zone)\n"
    "      --older DATE       modified before DATE\n"
    "      --type EXT         files ending in .EXT; repeatable\n"
    "      -0                 full paths only, each ended by a NUL byte\n"
    "  diff A [B | FOLDER]    what changed from snapshot A to snapshot B, or to FOLDER as it\n"
    "                         is now (default: A's folder); paths relative to each root\n"
    "      --only KINDS       show only these kinds, out of +,-,M,U,>,T,! (the exit status\n"
    "                         still counts all)\n"
    "  verify S [FOLDER]      read the files again and compare their SHA-256 with snapshot S's\n"
    "      --rehash           also the files whose size changed\n"
    "  export S OUTPUT        the document a direct export of S's folder gave when S was taken;\n"
    "                         every option of export\n"
    "  remove S...            drop snapshots; what later ones share with them stays\n"
    "  check                  check the catalogue file\n"
    "\n"
    "Options of every verb:\n"
    "      --db FILE          the catalogue (default: $XDG_DATA_HOME/treelan/catalog.db, that\n"
    "                         is ~/.local/share/treelan/catalog.db)\n"
    "      --json             list, search, diff, verify: JSON Lines\n"
    "      --tsv              search, diff, verify: tab-separated values\n"
    "  -q, --quiet            no progress and no warnings on standard error\n"
    "  -h, --help             show this help\n"
    "\n"
    "A snapshot S is named by its number, by LABEL (the volume's latest) or LABEL@N.\n"
    "Diff lines: + added, - removed, M content modified, U date only, > moved (>? when no hash\n"
    "decides), T type changed, ! not compared; then a summary. Folders are compared by what they\n"
    "hold, not by their dates. Times are compared and shown at the coarser step of the two file\n"
    "systems (FAT 2 s, exFAT 10 ms).\n"
    "\n"
    "Exit status: 0 done (diff, verify: the same), 1 diff, verify: different, 2 trouble.\n";

int fail(const QString& message) {
    err() << "treelan-cli: " << message << '\n';
    err().flush();
    return kExitTrouble;
}

int usageError(const QString& message) {
    err() << "treelan-cli: " << message << "\nTry 'treelan-cli catalog --help'.\n";
    err().flush();
    return kExitTrouble;
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

bool writeOut(const QByteArray& bytes) {
    return std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
           std::size_t(bytes.size());
}

bool writeOut(const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

// The parser of one verb, with what every verb takes.
struct VerbParser {
    QCommandLineParser parser;
    QCommandLineOption db{QStringList{"db"}, "", "FILE"};
    QCommandLineOption quiet{{"q", "quiet"}, ""};
    QCommandLineOption help{{"h", "help"}, ""};
    QCommandLineOption json{QStringList{"json"}, ""};
    QCommandLineOption tsv{QStringList{"tsv"}, ""};

    VerbParser() {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
        parser.addOptions({db, quiet, help});
    }
    // False after an error or --help; `status` then holds the exit status.
    bool parse(const QStringList& args, int& status) {
        if (!parser.parse(args)) {
            status = usageError(parser.errorText());
            return false;
        }
        if (parser.isSet(help)) {
            QTextStream(stdout) << kUsage;
            status = 0;
            return false;
        }
        return true;
    }
    std::string path(const CatalogCli& cli) const {
        return parser.isSet(db) ? cli.rawArgument(parser.value(db)).toStdString()
                                : Catalog::DefaultPath();
    }
    Catalog::Warning warning() const {
        if (parser.isSet(quiet)) return {};
        return [](const std::string& message) {
            err() << "treelan-cli: warning: " << text(message) << '\n';
            err().flush();
        };
    }
};

int runAdd(const QStringList& args, const CatalogCli& cli) {
    VerbParser v;
    const QCommandLineOption label(QStringList{"label"}, "", "L");
    const QCommandLineOption mp3({"m", "mp3"}, "");
    const QCommandLineOption media({"M", "media"}, "");
    const QCommandLineOption hash(QStringList{"hash"}, "", "ALGORITHM");
    const QCommandLineOption rehash(QStringList{"rehash"}, "");
    v.parser.addOptions({label, mp3, media, hash, rehash});
    cli.addFilters(v.parser);
    int status = 0;
    if (!v.parse(args, status)) return status;
    const QStringList positional = v.parser.positionalArguments();
    if (positional.size() != 1) return usageError(QStringLiteral("catalog add needs one FOLDER"));
    if (v.parser.isSet(hash) && v.parser.value(hash).toLower() != QLatin1String("sha256"))
        return usageError(
            QStringLiteral("--hash takes sha256, not '%1'").arg(v.parser.value(hash)));

    AddOptions options;
    options.root = RootPath::fromBytes(cli.rawArgument(positional[0]));
    if (!options.root.isFolder())
        return usageError(QStringLiteral("%1: not a folder").arg(positional[0]));
    options.label = v.parser.value(label).toStdString();
    options.media = v.parser.isSet(media);
    options.mp3 = v.parser.isSet(mp3) || options.media;
    options.hash = v.parser.isSet(hash) || v.parser.isSet(rehash);
    options.rehash = v.parser.isSet(rehash);
    if (const QString error = cli.applyFilters(v.parser, options.walk); !error.isEmpty())
        return usageError(error);
    const bool quiet = v.parser.isSet(v.quiet);
    ProgressLine progress(!quiet);
    options.walk.progress = [&progress](const WalkProgress& p) { return progress.update(p); };
    if (!quiet)
        options.walk.warning = [&progress](const QString& path, const QString& reason) {
            progress.clear();
            err() << "treelan-cli: warning: " << path << ": " << reason << '\n';
            err().flush();
        };
    try {
        Catalog catalog(v.path(cli), Catalog::Mode::Write, v.warning());
        const AddResult r = AddSnapshot(catalog, options);
        progress.clear();
        if (!quiet)
            QTextStream(stdout) << text(r.volume.label) << '@' << r.snapshot.id << ": "
                                << r.snapshot.files << " files, " << r.snapshot.folders
                                << " folders, " << r.snapshot.bytes << " bytes; "
                                << r.snapshot.written << " entries written"
                                << (r.newVolume ? " (a new volume)" : "") << '\n';
    } catch (const CatalogError& e) {
        progress.clear();
        return fail(QString::fromUtf8(e.what()));
    } catch (const FileError& e) {
        progress.clear();
        return fail(e.message());
    } catch (const Cancelled&) {
        return fail(QStringLiteral("cancelled"));
    }
    return 0;
}

int runList(const QStringList& args, const CatalogCli& cli) {
    VerbParser v;
    v.parser.addOption(v.json);
    int status = 0;
    if (!v.parse(args, status)) return status;
    if (!v.parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("catalog list takes no arguments"));
    try {
        Catalog catalog(v.path(cli), Catalog::Mode::Read);
        const bool json = v.parser.isSet(v.json);
        std::string out;
        std::map<std::int64_t, bool> online;
        for (const VolumeRow& vol : catalog.volumes())
            online[vol.id] = !FindVolume(vol.identity, vol.rootInFs).empty();
        for (const SnapshotRow& s : catalog.snapshots()) {
            const std::string when = IsoTime(s.started - s.started % 1'000'000'000);
            std::string options;
            if (s.hashed) options += " sha256";
            if (s.mp3) options += " mp3";
            if (s.media) options += " media";
            if (s.options != "{}") options += " filters";
            if (json) {
                out += "{\"snapshot\":" + std::to_string(s.id) + ",\"volume\":";
                AppendJson(out, s.label);
                out += ",\"state\":\"" + s.state + "\",\"started\":\"" + when + '"';
                out += ",\"root\":";
                AppendJson(out, DisplayText(s.rootPath));
                if (!IsUtf8(s.rootPath)) {
                    out += ",\"rawRoot\":\"";
                    AppendPercent(out, s.rootPath);
                    out += '"';
                }
                out += ",\"files\":" + std::to_string(s.files) +
                       ",\"folders\":" + std::to_string(s.folders) +
                       ",\"bytes\":" + std::to_string(s.bytes) +
                       ",\"written\":" + std::to_string(s.written);
                out += std::string(",\"sha256\":") + (s.hashed ? "true" : "false") +
                       ",\"mp3\":" + (s.mp3 ? "true" : "false") +
                       ",\"media\":" + (s.media ? "true" : "false") + ",\"options\":" + s.options;
                out += std::string(",\"online\":") + (online[s.volume] ? "true" : "false");
                if (!s.reason.empty()) {
                    out += ",\"reason\":";
                    AppendJson(out, s.reason);
                }
                out += "}\n";
            } else {
                out += std::to_string(s.id) + "  " + s.label + '@' + std::to_string(s.id) + "  " +
                       s.state + "  " + when + "  " + std::to_string(s.files) + " files  " +
                       std::to_string(s.folders) + " folders  " + std::to_string(s.bytes) +
                       " bytes" + options + "  " + s.rootPath +
                       (online[s.volume] ? "" : "  (offline)") +
                       (s.reason.empty() ? "" : "  " + s.reason) + '\n';
            }
        }
        if (!writeOut(out) || std::fflush(stdout) != 0)
            return fail(QStringLiteral("standard output: cannot write"));
    } catch (const CatalogError& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return 0;
}

int runSearch(const QStringList& args, const CatalogCli& cli) {
    VerbParser v;
    const QCommandLineOption volume(QStringList{"volume"}, "", "L");
    const QCommandLineOption snapshot(QStringList{"snapshot"}, "", "S");
    const QCommandLineOption all(QStringList{"all-snapshots"}, "");
    const QCommandLineOption size(QStringList{"size"}, "", "SIZE");
    const QCommandLineOption newer(QStringList{"newer"}, "", "DATE");
    const QCommandLineOption older(QStringList{"older"}, "", "DATE");
    const QCommandLineOption type(QStringList{"type"}, "", "EXT");
    const QCommandLineOption nul(QStringList{"0"}, "");
    v.parser.addOptions({volume, snapshot, all, size, newer, older, type, nul, v.json, v.tsv});
    int status = 0;
    if (!v.parse(args, status)) return status;
    const QStringList positional = v.parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(QStringLiteral("catalog search needs one PATTERN"));
    SearchOptions o;
    o.pattern = cli.rawArgument(positional[0]).toStdString();
    o.volume = v.parser.value(volume).toStdString();
    o.snapshot = v.parser.value(snapshot).toStdString();
    o.allSnapshots = v.parser.isSet(all);
    if (v.parser.isSet(size) &&
        !ParseSizeFilter(v.parser.value(size).toStdString(), o.sizeOp, o.size))
        return usageError(QStringLiteral("--size takes +N, -N or N bytes, with K, M or G; not '%1'")
                              .arg(v.parser.value(size)));
    if (v.parser.isSet(newer) && !ParseIsoTime(v.parser.value(newer).toStdString(), o.newerNs))
        return usageError(
            QStringLiteral("--newer takes an ISO 8601 date, not '%1'").arg(v.parser.value(newer)));
    if (v.parser.isSet(older) && !ParseIsoTime(v.parser.value(older).toStdString(), o.olderNs))
        return usageError(
            QStringLiteral("--older takes an ISO 8601 date, not '%1'").arg(v.parser.value(older)));
    for (const QString& t : v.parser.values(type))
        for (QString ext : t.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
            o.types.push_back(FoldText(ext.toStdString()));
        }
    const int formats =
        int(v.parser.isSet(v.json)) + int(v.parser.isSet(v.tsv)) + int(v.parser.isSet(nul));
    if (formats > 1) return usageError(QStringLiteral("--json, --tsv and -0 go alone"));
    o.format = v.parser.isSet(v.json)  ? SearchOptions::Format::Json
               : v.parser.isSet(v.tsv) ? SearchOptions::Format::Tsv
               : v.parser.isSet(nul)   ? SearchOptions::Format::Nul
                                       : SearchOptions::Format::Text;
    try {
        Catalog catalog(v.path(cli), Catalog::Mode::Read);
        Search(catalog, o, stdout);
        if (std::fflush(stdout) != 0) return fail(QStringLiteral("standard output: cannot write"));
    } catch (const CatalogError& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return 0;
}

// The kinds --only names.
bool parseOnly(const QString& list, std::vector<Op>& only) {
    for (const QString& k : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool found = false;
        for (Op op : {Op::Added, Op::Removed, Op::Modified, Op::Metadata, Op::Moved,
                      Op::MovedUnsure, Op::Type, Op::NotCompared})
            if (k.trimmed() == QLatin1String(OpSymbol(op))) {
                only.push_back(op);
                if (op == Op::Moved) only.push_back(Op::MovedUnsure);
                found = true;
            }
        if (!found) return false;
    }
    return true;
}

int report(const DiffResult& result, const VerbParser& v, const std::vector<Op>& only) {
    const DiffFormat format = v.parser.isSet(v.json)  ? DiffFormat::Json
                              : v.parser.isSet(v.tsv) ? DiffFormat::Tsv
                                                      : DiffFormat::Text;
    if (!writeOut(FormatDiff(result, format, only)) || std::fflush(stdout) != 0)
        return fail(QStringLiteral("standard output: cannot write"));
    return DiffStatus(result);
}

// diff and verify: snapshot A against B or a folder.
int runCompare(const QStringList& args, const CatalogCli& cli, bool verify) {
    VerbParser v;
    const QCommandLineOption only(QStringList{"only"}, "", "KINDS");
    const QCommandLineOption rehash(QStringList{"rehash"}, "");
    v.parser.addOptions({v.json, v.tsv, only});
    if (verify) v.parser.addOption(rehash);
    int status = 0;
    if (!v.parse(args, status)) return status;
    const QStringList positional = v.parser.positionalArguments();
    const QString verb = verify ? QStringLiteral("verify") : QStringLiteral("diff");
    if (positional.isEmpty() || positional.size() > 2)
        return usageError(
            QStringLiteral("catalog %1 needs a snapshot, and one more snapshot or a folder")
                .arg(verb));
    if (v.parser.isSet(v.json) && v.parser.isSet(v.tsv))
        return usageError(QStringLiteral("--json and --tsv go alone"));
    std::vector<Op> kinds;
    if (v.parser.isSet(only) && !parseOnly(v.parser.value(only), kinds))
        return usageError(QStringLiteral("--only takes kinds out of +,-,M,U,>,T,!, not '%1'")
                              .arg(v.parser.value(only)));
    const bool quiet = v.parser.isSet(v.quiet);
    ProgressLine progress(!quiet);
    DiffOptions options;
    options.hashContents = verify;
    options.rehash = verify && v.parser.isSet(rehash);
    options.progress = [&progress](const WalkProgress& p) { return progress.update(p); };
    if (!quiet)
        options.warning = [&progress](const QString& path, const QString& reason) {
            progress.clear();
            err() << "treelan-cli: warning: " << path << ": " << reason << '\n';
            err().flush();
        };
    try {
        Catalog catalog(v.path(cli), Catalog::Mode::Read);
        const SnapshotRow a = catalog.resolve(positional[0].toStdString());
        if (verify && !a.hashed)
            return fail(
                QStringLiteral("snapshot %1 was added without --hash: it has no hashes to verify")
                    .arg(a.id));
        DiffResult result;
        if (positional.size() == 2 && !verify) {
            // A folder when written as a path ("./photos", "/media/x"), else a snapshot's name,
            // else a folder by that name.
            const QByteArray raw = cli.rawArgument(positional[1]);
            const RootPath folder = RootPath::fromBytes(raw);
            const bool path = raw.contains('/') || raw == "." || raw == "..";
            std::optional<SnapshotRow> b;
            if (!path) {
                try {
                    b = catalog.resolve(positional[1].toStdString());
                } catch (const CatalogError&) {
                    if (!folder.isFolder()) throw;
                }
            }
            if (b) {
                result = DiffSnapshots(catalog, a, *b);
            } else {
                if (!folder.isFolder())
                    return fail(QStringLiteral("%1: not a folder").arg(positional[1]));
                result = DiffFolder(catalog, a, folder, options);
            }
        } else {
            const RootPath folder =
                positional.size() == 2 ? RootPath::fromBytes(cli.rawArgument(positional[1]))
                                       : RootPath::fromBytes(QByteArray::fromStdString(a.rootPath));
            if (!folder.isFolder())
                return fail(QStringLiteral("%1: not a folder (is the drive plugged in?)")
                                .arg(folder.display()));
            result = DiffFolder(catalog, a, folder, options);
        }
        progress.clear();
        return report(result, v, kinds);
    } catch (const CatalogError& e) {
        progress.clear();
        return fail(QString::fromUtf8(e.what()));
    } catch (const FileError& e) {
        progress.clear();
        return fail(e.message());
    } catch (const Cancelled&) {
        return fail(QStringLiteral("cancelled"));
    }
}

// What an export of a snapshot needs beyond the request: the catalogue and the tree's source.
struct SnapshotExport {
    std::unique_ptr<Catalog> catalog;
    std::unique_ptr<SnapshotTreeSource> source;
};

// Joins the snapshot's filters with the export's own: the document must be the one a direct
// export with both gave, so what the snapshot cannot serve is refused.
QString mergeFilters(const SnapshotRow& s, WalkOptions& walk) {
    WalkOptions kept;
    if (!FiltersFromJson(s.options, kept))
        return QStringLiteral("snapshot %1: its options cannot be read").arg(s.id);
    if (!kept.includePatterns.empty() && !walk.includePatterns.empty())
        return QStringLiteral(
                   "--include-pattern: snapshot %1 was added with include patterns of its own")
            .arg(s.id);
    if (kept.maxDepth >= 0 && (walk.maxDepth < 0 || walk.maxDepth > kept.maxDepth))
        return QStringLiteral("--max-depth: snapshot %1 holds folders down to depth %2 only")
            .arg(s.id)
            .arg(kept.maxDepth);
    std::vector<PathPattern> exclude = kept.excludePatterns;
    exclude.insert(exclude.end(), walk.excludePatterns.begin(), walk.excludePatterns.end());
    walk.excludePatterns = std::move(exclude);
    if (walk.includePatterns.empty()) walk.includePatterns = kept.includePatterns;
    walk.noHidden = walk.noHidden || kept.noHidden;
    walk.oneFileSystem = walk.oneFileSystem || kept.oneFileSystem;
    return {};
}

int runExport(const QStringList& args, const CatalogCli& cli) {
    // The catalogue's options are taken out; the rest is the export command's.
    QStringList rest{args.value(0)};
    std::string db = Catalog::DefaultPath();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            QTextStream(stdout) << kUsage;
            return 0;
        }
        if (a == QLatin1String("--db") && i + 1 < args.size()) {
            db = cli.rawArgument(args[++i]).toStdString();
        } else if (a.startsWith(QLatin1String("--db="))) {
            db = cli.rawArgument(a.mid(5)).toStdString();
        } else {
            rest << a;
        }
    }
    SnapshotExport holder;
    const ExportPreparer prepare = [&](const QString& first, ExportRequest& request) -> QString {
        try {
            holder.catalog = std::make_unique<Catalog>(db, Catalog::Mode::Read);
            const SnapshotRow s = holder.catalog->resolve(first.toStdString());
            if (request.options.mediaInfo && !s.media)
                return QStringLiteral("-M: snapshot %1 was added without -M").arg(s.id);
            if (request.options.mp3Info && !s.mp3)
                return QStringLiteral("-m: snapshot %1 was added without -m").arg(s.id);
            if (const QString problem = mergeFilters(s, request.options.walk); !problem.isEmpty())
                return problem;
            const std::optional<VolumeRow> volume = holder.catalog->volume(s.volume);
            if (!volume) return QStringLiteral("snapshot %1 has no volume").arg(s.id);
            request.rootPath = RootPath::fromBytes(QByteArray::fromStdString(s.rootPath));
            request.exportTime = QDateTime::fromSecsSinceEpoch(s.started / 1'000'000'000, Qt::UTC);
            holder.source = std::make_unique<SnapshotTreeSource>(*holder.catalog, s, *volume);
            request.source = holder.source.get();
        } catch (const CatalogError& e) {
            return QString::fromUtf8(e.what());
        }
        return {};
    };
    try {
        return cli.runExport(rest, prepare);
    } catch (const CatalogError& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

int runRemove(const QStringList& args, const CatalogCli& cli) {
    VerbParser v;
    int status = 0;
    if (!v.parse(args, status)) return status;
    const QStringList positional = v.parser.positionalArguments();
    if (positional.isEmpty()) return usageError(QStringLiteral("catalog remove needs snapshots"));
    try {
        Catalog catalog(v.path(cli), Catalog::Mode::Write, v.warning());
        Transaction t(catalog.db());
        std::string out;
        for (const QString& name : positional) {
            const SnapshotRow s = catalog.resolve(name.toStdString());
            catalog.dropSnapshot(s);
            out += "removed " + s.label + '@' + std::to_string(s.id) + '\n';
        }
        t.commit();
        if (!v.parser.isSet(v.quiet)) writeOut(out);
    } catch (const CatalogError& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return 0;
}

int runCheck(const QStringList& args, const CatalogCli& cli) {
    VerbParser v;
    int status = 0;
    if (!v.parse(args, status)) return status;
    try {
        Catalog catalog(v.path(cli), Catalog::Mode::Read);
        Database& db = catalog.db();
        std::vector<std::string> problems;
        Statement integrity = db.prepare("PRAGMA integrity_check");
        while (integrity.step())
            if (integrity.text(0) != "ok") problems.emplace_back(integrity.text(0));
        // What SQLite cannot know: the versions of each node follow one another without overlap,
        // and name only complete snapshots.
        const std::pair<const char*, const char*> checks[] = {
            {"SELECT count(*) FROM versions a JOIN versions b ON a.node = b.node AND a.first < "
             "b.first "
             "WHERE a.last IS NULL OR a.last >= b.first",
             "versions of one entry that overlap"},
            {"SELECT count(*) FROM versions v LEFT JOIN snapshots s ON s.id = v.first "
             "WHERE s.state IS NOT 'complete'",
             "versions that begin in no complete snapshot"},
            {"SELECT count(*) FROM versions v JOIN snapshots s ON s.id = v.last WHERE s.state IS "
             "NOT 'complete'",
             "versions that end in a snapshot that is not complete"},
            {"SELECT count(*) FROM snapshots WHERE state = 'running'",
             "snapshots still marked running"},
            {"SELECT count(*) FROM volumes v LEFT JOIN nodes n ON n.id = v.root_node WHERE n.id IS "
             "NULL",
             "volumes without their root"},
            {"SELECT count(*) FROM nodes n LEFT JOIN names m ON m.id = n.name WHERE m.id IS NULL "
             "AND n.parent IS NOT NULL",
             "entries without a name"},
        };
        for (const auto& [sql, what] : checks)
            if (const std::int64_t n = db.number(sql); n > 0)
                problems.push_back(std::to_string(n) + " " + what);
        std::string out;
        for (const std::string& p : problems)
            out += catalog.path() + ": " + p + '\n';
        if (problems.empty())
            out += catalog.path() + ": ok, " +
                   std::to_string(db.number("SELECT count(*) FROM snapshots")) + " snapshots of " +
                   std::to_string(db.number("SELECT count(*) FROM volumes")) + " volumes\n";
        writeOut(out);
        return problems.empty() ? 0 : 1;
    } catch (const CatalogError& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

} // namespace

QString CatalogUsage() {
    return QString::fromLatin1(kUsage);
}

int RunCatalog(const QStringList& args, const CatalogCli& cli) {
    if (args.size() < 2) {
        err() << kUsage;
        return kExitTrouble;
    }
    const QString verb = args[1];
    QStringList rest = args;
    rest.removeAt(1);
    if (verb == QLatin1String("-h") || verb == QLatin1String("--help")) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    if (verb == QLatin1String("add")) return runAdd(rest, cli);
    if (verb == QLatin1String("list")) return runList(rest, cli);
    if (verb == QLatin1String("search")) return runSearch(rest, cli);
    if (verb == QLatin1String("diff")) return runCompare(rest, cli, false);
    if (verb == QLatin1String("verify")) return runCompare(rest, cli, true);
    if (verb == QLatin1String("export")) return runExport(rest, cli);
    if (verb == QLatin1String("remove")) return runRemove(rest, cli);
    if (verb == QLatin1String("check")) return runCheck(rest, cli);
    return usageError(QStringLiteral("unknown catalog verb '%1'").arg(verb));
}

} // namespace treelan
