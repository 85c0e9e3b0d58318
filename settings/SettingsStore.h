#pragma once

#include <QString>

namespace treelan {

// The application under which the window keeps its settings.
inline constexpr const char* kSettingsApp = "Treelan";

// The per-user settings store, sections compared without regard to case.
QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& defaultValue = {});
void SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value);
// Tests point the store at a folder of their own.
void SetSettingsDirectory(const QString& folder);

} // namespace treelan
