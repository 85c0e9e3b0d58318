// treelan-cli: the export and the listing without a display.
#include "TreelanConfig.h"
#include "cli/CatalogCommand.h"
#include "cli/ProgressLine.h"
#include "codec/Utf8.h"
#include "export/ExportDocument.h"
#include "export/Formats.h"
#include "listing/Clipboard.h"
#include "listing/FolderScan.h"
#include "listing/ListingModel.h"
#include "platform/EntryLookup.h"
#include "platform/FileError.h"
#include "platform/OutputFile.h"
#include "settings/StringTable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringEncoder>
#include <QTextStream>

#include <array>
#include <cstdio>

using namespace treelan;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The help after the list of formats.
const char kOptionsUsage[] =
    "  -t, --template NAME    with xslt: the stylesheet line names NAME.xsl\n"
    "      --only PATH        export only this file, or this folder when PATH ends in \"/\";\n"
    "                         PATH is relative to FOLDER, or absolute inside it; "
    "repeatable\n"
    "      --exclude PATH     leave out this file, or this folder when PATH ends in \"/\"; "
    "repeatable\n"
    "      --resources DIR    the Resource folder (default: the one beside the program)\n"
    "      --strings FILE     an interface string file instead of the built-in English texts\n"
    "      --bom              csv, tsv: begin with a UTF-8 byte-order mark (spreadsheets need it\n"
    "                         to read UTF-8)\n"
    "      --totals           xml, xslt: each folder element also gets files, folders, bytes and\n"
    "                         length (playing time hh:mm:ss) of everything written beneath it\n"
    "  -q, --quiet            no progress and no warnings on standard error\n"
    "  -h, --help             show this help\n"
    "      --version          show the version\n"
    "\n"
    "\n"
    "list prints the listing of FOLDER as the Copy button puts it on the clipboard.\n"
    "\n"
    "  -r, --recursive        list the files of every subfolder\n"
    "  -m, --mp3              read MP3 playing time and bit rate\n"
    "  -M, --media            read media details too (implies -m; see export)\n"
    "      --full-path        begin each line with FOLDER\n"
    "      --columns LIST     shown columns out of size,date,duration,bitrate,mediaTitle,\n"
    "                         artist,album,track,year,genre,dimensions,codec,dateTaken,\n"
    "                         cameraMake,cameraModel (default: size,date; an empty LIST shows\n"
    "                         none; the names after bitrate are filled with --media)\n"
    "      --sort KEY         name | folder | size | type | date | duration | bitrate (default: "
    "name),\n"
    "                         or a media column's name\n"
    "      --descending       sort in descending order\n"
    "      --strings FILE     an interface string file instead of the built-in English texts\n"
    "\n"
    "What is walked (export and list):\n"
    "      --exclude-pattern GLOB  leave out files and folders that match GLOB (a folder so left\n"
    "                         out is not entered); repeatable\n"
    "      --include-pattern GLOB  keep only the files that match GLOB (folders are still "
    "walked);\n"
    "                         repeatable, a file is kept when it matches any\n"
    "                         GLOB is shell-style: * any run of characters but \"/\", ** any run\n"
    "                         with \"/\" (\"**/\" also none), ? one character, [a-z] [!a-z] sets,\n"
    "                         \\ escapes. It matches the name, or the path relative to FOLDER\n"
    "                         (\"sub/x.mp3\") when it holds a \"/\".\n"
    "      --no-hidden        leave out names that begin with \".\"\n"
    "      --max-depth N      enter subfolders down to depth N only (0: FOLDER's own entries)\n"
    "      --one-file-system  do not enter folders on another file system than FOLDER\n"
    "      --no-follow        do not follow symbolic links below FOLDER: each is written as a\n"
    "                         link, with its own size and date\n"
    "      --jobs N           read folders with N threads ahead of the writing; 1 reads them\n"
    "                         in turn (default: the processors, 4 times them on network and\n"
    "                         FUSE mounts and with -m or -M, at most 32); the output is the same\n"
    "Links to folders are followed, but each folder is entered once: where the walk reaches it\n"
    "again, it is written as a folder that says where it is listed.\n"
    "\n"
    "Exit status: 0 written, 1 failed, 2 usage error.\n";

// The export formats' names, joined.
QString formatNames(const QString& separator) {
    QStringList names;
    for (const ExportFormatInfo& f : ExportFormats())
        names << QLatin1String(f.name);
    return names.join(separator);
}

QString usage() {
    QString text = QStringLiteral(
        "Usage: treelan-cli export [OPTIONS] FOLDER OUTPUT\n"
        "  or:  treelan-cli list [LIST OPTIONS] FOLDER\n"
        "  or:  treelan-cli catalog VERB ...  (snapshots over time: treelan-cli catalog --help)\n"
        "\n"
        "Writes the tree of FOLDER to OUTPUT (\"-\" for standard output). A regular file is\n"
        "replaced once the document is complete; a character device, a FIFO, /dev/stdout or\n"
        "/dev/fd/N is written into; a folder, a socket or a block device is refused.\n"
        "\n"
        "  -r, --recursive        write each subfolder's contents\n"
        "  -m, --mp3              read MP3 playing time and bit rate\n"
        "  -M, --media            read media details too (implies -m): playing time and bit rate\n"
        "                         of every audio and video file, audio tags, video and picture\n"
        "                         sizes as displayed, video codec, date taken, camera make and\n"
        "                         model; the content decides, a name only says what to read\n"
        "  -f, --format FORMAT    one of these (default: from OUTPUT's ending, else xml):\n");
    // One line per format, from the format table.
    for (const ExportFormatInfo& f : ExportFormats()) {
        text += QStringLiteral("                           %1 %2")
                    .arg(QLatin1String(f.name), -6)
                    .arg(QLatin1String(f.summary));
        if (!f.extensions.isEmpty()) {
            const QString byName = QStringLiteral(" (default for OUTPUT ending in %1)")
                                       .arg(f.extensions.join(QLatin1String(" or ")));
            // Kept within 80 columns: a long one goes on a line of its own.
            const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n')) + 1;
            if (text.size() - lineStart + byName.size() > 80)
                text += QStringLiteral("\n                                 ");
            text += byName;
        }
        text += QLatin1Char('\n');
    }
    return text + QLatin1String(kOptionsUsage);
}

// The bytes of an argument or option value. Arguments are decoded with DecodeArgument, so
// a name that is not valid UTF-8 comes back exactly as the system gave it.
QByteArray rawArgument(const QString& value) {
    return EncodeArgument(value);
}

// An argument as the user reads it, for messages.
QString shown(const QString& value) {
    return DecodeFileName(EncodeArgument(value));
}

// The options both commands share: what the walk leaves out.
struct FilterOptions {
    QCommandLineOption exclude{QStringList{"exclude-pattern"}, "", "GLOB"};
    QCommandLineOption include{QStringList{"include-pattern"}, "", "GLOB"};
    QCommandLineOption noHidden{QStringList{"no-hidden"}, ""};
    QCommandLineOption maxDepth{QStringList{"max-depth"}, "", "N"};
    QCommandLineOption oneFileSystem{QStringList{"one-file-system"}, ""};
    QCommandLineOption noFollow{QStringList{"no-follow"}, ""};
    QCommandLineOption jobs{QStringList{"jobs"}, "", "N"};

    void addTo(QCommandLineParser& parser) const {
        parser.addOptions({exclude, include, noHidden, maxDepth, oneFileSystem, noFollow, jobs});
    }
    // Fills the walk's filters; an empty text, or the usage error.
    QString apply(const QCommandLineParser& parser, WalkOptions& walk) const;
};

int usageError(const QString& message) {
    err() << "treelan-cli: " << message << "\nTry 'treelan-cli --help'.\n";
    err().flush();
    return kExitUsage;
}

QString FilterOptions::apply(const QCommandLineParser& parser, WalkOptions& walk) const {
    for (const QString& glob : parser.values(exclude))
        walk.excludePatterns.emplace_back(rawArgument(glob));
    for (const QString& glob : parser.values(include))
        walk.includePatterns.emplace_back(rawArgument(glob));
    walk.noHidden = parser.isSet(noHidden);
    walk.oneFileSystem = parser.isSet(oneFileSystem);
    walk.noFollow = parser.isSet(noFollow);
    if (parser.isSet(maxDepth)) {
        bool ok = false;
        walk.maxDepth = parser.value(maxDepth).toInt(&ok);
        if (!ok || walk.maxDepth < 0)
            return QStringLiteral("--max-depth needs a whole number of 0 or more, not '%1'")
                .arg(parser.value(maxDepth));
    }
    if (parser.isSet(jobs)) {
        bool ok = false;
        walk.jobs = parser.value(jobs).toInt(&ok);
        if (!ok || walk.jobs < 1 || walk.jobs > 256)
            return QStringLiteral("--jobs needs a whole number from 1 to 256, not '%1'")
                .arg(parser.value(jobs));
    }
    return {};
}

// --only and --exclude: each PATH as an entry below the root. A path outside the root is a usage
// error (returned); one that names nothing there gets a warning, and the export is written all
// the same.
QString pickEntries(const QStringList& only, const QStringList& exclude, const RootPath& root,
                    bool quiet, ExportOptions& o) {
    const EntryLookup lookup(root);
    auto pick = [&](const QString& path, const char* option, PathSet& into) -> QString {
        const EntryLookup::Result r = lookup.find(rawArgument(path));
        if (r.kind == EntryLookup::Kind::Outside)
            return QStringLiteral("%1 %2: not inside %3")
                .arg(QLatin1String(option), shown(path), root.display());
        if (r.kind == EntryLookup::Kind::Missing && !quiet)
            err() << "treelan-cli: warning: " << option << ' ' << shown(path)
                  << ": names no file or folder in " << root.display() << '\n';
        if (r.relPath.isEmpty()) { // the root itself
            if (&into == &o.removed)
                return QStringLiteral("%1 %2: cannot leave out the whole folder")
                    .arg(QLatin1String(option), shown(path));
            o.selectedOnly = false;
            return {};
        }
        into.add(r.relPath);
        return {};
    };
    bool wholeRoot = false;
    for (const QString& path : only) {
        o.selectedOnly = true;
        if (QString error = pick(path, "--only", o.selected); !error.isEmpty()) return error;
        wholeRoot = wholeRoot || !o.selectedOnly;
    }
    if (wholeRoot) o.selectedOnly = false;
    for (const QString& path : exclude)
        if (QString error = pick(path, "--exclude", o.removed); !error.isEmpty()) return error;
    err().flush();
    return {};
}

// The --strings option: texts from this file instead of the built-in ones.
bool useStringFile(const QString& file) {
    if (!QFileInfo(file).isReadable()) {
        err() << "treelan-cli: " << file << ": cannot read the string file\n";
        return false;
    }
    SetIniPath(QFileInfo(file).absoluteFilePath());
    return true;
}

// The export command's options.
struct ExportCommandLine {
    QCommandLineOption recursive{{"r", "recursive"}, ""};
    QCommandLineOption mp3{{"m", "mp3"}, ""};
    QCommandLineOption media{{"M", "media"}, ""};
    QCommandLineOption format{{"f", "format"}, "", "FORMAT"};
    QCommandLineOption templ{{"t", "template"}, "", "NAME"};
    QCommandLineOption only{QStringList{"only"}, "", "PATH"};
    QCommandLineOption exclude{QStringList{"exclude"}, "", "PATH"};
    QCommandLineOption resources{QStringList{"resources"}, "", "DIR"};
    QCommandLineOption strings{QStringList{"strings"}, "", "FILE"};
    QCommandLineOption quiet{{"q", "quiet"}, ""};
    QCommandLineOption totals{QStringList{"totals"}, ""};
    QCommandLineOption bom{QStringList{"bom"}, ""};
    QCommandLineOption help{{"h", "help"}, ""};
    FilterOptions filters;

    void addTo(QCommandLineParser& parser) const {
        parser.addOptions({recursive, mp3, format, templ, only, exclude, resources, strings, quiet,
                           help, totals, bom, media});
        filters.addTo(parser);
    }
    // The format and its own options into `request`; an empty text, or the usage error.
    QString chooseFormat(const QCommandLineParser& parser, ExportRequest& request) const;
};

QString ExportCommandLine::chooseFormat(const QCommandLineParser& parser,
                                        ExportRequest& request) const {
    // Chosen once: -f, else --template's form, else the OUTPUT name's ending, else XML.
    const ExportFormatInfo* chosen = nullptr;
    if (parser.isSet(format)) {
        chosen = FindExportFormat(parser.value(format));
        if (!chosen)
            return QStringLiteral("unknown format '%1' (%2)")
                .arg(parser.value(format), formatNames(QStringLiteral(", ")));
    } else if (parser.isSet(templ)) {
        chosen = &ExportFormatOf(ExportFormat::XmlWithTemplate);
    } else {
        chosen = ExportFormatForTarget(request.targetPath);
        if (!chosen) chosen = &ExportFormatOf(ExportFormat::GenericXml);
    }
    request.format = chosen->format;
    const std::pair<const QCommandLineOption&, FormatOption> formatOptions[] = {
        {templ, TakesTemplate}, {totals, TakesTotals}, {bom, TakesByteOrderMark}};
    for (const auto& [option, flag] : formatOptions) {
        if (!parser.isSet(option) || (chosen->takes & flag)) continue;
        QStringList takers; // "the xml and xslt formats"
        for (const ExportFormatInfo& f : ExportFormats())
            if (f.takes & flag) takers << QLatin1String(f.name);
        return QStringLiteral("--%1 goes with the %2 format%3")
            .arg(option.names().last(), takers.join(QLatin1String(" and ")),
                 takers.size() > 1 ? QStringLiteral("s") : QString());
    }
    request.folderTotals = parser.isSet(totals);
    request.byteOrderMark = parser.isSet(bom);
    // The stylesheet line adds ".xsl": a NAME that has it already is taken as it is.
    QString templateName = parser.value(templ);
    if (templateName.endsWith(QLatin1String(".xsl")) && templateName.size() > 4)
        templateName.chop(4);
    request.templateRequest = [templateName] { return templateName; };
    return {};
}

// Writes the document with a progress line on a terminal and the warnings on standard error.
int writeExport(ExportRequest& request, bool quiet) {
    // A document written into a descriptor or a device may share the terminal with the line.
    const QString& target = request.targetPath;
    ProgressLine progress(!quiet && target != QLatin1String("-") &&
                          !target.startsWith(QLatin1String("/dev/")) &&
                          !target.startsWith(QLatin1String("/proc/self/fd/")));
    WalkOptions& walk = request.options.walk;
    walk.progress = [&progress](const WalkProgress& p) { return progress.update(p); };
    if (!quiet)
        walk.warning = [&progress](const QString& path, const QString& reason) {
            progress.clear();
            err() << "treelan-cli: warning: " << path << ": " << reason << '\n';
            err().flush();
        };
    try {
        WriteExportDocument(request);
    } catch (const FileError& e) {
        progress.clear();
        err() << "treelan-cli: " << e.message() << '\n';
        return kExitFailed;
    }
    return 0;
}

// `prepare`: the catalogue's export, whose first argument names a snapshot, not a folder.
int runExport(const QStringList& args, const ExportPreparer& prepare = {}) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const ExportCommandLine line;
    line.addTo(parser);
    if (!parser.parse(args)) return usageError(parser.errorText());
    if (parser.isSet(line.help)) {
        QTextStream(stdout) << usage();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) return usageError(QStringLiteral("export needs FOLDER and OUTPUT"));

    // Nothing is walked for an OUTPUT that can never be written.
    if (positional[1].isEmpty()) return usageError(QStringLiteral("OUTPUT is empty"));

    ExportRequest request;
    request.rootPath = RootPath::fromBytes(rawArgument(positional[0]));
    request.targetPath = positional[1];
    request.rawTargetPath = rawArgument(positional[1]);
    if (const QString error = line.chooseFormat(parser, request); !error.isEmpty())
        return usageError(error);
    if (!prepare && !request.rootPath.isFolder())
        return usageError(QStringLiteral("%1: not a folder").arg(shown(positional[0])));

    if (parser.isSet(line.strings) && !useStringFile(parser.value(line.strings)))
        return kExitFailed;
    request.resourceDir =
        parser.isSet(line.resources) ? parser.value(line.resources) : DefaultResourceDir();

    ExportOptions& o = request.options;
    o.browseSubfolders = parser.isSet(line.recursive);
    o.mediaInfo = parser.isSet(line.media);
    o.mp3Info = parser.isSet(line.mp3) || o.mediaInfo;
    if (const QString error = line.filters.apply(parser, o.walk); !error.isEmpty())
        return usageError(error);
    const bool quiet = parser.isSet(line.quiet);
    if (prepare)
        if (const QString problem = prepare(positional[0], request); !problem.isEmpty()) {
            err() << "treelan-cli: " << problem << '\n';
            return kExitUsage;
        }
    // A snapshot's folder need not be on disk now: its paths are taken as written.
    if (const QString error = pickEntries(parser.values(line.only), parser.values(line.exclude),
                                          request.rootPath, quiet || prepare, o);
        !error.isEmpty())
        return usageError(error);
    return writeExport(request, quiet);
}

int runList(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption recursive({"r", "recursive"}, "");
    const QCommandLineOption mp3({"m", "mp3"}, "");
    const QCommandLineOption media({"M", "media"}, "");
    const QCommandLineOption fullPath(QStringList{"full-path"}, "");
    const QCommandLineOption columns(QStringList{"columns"}, "", "LIST");
    const QCommandLineOption sortBy(QStringList{"sort"}, "", "KEY");
    const QCommandLineOption descending(QStringList{"descending"}, "");
    const QCommandLineOption strings(QStringList{"strings"}, "", "FILE");
    const QCommandLineOption help({"h", "help"}, "");
    parser.addOptions(
        {recursive, mp3, media, fullPath, columns, sortBy, descending, strings, help});
    const FilterOptions filters;
    filters.addTo(parser);
    if (!parser.parse(args)) return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << usage();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) return usageError(QStringLiteral("list needs one FOLDER"));

    // The View items by their names, in View menu order, and the media columns by theirs.
    std::array<bool, kViewItems> shownItems = ColumnLayout::kDefaultViewItems;
    std::array<bool, kMediaViewItems> shownMedia{};
    if (parser.isSet(columns)) {
        static const QStringList names{"size", "date", "duration", "bitrate"};
        shownItems = {};
        for (const QString& name :
             parser.value(columns).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const qsizetype i = names.indexOf(name.trimmed().toLower());
            const int field = MediaFieldByKey(name.trimmed());
            if (i >= 0)
                shownItems[std::size_t(i)] = true;
            else if (field >= 0)
                shownMedia[std::size_t(field)] = true;
            else
                return usageError(QStringLiteral("unknown column '%1'").arg(name));
        }
    }
    int key = ColName;
    if (parser.isSet(sortBy)) {
        static const QHash<QString, int> keys{{"name", ColName},         {"folder", ColFolder},
                                              {"size", ColSizeKey},      {"type", ColTypeName},
                                              {"date", ColDateKey},      {"duration", ColDuration},
                                              {"bitrate", ColBitrateKey}};
        const auto it = keys.constFind(parser.value(sortBy).toLower());
        const int field = MediaFieldByKey(parser.value(sortBy));
        if (it == keys.constEnd() && field < 0)
            return usageError(QStringLiteral("unknown sort key '%1'").arg(parser.value(sortBy)));
        key = it != keys.constEnd() ? *it : ColMedia + field;
    }

    const RootPath root = RootPath::fromBytes(rawArgument(positional[0]));
    if (!root.isFolder())
        return usageError(QStringLiteral("%1: not a folder").arg(shown(positional[0])));
    if (parser.isSet(strings) && !useStringFile(parser.value(strings))) return kExitFailed;

    ListingModel model;
    model.columns().arrangeColumns(shownItems, shownMedia);
    model.sort(key, parser.isSet(descending) ? Qt::DescendingOrder : Qt::AscendingOrder);
    ScanOptions options;
    options.rootPath = root;
    options.browseSubfolders = parser.isSet(recursive);
    options.mediaInfo = parser.isSet(media);
    options.mp3Info = parser.isSet(mp3) || options.mediaInfo;
    if (const QString error = filters.apply(parser, options.walk); !error.isEmpty())
        return usageError(error);
    options.walk.warning = [](const QString& path, const QString& reason) {
        err() << "treelan-cli: warning: " << path << ": " << reason << '\n';
        err().flush();
    };
    try {
        RefreshListing(model, options);
    } catch (const FileError& e) {
        err() << "treelan-cli: " << e.message() << '\n';
        return kExitFailed;
    }
    // The Copy button's text, written in pieces so a large listing is never held twice.
    const bool full = parser.isSet(fullPath);
    constexpr qsizetype kPiece = 256 * 1024;
    QString piece;
    piece.reserve(kPiece + 4096);
    QStringEncoder encoder(QStringEncoder::Utf8);
    QByteArray bytes; // reused: a fresh buffer per piece would fault its pages in every time
    auto write = [&] {
        bytes.resize(encoder.requiredSpace(piece.size()));
        const qsizetype n = encoder.appendToBuffer(bytes.data(), piece) - bytes.data();
        piece.truncate(0);
        return std::fwrite(bytes.constData(), 1, std::size_t(n), stdout) == std::size_t(n);
    };
    bool ok = true;
    for (int row = 0; ok && row < model.rowCount(); ++row) {
        model.prefetch(row + 16);
        AppendClipboardLine(piece, model, row, root.display(), full);
        if (piece.size() >= kPiece) ok = write();
    }
    if (!ok || !write() || std::fflush(stdout) != 0) {
        err() << "treelan-cli: standard output: cannot write\n";
        return kExitFailed;
    }
    return 0;
}

} // namespace

// The command line's entry, loaded by treelan-cli (cli/Launcher.cpp) for every command but a
// catalogue search.
extern "C" __attribute__((visibility("default"))) int treelan_cli_main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RestoreBrokenPipeDefault();
    QCoreApplication::setApplicationName(QStringLiteral("treelan-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TREELAN_VERSION));
    LoadDefaultStrings();

    // Not app.arguments(): Qt's decoding replaces bytes that are not UTF-8.
    QStringList args;
    args.reserve(argc);
    for (int i = 0; i < argc; ++i)
        args.append(DecodeArgument(QByteArray(argv[i])));
    if (args.size() < 2) {
        err() << usage();
        return kExitUsage;
    }
    const QString command = args[1];
    if (command == QLatin1String("-h") || command == QLatin1String("--help")) {
        QTextStream(stdout) << usage();
        return 0;
    }
    if (command == QLatin1String("--version")) {
        QTextStream(stdout) << "treelan-cli " TREELAN_VERSION "\n";
        return 0;
    }
    if (command == QLatin1String("export")) {
        args.removeAt(1);
        return runExport(args);
    }
    if (command == QLatin1String("list")) {
        args.removeAt(1);
        return runList(args);
    }
    if (command == QLatin1String("catalog")) {
        static const FilterOptions filters;
        const CatalogCli cli{
            rawArgument, [](QCommandLineParser& p) { filters.addTo(p); },
            [](const QCommandLineParser& p, WalkOptions& w) { return filters.apply(p, w); },
            runExport};
        return RunCatalog(args.mid(0, 1) + args.mid(2), cli);
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}
