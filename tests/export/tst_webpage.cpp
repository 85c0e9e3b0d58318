#include "export/PageData.h"
#include "export/TreeWriter.h"
#include "export/WebPage.h"
#include "settings/StringTable.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>
#include <map>
#include <zlib.h>

using namespace treelan;

namespace {

QByteArray inflate(const QByteArray& compressed) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return "<inflateInit>";
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    z.avail_in = uInt(compressed.size());
    QByteArray out;
    int status = Z_OK;
    while (status == Z_OK) {
        char chunk[4096];
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        status = ::inflate(&z, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof chunk - z.avail_out));
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? out : "<broken stream>";
}

using Script = std::function<void(PageData&)>;

// Runs a script and gives each column's bytes, inflated; also how many pieces arrived early.
struct Run {
    std::map<QByteArray, QByteArray> compressed;
    std::map<QByteArray, QByteArray> columns;
    int piecesBeforeFinish = 0;
    qsizetype largestPiece = 0;
};

Run run(const Script& script, qsizetype pieceSize = 192 * 1024) {
    Run r;
    bool finishing = false;
    PageData data(
        [&](int column, const QByteArray& bytes) {
            r.compressed[PageData::columnName(column)] += bytes;
            if (!finishing) ++r.piecesBeforeFinish;
            r.largestPiece = std::max(r.largestPiece, bytes.size());
        },
        pieceSize);
    script(data);
    finishing = true;
    data.finish();
    for (const auto& [name, bytes] : r.compressed)
        r.columns[name] = inflate(bytes);
    return r;
}

// A tree of `count` files spread over folders, names varied enough to resist compression.
void bigTree(PageData& d, int count) {
    qint64 folder = d.addFolder(0, u"");
    for (int i = 0; i < count; ++i) {
        if (i % 100 == 0) folder = d.addFolder(1, QStringLiteral("folder %1").arg(i));
        d.addFile(folder, QStringLiteral("file %1 %2.txt").arg(i).arg(i * 7919 % 10007), i * 31,
                  1000000 + i);
    }
}

// An entry as the walk hands it to a writer: a file of one byte, or a folder read whole.
ExportEntry entry(DirEntry::Kind kind, const QString& name) {
    ExportEntry e;
    e.kind = kind;
    e.name = name;
    e.depth = 1;
    e.size = kind == DirEntry::Kind::File ? 1 : 0;
    e.fileTime = FileTimeFromUnix(1, 0);
    e.listed = true;
    return e;
}

// The page of the root `root` with `body`'s calls inside it, as the walk makes them.
QByteArray writePage(const QString& root, const std::function<void(TreeWriter&)>& body) {
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    OutputBuffer out(device, QStringLiteral("buffer"));
    ExportRequest request;
    request.resourceDir = QStringLiteral(TREELAN_RESOURCE_DIR);
    WebPageWriter w(request, out);
    const RootPath rootPath(root);
    const ExportOptions options;
    w.beginDocument({rootPath, QDateTime::fromSecsSinceEpoch(0, Qt::UTC), "test", options});
    ExportEntry top = entry(DirEntry::Kind::Folder, QString());
    top.depth = 0;
    w.enterFolder(top, nullptr);
    body(w);
    w.leaveFolder(top, {});
    w.endDocument({});
    out.flush();
    return bytes;
}

} // namespace

class WebPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadDefaultStrings(); }

    // Each column of a small tree, byte for byte as the page's reader takes it apart.
    void columns_data() {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QByteArray>("column");
        QTest::addColumn<QByteArray>("expected");
        const Script nested = [](PageData& d) {
            d.addFolder(0, u"");
            const qint64 a = d.addFolder(1, u"a");
            d.addFolder(2, u"b\u00e9");
            d.setLastFolderState(PageData::FolderState::Unreadable);
            d.addFile(a, QStringLiteral("x.TXT"), 5, 100);
            d.addFile(a, QStringLiteral("y.txt"), -1, 0); // not examined
            d.addFile(0, QStringLiteral("z"), 0, 90, 196000, 128);
            d.addFile(0, QStringLiteral("w.mp3"), 300, 90, 1500, 0);
        };
        QTest::newRow("folder names, root empty")
            << nested << QByteArray("fn") << QByteArray("\0a\0b\xc3\xa9\0", 7);
        QTest::newRow("folder depths") << nested << QByteArray("fd") << QByteArray("\0\1\2", 3);
        QTest::newRow("folder states") << nested << QByteArray("fs") << QByteArray("\0\0\2", 3);
        QTest::newRow("file names")
            << nested << QByteArray("nn") << QByteArray("x.TXT\0y.txt\0z\0w.mp3\0", 20);
        // Folder 1 (+1: zigzag 2) for two files, then folder 0 (-1: zigzag 1) for two.
        QTest::newRow("runs") << nested << QByteArray("ff") << QByteArray("\2\2\1\2", 4);
        QTest::newRow("sizes plus one, 0 unexamined")
            << nested << QByteArray("sz") << QByteArray("\6\0\1\xad\2", 5);
        // +100 (zigzag 200), then -10 (19) and 0: the unexamined file has no time.
        QTest::newRow("time changes")
            << nested << QByteArray("tm") << QByteArray("\xc8\1\x13\0", 4);
        // File 2 (2 since the start): 196000 ms = 0xA0 0xFB 0x0B, 128 kbps; file 3 (0 since).
        QTest::newRow("mp3 figures, sparse")
            << nested << QByteArray("mp") << QByteArray("\2\xa0\xfb\x0b\x80\1\0\xdc\x0b\0", 10);
        QTest::newRow("empty tree: one root") << Script([](PageData& d) { d.addFolder(0, u""); })
                                              << QByteArray("fd") << QByteArray("\0", 1);
        QTest::newRow("no files: no runs")
            << Script([](PageData& d) { d.addFolder(0, u""); }) << QByteArray("ff") << QByteArray();
        QTest::newRow("deep folder: depth over 127")
            << Script([](PageData& d) { d.addFolder(300, u"deep"); }) << QByteArray("fd")
            << QByteArray("\xac\2", 2);
    }
    void columns() {
        QFETCH(Script, script);
        QFETCH(QByteArray, column);
        QFETCH(QByteArray, expected);
        const Run r = run(script);
        QCOMPARE(r.columns.at(column), expected);
    }

    // Type names go once per extension, compared without regard to case; "" for none.
    void typesOncePerExtension() {
        const Run r = run([](PageData& d) {
            d.addFolder(0, u"");
            for (const char* name : {"a.TXT", "b.txt", "c", "d.Txt", ".profile", "e"})
                d.addFile(0, QString::fromLatin1(name), 1, 1);
        });
        QList<QByteArray> fields = r.columns.at("ty").split('\0');
        QByteArrayList extensions;
        for (qsizetype i = 0; i + 1 < fields.size(); i += 2)
            extensions << fields[i];
        QCOMPARE(extensions, QByteArrayList({"txt", "", "profile"}));
    }

    // Compressed pieces leave while the tree is written, none larger than a piece plus one
    // deflate step, and they join into the same streams as one piece each.
    void piecesLeaveAsTheyFill_data() {
        QTest::addColumn<qsizetype>("pieceSize");
        QTest::newRow("tiny pieces") << qsizetype(64);
        QTest::newRow("4 KiB pieces") << qsizetype(4096);
    }
    void piecesLeaveAsTheyFill() {
        QFETCH(qsizetype, pieceSize);
        const auto tree = [](PageData& d) { bigTree(d, 60000); };
        const Run small = run(tree, pieceSize);
        const Run whole = run(tree, qsizetype(1) << 30);
        QVERIFY(small.piecesBeforeFinish > 10);
        QCOMPARE(whole.piecesBeforeFinish, 0);
        QVERIFY(small.largestPiece <= pieceSize + 64 * 1024);
        QCOMPARE(small.columns, whole.columns);
        QVERIFY(small.columns.at("nn").size() > 1000000); // the test really spans many pieces
    }

    // A root path or name that could end an element or a comment stays inside its text.
    void pageKeepsEveryTextInside_data() {
        QTest::addColumn<QString>("root");
        QTest::newRow("script end") << QStringLiteral("/a</script><script>alert(1)</script>/");
        QTest::newRow("comment") << QStringLiteral("/a<!--b-->/");
        QTest::newRow("noscript end") << QStringLiteral("/a</noscript><b>x</b>/");
        QTest::newRow("quotes and ampersand") << QStringLiteral("/\"q\" 'a' &amp; &/");
        QTest::newRow("line separators") << QStringLiteral("/a\u2028b\u2029c\nd/");
        QTest::newRow("right-to-left override") << QStringLiteral("/\u202egnp.exe/");
    }
    void pageKeepsEveryTextInside() {
        QFETCH(QString, root);
        const QByteArray page = writePage(root, [&](TreeWriter& w) {
            w.file(entry(DirEntry::Kind::File, root));
            const ExportEntry folder = entry(DirEntry::Kind::Folder, root);
            w.enterFolder(folder, nullptr);
            w.leaveFolder(folder, {});
        });
        // The template's own elements only: data, meta and the page's script.
        QCOMPARE(page.count("<script"), page.count("</script>"));
        QCOMPARE(page.count("</noscript>"), 1);
        QCOMPARE(page.count("<!--"), 0);
        const qsizetype meta = page.indexOf("id=\"treelan-meta\">") + 18;
        const QByteArray json = page.mid(meta, page.indexOf("</script>", meta) - meta);
        QCOMPARE(QJsonDocument::fromJson(json).object().value("root").toString(), root);
        QVERIFY(page.contains("<h1>" + Normalize(root) + "</h1>"));
        QVERIFY(page.contains("<title>" + Normalize(GetGuiString(Str::FolderListing) + ' ' + root) +
                              "</title>"));
    }

    void jsonForScript_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("script end") << QStringLiteral("</script>");
        QTest::newRow("comment open") << QStringLiteral("<!--");
        QTest::newRow("quote and backslash") << QStringLiteral("\"\\");
        QTest::newRow("control") << QStringLiteral("a\nb\u0001");
    }
    void jsonForScript() {
        QFETCH(QString, text);
        const QByteArray json = JsonForScript(text);
        QVERIFY(!json.contains('<'));
        QVERIFY(!json.contains('\n'));
        const QJsonDocument back = QJsonDocument::fromJson("[" + json + "]");
        QCOMPARE(back.array().at(0).toString(), text);
    }

    // The page's header names every option that left something out, in the user's words.
    void filterTexts_data() {
        QTest::addColumn<std::function<void(TreeOptions&)>>("set");
        QTest::addColumn<QStringList>("expected");
        using Set = std::function<void(TreeOptions&)>;
        QTest::newRow("none") << Set([](TreeOptions&) {}) << QStringList();
        QTest::newRow("patterns, in order") << Set([](TreeOptions& o) {
            o.walk.excludePatterns.emplace_back("*.tmp");
            o.walk.excludePatterns.emplace_back("cache/**");
            o.walk.includePatterns.emplace_back("*.mp3");
        }) << QStringList{"leave out *.tmp", "leave out cache/**", "only *.mp3"};
        QTest::newRow("hidden, depth 0, file system") << Set([](TreeOptions& o) {
            o.walk.noHidden = true;
            o.walk.maxDepth = 0;
            o.walk.oneFileSystem = true;
        }) << QStringList{"no hidden names", "depth at most 0", "one file system"};
        QTest::newRow("removed, sorted, folders marked") << Set([](TreeOptions& o) {
            o.removed.add("b.txt");
            o.removed.add("a/");
        }) << QStringList{"leave out a/, b.txt"};
        QTest::newRow("selection ignored unless exported alone")
            << Set([](TreeOptions& o) { o.selected.add("x.txt"); }) << QStringList();
        QTest::newRow("many removed: the first five and a count") << Set([](TreeOptions& o) {
            for (char c = 'a'; c <= 'h'; ++c)
                o.removed.add(QByteArray(1, c) + ".txt");
        }) << QStringList{"leave out a.txt, b.txt, c.txt, d.txt, e.txt and 3 more"};
        QTest::newRow("selected only") << Set([](TreeOptions& o) {
            o.selectedOnly = true;
            o.selected.add("\xc3\xa9t\xc3\xa9/");
        }) << QStringList{QStringLiteral("only \u00e9t\u00e9/")};
    }
    void filterTexts() {
        QFETCH(std::function<void(TreeOptions&)>, set);
        QFETCH(QStringList, expected);
        TreeOptions options;
        set(options);
        QCOMPARE(FilterTexts(options), expected);
    }

    // A string file translates the header's filter words as it translates the rest of the page.
    void filterTextsFollowTheStringFile() {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("strings.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[GUI_Strings]\n221=ohne %1\n222=nur %1\n223=keine versteckten\n"
                "224=Tiefe bis %1\n226=und %1 weitere\n");
        f.close();
        TreeOptions options;
        options.walk.excludePatterns.emplace_back("*.tmp");
        options.walk.includePatterns.emplace_back("100%1.mp3");
        options.walk.noHidden = true;
        options.walk.maxDepth = 2;
        for (char c = 'a'; c <= 'f'; ++c)
            options.removed.add(QByteArray(1, c));
        SetIniPath(ini);
        const QStringList texts = FilterTexts(options);
        SetIniPath(QString());
        QCOMPARE(texts, (QStringList{"ohne *.tmp", "nur 100%1.mp3", "keine versteckten",
                                     "Tiefe bis 2", "ohne a, b, c, d, e und 1 weitere"}));
    }

    void templateWithoutMarkerIsRefused() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("page.html"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<style></style><script></script>@CSP@");
        f.close();
        QVERIFY_THROWS_EXCEPTION(std::exception, WebPageTemplate::load(path));
    }
};

QTEST_GUILESS_MAIN(WebPageTest)
#include "tst_webpage.moc"
