#include "Expected.h"
#include "TempTree.h"
#include "export/MhtWriter.h"
#include "export/TreeWriter.h"
#include "export/XmlWriter.h"
#include "format/EntryFormat.h"
#include "format/Sort.h"
#include "platform/FileError.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace treelan;

namespace {

enum class TreeForm { Xml, Html };

// Only the tree body of `root` in the given form, the XML elements or the web archive's list: the
// body writers frame nothing.
QByteArray body(const QString& root, TreeForm form, const ExportOptions& options = {}) {
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    OutputBuffer out(device, QStringLiteral("buffer"));
    XmlTreeWriter xml(out);
    HtmlTreeWriter html(out);
    WriteTree(root, options, form == TreeForm::Xml ? static_cast<TreeWriter&>(xml) : html);
    out.flush();
    return bytes;
}

// A size or date text as the listing shows it.
QString listingText(void (*append)(QByteArray&, qint64), qint64 value) {
    QByteArray text;
    append(text, value);
    return QString::fromLatin1(text);
}

// The tree of the worked example: folders Old (a.txt) and new (b.txt, empty x), files Z.txt and
// a&b.txt.
void makeDocs(TempTree& t) {
    t.createFile(QStringLiteral("Old/a.txt"), "a");
    t.createFile(QStringLiteral("new/b.txt"), QByteArray(1024, 'b'), TempTree::utc(2004, 3, 3));
    t.createDir(QStringLiteral("new/x"));
    t.createFile(QStringLiteral("Z.txt"), {}, TempTree::utc(2004, 1, 1));
    t.createFile(QStringLiteral("a&b.txt"), QByteArray(1024, 'x'), TempTree::utc(2004, 2, 2));
}

QStringList titles(const QByteArray& xml) {
    QStringList result;
    for (const QByteArray& line : xml.split('\n')) {
        const qsizetype at = line.indexOf("title=\"");
        if (at < 0) continue;
        const qsizetype end = line.indexOf('"', at + 7);
        result << QString::fromUtf8(line.mid(at + 7, end - at - 7));
    }
    return result;
}

} // namespace

class TreeWriterTest : public QObject {
    Q_OBJECT
private slots:
    void workedExampleFlat_data() {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("expected");
        QTest::newRow("xml") << int(TreeForm::Xml) << "export/docs-flat.xml";
        QTest::newRow("html") << int(TreeForm::Html) << "export/docs-flat.html";
    }
    void workedExampleFlat() {
        QFETCH(int, form);
        QFETCH(QString, expected);
        TempTree t;
        makeDocs(t);
        QVERIFY(sameLines(body(t.root(), TreeForm(form)), expectedFile(expected)));
    }

    void selectionIsExactPath() {
        TempTree t;
        makeDocs(t);
        t.createFile(QStringLiteral("b.txt"), "root b"); // same bare name, other folder
        ExportOptions o;
        o.browseSubfolders = true;
        o.selectedOnly = true;
        o.selected.add("new/b.txt");
        QVERIFY(sameLines(body(t.root(), TreeForm::Xml, o),
                          expectedFile(QStringLiteral("export/docs-selected.xml"))));
    }

    void matchingIsExact_data() {
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("removed folder leaves similar names")
            << QStringList{"Club/"} << QStringList{}
            << QStringList{"b", "deep", "b", "lub", "lub", "ong.mp3", "song.mp3"};
        QTest::newRow("removed file by path only")
            << QStringList{"song.mp3"} << QStringList{}
            << QStringList{"b", "Club", "x.txt", "deep", "b", "lub", "lub", "ong.mp3"};
        QTest::newRow("selected file not its bare-name twins")
            << QStringList{} << QStringList{"song.mp3"} << QStringList{"song.mp3"};
        QTest::newRow("selected folder takes its contents")
            << QStringList{} << QStringList{"Club/"} << QStringList{"Club", "x.txt"};
        QTest::newRow("nested selection writes the folders above")
            << QStringList{} << QStringList{"deep/b/"} << QStringList{"deep", "b"};
        QTest::newRow("nothing selected writes nothing")
            << QStringList{} << QStringList{} << QStringList{};
    }
    void matchingIsExact() {
        QFETCH(QStringList, removed);
        QFETCH(QStringList, selected);
        QFETCH(QStringList, expected);
        TempTree t;
        t.createFile(QStringLiteral("Club/x.txt"), "x");
        t.createDir(QStringLiteral("lub"));
        t.createDir(QStringLiteral("b"));
        t.createDir(QStringLiteral("deep/b"));
        t.createDir(QStringLiteral("deep/lub"));
        t.createFile(QStringLiteral("song.mp3"), "s");
        t.createFile(QStringLiteral("ong.mp3"), "o");
        ExportOptions o;
        o.browseSubfolders = true;
        for (const QString& p : removed)
            o.removed.add(p.toUtf8());
        o.selectedOnly = !selected.isEmpty() || removed.isEmpty();
        for (const QString& p : selected)
            o.selected.add(p.toUtf8());
        QCOMPARE(titles(body(t.root(), TreeForm::Xml, o)), expected);
    }

    // Two names that read the same ("café" in UTF-8 and in Latin-1) are removed and selected
    // apart: the sets hold raw paths. The twin files differ in size (1 kB UTF-8, 3 kB Latin-1),
    // the twin folders in their contents (u.txt UTF-8, l.txt Latin-1).
    void twinNamesKeptApart_data() {
        QTest::addColumn<QByteArray>("removed");
        QTest::addColumn<QByteArray>("selected");
        QTest::addColumn<QStringList>("expected"); // exported files, sorted
        const QString cafe1 = QStringLiteral("caf\u00e9.txt 1 kB"),
                      cafe3 = QStringLiteral("caf\u00e9.txt 3 kB"),
                      l = QStringLiteral("d\u00e9j\u00e0/l.txt 0 kB"),
                      u = QStringLiteral("d\u00e9j\u00e0/u.txt 0 kB");
        QTest::newRow("remove the UTF-8 file")
            << QByteArray("caf\xc3\xa9.txt") << QByteArray() << QStringList{cafe3, l, u};
        QTest::newRow("remove the Latin-1 file")
            << QByteArray("caf\xe9.txt") << QByteArray() << QStringList{cafe1, l, u};
        QTest::newRow("remove the Latin-1 folder")
            << QByteArray("d\xe9j\xe0/") << QByteArray() << QStringList{cafe1, cafe3, u};
        QTest::newRow("select the UTF-8 file")
            << QByteArray() << QByteArray("caf\xc3\xa9.txt") << QStringList{cafe1};
        QTest::newRow("select the Latin-1 folder")
            << QByteArray() << QByteArray("d\xe9j\xe0/") << QStringList{l};
        QTest::newRow("select a file in the Latin-1 folder")
            << QByteArray() << QByteArray("d\xe9j\xe0/l.txt") << QStringList{l};
    }
    void twinNamesKeptApart() {
        QFETCH(QByteArray, removed);
        QFETCH(QByteArray, selected);
        QFETCH(QStringList, expected);
        TempTree t;
        t.createRawFile(QStringLiteral("."), "caf\xc3\xa9.txt", QByteArray(1024, 'u'));
        t.createRawFile(QStringLiteral("."), "caf\xe9.txt", QByteArray(3072, 'l'));
        t.createFile(QStringLiteral("d\u00e9j\u00e0/u.txt"), "u");
        t.createDir(QStringLiteral("tmp"));
        t.createRawFile(QStringLiteral("tmp"), "l.txt", "l");
        const QByteArray base = QFile::encodeName(t.root());
        QVERIFY(::rename((base + "tmp").constData(), (base + "d\xe9j\xe0").constData()) == 0);
        ExportOptions o;
        o.browseSubfolders = true;
        if (!removed.isEmpty()) o.removed.add(removed);
        o.selectedOnly = !selected.isEmpty();
        if (!selected.isEmpty()) o.selected.add(selected);
        QStringList files;
        QString folder;
        for (const QByteArray& line : body(t.root(), TreeForm::Xml, o).split('\n')) {
            const QString text = QString::fromUtf8(line);
            static const QRegularExpression file(
                QStringLiteral("<file title=\"([^\"]*)\" size=\"([^\"]*)\""));
            static const QRegularExpression folderTag(QStringLiteral("<folder title=\"([^\"]*)\""));
            if (const auto m = file.match(text); m.hasMatch())
                files << folder + m.captured(1) + QLatin1Char(' ') + m.captured(2);
            else if (const auto f = folderTag.match(text); f.hasMatch())
                folder = f.captured(1) + QLatin1Char('/');
            else if (text.startsWith(QLatin1String("</folder>")))
                folder.clear();
        }
        files.sort();
        QCOMPARE(files, expected);
    }

    void orderIgnoresCase() {
        TempTree t;
        for (const char* n : {"cherry", "Banana", "apple", "file9", "file10", "B", "a"})
            t.createFile(QString::fromLatin1(n), "x");
        QCOMPARE(titles(body(t.root(), TreeForm::Xml)),
                 (QStringList{"a", "apple", "B", "Banana", "cherry", "file10", "file9"}));
    }

    // Plain ASCII names are ordered on their bytes and the others by their sort key; the files
    // of a folder must come in the same order as any other sorted list of names.
    void orderMixesAsciiAndOtherNames_data() {
        QTest::addColumn<QList<QByteArray>>("names");
        using Names = QList<QByteArray>;
        QTest::newRow("case twins") << Names{"b.txt", "B.txt", "a", "A", "_", "["};
        QTest::newRow("prefixes") << Names{"ab", "a", "AB", "abc", "Ab.", "ab-"};
        QTest::newRow("accented beside plain")
            << Names{"cafe", "caf\xc3\xa9", "CAF\xc3\x89", "cafz", "caf\xe9", "caf"};
        QTest::newRow("upper case longer than the name") << Names{"stra\xc3\x9f"
                                                                  "e",
                                                                  "STRASSE", "strasse", "strasz"};
        QTest::newRow("non-ASCII upper case to ASCII")
            << Names{"\xc4\xb1", "I", "i", "\xc5\xbf", "S", "s", "\xe2\x84\xaa", "K", "k"};
        QTest::newRow("high bytes and the ends of ASCII")
            << Names{"\xff", "\xc3\xbf", "~", " ", "!", "\xc2\xa0"};
    }
    void orderMixesAsciiAndOtherNames() {
        QFETCH(QList<QByteArray>, names);
        TempTree t;
        QStringList expected;
        for (const QByteArray& raw : names) {
            t.createRawFile(QStringLiteral("."), raw, "x");
            expected << DirEntry{raw}.name();
        }
        SortTexts(expected);
        QCOMPARE(titles(body(t.root(), TreeForm::Xml)), expected);
    }

    void namesAreEscaped_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("ampersand entity") << "a&amp;b" << QByteArray("a&amp;amp;b");
        QTest::newRow("markup") << "<x> \"q\"" << QByteArray("&lt;x&gt; &quot;q&quot;");
        QTest::newRow("line break") << "a\nb\rc"
                                    << QByteArray("a\xe2\x90\x8a"
                                                  "b\xe2\x90\x8d"
                                                  "c");
        QTest::newRow("tab") << "a\tb"
                             << QByteArray("a\xe2\x90\x89"
                                           "b");
        QTest::newRow("non-ASCII") << QString(QChar(0xE9)) << QByteArray("\xc3\xa9");
        QTest::newRow("apostrophe kept") << "it's" << QByteArray("it's");
        // Valid in a name, not in XML: a parser would stop at them.
        QTest::newRow("noncharacter U+FFFE")
            << QString::fromUtf8("a\xef\xbf\xbe") << QByteArray("a\xef\xbf\xbd");
        QTest::newRow("noncharacter U+FFFF")
            << QString::fromUtf8("\xef\xbf\xbf\xc3\xa9") << QByteArray("\xef\xbf\xbd\xc3\xa9");
    }
    void namesAreEscaped() {
        QFETCH(QString, name);
        QFETCH(QByteArray, written);
        QCOMPARE(Normalize(name), written);
        TempTree t;
        t.createFile(name, "x");
        const QByteArray xml = body(t.root(), TreeForm::Xml);
        QVERIFY2(xml.contains("<file title=\"" + written + "\" "), xml.constData());
        QCOMPARE(xml.count("\r\n"), 1); // one line, however the name looks
    }

    void invalidUtf8NameIsWrittenAsValidUtf8() {
        TempTree t;
        t.createRawFile(QStringLiteral("d"), QByteArray("caf\xe9.txt"), "x");
        const QByteArray xml = body(t.root(), TreeForm::Xml, [] {
            ExportOptions o;
            o.browseSubfolders = true;
            return o;
        }());
        QVERIFY(xml.contains("title=\"caf\xc3\xa9.txt\""));
        QVERIFY(QString::fromUtf8(xml).toUtf8() == xml);
    }

    void sizesAndDates_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("sizeText");
        QTest::newRow("0") << qint64(0) << " 0 kB";
        QTest::newRow("511") << qint64(511) << " 0 kB";
        QTest::newRow("512") << qint64(512) << " 1 kB";
        QTest::newRow("1000") << qint64(1000) << " 1 kB";
        QTest::newRow("12345") << qint64(12345) << " 12 kB";
        QTest::newRow("999 kB, last with the space") << qint64(999 * 1024 + 511) << " 999 kB";
        QTest::newRow("1000 kB by rounding") << qint64(999 * 1024 + 512) << "1 000 kB";
        QTest::newRow("1 MiB") << qint64(1048576) << "1 024 kB";
        QTest::newRow("5 000 000") << qint64(5000000) << "4 883 kB";
        QTest::newRow("1 264 193 126") << qint64(1264193126) << "1234 564 kB";
        QTest::newRow("1 500 000 000") << qint64(1500000000) << "1464 844 kB";
        QTest::newRow("3 GiB") << qint64(3221225472) << "3145 728 kB";
        // Sparse files reach 2^63-1 bytes; rounding must not overflow on the way.
        QTest::newRow("2^63-1") << std::numeric_limits<qint64>::max() << "9007199254740 992 kB";
        QTest::newRow("2^63-512 rounds up")
            << std::numeric_limits<qint64>::max() - 511 << "9007199254740 992 kB";
        QTest::newRow("2^63-513 rounds down")
            << std::numeric_limits<qint64>::max() - 512 << "9007199254740 991 kB";
    }
    void sizesAndDates() {
        QFETCH(qint64, size);
        QFETCH(QString, sizeText);
        QCOMPARE(listingText(AppendListingSizeText, size), sizeText);
    }

    void datesAreUtc_data() {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("5.3.2004") << TempTree::utc(2004, 3, 5) << "5.3.2004";
        QTest::newRow("late evening UTC") << TempTree::utc(2003, 12, 24, 23, 59) << "24.12.2003";
        QTest::newRow("leap day") << TempTree::utc(2000, 2, 29) << "29.2.2000";
        QTest::newRow("epoch") << TempTree::utc(1970, 1, 1, 0, 0) << "1.1.1970";
        QTest::newRow("before epoch") << TempTree::utc(1969, 12, 31, 23, 0) << "31.12.1969";
    }
    void datesAreUtc() {
        QFETCH(QDateTime, time);
        QFETCH(QString, text);
        const qint64 s = time.toSecsSinceEpoch();
        QCOMPARE(listingText(AppendDateText, FileTimeFromUnix(s, 0)), text);
    }

    // Times that tmpfs and btrfs accept but a FILETIME cannot hold show as its ends (1601 and
    // 30828), with date keys in time order; under UBSan no step may overflow.
    void extremeTimes_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<qint64>("nanoseconds");
        QTest::addColumn<QString>("text");
        const qint64 least = std::numeric_limits<qint64>::min();
        const qint64 most = std::numeric_limits<qint64>::max();
        QTest::newRow("least time_t") << least << qint64(0) << "1.1.1601";
        QTest::newRow("year 0") << qint64(-62167219200) << qint64(0) << "1.1.1601";
        QTest::newRow("a second before 1601")
            << qint64(-11644473601) << qint64(999999999) << "1.1.1601";
        QTest::newRow("start of 1601") << qint64(-11644473600) << qint64(0) << "1.1.1601";
        QTest::newRow("day before the epoch") << qint64(-1) << qint64(999999999) << "31.12.1969";
        QTest::newRow("31.12.9999") << qint64(253402300799) << qint64(0) << "31.12.9999";
        QTest::newRow("last whole FILETIME second")
            << qint64(910692730084) << qint64(999999999) << "14.9.30828";
        QTest::newRow("year 50000") << qint64(1515642883200) << qint64(0) << "14.9.30828";
        QTest::newRow("greatest time_t") << most << qint64(999999999) << "14.9.30828";
    }
    void extremeTimes() {
        QFETCH(qint64, seconds);
        QFETCH(qint64, nanoseconds);
        QFETCH(QString, text);
        const qint64 ft = FileTimeFromUnix(seconds, nanoseconds);
        QVERIFY(ft >= 0);
        QCOMPARE(listingText(AppendDateText, ft), text);
        // Keys follow time: never below the key of a second earlier, never above a second later.
        const qint64 earlier = FileTimeFromUnix(
            seconds == std::numeric_limits<qint64>::min() ? seconds : seconds - 1, 0);
        const qint64 later = FileTimeFromUnix(
            seconds == std::numeric_limits<qint64>::max() ? seconds : seconds + 1, 0);
        QVERIFY(earlier <= ft && ft <= later);
    }

    void bigSparseFile() {
        TempTree t;
        t.createSparseFile(QStringLiteral("big.bin"), 3221225472LL);
        QVERIFY(body(t.root(), TreeForm::Xml).contains("size=\"3145 728 kB\""));
    }

    void emptySubfolderHtmlHoldsEmptyTable() {
        TempTree t;
        t.createDir(QStringLiteral("empty"));
        ExportOptions o;
        o.browseSubfolders = true;
        QCOMPARE(
            body(t.root(), TreeForm::Html, o),
            QByteArray("<li class=\"clsHasKids\"><span>empty</span><ul>\r\n<table>\r\n</table>\r\n"
                       "</ul></li>\r\n<table>\r\n</table>\r\n"));
    }

    void symbolicLinks() {
        TempTree t;
        t.createFile(QStringLiteral("real/file.txt"), QByteArray(2048, 'f'),
                     TempTree::utc(2010, 1, 2));
        t.createSymlink(QStringLiteral("link-to-file"), t.path(QStringLiteral("real/file.txt")));
        t.createSymlink(QStringLiteral("link-to-folder"), t.path(QStringLiteral("real")));
        t.createSymlink(QStringLiteral("dangling"), t.path(QStringLiteral("nowhere")));
        t.createSymlink(QStringLiteral("real/loop"), t.root());
        ExportOptions o;
        o.browseSubfolders = true;
        const QByteArray xml = body(t.root(), TreeForm::Xml, o);
        // "real" is reached first through the link before it: entered there, not again.
        QCOMPARE(titles(xml), (QStringList{"link-to-folder", "loop", "file.txt", "real", "dangling",
                                           "link-to-file"}));
        QVERIFY(xml.contains("<file title=\"link-to-file\" size=\"2 kB\" date=\"2.1.2010\" />"));
        QVERIFY(xml.contains("<folder title=\"loop\">\r\n</folder>"));
        QVERIFY(xml.contains("<folder title=\"real\">\r\n</folder>"));
        QCOMPARE(xml.count("title=\"dangling\""), 1);
    }

    void veryDeepTree() {
        TempTree t;
        const int depth = 10000;
        t.createDeepChain("d", depth, "leaf.txt");
        ExportOptions o;
        o.browseSubfolders = true;
        const QByteArray xml = body(t.root(), TreeForm::Xml, o);
        QCOMPARE(xml.count("<folder title=\"d\">"), depth);
        QCOMPARE(xml.count("</folder>"), depth);
        QVERIFY(xml.contains("<file title=\"leaf.txt\""));
        // Clean up without recursion through a path longer than the system allows.
        QVERIFY(QProcess::execute(QStringLiteral("rm"),
                                  {QStringLiteral("-rf"), t.path(QStringLiteral("d"))}) == 0);
    }

    void unreadableFolderGivesNoLines() {
        if (::geteuid() == 0) QSKIP("permissions do not apply to root");
        TempTree t;
        t.createFile(QStringLiteral("closed/secret.txt"), "s");
        t.setMode(QStringLiteral("closed"), 0);
        ExportOptions o;
        o.browseSubfolders = true;
        QStringList warnings;
        o.walk.warning = [&](const QString& path, const QString&) { warnings << path; };
        const QByteArray html = body(t.root(), TreeForm::Html, o);
        t.setMode(QStringLiteral("closed"), 0755);
        QVERIFY(
            html.startsWith("<li class=\"clsHasKids\"><span>closed</span><ul>\r\n</ul></li>\r\n"));
        QCOMPARE(warnings, QStringList{t.path(QStringLiteral("closed/"))});
    }

    void cancelStopsTheWalk() {
        TempTree t;
        t.createDir(QStringLiteral("a/b/c"));
        ExportOptions o;
        o.browseSubfolders = true;
        int calls = 0;
        o.walk.progress = [&](const WalkProgress&) { return ++calls < 2; };
        QVERIFY_THROWS_EXCEPTION(Cancelled, body(t.root(), TreeForm::Xml, o));
        QCOMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(TreeWriterTest)
#include "tst_treewriter.moc"
