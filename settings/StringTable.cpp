#include "settings/StringTable.h"

#include "settings/ProfileFile.h"

#include <array>
#include <cmath>
#include <mutex>

namespace treelan {

namespace {

constexpr int kSlotCount = 227;

struct DefaultText {
    Str key;
    const char* text;
};

constexpr DefaultText kDefaultTexts[] = {
    {Str::Charset, "0"},
    {Str::FolderListing, "Folder Listing"},
    {Str::PathLabel, "Path:"},
    {Str::ChooseFolder, "Choose folder:"},
    {Str::Name, "Name"},
    {Str::Folder, "Folder"},
    {Str::Size, "Size"},
    {Str::Date, "Date"},
    {Str::Type, "Type"},
    {Str::Duration, "Duration"},
    {Str::Bitrate, "Bitrate"},
    {Str::View, "View"},
    {Str::SortBy, "Sort by"},
    {Str::CopyFullPath, "Copy in full path mode"},
    {Str::SelectedOnly, "Selected items only"},
    {Str::BrowseSubfolders, "Browse subfolders"},
    {Str::Mp3Info, "Get basic info about .mp3"},
    {Str::Copy, "Copy"},
    {Str::Export, "Export..."},
    {Str::GenericXml, "Generic XML file"},
    {Str::XmlWithTemplate, "XML file with defined XSLT template"},
    {Str::WebArchive, "Web Archive"},
    {Str::ShowAll, "Show All"},
    {Str::HideAll, "Hide All"},
    {Str::ChooseTemplate, "Choose template"},
    {Str::Ok, "Ok"},
    {Str::Caution, "Caution"},
    {Str::CopyNote,
     "For correct displaying of file you should copy to target path content of folder"},
    {Str::WebPage, "Web Page"},
    {Str::PageSearch, "Search names"},
    {Str::PageSearchHelp, "Finds names as you type, without regard to case; * and ? match the "
                          "whole name; f: files only, d: folders only"},
    {Str::PageExpandAll, "Expand all"},
    {Str::PageCollapseAll, "Collapse all"},
    {Str::PageIncludeSubfolders, "Include subfolders"},
    {Str::PageFiles, "Files"},
    {Str::PageFolders, "Folders"},
    {Str::PageTotalSize, "Total size"},
    {Str::PagePlayingTime, "Playing time"},
    {Str::PageExported, "Exported"},
    {Str::PageOptions, "Options"},
    {Str::PageFilters, "Filters"},
    {Str::PageYes, "yes"},
    {Str::PageNo, "no"},
    {Str::PageBytes, "bytes"},
    {Str::PageFileCount, "%1 files"},
    {Str::PageFoundCount, "%1 found"},
    {Str::PageLoading, "Loading..."},
    {Str::PageDataError, "The data of this page could not be read"},
    {Str::PageNeedsScript, "This page needs JavaScript to show the folder tree, the file list and "
                           "the search. The figures above are complete."},
    {Str::PageLeaveOut, "leave out %1"},
    {Str::PageOnly, "only %1"},
    {Str::PageNoHidden, "no hidden names"},
    {Str::PageMaxDepth, "depth at most %1"},
    {Str::PageOneFileSystem, "one file system"},
    {Str::PageMore, "and %1 more"},
};

// Start-up sets these once; the lock makes a lookup from another thread (a scan, a test) see
// either the old or the new state, never half of it.
struct StringState {
    std::mutex lock;
    std::array<QString, kSlotCount> defaults;
    QString iniPath;
};

StringState& state() {
    static StringState s;
    return s;
}

// A key text such as "101" or " 101.2 " to its slot; -1 when it names none.
int slotOfKey(const QString& key) {
    bool ok = false;
    const double number = key.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number)) return -1;
    const double rounded = std::nearbyint(number);
    if (rounded < 0 || rounded >= kSlotCount) return -1;
    return static_cast<int>(rounded);
}

} // namespace

QString KeyText(Str key) {
    return QString::number(static_cast<int>(key));
}

void LoadDefaultStrings() {
    StringState& s = state();
    std::lock_guard guard(s.lock);
    s.defaults.fill(QString());
    for (const DefaultText& entry : kDefaultTexts)
        s.defaults[static_cast<std::size_t>(static_cast<int>(entry.key))] =
            QString::fromLatin1(entry.text);
}

void SetIniPath(const QString& path) {
    StringState& s = state();
    std::lock_guard guard(s.lock);
    s.iniPath = path;
}

QString GetGuiString(const QString& key) {
    StringState& s = state();
    QString iniPath;
    {
        std::lock_guard guard(s.lock);
        if (s.iniPath.isEmpty()) {
            const int slot = slotOfKey(key);
            return slot < 0 ? QString() : s.defaults[static_cast<std::size_t>(slot)];
        }
        iniPath = s.iniPath;
    }
    // Read afresh each time, so edits to the file show in later lookups.
    return ReadProfileString(iniPath, QStringLiteral("GUI_Strings"), key, QString(), 255);
}

} // namespace treelan
