#include "ExportScript.h"
#include "ScanWait.h"
#include "TempTree.h"
#include "codec/Utf8.h"
#include "export/Formats.h"
#include "listing/ListingModel.h"
#include "settings/SettingsStore.h"
#include "settings/StringTable.h"
#include "ui/SaveDialog.h"
#include "ui/frmExport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace treelan;

namespace {

// The folder and file elements of an XML export as "name[ ... ]" and file names, in document
// order, so a table row can state the whole tree in one line.
QString Shape(const QByteArray& xml) {
    QStringList tokens;
    for (const QByteArray& line : xml.split('\n')) {
        const QByteArray l = line.trimmed();
        auto title = [&l] {
            const qsizetype start = l.indexOf("title=\"") + 7;
            return QString::fromUtf8(l.mid(start, l.indexOf('"', start) - start));
        };
        if (l.startsWith("<folder title="))
            tokens << title() + u'[';
        else if (l == "</folder>")
            tokens << QStringLiteral("]");
        else if (l.startsWith("<file title="))
            tokens << title();
    }
    return tokens.join(u' ');
}

QByteArray Framing(const QString& root) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<folders path=\"" + root.toUtf8() +
           "\">\r\n\r\n</folders>\r\n";
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// The worked example of the export command, with a b.txt in the root as well: a selected
// new/b.txt is that file alone, not every b.txt.
void MakeDocsTree(TempTree& t) {
    t.createFile(QStringLiteral("Old/a.txt"), "a");
    t.createFile(QStringLiteral("new/b.txt"), "b");
    t.createDir(QStringLiteral("new/x"));
    t.createFile(QStringLiteral("Z.txt"), "", TempTree::utc(2004, 1, 1));
    t.createFile(QStringLiteral("a&b.txt"), QByteArray(1024, 'x'), TempTree::utc(2004, 2, 2));
    t.createFile(QStringLiteral("b.txt"), "root b");
}

// Answers the real template chooser once it is up: picks an entry and clicks Ok, or uses the
// close box. Records what the dialog offered.
class ChooserDriver : public QObject {
public:
    int pick = -1; // -1: the close box
    QStringList offered;
    bool seen = false;
    bool ownerless = false;
    bool busyPointer = false;

    ChooserDriver() {
        connect(&m_timer, &QTimer::timeout, this, &ChooserDriver::poll);
        m_timer.start(10);
        m_clock.start();
    }

private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<frmStyle*>(w);
            if (!dialog || !dialog->isVisible()) continue;
            m_timer.stop();
            seen = true;
            ownerless = dialog->parentWidget() == nullptr;
            busyPointer = QApplication::overrideCursor() != nullptr;
            auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("cmbSchema"));
            for (int i = 0; i < combo->count(); ++i)
                offered << combo->itemText(i);
            if (pick < 0) {
                dialog->close();
            } else {
                combo->setCurrentIndex(pick);
                dialog->findChild<QPushButton*>(QStringLiteral("cmdStyle"))->click();
            }
            return;
        }
        // A dialog that never comes must not hang the test run.
        if (m_clock.elapsed() > 10000) {
            m_timer.stop();
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        }
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace

class TestExportCommand : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;
    QTemporaryDir m_out;

    std::unique_ptr<frmExport> window(const QString& root, const QString& resourceDir = {}) {
        auto w = std::make_unique<frmExport>(
            root, resourceDir.isEmpty() ? QStringLiteral(TREELAN_RESOURCE_DIR) : resourceDir);
        WaitForScan(*w);
        return w;
    }
    template <typename T> static T* child(const frmExport& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        if (!c) qFatal("no control %s", name);
        return c;
    }
    QString target(const QString& name) const { return m_out.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.isValid());
        QVERIFY(m_out.isValid());
        SetSettingsDirectory(m_settings.path());
        SetIniPath(QString());
        LoadDefaultStrings();
    }
    void cleanup() {
        QDir(m_out.path()).removeRecursively();
        QDir().mkpath(m_out.path());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void cancelCreatesNothing() {
        TempTree t;
        MakeDocsTree(t);
        auto w = window(t.root());
        ScriptedExport script;
        script.run(*w, QString(), 2);
        QCOMPARE(script.save.calls, 1);
        // The three types of old keep their places; the format table's others follow.
        QVERIFY2(script.save.seenFilter.startsWith(
                     QStringLiteral("Web Archive (*.mht)|*.mht|"
                                    "XML file with defined XSLT template (*.xml)|*.xml|"
                                    "Generic XML file (*.xml)|*.xml|")),
                 qPrintable(script.save.seenFilter));
        const QList<SaveFilterPair> pairs = ParseSaveFilter(script.save.seenFilter);
        QCOMPARE(std::size_t(pairs.size()), SaveDialogFormats().size());
        QCOMPARE(SaveDialogFormats().size(), ExportFormats().size());
        QCOMPARE(script.save.seenTitle, QStringLiteral("Export..."));
        QCOMPARE(script.save.seenDir, QCoreApplication::applicationDirPath());
        QCOMPARE(script.save.seenName, QString());
        QVERIFY(!script.save.busyPointer);
        QCOMPARE(script.chooser.calls, 0);
        QVERIFY(script.reporter.messages.isEmpty());
        QCOMPARE(Entries(m_out.path()), QStringList());
    }

    void formatFromChosenType_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("chooserAnswer");
        QTest::addColumn<int>("chooserCalls");
        QTest::addColumn<QByteArray>("head");       // the document's first bytes
        QTest::addColumn<QByteArray>("stylesheet"); // the line after the prolog, or empty
        QTest::addColumn<bool>("sameAsGenericXml"); // apart from that line
        QTest::newRow("web archive")
            << 1 << "tree" << 0 << QByteArray("MIME-Version: 1.0\r\n") << QByteArray() << false;
        QTest::newRow("template chosen")
            << 2 << "tree" << 1 << QByteArray("<?xml ")
            << QByteArray("<?xml-stylesheet type=\"text/xsl\" href=\"tree.xsl\"?>") << true;
        QTest::newRow("chooser closed")
            << 2 << "" << 1 << QByteArray("<?xml ") << QByteArray() << true;
        QTest::newRow("generic xml")
            << 3 << "tree" << 0 << QByteArray("<?xml ") << QByteArray() << true;
    }
    void formatFromChosenType() {
        QFETCH(int, index);
        QFETCH(QString, chooserAnswer);
        QFETCH(int, chooserCalls);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, stylesheet);
        QFETCH(bool, sameAsGenericXml);
        TempTree t;
        MakeDocsTree(t);
        auto w = window(t.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        ScriptedExport script;
        script.run(*w, target(QStringLiteral("generic.xml")), 3);
        const QByteArray generic = ReadFileBytes(target(QStringLiteral("generic.xml")));
        QCOMPARE(Shape(generic),
                 QStringLiteral("new[ x[ ] b.txt ] Old[ a.txt ] a&amp;b.txt b.txt Z.txt"));

        script.chooser.answer = chooserAnswer;
        script.run(*w, target(QStringLiteral("out")), index);
        QVERIFY(script.reporter.messages.isEmpty());
        QCOMPARE(script.chooser.calls, chooserCalls);
        QVERIFY(!script.chooser.busyPointer);
        QVERIFY(!script.chooser.owned);
        QByteArray bytes = ReadFileBytes(target(QStringLiteral("out")));
        QVERIFY2(bytes.startsWith(head), bytes.left(80).constData());
        QList<QByteArray> lines = bytes.split('\n');
        if (!stylesheet.isEmpty()) {
            QCOMPARE(lines.value(1), stylesheet + '\r');
            lines.removeAt(1);
        }
        if (sameAsGenericXml) QCOMPARE(lines.join('\n'), generic);
    }

    void selectedItemsOnly_data() {
        QTest::addColumn<bool>("subfolders");
        QTest::addColumn<bool>("selectedOnly");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("shape");
        QTest::newRow("no row selected") << true << true << QStringList() << QString();
        QTest::newRow("file in a subfolder")
            << true << true << QStringList{"new/b.txt"} << QStringLiteral("new[ b.txt ]");
        QTest::newRow("files in two folders")
            << true << true << QStringList{"Old/a.txt", "new/b.txt"}
            << QStringLiteral("new[ b.txt ] Old[ a.txt ]");
        QTest::newRow("root file")
            << true << true << QStringList{"a&b.txt"} << QStringLiteral("a&amp;b.txt");
        QTest::newRow("subfolder row of the flat listing")
            << false << true << QStringList{"new/"} << QStringLiteral("new[ ]");
        QTest::newRow("option unchecked")
            << true << false << QStringList{"new/b.txt"}
            << QStringLiteral("new[ x[ ] b.txt ] Old[ a.txt ] a&amp;b.txt b.txt Z.txt");
    }
    void selectedItemsOnly() {
        QFETCH(bool, subfolders);
        QFETCH(bool, selectedOnly);
        QFETCH(QStringList, rows);
        QFETCH(QString, shape);
        TempTree t;
        MakeDocsTree(t);
        auto w = window(t.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(subfolders);
        QVERIFY(WaitForScan(*w));
        child<QCheckBox>(*w, "chkSelected")->setChecked(selectedOnly);
        QCOMPARE(SelectRowsByPath(*w, rows), rows.size());
        ScriptedExport script;
        script.run(*w, target(QStringLiteral("out.xml")), 3);
        QVERIFY(script.reporter.messages.isEmpty());
        const QByteArray bytes = ReadFileBytes(target(QStringLiteral("out.xml")));
        QCOMPARE(Shape(bytes), shape);
        if (shape.isEmpty()) QCOMPARE(bytes, Framing(t.root()));
    }

    void secondExportUsesOnlyTheSecondSelection() {
        TempTree t;
        MakeDocsTree(t);
        auto w = window(t.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        child<QCheckBox>(*w, "chkSelected")->setChecked(true);
        ScriptedExport script;
        QCOMPARE(SelectRowsByPath(*w, {QStringLiteral("new/b.txt")}), 1);
        script.run(*w, target(QStringLiteral("first.xml")), 3);
        QCOMPARE(SelectRowsByPath(*w, {QStringLiteral("Old/a.txt")}), 1);
        script.run(*w, target(QStringLiteral("second.xml")), 3);
        QCOMPARE(Shape(ReadFileBytes(target(QStringLiteral("first.xml")))),
                 QStringLiteral("new[ b.txt ]"));
        QCOMPARE(Shape(ReadFileBytes(target(QStringLiteral("second.xml")))),
                 QStringLiteral("Old[ a.txt ]"));
    }

    // Row texts and the export's paths must agree on names that are not valid UTF-8, or a
    // selected or deleted row of such a file would be missed.
    void undecodableNames_data() {
        QTest::addColumn<bool>("deleteIt");
        QTest::newRow("selected") << false;
        QTest::newRow("deleted") << true;
    }
    void undecodableNames() {
        QFETCH(bool, deleteIt);
        TempTree t;
        t.createRawFile(QStringLiteral("raw"), QByteArray("bad\xff.txt"), "x");
        t.createFile(QStringLiteral("raw/good.txt"), "g");
        auto w = window(t.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        int row = -1;
        for (int r = 0; r < w->model()->rowCount(); ++r)
            if (w->model()->text(r, ColName).startsWith(QLatin1String("bad"))) row = r;
        QVERIFY(row >= 0);
        const QString rowPath = RowPath(*w->model(), row);
        QCOMPARE(SelectRowsByPath(*w, {rowPath}), 1);
        if (deleteIt)
            w->DeleteSelectedRows();
        else
            child<QCheckBox>(*w, "chkSelected")->setChecked(true);
        ScriptedExport script;
        script.run(*w, target(QStringLiteral("out.xml")), 3);
        const QString shape = Shape(ReadFileBytes(target(QStringLiteral("out.xml"))));
        // Selected: the undecodable file alone; deleted: the other one alone.
        QCOMPARE(shape.count(QLatin1String(".txt")), 1);
        QCOMPARE(shape.contains(QLatin1String("good.txt")), deleteIt);
    }

    // Two files whose names read the same ("café.txt" in UTF-8, 1 kB, and in Latin-1, 3 kB): the
    // row deleted or selected is the one left out or written, never both.
    void twinNames_data() {
        QTest::addColumn<bool>("deleteIt");
        QTest::addColumn<QString>("size"); // of the row acted on
        for (const char* size : {" 1 kB", " 3 kB"}) {
            QTest::addRow("delete%s", size) << true << QString::fromLatin1(size);
            QTest::addRow("select%s", size) << false << QString::fromLatin1(size);
        }
    }
    void twinNames() {
        QFETCH(bool, deleteIt);
        QFETCH(QString, size);
        TempTree t;
        t.createRawFile(QStringLiteral("."), "caf\xc3\xa9.txt", QByteArray(1024, 'u'));
        t.createRawFile(QStringLiteral("."), "caf\xe9.txt", QByteArray(3072, 'l'));
        auto w = window(t.root());
        int row = -1;
        for (int r = 0; r < w->model()->rowCount(); ++r)
            if (w->model()->text(r, ColSize) == size) row = r;
        QVERIFY(row >= 0);
        w->listView()->selectionModel()->select(w->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        if (deleteIt)
            w->DeleteSelectedRows();
        else
            child<QCheckBox>(*w, "chkSelected")->setChecked(true);
        QCOMPARE(w->model()->rowCount(), deleteIt ? 1 : 2);
        ScriptedExport script;
        script.run(*w, target(QStringLiteral("out.xml")), 3);
        const QByteArray xml = ReadFileBytes(target(QStringLiteral("out.xml")));
        QCOMPARE(xml.count("<file title=\"caf\xc3\xa9.txt\""), 1);
        // Deleted: the other twin is written; selected: this one.
        QCOMPARE(xml.contains("size=\"" + size.trimmed().toUtf8() + "\""), !deleteIt);
    }

    // A root folder whose own name is not valid UTF-8, as the folder dialog or the command line
    // hands it to the window, is listed and exported.
    void rootNameNotUtf8_data() {
        QTest::addColumn<QByteArray>("rawName");
        QTest::newRow("Latin-1 e-acute") << QByteArray("caf\xe9");
        QTest::newRow("lone 0xFF") << QByteArray("\xff");
    }
    void rootNameNotUtf8() {
        QFETCH(QByteArray, rawName);
        TempTree t;
        QVERIFY(::mkdir((QFile::encodeName(t.root()) + rawName).constData(), 0755) == 0);
        t.createRawFile(QStringLiteral("."), rawName + "/inner.txt", "i");
        auto w = window(QFile::decodeName(QFile::encodeName(t.root()) + rawName));
        QCOMPARE(w->model()->rowCount(), 1);
        QCOMPARE(w->model()->text(0, ColName), QStringLiteral("inner.txt"));
        ScriptedExport script;
        script.run(*w, target(QStringLiteral("out.xml")), 3);
        const QByteArray xml = ReadFileBytes(target(QStringLiteral("out.xml")));
        QVERIFY2(xml.contains("<folders path=\"" + t.root().toUtf8() +
                              ToUTF8(DecodeFileName(rawName)) + "/\">"),
                 xml.constData());
        QVERIFY2(xml.contains("<file title=\"inner.txt\""), xml.constData());
    }

    // The real chooser over a Resource folder of the test's making.
    void chooserNamesAnExistingTemplate_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("pick");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<QByteArray>("stylesheet"); // the line after the prolog
        const QByteArray folders = "<folders path=";
        QTest::newRow("two templates")
            << QStringList{"tree.xsl", "list.xsl"} << 0 << QStringList{"list", "tree"}
            << QByteArray("<?xml-stylesheet type=\"text/xsl\" href=\"list.xsl\"?>");
        // Only the exact ending can be completed again: Tree.XSL.xsl would name no file.
        QTest::newRow("exact ending only")
            << QStringList{"Tree.XSL", "a.xsl.xsl"} << 0 << QStringList{"a.xsl"}
            << QByteArray("<?xml-stylesheet type=\"text/xsl\" href=\"a.xsl.xsl\"?>");
        QTest::newRow("close box")
            << QStringList{"tree.xsl"} << -1 << QStringList{"tree"} << folders;
        QTest::newRow("no template, Ok") << QStringList{} << 0 << QStringList{} << folders;
    }
    void chooserNamesAnExistingTemplate() {
        QFETCH(QStringList, files);
        QFETCH(int, pick);
        QFETCH(QStringList, offered);
        QFETCH(QByteArray, stylesheet);
        TempTree resources;
        for (const QString& f : files)
            resources.createFile(f, "<xsl:stylesheet/>");
        TempTree t;
        t.createFile(QStringLiteral("song.txt"), "s");
        auto w = window(t.root(), resources.root());
        ScriptedExport script;
        script.chooser.realDialog = true;
        ChooserDriver driver;
        driver.pick = pick;
        script.run(*w, target(QStringLiteral("out.xml")), 2);
        QVERIFY(driver.seen);
        QVERIFY(driver.ownerless);
        QVERIFY(!driver.busyPointer);
        QCOMPARE(driver.offered, offered);
        const QList<QByteArray> lines =
            ReadFileBytes(target(QStringLiteral("out.xml"))).split('\n');
        QVERIFY2(lines.value(1).startsWith(stylesheet), lines.value(1).constData());
        const qsizetype href = stylesheet.indexOf("href=\"");
        if (href >= 0) {
            const QByteArray name =
                stylesheet.mid(href + 6, stylesheet.indexOf('"', href + 6) - href - 6);
            QVERIFY2(QFile::exists(resources.path(QString::fromUtf8(name))), name.constData());
        }
    }

    // Every type after the third writes its format of the table, and a name typed without an
    // ending gets the type's first one.
    void tableFormatsOffered_data() {
        QTest::addColumn<int>("index");
        for (int i = 4; i <= int(SaveDialogFormats().size()); ++i)
            QTest::newRow(SaveDialogFormats()[std::size_t(i - 1)]->name) << i;
    }
    void tableFormatsOffered() {
        QFETCH(int, index);
        const ExportFormatInfo& format = *SaveDialogFormats()[std::size_t(index - 1)];
        QCOMPARE(ExportFormatForFilterIndex(index), format.format);
        const QList<SaveFilterPair> pairs = ParseSaveFilter(ExportFilterText());
        const QString pattern = pairs.value(index - 1).pattern;
        QVERIFY2(pairs.value(index - 1).description.endsWith(QStringLiteral(" (") + pattern + u')'),
                 qPrintable(pairs.value(index - 1).description));
        for (const QString& extension : format.extensions)
            QVERIFY2(pattern.split(u';').contains(u'*' + extension), qPrintable(pattern));

        TempTree t;
        MakeDocsTree(t);
        auto w = window(t.root());
        ScriptedExport script;
        const qint64 started = QDateTime::currentSecsSinceEpoch();
        script.run(*w, target(QStringLiteral("typed.out")), index);
        QVERIFY(script.reporter.messages.isEmpty());
        const QByteArray bytes = ReadFileBytes(target(QStringLiteral("typed.out")));
        QVERIFY(!bytes.isEmpty());
        // What the format writes for the same folder and options, from the core directly.
        ExportRequest request;
        request.targetPath = target(QStringLiteral("direct.out"));
        request.format = format.format;
        request.rootPath = RootPath(w->path());
        request.resourceDir = w->resourceDir();
        request.options = w->exportOptions();
        WriteExportDocument(request);
        const QByteArray direct = ReadFileBytes(request.targetPath);
        if (QDateTime::currentSecsSinceEpoch() == started) {
            QCOMPARE(bytes, direct);
        } else {
            // The two exports fell into different seconds, and some formats write the export
            // time: compare with every digit the same.
            static const QRegularExpression digits(QStringLiteral("[0-9]"));
            QCOMPARE(QString::fromUtf8(bytes).replace(digits, QStringLiteral("0")),
                     QString::fromUtf8(direct).replace(digits, QStringLiteral("0")));
        }
    }

    // The View menu's "Hidden files": ticked by default, remembered, and the scan and the export
    // both leave out names beginning with "." when it is unticked.
    void hiddenFiles_data() {
        QTest::addColumn<QString>("stored"); // the setting before the window opens
        QTest::addColumn<bool>("click");     // the tick is clicked once the window is up
        QTest::addColumn<bool>("shown");
        QTest::newRow("default") << QString() << false << true;
        QTest::newRow("unticked") << QString() << true << false;
        QTest::newRow("remembered unticked") << "0" << false << false;
        QTest::newRow("ticked again") << "0" << true << true;
    }
    void hiddenFiles() {
        QFETCH(QString, stored);
        QFETCH(bool, click);
        QFETCH(bool, shown);
        QTemporaryDir settings;
        SetSettingsDirectory(settings.path());
        if (!stored.isEmpty())
            SaveSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"),
                        QStringLiteral("Hidden"), stored);
        TempTree t;
        t.createFile(QStringLiteral("seen.txt"), "s");
        t.createFile(QStringLiteral(".dot.txt"), "h");
        t.createFile(QStringLiteral(".cfg/inner.txt"), "i");
        t.createFile(QStringLiteral("sub/.x.txt"), "x");
        auto w = window(t.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        if (click) {
            w->mnuHidden()->trigger();
            QVERIFY(WaitForScan(*w));
        }
        QCOMPARE(w->mnuHidden()->isChecked(), shown);
        QCOMPARE(GetSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"),
                            QStringLiteral("Hidden"), QStringLiteral("1")),
                 shown ? QStringLiteral("1") : QStringLiteral("0"));
        QStringList listed;
        for (int r = 0; r < w->model()->rowCount(); ++r)
            listed << RowPath(*w->model(), r);
        listed.sort();
        const QStringList all{".cfg/inner.txt", ".dot.txt", "seen.txt", "sub/.x.txt"};
        QCOMPARE(listed, shown ? all : QStringList{"seen.txt"});

        ScriptedExport script;
        script.run(*w, target(QStringLiteral("hidden.xml")), 3);
        const QString shape = Shape(ReadFileBytes(target(QStringLiteral("hidden.xml"))));
        QCOMPARE(shape.contains(QStringLiteral(".dot.txt")), shown);
        QCOMPARE(shape.contains(QStringLiteral(".cfg[")), shown);
        QCOMPARE(shape.contains(QStringLiteral(".x.txt")), shown);
        QVERIFY(shape.contains(QStringLiteral("seen.txt")));
        SetSettingsDirectory(m_settings.path());
    }

    // The View menu's "Read media details": off by default, remembered, and the listing's media
    // columns and the export carry what the helper read only when it is ticked; a media column's
    // own View item shows it and is remembered apart.
    void mediaDetails_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("click");
        QTest::addColumn<bool>("read");
        QTest::newRow("default") << QString() << false << false;
        QTest::newRow("ticked") << QString() << true << true;
        QTest::newRow("remembered ticked") << "1" << false << true;
        QTest::newRow("unticked again") << "1" << true << false;
    }
    void mediaDetails() {
        QFETCH(QString, stored);
        QFETCH(bool, click);
        QFETCH(bool, read);
        QTemporaryDir settings;
        SetSettingsDirectory(settings.path());
        if (!stored.isEmpty())
            SaveSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"),
                        QStringLiteral("Media"), stored);
        TempTree t;
        // 64x48, EXIF orientation 6, camera "Treelan" (scripts/make-media-corpus.sh).
        t.createFile(
            QStringLiteral("photo.jpg"),
            ReadFileBytes(QStringLiteral(TREELAN_SOURCE_DIR "/fuzz/corpus/media/photo.jpg")));
        auto w = window(t.root());
        QVERIFY(WaitForScan(*w));
        if (click) {
            w->mnuMedia()->trigger();
            QVERIFY(WaitForScan(*w));
        }
        QCOMPARE(w->mnuMedia()->isChecked(), read);
        QCOMPARE(GetSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"),
                            QStringLiteral("Media"), QStringLiteral("0")),
                 read ? QStringLiteral("1") : QStringLiteral("0"));
        const int dims = ColMedia + int(MediaField::Dimensions);
        QCOMPARE(w->model()->text(0, dims), read ? QStringLiteral("48x64") : QString());
        QCOMPARE(w->model()->text(0, ColMedia + int(MediaField::Make)),
                 read ? QStringLiteral("Treelan") : QString());
        QVERIFY(w->listView()->horizontalHeader()->isSectionHidden(dims));
        w->mnuMediaColumn(int(MediaField::Dimensions))->trigger();
        QVERIFY(!w->listView()->horizontalHeader()->isSectionHidden(dims));
        QCOMPARE(GetSetting(QStringLiteral("Treelan"), QStringLiteral("Startup"),
                            QStringLiteral("MediaColumns"), QString()),
                 QStringLiteral("00000010000"));

        ScriptedExport script;
        script.run(*w, target(QStringLiteral("media.xml")), 3);
        QCOMPARE(
            ReadFileBytes(target(QStringLiteral("media.xml"))).contains("dimensions=\"48x64\""),
            read);
        SetSettingsDirectory(m_settings.path());
    }

    // The View menu's "Follow links": ticked by default and remembered; unticked, the scan and
    // the export take each link as itself, as --no-follow does.
    void followLinks_data() {
        QTest::addColumn<QString>("stored"); // the setting before the window opens
        QTest::addColumn<bool>("click");     // the tick is clicked once the window is up
        QTest::newRow("default") << QString() << false;
        QTest::newRow("unticked") << QString() << true;
        QTest::newRow("remembered unticked") << "0" << false;
    }
    void followLinks() {
        QFETCH(QString, stored);
        QFETCH(bool, click);
        const bool follow = stored.isEmpty() && !click;
        QTemporaryDir settings;
        SetSettingsDirectory(settings.path());
        if (!stored.isEmpty()) SaveSetting("Treelan", "Startup", "FollowLinks", stored);
        TempTree outside, t;
        outside.createFile(QStringLiteral("inner.txt"), "i");
        t.createSymlink(QStringLiteral("lnk"), outside.root());
        auto w = window(t.root());
        child<QCheckBox>(*w, "chkTree")->setChecked(true);
        QVERIFY(WaitForScan(*w));
        if (click) w->mnuFollow()->trigger();
        QVERIFY(WaitForScan(*w));
        QCOMPARE(w->mnuFollow()->isChecked(), follow);
        QCOMPARE(GetSetting("Treelan", "Startup", "FollowLinks", "1"), follow ? "1" : "0");
        QCOMPARE(w->model()->rowCount(), 1);
        QCOMPARE(RowPath(*w->model(), 0), follow ? "lnk/inner.txt" : "lnk");
        ScriptedExport script;
        script.run(*w, target(QStringLiteral("links.xml")), 3);
        const QByteArray xml = ReadFileBytes(target(QStringLiteral("links.xml")));
        QCOMPARE(xml.contains(follow ? "<file title=\"inner.txt\"" : "<file title=\"lnk\""), true);
        SetSettingsDirectory(m_settings.path());
    }

    void failureReportedAndNothingLeft_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("targetName"); // relative to the output folder
        QTest::addColumn<QString>("named");      // the file the message must name ("": target)
        QTest::newRow("missing folder") << "" << 3 << "missing/out.xml"
                                        << "";
        QTest::newRow("folder is a file") << "plain" << 3 << "plain.txt/out.xml"
                                          << "";
        QTest::newRow("read-only folder") << "readonly" << 3 << "ro/out.xml"
                                          << "";
        QTest::newRow("missing resource") << "noresources" << 1 << "out.mht"
                                          << "tree.css";
        QTest::newRow("existing target kept") << "noresources existing" << 1 << "out.mht"
                                              << "tree.css";
        // Chosen in the dialog, a device is written into as on the command line, not replaced.
        QTest::newRow("full device node") << "fulldevice" << 3 << "full"
                                          << "";
    }
    void failureReportedAndNothingLeft() {
        QFETCH(QString, setup);
        QFETCH(int, index);
        QFETCH(QString, targetName);
        QFETCH(QString, named);
        const QString path = target(targetName);
        if (setup.contains(QLatin1String("plain"))) {
            QFile f(target(QStringLiteral("plain.txt")));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        if (setup.contains(QLatin1String("readonly"))) {
            if (::geteuid() == 0) QSKIP("permissions do not stop this user");
            QVERIFY(QDir().mkpath(target(QStringLiteral("ro"))));
            QFile::setPermissions(target(QStringLiteral("ro")), QFile::ReadOwner | QFile::ExeOwner);
        }
        if (setup.contains(QLatin1String("fulldevice")) &&
            ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
            QSKIP("mknod refused: device nodes need root");
        if (setup.contains(QLatin1String("existing"))) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QTemporaryDir emptyResources;
        TempTree t;
        MakeDocsTree(t);
        auto w =
            window(t.root(), setup.contains(QLatin1String("noresources")) ? emptyResources.path()
                                                                          : QString());
        const QStringList before = Entries(QFileInfo(path).absolutePath());
        ScriptedExport script;
        script.run(*w, path, index);
        QFile::setPermissions(target(QStringLiteral("ro")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QCOMPARE(script.reporter.messages.size(), 1);
        QVERIFY(!script.reporter.busyPointer);
        const QString message = script.reporter.messages.first();
        const QString file = named.isEmpty() ? path : QDir(emptyResources.path()).filePath(named);
        // The file, then the reason.
        QVERIFY2(message.startsWith(file + QStringLiteral(": ")) &&
                     message.size() > file.size() + 4,
                 qPrintable(message));
        QCOMPARE(Entries(QFileInfo(path).absolutePath()), before);
        if (setup.contains(QLatin1String("device"))) {
            QVERIFY2(message.endsWith(QStringLiteral("No space left on device")),
                     qPrintable(message));
            struct stat st;
            QVERIFY(::lstat(QFile::encodeName(path).constData(), &st) == 0);
            QVERIFY(S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 7)); // never read: endless
            return;
        }
        QCOMPARE(ReadFileBytes(path),
                 setup.contains(QLatin1String("existing")) ? QByteArray("old") : QByteArray());
    }
};

QTEST_MAIN(TestExportCommand)
#include "tst_exportcommand.moc"
