#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace treelan;

namespace {
const QString kApp = QStringLiteral("Treelan");
}

class TestSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roundTrip_data();
    void roundTrip();
    void sectionsIgnoreCase();
    void defaultWhenNeverWritten();
    void laterWriteReplaces();
    void storeFileInSettingsFolder();
    void missingFolderIsCreated();
    void readBackInALaterRun();
    void handEditedStore();

private:
    QTemporaryDir* m_dir = nullptr;
};

void TestSettingsStore::init() {
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    SetSettingsDirectory(m_dir->path());
}

void TestSettingsStore::cleanup() {
    SetSettingsDirectory(QString());
    delete m_dir;
    m_dir = nullptr;
}

void TestSettingsStore::roundTrip_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("path") << "StartUp"
                          << "Path"
                          << "/home/user/Music/";
    QTest::newRow("commas, quotes, backslashes") << "StartUp"
                                                 << "Path"
                                                 << "/a, b/\"q\" 'x' \\n;#=[]/";
    QTest::newRow("non-ASCII") << "StartUp"
                               << "Path" << QString::fromUtf8("/M\xC3\xBCsik/\xE2\x82\xAC/");
    QTest::newRow("leading blanks and at sign") << "StartUp"
                                                << "Path"
                                                << "  @Variant(x) ";
    QTest::newRow("section named General") << "General"
                                           << "Path"
                                           << "g";
}

void TestSettingsStore::roundTrip() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    SaveSetting(kApp, section, key, value);
    QCOMPARE(GetSetting(kApp, section, key, QStringLiteral("default")), value);
}

void TestSettingsStore::sectionsIgnoreCase() {
    SaveSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Path"), QStringLiteral("/p/"));
    SaveSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows"), QStringLiteral("1010"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Path")),
             QStringLiteral("/p/"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("STARTUP"), QStringLiteral("Rows")),
             QStringLiteral("1010"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Rows")),
             QStringLiteral("1010"));
}

void TestSettingsStore::defaultWhenNeverWritten() {
    QCOMPARE(
        GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows"), QStringLiteral("1100")),
        QStringLiteral("1100"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows")), QString());
    SaveSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Path"), QStringLiteral("/p/"));
    QCOMPARE(
        GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows"), QStringLiteral("1100")),
        QStringLiteral("1100"));
    QCOMPARE(GetSetting(QStringLiteral("Other"), QStringLiteral("StartUp"), QStringLiteral("Path"),
                        QStringLiteral("none")),
             QStringLiteral("none"));
}

void TestSettingsStore::laterWriteReplaces() {
    SaveSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows"), QStringLiteral("1111"));
    SaveSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Rows"), QStringLiteral("0000"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows")),
             QStringLiteral("0000"));
}

void TestSettingsStore::storeFileInSettingsFolder() {
    SaveSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Path"), QStringLiteral("/p/"));
    QFile file(m_dir->filePath(QStringLiteral("Treelan.ini")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("/p/"));
}

void TestSettingsStore::missingFolderIsCreated() {
    SetSettingsDirectory(m_dir->filePath(QStringLiteral("new/folder")));
    SaveSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Path"), QStringLiteral("/p/"));
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("new/folder/Treelan.ini"))));
    QCOMPARE(GetSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Path")),
             QStringLiteral("/p/"));
}

// A copy in another folder is parsed afresh, as on the next start of the program; reading the
// same path again would only see QSettings' in-process cache.
void TestSettingsStore::readBackInALaterRun() {
    SaveSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Path"), QStringLiteral("/p, q/"));
    SaveSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows"), QStringLiteral("1010"));
    SaveSetting(kApp, QStringLiteral("General"), QStringLiteral("Key"), QStringLiteral("g"));

    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("later"))));
    QVERIFY(QFile::copy(m_dir->filePath(QStringLiteral("Treelan.ini")),
                        m_dir->filePath(QStringLiteral("later/Treelan.ini"))));
    SetSettingsDirectory(m_dir->filePath(QStringLiteral("later")));

    QCOMPARE(GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Path")),
             QStringLiteral("/p, q/"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("Rows")),
             QStringLiteral("1010"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("general"), QStringLiteral("key")),
             QStringLiteral("g"));
    SaveSetting(kApp, QStringLiteral("GENERAL"), QStringLiteral("KEY"), QStringLiteral("h"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("General"), QStringLiteral("Key")),
             QStringLiteral("h"));
}

void TestSettingsStore::handEditedStore() {
    QFile file(m_dir->filePath(QStringLiteral("Treelan.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[StartUp]\nPath=/hand/\nROWS=0110\n");
    file.close();

    QCOMPARE(GetSetting(kApp, QStringLiteral("startup"), QStringLiteral("path")),
             QStringLiteral("/hand/"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows")),
             QStringLiteral("0110"));
    SaveSetting(kApp, QStringLiteral("Startup"), QStringLiteral("Rows"), QStringLiteral("1111"));
    QCOMPARE(GetSetting(kApp, QStringLiteral("StartUp"), QStringLiteral("rows")),
             QStringLiteral("1111"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
