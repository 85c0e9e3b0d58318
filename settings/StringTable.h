#pragma once

#include <QString>

namespace treelan {

// The keys of the interface strings. A string file names them by number, so the numbers are
// fixed; the names only keep the code readable.
enum class Str : int {
    Charset = 100, // not a display text: the font character set of localised controls
    FolderListing = 101,
    PathLabel = 105,
    ChooseFolder = 110,
    Name = 120,
    Folder = 121,
    Size = 122,
    Date = 123,
    Type = 124,
    Duration = 125,
    Bitrate = 126,
    View = 130,
    SortBy = 132,
    CopyFullPath = 140,
    SelectedOnly = 145,
    BrowseSubfolders = 150,
    Mp3Info = 152,
    Copy = 160,
    Export = 165,
    GenericXml = 166,
    XmlWithTemplate = 167,
    WebArchive = 168,
    ShowAll = 170,
    HideAll = 171,
    ChooseTemplate = 180,
    Ok = 185,
    Caution = 186,
    CopyNote = 187,
    // The web page: its save-dialog type, then its fixed texts ("%1" stands for a number).
    WebPage = 200,
    PageSearch = 201,
    PageSearchHelp = 202,
    PageExpandAll = 203,
    PageCollapseAll = 204,
    PageIncludeSubfolders = 205,
    PageFiles = 206,
    PageFolders = 207,
    PageTotalSize = 208,
    PagePlayingTime = 209,
    PageExported = 210,
    PageOptions = 211,
    PageFilters = 212,
    PageYes = 213,
    PageNo = 214,
    PageBytes = 215,
    PageFileCount = 216,
    PageFoundCount = 217,
    PageLoading = 218,
    PageDataError = 219,
    PageNeedsScript = 220,
    // The page header's words for the options that left entries out ("%1" the user's pattern,
    // path or number).
    PageLeaveOut = 221,
    PageOnly = 222,
    PageNoHidden = 223,
    PageMaxDepth = 224,
    PageOneFileSystem = 225,
    PageMore = 226,
};

// The key as the window designs and the string file spell it ("101").
QString KeyText(Str key);

// The interface string table: built-in English texts, or, when a string file was found at
// start-up, that file for every lookup.
void LoadDefaultStrings();
// Set once at start-up: the string file to use, or empty for the built-in texts.
void SetIniPath(const QString& path);
// Text for a key such as "101"; empty for a key without text.
QString GetGuiString(const QString& key);
inline QString GetGuiString(Str key) {
    return GetGuiString(KeyText(key));
}

} // namespace treelan
