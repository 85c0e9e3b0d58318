#pragma once

#include "platform/DirWalker.h"
#include "platform/TreeOptions.h"

#include <QString>

#include <functional>

namespace treelan {

class ListingModel;

// The folder to list and what to walk. browseSubfolders lists the files of every subfolder
// instead of one row each; the selection and removal sets are the export's and not used here.
// walk.progress is called per folder (false cancels: the scan then throws Cancelled); walk.warning
// hears of unreadable folders, unexaminable entries and MP3 read failures.
struct ScanOptions : TreeOptions {
    RootPath rootPath;
    // Where the tree comes from when not from the disk (a catalogue's snapshot): drives the
    // visitor over the whole tree as WalkTree does.
    std::function<void(WalkVisitor& visitor, const WalkOptions& options)> source;
};

// Clears the model and fills it with the listing of `options.rootPath`, sorting once at the end.
// Throws FileError when the root cannot be opened, Cancelled when progress says so.
void RefreshListing(ListingModel& model, const ScanOptions& options);
// Adds the rows of the listing to the end of the model: each folder's files in enumeration order,
// then per subfolder its whole listing or, without browseSubfolders, one subfolder row.
void FindFilesAPI(ListingModel& model, const ScanOptions& options);

// Left-pads with "0" to at least 12 characters; also pads `text` itself.
QString Nuly(QString& text);
QString Nuly(const QString& text);
// "00128" from "128 kbps" or "153 kbps (var.)"; empty for an empty or non-numeric text.
QString BitrateKey(const QString& bitrateText);

} // namespace treelan
