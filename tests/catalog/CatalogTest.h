#pragma once

// What the catalogue's tests share: treelan-cli and sqlite3 as processes, an unprivileged user,
// mounts that may be refused.

#include "NobodyCli.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

namespace catalogtest {

struct Run {
    int status = -1; // -1: did not exit normally (a crash)
    QByteArray out;
    QByteArray err;
    QByteArray all() const { return out + err; }
};

inline Run run(const QString& program, const QStringList& args, const QByteArray& input = {},
               int timeoutMs = 120000) {
    QProcess p;
    p.start(program, args);
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// treelan-cli catalog ARGS... --db DB
inline Run catalog(const QString& db, QStringList args) {
    args.prepend(QStringLiteral("catalog"));
    args << QStringLiteral("--db") << db;
    return run(QStringLiteral(TREELAN_CLI), args);
}

// The same as the user nobody (65534), without supplementary groups.
inline Run catalogAsNobody(const QString& db, QStringList args) {
    args.prepend(QStringLiteral("catalog"));
    args.prepend(NobodyCli());
    args << QStringLiteral("--db") << db;
    args.prepend(QStringLiteral("--clear-groups"));
    args.prepend(QStringLiteral("--regid=65534"));
    args.prepend(QStringLiteral("--reuid=65534"));
    return run(QStringLiteral("setpriv"), args);
}

// Why the test cannot run as another user, or empty when it can.
inline QString nobodyUnavailable() {
    if (::geteuid() != 0) return QStringLiteral("dropping privileges needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv is missing (util-linux)");
    return {};
}

// Makes `path` and everything in it the user nobody's, and the folders above it passable.
inline void giveToNobody(const QString& path) {
    QVERIFY(
        run(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("65534:65534"), path})
            .status == 0);
    for (QDir d(path); !d.isRoot(); d.cdUp())
        QFile::setPermissions(d.absolutePath(), QFile::permissions(d.absolutePath()) |
                                                    QFile::ExeOther | QFile::ExeGroup);
}

// sqlite3 (the command-line program) on the file, its output.
inline Run sqlite(const QString& db, const QString& sql) {
    return run(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), db, sql});
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Mounts a file system; false when this system refuses (no privilege, no such type).
inline bool mountAt(const QString& type, const QString& source, const QString& target,
                    const QString& options = {}) {
    QStringList args{QStringLiteral("-t"), type};
    if (!options.isEmpty()) args << QStringLiteral("-o") << options;
    args << source << target;
    return ::geteuid() == 0 && run(QStringLiteral("mount"), args).status == 0;
}

inline void unmount(const QString& target, bool lazy = false) {
    QStringList args;
    if (lazy) args << QStringLiteral("-l");
    args << target;
    run(QStringLiteral("umount"), args);
}

// Removes a folder whose names Qt cannot all address (bytes that are not UTF-8).
struct RemoveAfter {
    QString path;
    ~RemoveAfter() { run(QStringLiteral("rm"), {QStringLiteral("-rf"), path}); }
};

// The change lines of a diff's text output (the summary left out).
inline QList<QByteArray> changeLines(const QByteArray& out) {
    QList<QByteArray> lines;
    for (const QByteArray& l : out.split('\n'))
        if (!l.isEmpty() && !l.startsWith("# ")) lines << l;
    return lines;
}

} // namespace catalogtest
