#include "settings/SettingsStore.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <mutex>

namespace treelan {

namespace {

std::mutex g_lock;
QString g_directory; // empty: the per-user location

QString settingsDirectory() {
    {
        std::lock_guard guard(g_lock);
        if (!g_directory.isEmpty()) return g_directory;
    }
    // The generic location, not AppConfigLocation: the program and the command line have
    // different executable names but share one store.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Treelan");
}

// One INI file per application in the settings folder; empty for a name that is no file name.
QString settingsFile(const QString& application) {
    if (application.isEmpty() || application.contains(u'/') || application.contains(u'\\') ||
        application == QLatin1String(".") || application == QLatin1String(".."))
        return {};
    return settingsDirectory() + u'/' + application + QStringLiteral(".ini");
}

// The spelling under which `wanted` is stored, compared without regard to case; `fallback` when
// none is stored yet.
QString storedName(const QStringList& names, const QString& wanted, const QString& fallback) {
    for (const QString& name : names)
        if (name.compare(wanted, Qt::CaseInsensitive) == 0) return name;
    return fallback;
}

// Sections, and keys likewise, are matched without regard to case, so that "StartUp" and
// "Startup" meet in one group. New ones are written in lower case. Matching what is stored,
// rather than only folding the case, also copes with names QSettings spells its own way on
// reading (a section "general" comes back as "General") and with hand-edited files.
QString storedKey(QSettings& store, const QString& section, const QString& key) {
    const QString group = storedName(store.childGroups(), section, section.toLower());
    store.beginGroup(group);
    const QString name = storedName(store.childKeys(), key, key.toLower());
    store.endGroup();
    return group + u'/' + name;
}

} // namespace

QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& defaultValue) {
    const QString file = settingsFile(application);
    if (file.isEmpty()) return defaultValue;
    QSettings store(file, QSettings::IniFormat);
    const QVariant value = store.value(storedKey(store, section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

void SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value) {
    const QString file = settingsFile(application);
    if (file.isEmpty()) return;
    // Remembering a folder or the columns is a convenience: a store that cannot be written
    // must not stop the command that changed them.
    QSettings store(file, QSettings::IniFormat);
    store.setValue(storedKey(store, section, key), value);
    store.sync();
}

void SetSettingsDirectory(const QString& folder) {
    std::lock_guard guard(g_lock);
    g_directory = folder;
}

} // namespace treelan
