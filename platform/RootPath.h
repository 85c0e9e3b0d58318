#pragma once

#include <QByteArray>
#include <QString>

namespace treelan {

// The folder a listing or an export starts from: its path in raw bytes, for the file system, and
// as text, for the user and the documents. Absolute, without "." or ".." parts, ending in "/".
// Each front end builds it once: the command line from its argument bytes, the window from its
// folder box.
class RootPath {
public:
    RootPath() = default;
    // From text that the user sees or typed (a folder box, a dialog's answer, a test's path).
    // A name on disk that is not valid UTF-8 has no exact text; each part of the path is looked
    // up among its folder's entries by the texts that such a name is shown as (see FindRawPath).
    RootPath(const QString& text); // NOLINT(google-explicit-constructor): a path box is a root
    // From bytes as the system gives them (a command-line argument): exact, whatever they are.
    static RootPath fromBytes(const QByteArray& path);

    const QByteArray& raw() const { return m_raw; }
    // Decoded as every name is (DecodeFileName): what lists and documents show.
    const QString& display() const { return m_display; }
    bool isEmpty() const { return m_raw.isEmpty(); }
    // True when the path leads to a folder (following links).
    bool isFolder() const;
    // Opens the folder for reading (O_DIRECTORY, following links); -1 with errno set on failure.
    // A path given relative to the current folder is opened relative to it ("." is the current
    // folder itself), and a path longer than the system takes is opened part by part: either
    // works however deep the folder lies.
    int open() const;

private:
    int openWith(int flags) const;

    QByteArray m_raw;
    QString m_display;
    QByteArray m_relative; // the argument as given, when it is relative without ".." parts
};

// The raw bytes of a path given as text: each part that does not exist as its UTF-8 bytes is
// matched against its folder's entries, by the name decoded as this program shows it and as Qt
// decodes it (a dialog's answer). Parts that match nothing stay UTF-8. `text` must be absolute.
QByteArray FindRawPath(const QString& text);

} // namespace treelan
