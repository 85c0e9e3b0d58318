#include "Expected.h"
#include "TempTree.h"
#include "TreelanConfig.h"
#include "export/ExportDocument.h"
#include "platform/FileError.h"
#include "settings/StringTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace treelan;

namespace {

// The music example: Rock & Roll/track.mp3 (128 kbps, 3 145 728 bytes), empty Archive, notes.txt.
void makeMusic(TempTree& t) {
    t.createSparseFile(QStringLiteral("Rock & Roll/track.mp3"), 3145728, TempTree::utc(2004, 3, 5));
    QFile mp3(t.path(QStringLiteral("Rock & Roll/track.mp3")));
    QVERIFY(mp3.open(QIODevice::ReadWrite));
    mp3.write(QByteArray::fromHex("fffb9000"));
    mp3.close();
    t.setTime(QStringLiteral("Rock & Roll/track.mp3"), TempTree::utc(2004, 3, 5));
    t.createDir(QStringLiteral("Archive"));
    t.createFile(QStringLiteral("notes.txt"), QByteArray(2600, 'n'), TempTree::utc(2003, 12, 24));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The resource parts as the archive must carry them.
QByteArray textPart(const QByteArray& text) {
    QByteArray out;
    QByteArray line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += line + "\r\n";
            line.clear();
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.isEmpty()) out += line + "\r\n";
    return out;
}

QByteArray base64Part(const QByteArray& bytes) {
    const QByteArray b64 = bytes.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out;
}

ExportRequest musicRequest(const TempTree& t, const QString& target, ExportFormat format) {
    ExportRequest r;
    r.targetPath = target;
    r.format = format;
    r.rootPath = t.root();
    r.resourceDir = QStringLiteral(TREELAN_RESOURCE_DIR);
    r.options.browseSubfolders = true;
    r.options.mp3Info = true;
    return r;
}

} // namespace

class ExportDocumentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadDefaultStrings(); }

    void xmlFormats_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("templateName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("generic") << 3 << QString() << "export/music.xml";
        QTest::newRow("with template") << 2 << "tree"
                                       << "export/music-xslt.xml";
        QTest::newRow("chooser closed") << 2 << QString() << "export/music.xml";
    }
    void xmlFormats() {
        QFETCH(int, format);
        QFETCH(QString, templateName);
        QFETCH(QString, expected);
        TempTree t;
        makeMusic(t);
        QTemporaryDir out;
        const QString target = out.filePath(QStringLiteral("music.xml"));
        ExportRequest r = musicRequest(t, target, ExportFormat(format));
        int asked = 0;
        r.templateRequest = [&] {
            ++asked;
            return templateName;
        };
        WriteExportDocument(r);
        QVERIFY(sameLines(readAll(target), expectedFile(expected, t.root())));
        QCOMPARE(asked, format == 2 ? 1 : 0);
    }

    void webArchive() {
        TempTree t;
        makeMusic(t);
        QTemporaryDir out;
        const QString target = out.filePath(QStringLiteral("music.mht"));
        WriteExportDocument(musicRequest(t, target, ExportFormat::WebArchive));
        const QString res = QStringLiteral(TREELAN_RESOURCE_DIR "/");
        QByteArray expected = expectedFile(QStringLiteral("export/music-page.mht"), t.root());
        expected.replace("@HOME@", TREELAN_HOME_PAGE);
        expected += "Content-Type: text/css;Charset = \"utf-8\"\r\nContent-Location: "
                    "http://treelan.invalid/tree.css\r\n\r\n" +
                    textPart(readAll(res + "tree.css")) + "\r\n--x\r\n" +
                    "Content-Type: application/octet-stream\r\nContent-Location: "
                    "http://treelan.invalid/tree.js\r\n\r\n" +
                    textPart(readAll(res + "tree.js")) + "\r\n--x\r\n";
        for (const char* image : {"open.gif", "close.gif"}) {
            if (QByteArray(image) == "close.gif") expected += "--x\r\n";
            expected += QByteArray("Content-Type: application/octet-stream\r\n"
                                   "Content-Transfer-Encoding: base64\r\nContent-Location: "
                                   "http://treelan.invalid/") +
                        image + "\r\n\r\n" + base64Part(readAll(res + QLatin1String(image))) +
                        "\r\n";
        }
        expected += "--x--\r\n";
        QVERIFY(sameLines(readAll(target), expected));
    }

    void textResourceLines_data() {
        QTest::addColumn<QByteArray>("css");
        QTest::addColumn<QByteArray>("part");
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("no final line end") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("LF stays in the line") << QByteArray("a\nb\n") << QByteArray("a\nb\n\r\n");
        QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        // Text holding the archive's delimiter goes base64-encoded: the same lines once decoded.
        QTest::newRow("delimiter") << QByteArray("a--xb\r\n") << QByteArray("a--xb\r\n");
        QTest::newRow("delimiter at a line start")
            << QByteArray("a\n--x--\r\nb") << QByteArray("a\n--x--\r\nb\r\n");
    }
    void textResourceLines() {
        QFETCH(QByteArray, css);
        QFETCH(QByteArray, part);
        TempTree t;
        TempTree res;
        for (const char* f : {"tree.js", "open.gif", "close.gif"})
            QFile::copy(QStringLiteral(TREELAN_RESOURCE_DIR "/") + QLatin1String(f),
                        res.path(QLatin1String(f)));
        res.createFile(QStringLiteral("tree.css"), css);
        ExportRequest r = musicRequest(t, QStringLiteral("-"), ExportFormat::WebArchive);
        r.targetPath = t.path(QStringLiteral("out.mht"));
        r.resourceDir = res.root();
        WriteExportDocument(r);
        const QByteArray doc = readAll(r.targetPath);
        const QByteArray head = "Content-Location: http://treelan.invalid/tree.css\r\n\r\n";
        const qsizetype at = doc.indexOf(head) + head.size();
        const QByteArray body = doc.mid(at, doc.indexOf("\r\n--x\r\n", at) - at);
        const bool encoded = part.contains("--x");
        QCOMPARE(doc.contains("Content-Transfer-Encoding: base64\r\nContent-Location: "
                              "http://treelan.invalid/tree.css"),
                 encoded);
        QCOMPARE(encoded ? QByteArray::fromBase64(body) : body, part);
        // Only the parts' boundaries hold the delimiter: five openings and the close.
        QCOMPARE(doc.count("--x"), 6);
    }

    // No name, root or caption may hold the delimiter "--x" in the archive's bytes: Chromium
    // ends a part wherever it finds one. The page shows the same text.
    void delimiterNeverInAPart_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("rootFolder");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("file --x") << "--x"
                                  << "f"
                                  << "r" << QByteArray("<td>-&#45;x</td>");
        QTest::newRow("file --x--") << "--x--"
                                    << "f"
                                    << "r" << QByteArray("<td>-&#45;x--</td>");
        QTest::newRow("inside a name") << "a--xb"
                                       << "f"
                                       << "r" << QByteArray("<td>a-&#45;xb</td>");
        QTest::newRow("three hyphens") << "---x"
                                       << "f"
                                       << "r" << QByteArray("<td>--&#45;x</td>");
        QTest::newRow("twice") << "--x--x"
                               << "f"
                               << "r" << QByteArray("<td>-&#45;x-&#45;x</td>");
        QTest::newRow("folder") << "a"
                                << "2019--xmas"
                                << "r" << QByteArray("<span>2019-&#45;xmas</span>");
        QTest::newRow("root") << "a"
                              << "f"
                              << "r--x" << QByteArray("r-&#45;x/</title>");
    }
    void delimiterNeverInAPart() {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(QString, rootFolder);
        QFETCH(QByteArray, written);
        TempTree t;
        t.createFile(rootFolder + '/' + file, "x");
        t.createDir(rootFolder + '/' + folder);
        QTemporaryDir out;
        ExportRequest r;
        r.targetPath = out.filePath(QStringLiteral("x.mht"));
        r.format = ExportFormat::WebArchive;
        r.rootPath = t.path(rootFolder + '/');
        r.resourceDir = QStringLiteral(TREELAN_RESOURCE_DIR);
        WriteExportDocument(r);
        const QByteArray doc = readAll(r.targetPath);
        QCOMPARE(doc.count("--x"), 6); // five part openings and the close
        QVERIFY2(doc.contains(written), doc.left(2000).constData());
    }

    void rootWithAmpersandIsEscaped() {
        TempTree t;
        t.createDir(QStringLiteral("A&B"));
        QTemporaryDir out;
        ExportRequest r;
        r.targetPath = out.filePath(QStringLiteral("x.mht"));
        r.format = ExportFormat::WebArchive;
        r.rootPath = t.path(QStringLiteral("A&B/"));
        r.resourceDir = QStringLiteral(TREELAN_RESOURCE_DIR);
        WriteExportDocument(r);
        QVERIFY(readAll(r.targetPath)
                    .contains("<title>Folder Listing " + t.root().toUtf8() + "A&amp;B/</title>"));
        r.format = ExportFormat::GenericXml;
        r.targetPath = out.filePath(QStringLiteral("x.xml"));
        WriteExportDocument(r);
        QCOMPARE(readAll(r.targetPath),
                 "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<folders path=\"" +
                     t.root().toUtf8() + "A&amp;B/\">\r\n\r\n</folders>\r\n");
    }

    void templateNameIsEscaped() {
        TempTree t;
        ExportRequest r =
            musicRequest(t, t.path(QStringLiteral("o.xml")), ExportFormat::XmlWithTemplate);
        r.templateRequest = [] { return QStringLiteral("a\"b&c"); };
        WriteExportDocument(r);
        QVERIFY(readAll(r.targetPath).contains("href=\"a&quot;b&amp;c.xsl\"?>"));
    }

    void failuresLeaveTheTargetUntouched_data() {
        QTest::addColumn<QString>("missingResource");
        QTest::addColumn<bool>("unreadableRoot");
        QTest::newRow("missing close.gif") << "close.gif" << false;
        QTest::newRow("missing tree.css") << "tree.css" << false;
        QTest::newRow("root vanished") << QString() << true;
    }
    void failuresLeaveTheTargetUntouched() {
        QFETCH(QString, missingResource);
        QFETCH(bool, unreadableRoot);
        TempTree res;
        for (const char* f : {"tree.css", "tree.js", "open.gif", "close.gif"})
            if (missingResource != QLatin1String(f))
                QFile::copy(QStringLiteral(TREELAN_RESOURCE_DIR "/") + QLatin1String(f),
                            res.path(QLatin1String(f)));
        TempTree t;
        t.createFile(QStringLiteral("old.mht"), "previous export");
        ExportRequest r;
        r.targetPath = t.path(QStringLiteral("old.mht"));
        r.format = ExportFormat::WebArchive;
        r.rootPath = unreadableRoot ? t.path(QStringLiteral("gone/")) : t.root();
        r.resourceDir = res.root();
        try {
            WriteExportDocument(r);
            QFAIL("the export should have failed");
        } catch (const FileError& e) {
            QVERIFY2(e.path().endsWith(unreadableRoot ? QStringLiteral("gone/") : missingResource),
                     qPrintable(e.message()));
        }
        QCOMPARE(readAll(r.targetPath), QByteArray("previous export"));
        QCOMPARE(QDir(t.root()).entryList(QDir::Files), QStringList{"old.mht"});
    }

    void cannotCreateTarget() {
        TempTree t;
        ExportRequest r = musicRequest(t, t.path(QStringLiteral("no/such/folder/x.xml")),
                                       ExportFormat::GenericXml);
        QVERIFY_THROWS_EXCEPTION(FileError, WriteExportDocument(r));
    }
};

QTEST_GUILESS_MAIN(ExportDocumentTest)
#include "tst_exportdocument.moc"
