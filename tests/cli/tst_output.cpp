// What each kind of OUTPUT gets from treelan-cli export, and what a failure leaves behind. All
// runs go through bash, so that names reach the program as raw bytes ($'\351') and descriptors as
// a user's shell sets them up; `find` says what is left. Device nodes are made here with mknod,
// never the machine's own.
#include "TempTree.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

struct Run {
    int status = -1; // -1: ended by a signal
    QByteArray out, err;
};

// `script` in `folder`, with a umask of 027, `run` for "treelan-cli export -q DIR", and the
// signals' default actions whatever the test runner left, as at a terminal.
std::unique_ptr<QProcess> start(const QString& folder, const QString& script, const QString& dir) {
    auto p = std::make_unique<QProcess>(); // its destructor kills what is left, stopped or not
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLI"), QStringLiteral(TREELAN_CLI));
    // What LD_PRELOAD gets: the shim, after the sanitizer's runtime in a sanitized build.
    env.insert(QStringLiteral("SHIM"), QStringLiteral(TREELAN_PRELOAD_FIRST TREELAN_NO_TMPFILE));
    env.insert(QStringLiteral("DIR"), dir);
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(folder);
    p->setChildProcessModifier([] {
        for (const int s : {SIGINT, SIGTERM, SIGPIPE})
            ::signal(s, SIG_DFL);
    });
    p->start(
        QStringLiteral("/bin/bash"),
        {QStringLiteral("-o"), QStringLiteral("pipefail"), QStringLiteral("-c"),
         QStringLiteral("umask 027; run() { \"$CLI\" export -q \"$DIR\" \"$@\"; }; ") + script});
    return p;
}

Run finish(QProcess& p) {
    if (!p.waitForFinished(60000)) qFatal("the export did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// Every node below `folder`: name, find's type letter, mode; sorted.
QByteArray found(const QString& folder) {
    return finish(*start(folder,
                         QStringLiteral("find . -mindepth 1 -printf '%P %y %m\\n' | LC_ALL=C sort"),
                         folder))
        .out;
}

QByteArray readRaw(const QByteArray& path) { // QFile could not spell every name
    QFile f;
    const int fd = ::open(path.constData(), O_RDONLY);
    return fd >= 0 && f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? f.readAll()
                                                                                    : "<missing>";
}

char stateOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && close + 2 < line.size() ? line[close + 2] : 0;
}

} // namespace

class OutputTest : public QObject {
    Q_OBJECT
private slots:
    void kinds_data() {
        QTest::addColumn<QString>("setup");   // shell commands in the output folder
        QTest::addColumn<QString>("command"); // `run OUTPUT`, with the shell around it
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("said");     // in standard error ("": nothing)
        QTest::addColumn<QByteArray>("after");    // find's view of the output folder afterwards
        QTest::addColumn<QByteArray>("document"); // where the document is ("": nowhere)
        const QString old = QStringLiteral("printf old > old.xml; chmod 604 old.xml; "
                                           "chown 65534:65534 old.xml 2>/dev/null || true");
        // Exits 0 when the export ended by SIGPIPE, that the parent (Python) leaves ignored.
        const QString closedPipe = QStringLiteral(
            "python3 -c 'import os, subprocess as s, sys; r, w = os.pipe(); os.close(r); "
            "sys.exit(s.call(sys.argv[1:], stdout=w, restore_signals=False) != -13)' "
            "\"$CLI\" export -q \"$DIR\" ");
        const struct {
            const char* row;
            QString setup, command;
            int status;
            const char *said, *after, *document;
        } rows[] = {
            {"new file", "", "run new.xml", 0, "", "new.xml f 640\n", "new.xml"},
            {"existing file: mode and owner kept", "", "run old.xml", 0, "", "old.xml f 604\n",
             "old.xml"},
            {"character device", "mknod n c 1 3", "run n", 0, "", "n c 640\n", ""},
            {"FIFO with a reader", "mkfifo p",
             "timeout 20 cat p > got & run p; s=$?; wait; exit $s", 0, "", "got f 640\np p 640\n",
             "got"},
            {"full device node", "mknod full c 1 7", "run -r full", 1,
             "/full: cannot write: No space left on device", "full c 640\n", ""},
            {"block device refused", "mknod blk b 7 0", "run blk", 1,
             "/blk: cannot write over a block device", "blk b 640\n", ""},
            {"socket refused",
             "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"s\")'", "run s", 1,
             "/s: cannot write into a socket", "s s 750\n", ""},
            {"folder refused", "mkdir d", "run d", 1, "/d: cannot write: Is a directory",
             "d d 750\n", ""},
            {"/dev/fd/3 of a pipe", "", "run /dev/fd/3 3>&1 | cat > got", 0, "", "got f 640\n",
             "got"},
            // The shell's file is written into, not replaced: the shell's own line follows.
            {"/dev/stdout held open", "", "{ run /dev/stdout; echo held; } > old.xml", 0, "",
             "old.xml f 604\n", "old.xml"},
            {"/proc/self/fd/4 held open", "", "run /proc/self/fd/4 4> old.xml", 0, "",
             "old.xml f 604\n", "old.xml"},
            {"link: target replaced, link stays", "ln -s old.xml l.xml", "run l.xml", 0, "",
             "l.xml l 777\nold.xml f 604\n", "old.xml"},
            {"-", "", "run - > got", 0, "", "got f 640\n", "got"},
            {"- to a closed pipe", "", closedPipe + "-", 0, "", "", ""},
            {"/dev/fd/1 to a closed pipe", "", closedPipe + "/dev/fd/1", 0, "", "", ""},
            {"name not UTF-8", "", "run $'caf\\351.xml'", 0, "", "caf\xe9.xml f 640\n",
             "caf\xe9.xml"},
            {"folder not UTF-8", "mkdir $'d\\351'", "run $'d\\351/x.xml'", 0, "",
             "d\xe9 d 750\nd\xe9/x.xml f 640\n", "d\xe9/x.xml"},
            // A usage error before anything is walked.
            {"empty OUTPUT", "", "run ''", 2, "OUTPUT is empty", "", ""},
        };
        for (const auto& r : rows) {
            const bool keeps = QByteArray(r.after).contains("old.xml");
            QTest::newRow(r.row) << (keeps ? old + QLatin1Char(';') : QString()) + r.setup
                                 << r.command << r.status << QByteArray(r.said)
                                 << QByteArray(r.after) << QByteArray(r.document);
        }
    }
    void kinds() {
        QFETCH(QString, setup);
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QByteArray, said);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, document);
        TempTree walked;
        walked.createFile(QStringLiteral("sub/a.txt"), "a");
        TempTree out;
        // QTemporaryDir cannot remove names that are not UTF-8.
        const auto clear = qScopeGuard([&] { finish(*start(out.root(), "rm -rf ./*", {})); });
        if (const Run s = finish(*start(out.root(), setup, walked.root())); s.status != 0)
            QSKIP(("setup refused (device nodes need root): " + s.err).constData());

        const Run r = finish(*start(out.root(), command, walked.root()));
        QVERIFY2(r.status == status && (said.isEmpty() ? r.err.isEmpty() : r.err.contains(said)),
                 r.err.constData());
        QCOMPARE(found(out.root()), after);
        if (!document.isEmpty()) {
            const QByteArray doc = readRaw(QFile::encodeName(out.root()) + document);
            QVERIFY2(
                doc.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<folders path=\"" +
                               walked.root().toUtf8() + "\">") &&
                    doc.endsWith(command.contains("held") ? "</folders>\r\nheld\n"
                                                          : "</folders>\r\n"),
                doc.constData());
        }
        if (::geteuid() == 0 && after.contains("old.xml f"))
            QCOMPARE(QFileInfo(out.path(QStringLiteral("old.xml"))).ownerId(), 65534u);
    }

    // Failures of the file system, and an end by a signal: the old target stays as it was and
    // no temporary file is left. The shim plays a file system without O_TMPFILE, where the
    // temporary file has a name; "stop" has it stop the program just after making that file.
    void failures_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("said");
        const QString tmpfs = QStringLiteral("mount -t tmpfs -o size=64k tmpfs . && cd . && "
                                             "printf old > out.xml");
        QTest::newRow("full disk") << tmpfs << "run -r out.xml" << 0
                                   << QByteArray("/out.xml: cannot write: No space left on device");
        QTest::newRow("read-only file system")
            << tmpfs + " && mount -o remount,ro ."
            << "run -r out.xml" << 0
            << QByteArray("/out.xml: cannot create the file: Read-only file system");
        QTest::newRow("no O_TMPFILE, into the walked folder")
            << ""
            << "LD_PRELOAD=$SHIM run -r \"$DIR/out.json\"" << 0 << QByteArray();
        for (const int s : {SIGTERM, SIGINT})
            QTest::addRow("no O_TMPFILE, signal %d", s)
                << ""
                << "TREELAN_STOP_AFTER_CREATE=1 LD_PRELOAD=$SHIM exec \"$CLI\" export -q -r "
                   "\"$DIR\" out.xml"
                << s << QByteArray();
    }
    void failures() {
        QFETCH(QString, setup);
        QFETCH(QString, command);
        QFETCH(int, signal);
        QFETCH(QByteArray, said);
        TempTree walked; // 800 lines of about 130 bytes: more than the small file system holds
        for (int i = 0; i < 800; ++i)
            walked.createFile(QStringLiteral("f%1-%2.txt").arg(i).arg(QString(60, u'x')), "x");
        TempTree out;
        const auto unmount = qScopeGuard([&] {
            finish(*start(out.root(), "cd / && mountpoint -q \"$DIR\" && umount -l \"$DIR\"",
                          out.root()));
        });
        if (const Run s = finish(*start(out.root(), setup, walked.root())); s.status != 0)
            QSKIP(("mounting a tmpfs was refused (it needs root): " + s.err).constData());
        const QString folder = command.contains("$DIR/") ? walked.root() : out.root();
        const QByteArray before = found(folder);

        const std::unique_ptr<QProcess> p = start(out.root(), command, walked.root());
        if (signal != 0) {
            QVERIFY(p->waitForStarted());
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(p->processId()), 'T', 20000);
            QVERIFY2(found(folder).startsWith("out.xml."), found(folder).constData());
            ::kill(pid_t(p->processId()), signal);
            ::kill(pid_t(p->processId()), SIGCONT);
        }
        const Run r = finish(*p);
        QVERIFY2(r.status == (signal ? -1 : said.isEmpty() ? 0 : 1), r.err.constData());
        QVERIFY2(said.isEmpty() ? r.err.isEmpty() : r.err.contains(said), r.err.constData());
        if (folder == out.root()) {
            QCOMPARE(found(folder), before);
            if (!signal)
                QCOMPARE(readRaw(QFile::encodeName(folder) + "out.xml"), QByteArray("old"));
        } else { // the JSON lists what was there before, not its own temporary file
            QCOMPARE(found(folder), before + "out.json f 640\n");
            const QByteArray doc = readRaw(QFile::encodeName(folder) + "out.json");
            QVERIFY2(doc.count("\"kind\":\"file\"") == 800 && !doc.contains("out.json"),
                     doc.right(300).constData());
        }
    }
};

QTEST_GUILESS_MAIN(OutputTest)
#include "tst_output.moc"
