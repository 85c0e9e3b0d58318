#include "settings/GuiStrings.h"

#include "codec/Utf8.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <array>
#include <cmath>
#include <mutex>

namespace treelan {

namespace {

constexpr int kSlotCount = 191;

struct DefaultText {
    int key;
    const char* text;
};

constexpr DefaultText kDefaultTexts[] = {
    {100, "0"},
    {101, "Folder Listing"},
    {105, "Path:"},
    {110, "Choose folder:"},
    {120, "Name"},
    {121, "Folder"},
    {122, "Size"},
    {123, "Date"},
    {124, "Type"},
    {125, "Duration"},
    {126, "Bitrate"},
    {130, "View"},
    {132, "Sort by"},
    {140, "Copy in full path mode"},
    {145, "Selected items only"},
    {150, "Browse subfolders"},
    {152, "Get basic info about .mp3"},
    {160, "Copy"},
    {165, "Export..."},
    {166, "Generic XML file"},
    {167, "XML file with defined XSLT template"},
    {168, "Web Archive"},
    {170, "Show All"},
    {171, "Hide All"},
    {180, "Choose template"},
    {185, "Ok"},
    {186, "Caution"},
    {187, "For correct displaying of file you should copy to target path content of folder"},
};

// Start-up sets these once; the lock only makes a lookup from another thread (a test, the
// command line) see either the old or the new state, never half of it.
struct StringState {
    std::mutex lock;
    std::array<QString, kSlotCount> defaults;
    QString iniPath;
    QString settingsDirectory;
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

// At most maxLength UTF-16 units, without splitting a surrogate pair.
QString cutTo(const QString& text, qsizetype maxLength) {
    if (maxLength <= 0) return {};
    if (text.size() <= maxLength) return text;
    qsizetype length = maxLength;
    if (text.at(length - 1).isHighSurrogate() && text.at(length).isLowSurrogate()) --length;
    return text.left(length);
}

QString unquoted(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

QString lineText(QByteArray line, bool firstLine) {
    if (firstLine && line.startsWith("\xEF\xBB\xBF")) line.remove(0, 3);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    // Bytes that are not UTF-8 (a file saved in a legacy code page) still come through as text.
    return DecodeFileName(line).trimmed();
}

// Looks the key up in the file; false when the file or the key is missing.
bool findProfileValue(const QString& iniPath, const QString& section, const QString& key,
                      QString& value) {
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly)) return false;

    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    bool inSection = false;
    bool firstLine = true;
    while (!file.atEnd()) {
        const QString line = lineText(file.readLine(), firstLine);
        firstLine = false;
        if (line.isEmpty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            qsizetype close = line.indexOf(u']');
            if (close < 0) close = line.size();
            const QString name = line.mid(1, close - 1).trimmed();
            inSection = name.compare(wantedSection, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection) continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) continue;
        if (line.left(equals).trimmed().compare(wantedKey, Qt::CaseInsensitive) != 0) continue;
        value = unquoted(line.mid(equals + 1).trimmed());
        return true;
    }
    return false;
}

QString settingsDirectory() {
    StringState& s = state();
    {
        std::lock_guard guard(s.lock);
        if (!s.settingsDirectory.isEmpty()) return s.settingsDirectory;
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

void LoadDefaultStrings() {
    StringState& s = state();
    std::lock_guard guard(s.lock);
    s.defaults.fill(QString());
    for (const DefaultText& entry : kDefaultTexts)
        s.defaults[static_cast<std::size_t>(entry.key)] = QString::fromLatin1(entry.text);
}

void SetIniPath(const QString& path) {
    StringState& s = state();
    std::lock_guard guard(s.lock);
    s.iniPath = path;
}

QString IniPath() {
    StringState& s = state();
    std::lock_guard guard(s.lock);
    return s.iniPath;
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

QString ReadProfileString(const QString& iniPath, const QString& section, const QString& key,
                          const QString& defaultText, int bufferSize) {
    QString value;
    if (!findProfileValue(iniPath, section, key, value)) value = defaultText;
    return cutTo(value, bufferSize - 1);
}

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
    StringState& s = state();
    std::lock_guard guard(s.lock);
    s.settingsDirectory = folder;
}

} // namespace treelan
