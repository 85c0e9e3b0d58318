#include "settings/ProfileFile.h"
#include "settings/StringTable.h"

#include "support/TempTree.h"

#include <QFile>
#include <QTest>

using namespace treelan;

Q_DECLARE_METATYPE(treelan::Str)

class TestStringTable : public QObject {
    Q_OBJECT

private slots:
    void init();
    void builtInTexts_data();
    void builtInTexts();
    void builtInTableHasTheTwentyEightTexts();
    void stringFile_data();
    void stringFile();
    void namedKeys_data();
    void namedKeys();
    void editsShowInLaterLookups();
    void fileRemovedAfterStartUp();
    void readProfileString_data();
    void readProfileString();
};

void TestStringTable::init() {
    LoadDefaultStrings();
    SetIniPath(QString());
}

void TestStringTable::builtInTexts_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("101") << QStringLiteral("101") << QStringLiteral("Folder Listing");
    QTest::newRow("100 charset") << QStringLiteral("100") << QStringLiteral("0");
    QTest::newRow("187") << QStringLiteral("187")
                         << QStringLiteral("For correct displaying of file you should copy to "
                                           "target path content of folder");
    QTest::newRow("102 unfilled") << QStringLiteral("102") << QString();
    QTest::newRow("190 last slot") << QStringLiteral("190") << QString();
    QTest::newRow("191 unfilled") << QStringLiteral("191") << QString();
    // The web page's texts follow the window's, from 200 on.
    QTest::newRow("200 web page type") << QStringLiteral("200") << QStringLiteral("Web Page");
    QTest::newRow("216 a count") << QStringLiteral("216") << QStringLiteral("%1 files");
    QTest::newRow("221 a filter") << QStringLiteral("221") << QStringLiteral("leave out %1");
    QTest::newRow("226 last web page text")
        << QStringLiteral("226") << QStringLiteral("and %1 more");
    QTest::newRow("227 out of range") << QStringLiteral("227") << QString();
    QTest::newRow("-1 out of range") << QStringLiteral("-1") << QString();
    QTest::newRow("not a number") << QStringLiteral("abc") << QString();
    QTest::newRow("blanks around") << QStringLiteral(" 105 ") << QStringLiteral("Path:");
    QTest::newRow("rounded down") << QStringLiteral("101.4") << QStringLiteral("Folder Listing");
}

void TestStringTable::builtInTexts() {
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(GetGuiString(key), expected);
}

void TestStringTable::builtInTableHasTheTwentyEightTexts() {
    int filled = 0;
    for (int key = 0; key <= 190; ++key)
        if (!GetGuiString(QString::number(key)).isEmpty()) ++filled;
    QCOMPARE(filled, 28);
    QCOMPARE(GetGuiString(Str::WebArchive), QStringLiteral("Web Archive"));
}

// Each name must stand for the number whose English text it is named after.
void TestStringTable::namedKeys_data() {
    QTest::addColumn<Str>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Charset") << Str::Charset << QStringLiteral("0");
    QTest::newRow("FolderListing") << Str::FolderListing << QStringLiteral("Folder Listing");
    QTest::newRow("PathLabel") << Str::PathLabel << QStringLiteral("Path:");
    QTest::newRow("ChooseFolder") << Str::ChooseFolder << QStringLiteral("Choose folder:");
    QTest::newRow("Name") << Str::Name << QStringLiteral("Name");
    QTest::newRow("Folder") << Str::Folder << QStringLiteral("Folder");
    QTest::newRow("Size") << Str::Size << QStringLiteral("Size");
    QTest::newRow("Date") << Str::Date << QStringLiteral("Date");
    QTest::newRow("Type") << Str::Type << QStringLiteral("Type");
    QTest::newRow("Duration") << Str::Duration << QStringLiteral("Duration");
    QTest::newRow("Bitrate") << Str::Bitrate << QStringLiteral("Bitrate");
    QTest::newRow("View") << Str::View << QStringLiteral("View");
    QTest::newRow("SortBy") << Str::SortBy << QStringLiteral("Sort by");
    QTest::newRow("CopyFullPath") << Str::CopyFullPath << QStringLiteral("Copy in full path mode");
    QTest::newRow("SelectedOnly") << Str::SelectedOnly << QStringLiteral("Selected items only");
    QTest::newRow("BrowseSubfolders")
        << Str::BrowseSubfolders << QStringLiteral("Browse subfolders");
    QTest::newRow("Mp3Info") << Str::Mp3Info << QStringLiteral("Get basic info about .mp3");
    QTest::newRow("Copy") << Str::Copy << QStringLiteral("Copy");
    QTest::newRow("Export") << Str::Export << QStringLiteral("Export...");
    QTest::newRow("GenericXml") << Str::GenericXml << QStringLiteral("Generic XML file");
    QTest::newRow("XmlWithTemplate")
        << Str::XmlWithTemplate << QStringLiteral("XML file with defined XSLT template");
    QTest::newRow("WebArchive") << Str::WebArchive << QStringLiteral("Web Archive");
    QTest::newRow("ShowAll") << Str::ShowAll << QStringLiteral("Show All");
    QTest::newRow("HideAll") << Str::HideAll << QStringLiteral("Hide All");
    QTest::newRow("ChooseTemplate") << Str::ChooseTemplate << QStringLiteral("Choose template");
    QTest::newRow("Ok") << Str::Ok << QStringLiteral("Ok");
    QTest::newRow("Caution") << Str::Caution << QStringLiteral("Caution");
    QTest::newRow("CopyNote") << Str::CopyNote
                              << QStringLiteral("For correct displaying of file you should copy to "
                                                "target path content of folder");
}

void TestStringTable::namedKeys() {
    QFETCH(Str, key);
    QFETCH(QString, expected);
    QCOMPARE(GetGuiString(key), expected);
}

void TestStringTable::stringFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QByteArray only101 = "[GUI_Strings]\n101=Liste des dossiers\n";
    QTest::newRow("key from file")
        << only101 << QStringLiteral("101") << QStringLiteral("Liste des dossiers");
    QTest::newRow("missing key is empty, not English")
        << only101 << QStringLiteral("105") << QString();
    QTest::newRow("300 characters cut to 254")
        << ("[GUI_Strings]\n101=" + QByteArray(300, 'x') + "\n") << QStringLiteral("101")
        << QString(254, u'x');
    QTest::newRow("section case") << QByteArray("[gui_STRINGS]\n101=T\n") << QStringLiteral("101")
                                  << QStringLiteral("T");
    QTest::newRow("key case") << QByteArray("[GUI_Strings]\nAbc=T\n") << QStringLiteral("aBC")
                              << QStringLiteral("T");
    QTest::newRow("blanks around key and value")
        << QByteArray("[GUI_Strings]\n  101 \t=  Folder  List \t\n") << QStringLiteral("101")
        << QStringLiteral("Folder  List");
    QTest::newRow("blanks in section header")
        << QByteArray(" [ GUI_Strings ] \n101=T\n") << QStringLiteral("101") << QStringLiteral("T");
    QTest::newRow("double quotes removed") << QByteArray("[GUI_Strings]\n101=\" padded \"\n")
                                           << QStringLiteral("101") << QStringLiteral(" padded ");
    QTest::newRow("single quotes removed") << QByteArray("[GUI_Strings]\n101='a, b'\n")
                                           << QStringLiteral("101") << QStringLiteral("a, b");
    QTest::newRow("only one pair removed") << QByteArray("[GUI_Strings]\n101=\"\"x\"\"\n")
                                           << QStringLiteral("101") << QStringLiteral("\"x\"");
    QTest::newRow("unmatched quote kept") << QByteArray("[GUI_Strings]\n101=\"x'\n")
                                          << QStringLiteral("101") << QStringLiteral("\"x'");
    QTest::newRow("commas, escapes and equals kept")
        << QByteArray("[GUI_Strings]\n101=a,b\\n=c;d\n") << QStringLiteral("101")
        << QStringLiteral("a,b\\n=c;d");
    QTest::newRow("BOM") << QByteArray("\xEF\xBB\xBF[GUI_Strings]\n101=T\n")
                         << QStringLiteral("101") << QStringLiteral("T");
    QTest::newRow("CR LF") << QByteArray("[GUI_Strings]\r\n101=T\r\n105=P\r\n")
                           << QStringLiteral("101") << QStringLiteral("T");
    QTest::newRow("UTF-8 text") << QByteArray("[GUI_Strings]\n101=Dossier \xC3\xA9t\xC3\xA9\n")
                                << QStringLiteral("101")
                                << QString::fromUtf8("Dossier \xC3\xA9t\xC3\xA9");
    QTest::newRow("legacy byte read as Latin-1")
        << QByteArray("[GUI_Strings]\n101=caf\xE9\n") << QStringLiteral("101")
        << QString::fromUtf8("caf\xC3\xA9");
    QTest::newRow("comment line ignored") << QByteArray("[GUI_Strings]\n;101=old\n101=new\n")
                                          << QStringLiteral("101") << QStringLiteral("new");
    QTest::newRow("first occurrence wins") << QByteArray("[GUI_Strings]\n101=first\n101=second\n")
                                           << QStringLiteral("101") << QStringLiteral("first");
    QTest::newRow("other section ignored")
        << QByteArray("[Other]\n101=wrong\n[GUI_Strings]\n105=P\n") << QStringLiteral("101")
        << QString();
    QTest::newRow("empty value") << QByteArray("[GUI_Strings]\n101=\n") << QStringLiteral("101")
                                 << QString();
}

void TestStringTable::stringFile() {
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    TempTree tree;
    tree.createFile(QStringLiteral("treelan.ini"), content);
    SetIniPath(tree.path(QStringLiteral("treelan.ini")));
    QCOMPARE(GetGuiString(key), expected);
}

void TestStringTable::editsShowInLaterLookups() {
    TempTree tree;
    tree.createFile(QStringLiteral("treelan.ini"), "[GUI_Strings]\n101=before\n");
    SetIniPath(tree.path(QStringLiteral("treelan.ini")));
    QCOMPARE(GetGuiString(Str::FolderListing), QStringLiteral("before"));
    tree.createFile(QStringLiteral("treelan.ini"), "[GUI_Strings]\n101=after\n");
    QCOMPARE(GetGuiString(Str::FolderListing), QStringLiteral("after"));
}

void TestStringTable::fileRemovedAfterStartUp() {
    TempTree tree;
    tree.createFile(QStringLiteral("treelan.ini"), "[GUI_Strings]\n101=T\n");
    SetIniPath(tree.path(QStringLiteral("treelan.ini")));
    QCOMPARE(GetGuiString(Str::FolderListing), QStringLiteral("T"));
    QVERIFY(QFile::remove(tree.path(QStringLiteral("treelan.ini"))));
    QCOMPARE(GetGuiString(Str::FolderListing), QString());
    QCOMPARE(GetGuiString(Str::PathLabel), QString());
}

void TestStringTable::readProfileString_data() {
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultText");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<QString>("expected");

    const QByteArray file = "[S]\nk=value\nempty=\nlong=" + QByteArray(20, 'v') + "\n";
    QTest::newRow("found") << file << "k"
                           << "dflt" << 255 << "value";
    QTest::newRow("missing key gives default") << file << "nope"
                                               << "dflt" << 255 << "dflt";
    QTest::newRow("empty value is not the default") << file << "empty"
                                                    << "dflt" << 255 << "";
    QTest::newRow("missing file gives default") << QByteArray() << "k"
                                                << "dflt" << 255 << "dflt";
    QTest::newRow("buffer of 6 keeps 5") << file << "long"
                                         << "" << 6 << "vvvvv";
    QTest::newRow("default cut too") << file << "nope"
                                     << "abcdef" << 4 << "abc";
    QTest::newRow("buffer of 1 keeps nothing") << file << "k"
                                               << "" << 1 << "";
    // Classic Mac line ends: a lone CR ends the value, and the next key is found.
    const QByteArray crOnly = "[S]\rk=value\rnext=\"second\"\r";
    QTest::newRow("CR-only file, first key") << crOnly << "k"
                                             << "dflt" << 255 << "value";
    QTest::newRow("CR-only file, later key") << crOnly << "next"
                                             << "dflt" << 255 << "second";
    QTest::newRow("lone CR inside a CR LF file") << QByteArray("[S]\r\nk=value\rtail\r\n") << "k"
                                                 << "dflt" << 255 << "value";
    // Line ends at the edges of the content: none after the last value, a BOM only at the start.
    QTest::newRow("no line end after the value") << QByteArray("[S]\nk=last") << "k"
                                                 << "dflt" << 255 << "last";
    QTest::newRow("BOM after a line end is text") << QByteArray("\n\xEF\xBB\xBF[S]\nk=v\n") << "k"
                                                  << "dflt" << 255 << "dflt";
    QTest::newRow("LF CR is two line ends") << QByteArray("[S]\n\rk=v\n\r") << "k"
                                            << "dflt" << 255 << "v";
}

void TestStringTable::readProfileString() {
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, defaultText);
    QFETCH(int, bufferSize);
    QFETCH(QString, expected);

    TempTree tree;
    if (!content.isNull()) tree.createFile(QStringLiteral("p.ini"), content);
    QCOMPARE(treelan::ReadProfileString(tree.path(QStringLiteral("p.ini")), QStringLiteral("s"),
                                        key, defaultText, bufferSize),
             expected);
    // The content in memory reads alike (no content: nothing found).
    QCOMPARE(treelan::ProfileStringIn(content, QStringLiteral("s"), key, defaultText, bufferSize),
             expected);
}

QTEST_GUILESS_MAIN(TestStringTable)
#include "tst_stringtable.moc"
