#include "TempTree.h"
#include "codec/Utf8.h"
#include "export/TreeWriter.h"
#include "export/XmlWriter.h"
#include "listing/FolderScan.h"
#include "listing/ListingModel.h"
#include "platform/DirWalker.h"
#include "platform/FileError.h"

#include <QBuffer>
#include <QFile>
#include <QTest>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace treelan;

namespace {

// An MPEG-1 Layer III frame header, 128 kbps at 44.1 kHz, at the start of zeroed audio.
QByteArray mp3Content() {
    QByteArray b(16000, '\0');
    b[0] = char(0xFF);
    b[1] = char(0xFB);
    b[2] = char(0x90);
    return b;
}

// Runs `work` and fails instead of hanging: when it does not end in time, the FIFO is opened
// for writing and closed again, which lets a reader blocked on it go on.
bool endsInTime(const std::function<void()>& work, const QString& fifo) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread thread(std::move(task));
    bool inTime = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    thread.join();
    done.get();
    return inTime;
}

// Enters every folder, its subfolders in name order, and calls `reached` once when the walk is
// `depth` folders down.
class NameOrderVisitor final : public WalkVisitor {
public:
    NameOrderVisitor(int depth, std::function<void()> reached)
        : m_depth(depth), m_reached(std::move(reached)) {}
    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        if (folder.depth == m_depth && m_reached) std::exchange(m_reached, nullptr)();
        for (std::size_t i = 0; i < folder.entries.size(); ++i)
            if (folder.entries[i].isFolder()) children.push_back(i);
        std::sort(children.begin(), children.end(), [&](std::size_t a, std::size_t b) {
            return folder.entries[a].rawName < folder.entries[b].rawName;
        });
    }
    bool childBegin(WalkFolder&, const DirEntry&) override { return true; }
    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override {}
    void folderDone(WalkFolder&) override {}

private:
    int m_depth;
    std::function<void()> m_reached;
};

} // namespace

class WalkTest : public QObject {
    Q_OBJECT
private slots:
    // Deeper than the walk keeps folders open, the shallow ones are closed and opened again by
    // name for their later subfolders. When that fails, those subfolders are reported with the
    // failure's own reason.
    void reopenKeepsItsReason_data() {
        QTest::addColumn<bool>("replaceByFile"); // else the top folder is only moved away
        QTest::addColumn<int>("error");
        QTest::newRow("moved away") << false << ENOENT;
        QTest::newRow("replaced by a file") << true << ENOTDIR;
    }
    void reopenKeepsItsReason() {
        QFETCH(bool, replaceByFile);
        QFETCH(int, error);
        constexpr int kDepth = 300; // beyond the 256 folders the walk keeps open
        TempTree t;
        QString chain;
        for (int i = 0; i < kDepth; ++i) {
            chain += QStringLiteral("d/");
            t.createDir(chain + QStringLiteral("z")); // after d/: each level stays open for it
        }
        NameOrderVisitor visitor(kDepth, [&] {
            QCOMPARE(::rename(QFile::encodeName(t.path("d")).constData(),
                              QFile::encodeName(t.path("moved")).constData()),
                     0);
            if (replaceByFile) t.createFile(QStringLiteral("d"), "x");
        });
        QStringList reasons;
        WalkOptions options;
        options.warning = [&](const QString&, const QString& reason) { reasons << reason; };
        WalkTree(t.root(), visitor, options);
        QVERIFY(!reasons.isEmpty());
        reasons.removeDuplicates();
        QCOMPARE(reasons, QStringList{ErrnoText(error)});
    }

    // Nothing but a regular file is opened for MP3 information, whatever its name says.
    void specialFilesAreNeverOpened_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("listing"); // else the export
        for (const char* kind : {"fifo", "socket", "link to fifo", "link to socket"}) {
            QTest::addRow("%s, listing", kind) << QString::fromLatin1(kind) << true;
            QTest::addRow("%s, export", kind) << QString::fromLatin1(kind) << false;
        }
    }
    void specialFilesAreNeverOpened() {
        QFETCH(QString, kind);
        QFETCH(bool, listing);
        TempTree t;
        t.createFifo(QStringLiteral("pipe"));
        t.createSocket(QStringLiteral("sock"));
        const QString special = QStringLiteral("special.mp3");
        if (kind == QLatin1String("fifo")) t.createFifo(special);
        if (kind == QLatin1String("socket")) t.createSocket(special);
        if (kind == QLatin1String("link to fifo")) t.createSymlink(special, t.path("pipe"));
        if (kind == QLatin1String("link to socket")) t.createSymlink(special, t.path("sock"));
        t.createFile(QStringLiteral("song.mp3"), mp3Content());

        QStringList warnings;
        const auto warn = [&warnings](const QString& path, const QString&) { warnings << path; };
        ListingModel model;
        QByteArray xml;
        const auto work = [&] {
            if (listing) {
                ScanOptions o;
                o.rootPath = t.root();
                o.mp3Info = true;
                o.walk.warning = warn;
                RefreshListing(model, o);
                return;
            }
            QBuffer device(&xml);
            device.open(QIODevice::WriteOnly);
            OutputBuffer out(device, QStringLiteral("buffer"));
            ExportOptions o;
            o.mp3Info = true;
            o.walk.warning = warn;
            XmlTreeWriter writer(out);
            WriteTree(t.root(), o, writer);
            out.flush();
        };
        QVERIFY2(endsInTime(work, t.path("pipe")), "the walk waited on a FIFO");
        QVERIFY(warnings.isEmpty());
        // The special file is still listed, without MP3 fields; the real MP3 beside it has them.
        if (listing) {
            QStringList rows;
            for (int r = 0; r < model.rowCount(); ++r)
                rows << model.text(r, ColName) + QLatin1Char('|') + model.text(r, ColDuration) +
                            QLatin1Char('|') + model.text(r, ColBitrate);
            QVERIFY2(rows.contains(QStringLiteral("special.mp3||")), qPrintable(rows.join(',')));
            QVERIFY2(rows.contains(QStringLiteral("song.mp3|00:00:01|128 kbps")),
                     qPrintable(rows.join(',')));
        } else {
            const qsizetype at = xml.indexOf("<file title=\"special.mp3\" size=\"0 kB\"");
            QVERIFY2(at >= 0, xml.constData());
            QVERIFY2(!xml.mid(at, xml.indexOf('\n', at) - at).contains("length="), xml.constData());
            QVERIFY2(xml.contains("length=\"00:00:01\" bitrate=\"128 kbps\""), xml.constData());
        }
    }

    // The window holds its folder as text; the root value finds the bytes on disk that the text
    // stands for, also when two names read alike.
    void rootFromText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("raw");
        const QByteArray latin1("caf\xe9"), utf8("caf\xc3\xa9");
        QTest::newRow("UTF-8 name, typed") << QStringLiteral("caf\u00e9") << utf8;
        QTest::newRow("Latin-1 name as Qt's dialog gives it")
            << QFile::decodeName(latin1) << latin1;
        QTest::newRow("Latin-1 name as the listing shows it, only it on disk")
            << QStringLiteral("only/caf\u00e9") << QByteArray("only/") + latin1;
        QTest::newRow("inner part not UTF-8")
            << QFile::decodeName("caf\xe9/inner") << latin1 + "/inner";
        QTest::newRow("missing: UTF-8 bytes")
            << QStringLiteral("gone/caf\u00e9") << QByteArray("gone/") + utf8;
        QTest::newRow("dot parts") << QStringLiteral("./only/../caf\u00e9/") << utf8;
    }
    void rootFromText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, raw);
        TempTree t;
        const QByteArray base = QFile::encodeName(t.root());
        for (const QByteArray& dir :
             {QByteArray("caf\xe9"), QByteArray("caf\xc3\xa9"), QByteArray("caf\xe9/inner"),
              QByteArray("only"), QByteArray("only/caf\xe9")})
            QVERIFY(::mkdir((base + dir).constData(), 0755) == 0);
        const RootPath root(t.root() + text);
        QCOMPARE(root.raw(), base + raw + '/');
        QCOMPARE(root.display(), t.root() + DecodeFileName(raw) + QLatin1Char('/'));
        QCOMPARE(root.isFolder(), !raw.startsWith("gone"));
        QCOMPARE(RootPath::fromBytes(root.raw()).raw(), root.raw());
    }

    void openRegularFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error"); // 0: opened
        QTest::newRow("regular file") << "file.mp3" << 0;
        QTest::newRow("link to a regular file") << "link-to-file.mp3" << 0;
        QTest::newRow("fifo") << "pipe.mp3" << EINVAL;
        QTest::newRow("link to a fifo") << "link-to-pipe.mp3" << EINVAL;
        QTest::newRow("socket") << "sock.mp3" << ENXIO;
        QTest::newRow("folder") << "dir.mp3" << EISDIR;
        QTest::newRow("dangling link") << "dangling.mp3" << ENOENT;
        QTest::newRow("missing") << "none.mp3" << ENOENT;
    }
    void openRegularFile() {
        QFETCH(QString, name);
        QFETCH(int, error);
        TempTree t;
        t.createFile(QStringLiteral("file.mp3"), "abc");
        t.createSymlink(QStringLiteral("link-to-file.mp3"), t.path("file.mp3"));
        t.createFifo(QStringLiteral("pipe.mp3"));
        t.createSymlink(QStringLiteral("link-to-pipe.mp3"), t.path("pipe.mp3"));
        t.createSocket(QStringLiteral("sock.mp3"));
        t.createDir(QStringLiteral("dir.mp3"));
        t.createSymlink(QStringLiteral("dangling.mp3"), t.path("gone"));
        const int dirFd = ::open(QFile::encodeName(t.root()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(dirFd >= 0);
        int got = 0;
        const UniqueFd fd = OpenRegularFile(dirFd, QFile::encodeName(name), got);
        if (fd) {
            char buffer[8];
            QCOMPARE(::read(fd.get(), buffer, sizeof buffer), ssize_t(3));
        }
        ::close(dirFd);
        QCOMPARE(bool(fd), error == 0);
        QCOMPARE(got, error);
    }
};

QTEST_GUILESS_MAIN(WalkTest)
#include "tst_walk.moc"
