#pragma once

#include "export/ExportDocument.h"
#include "platform/DirWalker.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>

namespace treelan {

// Fills in an export request whose first argument named something else than a folder (a
// snapshot): the tree's source, its root, its time. Returns why it cannot, or an empty text.
using ExportPreparer = std::function<QString(const QString& first, ExportRequest& request)>;

// What the catalogue's commands share with the others of treelan-cli.
struct CatalogCli {
    // The bytes of a parsed argument, as the system gave them.
    std::function<QByteArray(const QString& value)> rawArgument;
    // The walk's filters (--exclude-pattern, ...), as export and list take them.
    std::function<void(QCommandLineParser& parser)> addFilters;
    std::function<QString(const QCommandLineParser& parser, WalkOptions& walk)> applyFilters;
    // The export command itself, its first argument given to `prepare`.
    std::function<int(const QStringList& args, const ExportPreparer& prepare)> runExport;
};

// `treelan-cli catalog VERB ...`; `args` starts with the program name, then the verb.
int RunCatalog(const QStringList& args, const CatalogCli& cli);

// The catalogue's help.
QString CatalogUsage();

} // namespace treelan
