#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>

namespace treelan {

// Base64 (RFC 4648, standard alphabet, "=" padding) for the images of the web archive.
class clsBase64 {
public:
    clsBase64();

    // The whole content of a file, or an exception naming it (the caller's file access: this
    // room reads no files of its own).
    using FileReader = std::function<QByteArray(const QString& path)>;
    // Reads the whole file through `read`; on a failure the output is left as it was.
    void Load(const QString& strPathName, QByteArray& pbArrayOutput, const FileReader& read) const;
    // Replaces pbArrayOutput with the Base64 characters of pbArrayInput (empty for empty input).
    void Encode(const QByteArray& pbArrayInput, QByteArray& pbArrayOutput) const;
    // Lines of at most 76 characters, each ended by CR LF; empty input gives empty text.
    void ByteArrayToString(const QByteArray& pbArrayInput, QByteArray& strOut) const;

private:
    std::array<char, 64> m_table;
};

} // namespace treelan
