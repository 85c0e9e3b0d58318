#include "ui/frmStyle.h"

#include "settings/StringTable.h"

#include "TempTree.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace treelan;

namespace {

QComboBox* schema(frmStyle& dialog) {
    return dialog.findChild<QComboBox*>(QStringLiteral("cmbSchema"));
}

QStringList entries(QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

} // namespace

class TestFrmStyle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        SetIniPath(QString());
        LoadDefaultStrings();
    }

    void listing_data() {
        QTest::addColumn<QStringList>("files"); // a trailing "/" makes a folder
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two templates, name order")
            << QStringList{"tree.xsl", "list.xsl"} << QStringList{"list", "tree"};
        QTest::newRow("order ignores case")
            << QStringList{"b.xsl", "A.xsl", "c.xsl"} << QStringList{"A", "b", "c"};
        // Only a name that "<name>.xsl" leads back to is offered.
        QTest::newRow("upper-case ending not offered")
            << QStringList{"Tree.XSL", "tree.xsl"} << QStringList{"tree"};
        QTest::newRow("double ending loses only the last")
            << QStringList{"a.xsl.xsl"} << QStringList{"a.xsl"};
        QTest::newRow("inner .xsl kept")
            << QStringList{"my.xslt.xsl", "b.xsl.bak"} << QStringList{"my.xslt"};
        QTest::newRow("other files and folders")
            << QStringList{"notes.txt", "x.xslt", "dir.xsl/", "tree.css"} << QStringList{};
        QTest::newRow("names with blanks and non-ASCII")
            << QStringList{"my table.xsl", "přehled.xsl"} << QStringList{"my table", "přehled"};
        QTest::newRow("empty folder") << QStringList{} << QStringList{};
    }
    void listing() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        TempTree tree;
        tree.createDir(QStringLiteral("Resource"));
        for (const QString& file : files) {
            if (file.endsWith(u'/'))
                tree.createDir(QStringLiteral("Resource/") + file);
            else
                tree.createFile(QStringLiteral("Resource/") + file, "<xsl/>");
        }
        frmStyle dialog(tree.path(QStringLiteral("Resource")));
        QComboBox* combo = schema(dialog);
        QCOMPARE(entries(combo), expected);
        QCOMPARE(combo->currentIndex(), expected.isEmpty() ? -1 : 0);
        QCOMPARE(combo->currentText(), expected.isEmpty() ? QString() : expected.first());
    }

    void links() {
        TempTree tree;
        tree.createFile(QStringLiteral("Resource/tree.xsl"), "<xsl/>");
        tree.createSymlink(QStringLiteral("Resource/linked.xsl"), QStringLiteral("tree.xsl"));
        tree.createSymlink(QStringLiteral("Resource/dangling.xsl"), QStringLiteral("gone.xsl"));
        QCOMPARE(TemplateNames(tree.path(QStringLiteral("Resource"))),
                 (QStringList{"linked", "tree"}));
    }

    void missingFolder() {
        TempTree tree;
        QCOMPARE(TemplateNames(tree.path(QStringLiteral("Resource"))), QStringList{});
        // Not the working folder.
        QCOMPARE(TemplateNames(QString()), QStringList{});
    }

    void result_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("select"); // -1 leaves the first entry
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        const QStringList two{"tree.xsl", "list.xsl"};
        QTest::newRow("ok on first") << two << -1 << "" << true << "list";
        QTest::newRow("ok on second") << two << 1 << "" << true << "tree";
        QTest::newRow("double ending round trip")
            << QStringList{"a.xsl.xsl"} << -1 << "" << true << "a.xsl";
        QTest::newRow("typed text ignored") << two << 1 << "typed" << true << "tree";
        QTest::newRow("ok on empty list") << QStringList{} << -1 << "" << true << "";
        QTest::newRow("typed text, empty list") << QStringList{} << -1 << "x" << true << "";
        QTest::newRow("close box") << two << 1 << "" << false << "";
    }
    void result() {
        QFETCH(QStringList, files);
        QFETCH(int, select);
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        TempTree tree;
        tree.createDir(QStringLiteral("Resource"));
        for (const QString& file : files)
            tree.createFile(QStringLiteral("Resource/") + file, "<xsl/>");
        frmStyle dialog(tree.path(QStringLiteral("Resource")));
        dialog.show();
        QComboBox* combo = schema(dialog);
        if (select >= 0) combo->setCurrentIndex(select);
        if (!typed.isEmpty()) {
            combo->lineEdit()->selectAll();
            QTest::keyClicks(combo->lineEdit(), typed);
        }
        if (ok)
            dialog.findChild<QPushButton*>(QStringLiteral("cmdStyle"))->click();
        else
            dialog.close();
        QCOMPARE(dialog.isVisible(), false);
        QCOMPARE(dialog.result(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(dialog.chosenTemplate(), expected);
        QVERIFY(entries(combo).size() == files.size());
    }

    void localised() {
        TempTree tree;
        const QString folder = tree.path(QStringLiteral("Resource"));
        frmStyle dialog(folder);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Choose template"));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("cmdStyle"))->text(),
                 QStringLiteral("Ok"));
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("lblCaution"));
        QCOMPARE(label->text(), QStringLiteral("Caution"));
        QVERIFY(label->font().bold());
        QCOMPARE(dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtCaution"))->toPlainText(),
                 QStringLiteral("For correct displaying of file you should copy to target path "
                                "content of folder ") +
                     QDir::toNativeSeparators(folder));
        // The list carries no key; the localised controls get the character set of key 100.
        QCOMPARE(schema(dialog)->property("charset").isValid(), false);
        QCOMPARE(label->property("charset").toInt(), 0);
    }

    void cautionFolderWithoutTrailingSeparator() {
        TempTree tree;
        frmStyle dialog(tree.root() + QStringLiteral("Resource/"));
        QVERIFY(dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtCaution"))
                    ->toPlainText()
                    .endsWith(QStringLiteral(" ") + tree.root() + QStringLiteral("Resource")));
    }

    void modalChooser() {
        TempTree tree;
        tree.createFile(QStringLiteral("Resource/list.xsl"), "<xsl/>");
        tree.createFile(QStringLiteral("Resource/tree.xsl"), "<xsl/>");
        // Plays the user once the dialog is up: picks the second entry and clicks Ok.
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&timer] {
            auto* dialog = qobject_cast<frmStyle*>(QApplication::activeModalWidget());
            if (!dialog) return;
            timer.stop();
            dialog->findChild<QComboBox*>(QStringLiteral("cmbSchema"))->setCurrentIndex(1);
            dialog->findChild<QPushButton*>(QStringLiteral("cmdStyle"))->click();
        });
        timer.start(10);
        QCOMPARE(ChooseTemplate(nullptr, tree.path(QStringLiteral("Resource"))),
                 QStringLiteral("tree"));
    }
};

QTEST_MAIN(TestFrmStyle)
#include "tst_frmstyle.moc"
