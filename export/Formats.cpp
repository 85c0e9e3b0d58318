#include "export/Formats.h"

#include "export/CsvWriter.h"
#include "export/JsonWriter.h"
#include "export/MhtWriter.h"
#include "export/NcduWriter.h"
#include "export/WebPage.h"
#include "export/XmlWriter.h"

namespace treelan {

namespace {

template <typename Writer>
std::unique_ptr<TreeWriter> make(const ExportRequest& request, OutputBuffer& out) {
    return std::make_unique<Writer>(request, out);
}

} // namespace

const std::vector<ExportFormatInfo>& ExportFormats() {
    static const std::vector<ExportFormatInfo> formats{
        {ExportFormat::WebArchive, "mht", {".mht", ".mhtml"}, "web archive", make<MhtWriter>},
        {ExportFormat::WebPage,
         "html",
         {".html", ".htm"},
         "interactive web page: tree, table, search",
         make<WebPageWriter>},
        {ExportFormat::GenericXml, "xml", {}, "generic XML", make<XmlWriter>, TakesTotals},
        {ExportFormat::XmlWithTemplate,
         "xslt",
         {},
         "XML headed by a stylesheet line",
         make<XmlWriter>,
         TakesTemplate | TakesTotals},
        {ExportFormat::Json,
         "json",
         {".json"},
         "Treelan's JSON (Resource/treelan-export.schema.json)",
         make<JsonWriter>},
        {ExportFormat::Ncdu, "ncdu", {}, "ncdu's export, for ncdu -f and gdu -f", make<NcduWriter>},
        {ExportFormat::Csv,
         "csv",
         {".csv"},
         "one row per file, comma-separated",
         make<CsvWriter>,
         TakesByteOrderMark},
        {ExportFormat::Tsv,
         "tsv",
         {".tsv"},
         "the same, TAB-separated",
         make<CsvWriter>,
         TakesByteOrderMark},
    };
    return formats;
}

const ExportFormatInfo* FindExportFormat(const QString& name) {
    for (const ExportFormatInfo& f : ExportFormats())
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) return &f;
    return nullptr;
}

const ExportFormatInfo* ExportFormatForTarget(const QString& targetPath) {
    for (const ExportFormatInfo& f : ExportFormats())
        for (const QString& extension : f.extensions)
            if (targetPath.endsWith(extension, Qt::CaseInsensitive)) return &f;
    return nullptr;
}

const ExportFormatInfo& ExportFormatOf(ExportFormat format) {
    for (const ExportFormatInfo& f : ExportFormats())
        if (f.format == format) return f;
    return ExportFormats().front();
}

} // namespace treelan
