#pragma once

#include <QString>

namespace treelan {

// The interface string table: built-in English texts, or, when a string file was found at
// start-up, that file for every lookup.
void LoadDefaultStrings();
// Set once at start-up: the string file to use, or empty for the built-in texts.
void SetIniPath(const QString& path);
QString IniPath();
// Text for a key such as "101"; empty for a key without text.
QString GetGuiString(const QString& key);
inline QString GetGuiString(int key) {
    return GetGuiString(QString::number(key));
}

// Reads one value from a profile (INI) file: section and key names compared without regard to
// case, blanks around key and value trimmed, one pair of surrounding quotes removed, the value cut
// to bufferSize - 1 characters. UTF-8 with an optional BOM. Missing file or key gives
// `defaultText`.
QString ReadProfileString(const QString& iniPath, const QString& section, const QString& key,
                          const QString& defaultText = {}, int bufferSize = 255);

// The per-user settings store, sections compared without regard to case.
QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& defaultValue = {});
void SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value);
// Tests point the store at a folder of their own.
void SetSettingsDirectory(const QString& folder);

} // namespace treelan
