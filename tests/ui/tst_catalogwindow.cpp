// The catalogue's window against treelan-cli's catalogue verbs, find and sqlite3: what the window
// lists, finds, compares, copies, exports and adds is what the command line says of the same
// catalogue file.
#include "TempTree.h"
#include "catalog/CatalogTest.h"
#include "export/Formats.h"
#include "ui/CatalogWindow.h"
#include "ui/CompareView.h"
#include "ui/Dialogs.h"
#include "ui/ExportCommand.h"
#include "ui/frmExport.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <memory>

using namespace treelan;

namespace {

catalogtest::Run cli(const QString& db, const QStringList& args) {
    return catalogtest::catalog(db, args);
}

QList<QJsonObject> jsonLines(const QByteArray& out) {
    QList<QJsonObject> lines;
    for (const QByteArray& l : out.split('\n'))
        if (!l.isEmpty()) lines << QJsonDocument::fromJson(l).object();
    return lines;
}

// A search result's path in its bytes: "rawPath" where the name is not UTF-8.
QByteArray rawOf(const QJsonObject& o) {
    const QJsonValue raw = o.value(QLatin1String("rawPath"));
    return raw.isString() ? QByteArray::fromPercentEncoding(raw.toString().toLatin1())
                          : o.value(QLatin1String("path")).toString().toUtf8();
}

// A name as the window shows it: UTF-8 when it is, else each byte its Latin-1 character.
QString shown(const QByteArray& raw) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(raw);
    return utf8.hasError() ? QString::fromLatin1(raw) : text;
}

// "SIZE MTIME" of one side of a diff line, as the change list's raw role gives it.
QString sideOf(const QJsonObject& o, const char* key) {
    const QJsonObject side = o.value(QLatin1String(key)).toObject();
    if (side.isEmpty() || !side.contains(QLatin1String("size"))) return {};
    return QString::number(side.value(QLatin1String("size")).toInteger()) + u' ' +
           side.value(QLatin1String("mtime")).toString();
}

// The tree every case starts from: files in three folder levels, one of a size and date of its
// own (a move of it pairs up).
void makeBase(TempTree& t) {
    t.createFile(QStringLiteral("a.txt"), "alpha");
    t.createFile(QStringLiteral("docs/b.txt"), "bravo bravo");
    t.createFile(QStringLiteral("docs/c.dat"), QByteArray(3000, 'c'));
    t.createFile(QStringLiteral("docs/deep/d.txt"), "delta");
    t.createFile(QStringLiteral("e.bin"), QByteArray(4096, 'e'));
    t.createFile(QStringLiteral("unique.mov"), QByteArray(777, 'u'), TempTree::utc(2001, 7, 7));
}

// Steps separated by ";": add:PATH:TEXT, write:PATH:TEXT, rm:PATH, touch:PATH (a new date),
// mv:FROM:TO, mkdir:PATH.
void mutate(TempTree& t, const QString& script) {
    for (const QString& step : script.split(u';', Qt::SkipEmptyParts)) {
        const QStringList p = step.split(u':');
        if (p[0] == u"add" || p[0] == u"write") {
            t.createFile(p[1], p[2].toUtf8(), TempTree::utc(2020, 3, 4));
        } else if (p[0] == u"rm") {
            QVERIFY(QFile::remove(t.path(p[1])));
        } else if (p[0] == u"touch") {
            t.setTime(p[1], TempTree::utc(2010, 1, 2));
        } else if (p[0] == u"mv") {
            QVERIFY(QFile::rename(t.path(p[1]), t.path(p[2])));
        } else if (p[0] == u"mkdir") {
            t.createDir(p[1]);
        }
    }
}

// Picks snapshot items of the volume tree by number.
void selectSnapshots(CatalogWindow& w, const std::vector<qint64>& ids) {
    QTreeWidget* tree = w.volumeTree();
    tree->clearSelection();
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if (std::find(ids.begin(), ids.end(), (*it)->data(0, Qt::UserRole).toLongLong()) !=
            ids.end())
            (*it)->setSelected(true);
}

QPushButton* button(QWidget& w, const char* name) {
    return w.findChild<QPushButton*>(QLatin1String(name));
}

// Answers the window's save dialog with a path and a type, and records reported failures.
class ScriptedDialogs : public Dialogs {
public:
    QString target;
    int index = 1;
    QStringList errors;
    QString saveFile(QWidget*, const QString&, const QString&, const QString&, const QString&,
                     int& filterIndex) override {
        filterIndex = index;
        return target;
    }
    QString chooseTemplate(QWidget*, const QString&) override { return {}; }
    void reportError(QWidget*, const QString& message) override { errors << message; }
};

} // namespace

class TestCatalogWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<TempTree> m_big;

    // Two volumes: alpha, and beta whose identity no longer matches a mounted file system.
    struct TwoVolumes {
        TempTree alpha, beta;
        QTemporaryDir dir;
        QString db;
    };
    void makeTwoVolumes(TwoVolumes& v) {
        makeBase(v.alpha);
        makeBase(v.beta);
        v.beta.createFile(QStringLiteral("docs/only-beta.txt"), "b");
        // A Latin-1 name, not UTF-8: shown as its Latin-1 text, kept as its bytes.
        v.alpha.createRawFile(QStringLiteral("docs"), "caf\xe9.txt", "latin");
        v.db = v.dir.filePath(QStringLiteral("cat.db"));
        QCOMPARE(cli(v.db, {QStringLiteral("add"), v.alpha.root(), QStringLiteral("--label"),
                            QStringLiteral("alpha")})
                     .status,
                 0);
        QCOMPARE(cli(v.db, {QStringLiteral("add"), v.beta.root(), QStringLiteral("--label"),
                            QStringLiteral("beta")})
                     .status,
                 0);
        QCOMPARE(catalogtest::sqlite(
                     v.db, QStringLiteral("UPDATE volumes SET identity = 'uuid:unplugged' "
                                          "WHERE label = 'beta'"))
                     .status,
                 0);
    }

    static void waitIdle(CatalogWindow& w) { QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 60000); }

    // The change list of the window's comparison of what is selected.
    static void runCompare(CatalogWindow& w, CompareView*& view) {
        button(w, "cmdCompare")->click();
        QTRY_VERIFY_WITH_TIMEOUT((view = w.findChild<CompareView*>()), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(view->isComplete(), 10000);
    }

    static QStringList rowsOf(const CompareView& view) {
        QStringList rows;
        const ChangeListModel& m = *view.changes();
        for (int r = 0; r < m.rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < ChangeListModel::kColumns; ++c) {
                const QVariant v = m.data(m.index(r, c), ChangeListModel::RawRole);
                cells << (v.typeId() == QMetaType::QByteArray ? QString::fromUtf8(v.toByteArray())
                                                              : v.toString());
            }
            rows << cells.join(u'|');
        }
        return rows;
    }

    static QStringList rowsOf(const QList<QJsonObject>& lines, const QString& leaveOut = {}) {
        QStringList rows;
        for (const QJsonObject& o : lines) {
            const QString op = o.value(QLatin1String("op")).toString();
            if (op.isEmpty() || (!leaveOut.isEmpty() && op.startsWith(leaveOut))) continue;
            const bool moved = op.startsWith(u'>');
            rows << QStringList{op, o.value(QLatin1String("path")).toString(),
                                moved ? o.value(QLatin1String("movedFrom")).toString()
                                      : sideOf(o, "old"),
                                sideOf(o, "new")}
                        .join(u'|');
        }
        return rows;
    }

private slots:
    void initTestCase() {
        // The default catalogue of the main window's item lies in here, not in the user's home.
        qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    }

    // The change list is `catalog diff --json` of the same two sides, line for line; the counts
    // per folder are the sums of those lines.
    void compareList_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("folderNow"); // the first snapshot against the folder as it is
        QTest::newRow("unchanged") << QString() << false;
        QTest::newRow("added file") << QStringLiteral("add:docs/new.txt:hello") << false;
        QTest::newRow("removed file") << QStringLiteral("rm:docs/c.dat") << false;
        QTest::newRow("modified") << QStringLiteral("write:a.txt:alpha grew longer") << false;
        QTest::newRow("date only") << QStringLiteral("touch:docs/b.txt") << false;
        QTest::newRow("moved") << QStringLiteral("mv:unique.mov:docs/deep/unique.mov") << false;
        QTest::newRow("type changed") << QStringLiteral("rm:e.bin;mkdir:e.bin") << false;
        QTest::newRow("several folders")
            << QStringLiteral("add:docs/deep/n1.txt:1;add:docs/deep/n2.txt:22;rm:a.txt;"
                              "write:docs/c.dat:xx;add:new/f.txt:fff")
            << false;
        QTest::newRow("folder now")
            << QStringLiteral("add:docs/x.txt:x;rm:docs/deep/d.txt;touch:a.txt") << true;
    }
    void compareList() {
        QFETCH(QString, script);
        QFETCH(bool, folderNow);
        TempTree t;
        makeBase(t);
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("cat.db"));
        QCOMPARE(cli(db, {QStringLiteral("add"), t.root()}).status, 0);
        mutate(t, script);
        if (!folderNow) QCOMPARE(cli(db, {QStringLiteral("add"), t.root()}).status, 0);
        const QStringList second = folderNow ? QStringList{t.root()} : QStringList{"2"};
        const catalogtest::Run oracle =
            cli(db, QStringList{QStringLiteral("diff"), "1"} + second + QStringList{"--json"});
        QVERIFY2(oracle.status == 0 || oracle.status == 1, oracle.err.constData());
        const QList<QJsonObject> lines = jsonLines(oracle.out);

        CatalogWindow w(db, [&t] { return t.root(); });
        waitIdle(w);
        selectSnapshots(w, folderNow ? std::vector<qint64>{1} : std::vector<qint64>{1, 2});
        CompareView* view = nullptr;
        runCompare(w, view);
        QVERIFY(view);
        QStringList got = rowsOf(*view), want = rowsOf(lines);
        got.sort();
        want.sort();
        QCOMPARE(got, want);

        // Per folder: added and removed files and what its files grew by, from the diff's lines.
        struct Sums {
            qint64 added = 0, removed = 0, bytes = 0;
        };
        std::map<QString, Sums> folders;
        for (const QJsonObject& o : lines) {
            const QString op = o.value(QLatin1String("op")).toString();
            if (op.isEmpty()) continue;
            QString path = o.value(QLatin1String("path")).toString();
            if (path.endsWith(u'/')) path.chop(1);
            Sums& s = folders[path.left(path.lastIndexOf(u'/') + 1)];
            const auto size = [&o](const char* key) {
                const QJsonObject side = o.value(QLatin1String(key)).toObject();
                return side.value(QLatin1String("kind")).toString() == u"folder"
                           ? 0
                           : side.value(QLatin1String("size")).toInteger();
            };
            const bool file = o.value(QLatin1String(op == u"-" ? "old" : "new"))
                                  .toObject()
                                  .value(QLatin1String("kind"))
                                  .toString() != u"folder";
            if (op == u"+" && file) ++s.added;
            if (op == u"-" && file) ++s.removed;
            if (op == u"+" || op == u"-" || op == u"M" || op == u"T")
                s.bytes += size("new") - size("old");
        }
        QTreeWidget* list = view->folderList();
        QCOMPARE(list->topLevelItemCount(), int(folders.size()));
        static const QRegularExpression added(QStringLiteral("(?:^|, )\\+(\\d+) files?\\b"));
        static const QRegularExpression removed(QStringLiteral("(?:^|, )-(\\d+) files?\\b"));
        static const QRegularExpression kb(QStringLiteral("([+-])([\\d ]+) kB$"));
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            const QString folder = QString::fromUtf8(item->data(0, Qt::UserRole).toByteArray());
            QVERIFY2(folders.count(folder), qPrintable(folder));
            const Sums& s = folders[folder];
            const QString text = item->text(1);
            QCOMPARE(added.match(text).captured(1).toLongLong(), s.added);
            QCOMPARE(removed.match(text).captured(1).toLongLong(), s.removed);
            const QRegularExpressionMatch k = kb.match(text);
            const qint64 kbWanted = (std::abs(s.bytes) + 512) / 1024; // rounded half up
            QCOMPARE(k.hasMatch(), s.bytes != 0);
            if (s.bytes != 0) {
                QCOMPARE(k.captured(1), s.bytes > 0 ? QStringLiteral("+") : QStringLiteral("-"));
                QCOMPARE(k.captured(2).remove(u' ').toLongLong(), kbWanted);
            }
        }
    }

    // Unticking a kind leaves exactly the diff's lines of the other kinds; ticking brings it back.
    void kindFilter_data() {
        QTest::addColumn<int>("box"); // the kind's box, in the order + - M U > T
        QTest::addColumn<QString>("op");
        const char* ops[] = {"+", "-", "M", "U", ">", "T"};
        for (int i = 0; i < 6; ++i)
            QTest::newRow(ops[i]) << i << QString::fromLatin1(ops[i]);
    }
    void kindFilter() {
        QFETCH(int, box);
        QFETCH(QString, op);
        TempTree t;
        makeBase(t);
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("cat.db"));
        QCOMPARE(cli(db, {QStringLiteral("add"), t.root()}).status, 0);
        mutate(t, QStringLiteral("add:n.txt:n;rm:docs/c.dat;write:a.txt:alpha!!;touch:docs/b.txt;"
                                 "mv:unique.mov:docs/unique.mov;rm:e.bin;mkdir:e.bin"));
        QCOMPARE(cli(db, {QStringLiteral("add"), t.root()}).status, 0);
        const QList<QJsonObject> lines =
            jsonLines(cli(db, {QStringLiteral("diff"), "1", "2", QStringLiteral("--json")}).out);
        QVERIFY(!rowsOf(lines, op).isEmpty());
        QVERIFY(rowsOf(lines, op).size() < rowsOf(lines).size()); // the kind is there

        CatalogWindow w(db, {});
        waitIdle(w);
        selectSnapshots(w, {1, 2});
        CompareView* view = nullptr;
        runCompare(w, view);
        QVERIFY(view);
        QCheckBox* kind = view->findChild<QCheckBox*>(QStringLiteral("kind%1").arg(box));
        QVERIFY(kind);
        const qsizetype ofKind = rowsOf(lines).size() - rowsOf(lines, op).size();
        QVERIFY2(kind->text().endsWith(QStringLiteral("(%1)").arg(ofKind)),
                 qPrintable(kind->text()));
        kind->setChecked(false);
        QStringList got = rowsOf(*view), want = rowsOf(lines, op);
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        kind->setChecked(true);
        QCOMPARE(view->changes()->rowCount(), rowsOf(lines).size());
    }

    // A search fills the list with `catalog search --json`'s results: the same volume and path
    // per row, greyed exactly where the command marks them offline.
    void search_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("all");
        QTest::newRow("substring") << QStringLiteral("txt") << false;
        QTest::newRow("glob") << QStringLiteral("*.dat") << false;
        QTest::newRow("case folded") << QStringLiteral("B.TXT") << false;
        QTest::newRow("name not UTF-8") << QStringLiteral("caf") << false;
        QTest::newRow("folders only") << QStringLiteral("d:deep") << false;
        QTest::newRow("files only, a folder's name") << QStringLiteral("f:deep") << false;
        QTest::newRow("one volume only") << QStringLiteral("only-beta") << false;
        QTest::newRow("nothing") << QStringLiteral("zz-nothing") << false;
        QTest::newRow("every snapshot") << QStringLiteral("a") << true;
    }
    void search() {
        QFETCH(QString, pattern);
        QFETCH(bool, all);
        TwoVolumes v;
        makeTwoVolumes(v);
        // A later snapshot of alpha without a.txt: the latest no longer holds it.
        QVERIFY(QFile::remove(v.alpha.path(QStringLiteral("a.txt"))));
        QCOMPARE(cli(v.db, {QStringLiteral("add"), v.alpha.root()}).status, 0);
        QStringList args{QStringLiteral("search"), pattern, QStringLiteral("--json")};
        if (all) args << QStringLiteral("--all-snapshots");
        const catalogtest::Run oracle = cli(v.db, args);
        QCOMPARE(oracle.status, 0);
        QStringList want;
        for (const QJsonObject& o : jsonLines(oracle.out))
            want << o.value(QLatin1String("volume")).toString() + u'|' +
                        QString::fromLatin1(rawOf(o).toPercentEncoding("/")) + u'|' +
                        (o.value(QLatin1String("offline")).toBool() ? QStringLiteral("offline")
                                                                    : QStringLiteral("online"));

        CatalogWindow w(v.db, {});
        waitIdle(w);
        w.searchBox()->setText(pattern);
        w.allSnapshotsBox()->setChecked(all);
        w.startSearch();
        waitIdle(w);
        CatalogListModel& m = *w.model();
        QStringList got;
        for (int r = 0; r < m.rowCount(); ++r)
            got << m.data(m.index(r, CatalogListModel::kVolumeColumn)).toString() + u'|' +
                       QString::fromLatin1(m.rawPath(r).toPercentEncoding("/")) + u'|' +
                       (m.data(m.index(r, 0), Qt::ForegroundRole).isValid()
                            ? QStringLiteral("offline")
                            : QStringLiteral("online"));
        got.sort();
        want.sort();
        QCOMPARE(got, want);
    }

    // A volume's latest snapshot lists the files `find` sees in its folder; the copy carries the
    // label and full paths, and the rows are greyed where `catalog list` says offline.
    void snapshotListing_data() {
        QTest::addColumn<QString>("label");
        QTest::newRow("online volume") << QStringLiteral("alpha");
        QTest::newRow("offline volume") << QStringLiteral("beta");
    }
    void snapshotListing() {
        QFETCH(QString, label);
        TwoVolumes v;
        makeTwoVolumes(v);
        const TempTree& tree = label == u"alpha" ? v.alpha : v.beta;
        QStringList files;
        for (const QByteArray& line :
             catalogtest::run(QStringLiteral("find"),
                              {tree.root(), QStringLiteral("-type"), QStringLiteral("f")})
                 .out.split('\n'))
            if (!line.isEmpty()) files << shown(line);
        bool online = false;
        for (const QJsonObject& o :
             jsonLines(cli(v.db, {QStringLiteral("list"), QStringLiteral("--json")}).out))
            if (o.value(QLatin1String("volume")).toString() == label)
                online = o.value(QLatin1String("online")).toBool();

        CatalogWindow w(v.db, {});
        waitIdle(w);
        QTreeWidgetItem* volume = w.volumeTree()->findItems(label, Qt::MatchExactly).value(0);
        QVERIFY(volume);
        QCOMPARE(volume->text(4).startsWith(QStringLiteral("online")), online);
        volume->setSelected(true);
        waitIdle(w);
        CatalogListModel& m = *w.model();
        QCOMPARE(m.rowCount(), files.size());
        for (int r = 0; r < m.rowCount(); ++r)
            QCOMPARE(m.data(m.index(r, 1), Qt::ForegroundRole).isValid(), !online);
        QStringList copied;
        for (const QString& line : w.copyText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            const QStringList cells = line.split(u'\t');
            QCOMPARE(cells.value(0), label);
            copied << cells.value(1);
        }
        copied.sort();
        files.sort();
        QCOMPARE(copied, files);
    }

    // Exporting a snapshot from the window writes what `catalog export` writes, also for a
    // volume that is offline.
    void exportSnapshot_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("label");
        for (const char* f : {"json", "csv", "xml"}) {
            QTest::addRow("%s offline", f) << QString::fromLatin1(f) << QStringLiteral("beta");
            QTest::addRow("%s online", f) << QString::fromLatin1(f) << QStringLiteral("alpha");
        }
    }
    void exportSnapshot() {
        QFETCH(QString, format);
        QFETCH(QString, label);
        TwoVolumes v;
        makeTwoVolumes(v);
        const QString theirs = v.dir.filePath(QStringLiteral("cli.out"));
        QCOMPARE(cli(v.db, {QStringLiteral("export"), label, theirs, QStringLiteral("-f"), format})
                     .status,
                 0);
        ScriptedDialogs dialogs;
        dialogs.target = v.dir.filePath(QStringLiteral("window.out"));
        const std::vector<const ExportFormatInfo*>& offered = SaveDialogFormats();
        for (std::size_t i = 0; i < offered.size(); ++i)
            if (QLatin1String(offered[i]->name) == format) dialogs.index = int(i) + 1;
        Dialogs* before = SetDialogs(&dialogs);
        CatalogWindow w(v.db, {});
        waitIdle(w);
        w.volumeTree()->findItems(label, Qt::MatchExactly).value(0)->setSelected(true);
        waitIdle(w);
        button(w, "cmdExport")->click();
        SetDialogs(before);
        QCOMPARE(dialogs.errors, QStringList());
        QCOMPARE(catalogtest::readAll(dialogs.target), catalogtest::readAll(theirs));
    }

    // "Add to catalogue" adds the folder as `catalog add` would; a Cancel leaves the catalogue
    // as it was, checked with sqlite3.
    void addFolder_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("complete") << false;
        QTest::newRow("cancelled") << true;
    }
    void addFolder() {
        QFETCH(bool, cancel);
        // Many folders: the add looks at its stop flag after each. Made once.
        if (!m_big) {
            m_big = std::make_unique<TempTree>();
            for (int f = 0; f < 300; ++f)
                for (int i = 0; i < 10; ++i)
                    m_big->createFile(QStringLiteral("f%1/n%2.txt").arg(f).arg(i), "x");
        }
        TempTree& t = *m_big;
        QFile::remove(t.path(QStringLiteral("f0/later.txt")));
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("cat.db"));
        QCOMPARE(cli(db, {QStringLiteral("add"), t.root(), QStringLiteral("--label"),
                          QStringLiteral("big")})
                     .status,
                 0);
        t.createFile(QStringLiteral("f0/later.txt"), "later");
        const QString counts = QStringLiteral(
            "SELECT (SELECT count(*) FROM snapshots), (SELECT count(*) FROM versions), "
            "(SELECT count(*) FROM nodes)");
        const QByteArray before = catalogtest::sqlite(db, counts).out;

        CatalogWindow w(db, [&t] { return t.root(); });
        waitIdle(w);
        button(w, "cmdAdd")->click();
        // At once: the add has at most read its first folder, however fast the machine is.
        if (cancel) button(w, "cmdCancel")->click();
        waitIdle(w);
        QCOMPARE(catalogtest::sqlite(db, QStringLiteral("PRAGMA integrity_check")).out,
                 QByteArray("ok\n"));
        const QList<QJsonObject> list =
            jsonLines(cli(db, {QStringLiteral("list"), QStringLiteral("--json")}).out);
        if (cancel) {
            QVERIFY2(w.statusText().contains(QStringLiteral("cancelled")),
                     qPrintable(w.statusText()));
            QCOMPARE(catalogtest::sqlite(db, counts).out, before);
            QCOMPARE(list.size(), 1);
        } else {
            QCOMPARE(list.size(), 2);
            QCOMPARE(list[1].value(QLatin1String("state")).toString(), QStringLiteral("complete"));
            QCOMPARE(list[1].value(QLatin1String("files")).toInteger(), 3001);
            QCOMPARE(cli(db, {QStringLiteral("diff"), "1", "2"}).out.count('\n'), 2);
        }
        // The tree shows what the catalogue holds.
        QCOMPARE(w.volumeTree()->topLevelItem(0)->childCount(), list.size());
    }

    // The main window's pop-up item and Ctrl+K open one catalogue window on the default file.
    void openFromMainWindow() {
        TempTree t;
        makeBase(t);
        frmExport main(t.root());
        main.show();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        QAction* item = main.popupMenu()->findChild<QAction*>(QStringLiteral("mnuCatalog"));
        QVERIFY(item);
        QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
        QVERIFY(!main.findChild<CatalogWindow*>());
        QTest::keyClick(&main, Qt::Key_K, Qt::ControlModifier);
        auto* w = main.findChild<CatalogWindow*>();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QVERIFY(!w->isModal());
        QCOMPARE(w->catalogPath(), m_home.path() + QStringLiteral("/treelan/catalog.db"));
        // No catalogue yet: "Add to catalogue" makes it where `catalog list` then finds it.
        QVERIFY2(w->statusText().contains(w->catalogPath()), qPrintable(w->statusText()));
        button(*w, "cmdAdd")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 60000);
        const QList<QJsonObject> list =
            jsonLines(catalogtest::run(QStringLiteral(TREELAN_CLI),
                                       {QStringLiteral("catalog"), QStringLiteral("list"),
                                        QStringLiteral("--json")})
                          .out);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].value(QLatin1String("root")).toString(), t.root());
        QCOMPARE(w->volumeTree()->topLevelItemCount(), 1);
        // Closing the main window ends the program while the catalogue's window is open: Qt
        // quits once no shown window that counts for quitting is left (it says so only from
        // within its event loop, which a test does not run).
        main.close();
        QVERIFY(w->isVisible());
        for (const QWidget* shown : QApplication::topLevelWidgets())
            QVERIFY2(!shown->isVisible() || !shown->testAttribute(Qt::WA_QuitOnClose),
                     qPrintable(shown->objectName()));
        item->trigger();
        QCOMPARE(main.findChildren<CatalogWindow*>().size(), 1);
    }
};

QTEST_MAIN(TestCatalogWindow)
#include "tst_catalogwindow.moc"
