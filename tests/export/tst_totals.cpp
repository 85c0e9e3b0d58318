// Folder totals (--totals) against sums that find computes on the same tree, du --apparent-size
// style: every file's byte count, every file and folder beneath.
#include "TempTree.h"

#include <QProcess>
#include <QTest>
#include <QXmlStreamReader>

namespace {

QByteArray run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

// "files folders bytes" beneath `folder`, from find.
QString findTotals(const QString& folder) {
    qint64 files = 0, bytes = 0;
    for (const QByteArray& line :
         run(QStringLiteral("find"), {folder, "-type", "f", "-printf", "%s\\n"}).split('\n'))
        if (!line.isEmpty()) {
            ++files;
            bytes += line.toLongLong();
        }
    const qint64 folders =
        run(QStringLiteral("find"), {folder, "-mindepth", "1", "-type", "d"}).count('\n');
    return QStringLiteral("%1 %2 %3").arg(files).arg(folders).arg(bytes);
}

} // namespace

class TotalsTest : public QObject {
    Q_OBJECT
private slots:
    void totalsAgreeWithFind_data() {
        QTest::addColumn<QString>("format");
        QTest::newRow("xml") << "xml";
        QTest::newRow("xslt") << "xslt";
    }
    void totalsAgreeWithFind() {
        QFETCH(QString, format);
        TempTree t;
        t.createFile(QStringLiteral("a.txt"), QByteArray(1000, 'a'));
        t.createSparseFile(QStringLiteral("big/huge.bin"), 5'000'000'000LL);
        t.createFile(QStringLiteral("big/inner/x & y.txt"), QByteArray(77, 'x'));
        t.createFile(QStringLiteral("big/inner/deeper/z.txt"), QByteArray(3, 'z'));
        t.createDir(QStringLiteral("empty/also empty"));
        const QByteArray xml = run(QStringLiteral(TREELAN_CLI),
                                   {"export", "-q", "-r", "--totals", "-f", format, t.root(), "-"});
        QXmlStreamReader reader(xml);
        QStringList path;
        int checked = 0;
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isEndElement() && reader.name() == QLatin1String("folder"))
                path.removeLast();
            if (!reader.isStartElement() || reader.name() == QLatin1String("file")) continue;
            const QXmlStreamAttributes a = reader.attributes();
            if (reader.name() == QLatin1String("folder")) path << a.value("title").toString();
            const QString folder = t.root() + path.join(QLatin1Char('/'));
            QCOMPARE(QStringLiteral("%1 %2 %3")
                         .arg(a.value("files"), a.value("folders"), a.value("bytes")),
                     findTotals(folder));
            QCOMPARE(a.value("length").toString(), QStringLiteral("00:00:00"));
            ++checked;
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(checked, 6); // the root and its five folders
    }

    // Without --totals the folder elements are as they always were.
    void noTotalsNoAttributes() {
        TempTree t;
        t.createFile(QStringLiteral("sub/a.txt"), "a");
        const QByteArray xml =
            run(QStringLiteral(TREELAN_CLI), {"export", "-q", "-r", "-f", "xml", t.root(), "-"});
        QVERIFY(xml.contains("<folder title=\"sub\">\r\n"));
        QVERIFY(!xml.contains("bytes="));
    }

    void playingTimeAddsUp() {
        TempTree t;
        QFile fixture(QStringLiteral(TREELAN_TEST_DATA "/mp3/cbr-48k-mono.mp3"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QByteArray song = fixture.readAll();
        t.createFile(QStringLiteral("one/a.mp3"), song);
        t.createFile(QStringLiteral("one/two/b.mp3"), song);
        t.createFile(QStringLiteral("one/two/c.mp3"), song);
        const QByteArray xml =
            run(QStringLiteral(TREELAN_CLI),
                {"export", "-q", "-r", "-m", "--totals", "-f", "xml", t.root(), "-"});
        // Each file plays 4 s (00:00:04 in its own length attribute).
        QCOMPARE(xml.count("length=\"00:00:04\" bitrate="), 3);
        QVERIFY2(xml.contains("<folder title=\"one\" files=\"3\" folders=\"1\" bytes=\"" +
                              QByteArray::number(3 * song.size()) + "\" length=\"00:00:12\">"),
                 xml.constData());
        QVERIFY(xml.contains("<folder title=\"two\" files=\"2\" folders=\"0\" bytes=\"" +
                             QByteArray::number(2 * song.size()) + "\" length=\"00:00:08\">"));
    }
};

QTEST_GUILESS_MAIN(TotalsTest)
#include "tst_totals.moc"
