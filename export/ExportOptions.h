#pragma once

#include "platform/DirWalker.h"

#include <QSet>
#include <QString>

namespace treelan {

// Paths relative to the export root, matched exactly: files as "a/b.txt", folders as "a/".
class PathSet {
public:
    void add(const QString& relativePath);
    bool containsFile(const QString& relativePath) const { return m_files.contains(relativePath); }
    bool containsFolder(const QString& relativeFolder) const {
        return m_folders.contains(relativeFolder);
    }
    bool isEmpty() const { return m_files.isEmpty() && m_folders.isEmpty(); }
    const QSet<QString>& files() const { return m_files; }
    const QSet<QString>& folders() const { return m_folders; }

private:
    QSet<QString> m_files;
    QSet<QString> m_folders;
};

struct ExportOptions {
    bool browseSubfolders = false; // write each subfolder's contents
    bool mp3Info = false;          // read playing time and bit rate of MP3 files
    bool selectedOnly = false;     // write only `selected` (and the folders that lead to it)
    PathSet removed;               // left out, folders with everything in them
    PathSet selected;              // a selected folder takes everything in it
    WalkOptions walk;              // progress, cancel and warnings
};

} // namespace treelan
