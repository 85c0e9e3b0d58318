#pragma once

#include "export/ExportOptions.h"

#include <QString>
#include <functional>

namespace treelan {

enum class ExportFormat { WebArchive = 1, XmlWithTemplate = 2, GenericXml = 3, WebPage = 4 };

// Asked once, for the XML-with-template format, after the first line: the template name without
// ".xsl", or empty for no stylesheet line.
using TemplateRequest = std::function<QString()>;

struct ExportRequest {
    QString targetPath; // "-" writes to standard output
    ExportFormat format = ExportFormat::GenericXml;
    RootPath rootPath;   // the folder to export
    QString resourceDir; // holds tree.css, tree.js, open.gif, close.gif
    TemplateRequest templateRequest;
    ExportOptions options;
    // XML forms: folder elements also carry the totals (files, folders, bytes, playing time) of
    // everything beneath them. Off, the document is as it always was.
    bool folderTotals = false;
};

// Writes the whole document. The target is replaced only when the document is complete: it is
// written to a temporary file beside it and renamed into place. Throws FileError naming the file
// that failed (nothing is left behind, an existing target stays as it was), or Cancelled.
void WriteExportDocument(const ExportRequest& request);

// The Resource folder beside the program (or the installed share folder).
QString DefaultResourceDir();

} // namespace treelan
