#pragma once

// treelan-cli for a test that runs it as the user nobody: a copy of the program, its command-line
// module, its media helper and its Resource folder in a folder anyone can read, since the build
// may lie below a private home (a root whose /root is 0700) where nobody can load the module.

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

inline QString NobodyCli() {
    static QTemporaryDir copy;
    static const QString cli = [] {
        const QString bin = QFileInfo(QStringLiteral(TREELAN_CLI)).absolutePath();
        QStringList args{QStringLiteral("-R")};
        for (const char* name :
             {"treelan-cli", "treelan-cli-main.so", "treelan-media-helper", "Resource"})
            if (QFileInfo::exists(bin + QLatin1Char('/') + QLatin1String(name)))
                args << bin + QLatin1Char('/') + QLatin1String(name);
        args << copy.path();
        QProcess::execute(QStringLiteral("cp"), args);
        QProcess::execute(QStringLiteral("chmod"),
                          {QStringLiteral("-R"), QStringLiteral("a+rX"), copy.path()});
        return copy.path() + QStringLiteral("/treelan-cli");
    }();
    return cli;
}
