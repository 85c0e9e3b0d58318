#pragma once

#include "export/ExportOptions.h"

#include <QDateTime>
#include <QString>
#include <functional>

namespace treelan {

class TreeSource;

// The save dialog's first three types keep these numbers (its 1-based type index).
enum class ExportFormat {
    WebArchive = 1,
    XmlWithTemplate = 2,
    GenericXml = 3,
    WebPage = 4,
    Json = 5, // Treelan's own JSON, Resource/treelan-export.schema.json
    Ncdu = 6, // ncdu's JSON export, for ncdu -f and gdu -f
    Csv = 7,
    Tsv = 8,
};

// Asked once, for the XML-with-template format, after the first line: the template name without
// ".xsl", or empty for no stylesheet line.
using TemplateRequest = std::function<QString()>;

struct ExportRequest {
    QString targetPath; // "-" writes to standard output
    // The same in the bytes the system gets, exactly as given (a name need not be UTF-8); empty:
    // targetPath encoded.
    QByteArray rawTargetPath;
    ExportFormat format = ExportFormat::GenericXml;
    RootPath rootPath;   // the folder to export
    QString resourceDir; // holds tree.css, tree.js, open.gif, close.gif
    TemplateRequest templateRequest;
    ExportOptions options;
    // XML forms: folder elements also carry the totals (files, folders, bytes, playing time) of
    // everything beneath them. Off, the document is as it always was.
    bool folderTotals = false;
    // CSV and TSV: begin with a UTF-8 byte-order mark, which spreadsheets need to read UTF-8.
    bool byteOrderMark = false;
    // The time the document gives as its export time; invalid: when the writing begins.
    QDateTime exportTime;
    // Where the tree comes from; null: the folder on disk.
    const TreeSource* source = nullptr;
};

// Writes the whole document (see OutputFile for what each kind of target gets). A regular file is
// replaced only when the document is complete: it is written to a temporary file beside it and
// renamed into place. Throws FileError naming the file that failed (nothing is left behind, an
// existing target stays as it was), or Cancelled.
void WriteExportDocument(const ExportRequest& request);

// The Resource folder beside the program (or the installed share folder).
QString DefaultResourceDir();

} // namespace treelan
