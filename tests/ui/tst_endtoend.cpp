#include "ExportScript.h"
#include "ScanWait.h"
#include "TempTree.h"
#include "settings/SettingsStore.h"
#include "settings/StringTable.h"

#include <QCheckBox>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace treelan;

// The window's Export and `treelan-cli export` are two doors to one document: for the same
// folder, options, deleted and selected rows they must write the same bytes.
class TestEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;
    QTemporaryDir m_out;
    TempTree m_tree;

    static QByteArray mp3(const char* name) {
        return ReadFileBytes(QStringLiteral(TREELAN_TEST_DATA "/mp3/") + QLatin1String(name));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.isValid());
        QVERIFY(m_out.isValid());
        SetSettingsDirectory(m_settings.path());
        SetIniPath(QString());
        LoadDefaultStrings();
        m_tree.createFile(QStringLiteral("Rock & Roll/track.mp3"), mp3("cbr-44k-stereo.mp3"),
                          TempTree::utc(2004, 3, 5));
        m_tree.createDir(QStringLiteral("Archive"));
        m_tree.createFile(QStringLiteral("notes.txt"), QByteArray(2600, 'n'),
                          TempTree::utc(2003, 12, 24));
        m_tree.createFile(QStringLiteral("\u00e9t\u00e9 <1>.txt"), "e");
        m_tree.createFile(QStringLiteral("with space.txt"), "w");
        m_tree.createFile(QStringLiteral("Sub/deep/x.txt"), "x");
        m_tree.createFile(QStringLiteral("Sub/y.txt"), "y");
        m_tree.createFile(QStringLiteral("Club/song.mp3"), mp3("vbr-44k-stereo.mp3"));
        m_tree.createFile(QStringLiteral("Club/ong.mp3"), "not really");
        m_tree.createFile(QStringLiteral("b/keep.txt"), "k");
    }

    void sameBytesAsTheCommandLine_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("subfolders");
        QTest::addColumn<bool>("mp3");
        QTest::addColumn<QStringList>("deleted");
        QTest::addColumn<QStringList>("selected"); // empty: "Selected items only" unchecked
        QTest::addColumn<QString>("chosenTemplate");
        QTest::newRow("mht, subfolders, deleted files")
            << 1 << true << true << QStringList{"Rock & Roll/track.mp3", "notes.txt"}
            << QStringList() << QString();
        QTest::newRow("mht, flat, selected folder row")
            << 1 << false << true << QStringList() << QStringList{"Rock & Roll/"} << QString();
        QTest::newRow("xslt, subfolders, selected files")
            << 2 << true << false << QStringList()
            << QStringList{"Sub/deep/x.txt", "\u00e9t\u00e9 <1>.txt"} << QStringLiteral("tree");
        QTest::newRow("xslt, chooser closed, deleted folder row")
            << 2 << false << false << QStringList{"Club/"} << QStringList() << QString();
        QTest::newRow("xml, flat, deleted folder and file rows")
            << 3 << false << true << QStringList{"b/", "with space.txt"} << QStringList()
            << QString();
        QTest::newRow("xml, subfolders, deleted and selected")
            << 3 << true << true << QStringList{"b/keep.txt"}
            << QStringList{"Club/song.mp3", "notes.txt", "Sub/y.txt"} << QString();
    }
    void sameBytesAsTheCommandLine() {
        QFETCH(int, index);
        QFETCH(bool, subfolders);
        QFETCH(bool, mp3);
        QFETCH(QStringList, deleted);
        QFETCH(QStringList, selected);
        QFETCH(QString, chosenTemplate);

        frmExport w(m_tree.root(), QStringLiteral(TREELAN_RESOURCE_DIR));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.findChild<QCheckBox*>(QStringLiteral("chkTree"))->setChecked(subfolders);
        w.findChild<QCheckBox*>(QStringLiteral("chkmp3"))->setChecked(mp3);
        QVERIFY(WaitForScan(w));
        if (!deleted.isEmpty()) {
            QCOMPARE(SelectRowsByPath(w, deleted), deleted.size());
            QTest::keyClick(w.listView(), Qt::Key_Delete);
            for (int row = 0; row < w.model()->rowCount(); ++row)
                QVERIFY(!deleted.contains(RowPath(*w.model(), row)));
        }
        if (!selected.isEmpty()) {
            w.findChild<QCheckBox*>(QStringLiteral("chkSelected"))->setChecked(true);
            QCOMPARE(SelectRowsByPath(w, selected), selected.size());
        }

        ScriptedExport script;
        script.chooser.answer = chosenTemplate;
        script.save.answer = m_out.filePath(QStringLiteral("window.out"));
        script.save.answerIndex = index;
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("cmdExport")), Qt::LeftButton);
        QCOMPARE(script.save.calls, 1);
        QVERIFY(script.reporter.messages.isEmpty());
        const QByteArray fromWindow = ReadFileBytes(script.save.answer);
        QVERIFY(!fromWindow.isEmpty());

        const char* const formats[] = {"mht", "xslt", "xml"};
        QStringList args{QStringLiteral("export"),      QStringLiteral("-q"),
                         QStringLiteral("-f"),          QLatin1String(formats[index - 1]),
                         QStringLiteral("--resources"), QStringLiteral(TREELAN_RESOURCE_DIR)};
        if (subfolders) args << QStringLiteral("-r");
        if (mp3) args << QStringLiteral("-m");
        if (!chosenTemplate.isEmpty()) args << QStringLiteral("-t") << chosenTemplate;
        for (const QString& p : deleted)
            args << QStringLiteral("--exclude") << p;
        for (const QString& p : selected)
            args << QStringLiteral("--only") << p;
        const QString cliOut = m_out.filePath(QStringLiteral("cli.out"));
        args << m_tree.root() << cliOut;
        QProcess cli;
        cli.start(QStringLiteral(TREELAN_CLI), args);
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(fromWindow, ReadFileBytes(cliOut));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
