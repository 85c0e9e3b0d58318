#pragma once

#include <QByteArray>
#include <QString>
#include <array>

namespace treelan {

// Base64 (RFC 4648, standard alphabet, "=" padding) for the images of the web archive.
class clsBase64 {
public:
    clsBase64();

    // Reads the whole file; throws FileError naming the file when it cannot be read.
    void Load(const QString& strPathName, QByteArray& pbArrayOutput) const;
    // Replaces pbArrayOutput with the Base64 characters of pbArrayInput (empty for empty input).
    void Encode(const QByteArray& pbArrayInput, QByteArray& pbArrayOutput) const;
    // Lines of at most 76 characters, each ended by CR LF; empty input gives empty text.
    void ByteArrayToString(const QByteArray& pbArrayInput, QByteArray& strOut) const;

private:
    std::array<char, 64> m_table;
};

} // namespace treelan
