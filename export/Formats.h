#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"

#include <QStringList>
#include <memory>
#include <vector>

namespace treelan {

// The options that only some formats take.
enum FormatOption : unsigned {
    TakesTemplate = 1,      // the stylesheet line's NAME
    TakesTotals = 2,        // each folder's totals in its element
    TakesByteOrderMark = 4, // a UTF-8 byte-order mark first
};

// One export format: how the command line names it, which target names default to it, which of
// the options it takes, and the writer that makes its documents. The table is the one place that
// knows every format.
struct ExportFormatInfo {
    ExportFormat format;
    const char* name;       // the -f value: "xml", "mht", ...
    QStringList extensions; // lower-case target endings that choose it: ".mht", ...
    const char* summary;    // a few words for the help text
    // Makes the writer for one document; reads what the document needs before anything is
    // written (throws FileError when that fails).
    std::unique_ptr<TreeWriter> (*makeWriter)(const ExportRequest& request, OutputBuffer& out);
    unsigned takes = 0; // FormatOption flags
};

// Every format, in the order the help lists them.
const std::vector<ExportFormatInfo>& ExportFormats();
// The format of a -f value (any case), or null.
const ExportFormatInfo* FindExportFormat(const QString& name);
// The format a target name's ending chooses, or null.
const ExportFormatInfo* ExportFormatForTarget(const QString& targetPath);
const ExportFormatInfo& ExportFormatOf(ExportFormat format);

} // namespace treelan
