#pragma once

#include "platform/DirWalker.h"

#include <QByteArray>
#include <QSet>

namespace treelan {

// Paths relative to the root in the raw bytes of their names, matched exactly: files as
// "a/b.txt", folders as "a/". Raw, because two names can read the same (a Latin-1 "\xe9" and a
// UTF-8 "\xc3\xa9" both show as "é") and each must be named apart.
class PathSet {
public:
    void add(const QByteArray& rawRelativePath);
    bool containsFile(const QByteArray& rawPath) const { return m_files.contains(rawPath); }
    bool containsFolder(const QByteArray& rawFolder) const { return m_folders.contains(rawFolder); }
    bool isEmpty() const { return m_files.isEmpty() && m_folders.isEmpty(); }
    const QSet<QByteArray>& files() const { return m_files; }
    const QSet<QByteArray>& folders() const { return m_folders; }

private:
    QSet<QByteArray> m_files;
    QSet<QByteArray> m_folders;
};

// What a listing or an export walks and reads: one struct for the command line, the window, the
// listing and every export format.
struct TreeOptions {
    bool browseSubfolders = false; // go into subfolders (else each one is a single row or element)
    bool mp3Info = false;          // read playing time and bit rate of MP3 files
    // --media: also read every audio, video and picture file's details (media/MediaPool), its
    // content choosing the reader; implies mp3Info.
    bool mediaInfo = false;
    bool selectedOnly = false; // export only `selected` (and the folders that lead to it)
    PathSet removed;           // left out of the export, folders with everything in them
    PathSet selected;          // a selected folder takes everything in it
    WalkOptions walk;          // progress, cancel and warnings
};

} // namespace treelan
