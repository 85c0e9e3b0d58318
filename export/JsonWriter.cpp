#include "export/JsonWriter.h"

#include "codec/Bytes.h"
#include "codec/TextEscape.h"
#include "codec/Utf8.h"
#include "format/EntryFormat.h"

#include <QList>
#include <algorithm>
#include <cstring>

namespace treelan {

namespace {

const char* kindText(DirEntry::Kind kind) {
    switch (kind) {
    case DirEntry::Kind::Folder:
        return "folder";
    case DirEntry::Kind::Link:
        return "link";
    case DirEntry::Kind::Special:
        return "special";
    case DirEntry::Kind::File:
    case DirEntry::Kind::Unexamined:
        break;
    }
    return "file";
}

template <std::size_t N> void appendNumber(QByteArray& b, const char (&key)[N], qint64 value) {
    AppendLiteral(b, key);
    AppendSignedDecimal(b, value);
}

void appendRaw(QByteArray& b, const char* key, QByteArrayView raw) {
    AppendRaw(b, key, qsizetype(std::strlen(key)));
    AppendChar(b, '"');
    AppendPercentEncoded(b, raw.data(), raw.size());
    AppendChar(b, '"');
}

bool validUtf8(QByteArrayView bytes) {
    return DecodesExactly(bytes.data(), bytes.size());
}

// A list of raw relative paths, sorted, as [{"path": ..., "rawPath": ...}].
void appendPathList(QByteArray& b, const char* key, const PathSet& set) {
    QList<QByteArray> paths(set.folders().begin(), set.folders().end());
    paths.append(QList<QByteArray>(set.files().begin(), set.files().end()));
    std::sort(paths.begin(), paths.end());
    AppendRaw(b, key, qsizetype(std::strlen(key)));
    AppendChar(b, '[');
    for (const QByteArray& p : paths) {
        if (&p != &paths.front()) AppendChar(b, ',');
        AppendLiteral(b, "{\"path\":");
        AppendJsonString(b, DecodeFileName(p));
        if (!DecodesExactly(p)) appendRaw(b, ",\"rawPath\":", p);
        AppendChar(b, '}');
    }
    AppendChar(b, ']');
}

void appendTextList(QByteArray& b, const char* key, const std::vector<PathPattern>& patterns) {
    AppendRaw(b, key, qsizetype(std::strlen(key)));
    AppendChar(b, '[');
    for (const PathPattern& p : patterns) {
        if (&p != &patterns.front()) AppendChar(b, ',');
        AppendJsonString(b, DecodeFileName(p.text()));
    }
    AppendChar(b, ']');
}

} // namespace

QByteArray JsonOptions(const ExportOptions& o, bool folderTotals) {
    QByteArray b("{\"recursive\":");
    b.append(o.browseSubfolders ? "true" : "false");
    b.append(",\"mp3\":").append(o.mp3Info ? "true" : "false");
    if (o.mediaInfo) b.append(",\"media\":true");
    if (o.selectedOnly) appendPathList(b, ",\"only\":", o.selected);
    if (!o.removed.isEmpty()) appendPathList(b, ",\"exclude\":", o.removed);
    const WalkOptions& w = o.walk;
    if (!w.excludePatterns.empty()) appendTextList(b, ",\"excludePatterns\":", w.excludePatterns);
    if (!w.includePatterns.empty()) appendTextList(b, ",\"includePatterns\":", w.includePatterns);
    if (w.noHidden) b.append(",\"noHidden\":true");
    if (w.maxDepth >= 0) appendNumber(b, ",\"maxDepth\":", w.maxDepth);
    if (w.oneFileSystem) b.append(",\"oneFileSystem\":true");
    if (w.noFollow) b.append(",\"noFollow\":true");
    if (folderTotals) b.append(",\"totals\":true");
    b.append('}');
    return b;
}

JsonWriter::JsonWriter(const ExportRequest&, OutputBuffer& out) : m_out(out) {}

void JsonWriter::beginDocument(const DocumentInfo& info) {
    QByteArray& b = m_out.buffer();
    const QByteArray& rawRoot = info.root.raw();
    // Version 2 adds the media details; a document without them is a version 1 document.
    if (info.options.mediaInfo)
        AppendLiteral(b,
                      "{\"format\":\"treelan-export\",\"formatVersion\":2,\n\"header\":{\"root\":");
    else
        AppendLiteral(b,
                      "{\"format\":\"treelan-export\",\"formatVersion\":1,\n\"header\":{\"root\":");
    AppendJsonString(b, info.root.display());
    if (!DecodesExactly(rawRoot)) appendRaw(b, ",\"rawRoot\":", rawRoot);
    const qint64 exported = info.exportTime.toSecsSinceEpoch();
    AppendLiteral(b, ",\"exported\":\"");
    AppendIsoTime(b, FileTimeFromUnix(exported, 0));
    appendNumber(b, "\",\"exportedEpoch\":", exported);
    AppendLiteral(b, ",\"program\":\"treelan\",\"version\":");
    AppendJsonString(b, info.programVersion);
    AppendLiteral(b, ",\"options\":");
    b.append(JsonOptions(info.options, false));
    AppendLiteral(b, "},\n\"root\":");
    // The root's own name is the last part of its path ("/" for the file system's root).
    m_rootName = rawRoot;
    if (m_rootName.size() > 1) m_rootName.chop(1);
    m_rootName = m_rootName.mid(m_rootName.lastIndexOf('/') + 1);
    if (m_rootName.isEmpty()) m_rootName = "/";
    m_out.spill();
}

// Writes everything of an entry up to its closing brace (files) or its children (folders).
void JsonWriter::openEntry(const ExportEntry& e, const char* kind) {
    QByteArray& b = m_out.buffer();
    const bool root = m_first.empty();
    if (!root) {
        if (!m_first.back()) AppendLiteral(b, ",\n");
        m_first.back() = false;
    }
    const QByteArrayView raw = root ? QByteArrayView(m_rootName) : e.rawName;
    const bool nameValid = validUtf8(raw);
    AppendLiteral(b, "{\"name\":");
    if (nameValid) {
        AppendJsonBytes(b, raw.data(), raw.size());
    } else {
        AppendJsonString(b, DecodeFileName(raw.data(), raw.size()));
        appendRaw(b, ",\"rawName\":", raw);
    }
    AppendLiteral(b, ",\"path\":");
    if (root) {
        AppendLiteral(b, "\"\"");
    } else if (nameValid && validUtf8(e.rawFolder)) {
        AppendChar(b, '"');
        AppendJsonEscaped(b, e.rawFolder.data(), e.rawFolder.size());
        AppendJsonEscaped(b, raw.data(), raw.size());
        if (e.isFolder()) AppendChar(b, '/');
        AppendChar(b, '"');
    } else {
        const QByteArray full = e.rawRelPath();
        AppendJsonString(b, DecodeFileName(full));
        appendRaw(b, ",\"rawPath\":", full);
    }
    AppendLiteral(b, ",\"kind\":\"");
    AppendRaw(b, kind, qsizetype(std::strlen(kind)));
    AppendChar(b, '"');
    if (e.examined()) {
        appendNumber(b, ",\"size\":", e.size);
        AppendLiteral(b, ",\"mtime\":\"");
        AppendIsoTime(b, e.fileTime);
        appendNumber(b, "\",\"mtimeEpoch\":", e.unixTime());
    }
    if (!e.error.isEmpty()) {
        AppendLiteral(b, ",\"error\":");
        AppendJsonString(b, e.error);
    }
}

void JsonWriter::enterFolder(const ExportEntry& folder, const FolderTotals*) {
    openEntry(folder, "folder");
    AppendLiteral(m_out.buffer(), ",\"children\":[\n");
    m_first.push_back(true);
    m_out.spill();
}

void JsonWriter::file(const ExportEntry& file) {
    openEntry(file, kindText(file.kind));
    QByteArray& b = m_out.buffer();
    const Mp3Fields* mp3 = file.mp3;
    const bool timed = mp3 && mp3->seconds >= 0, rated = mp3 && mp3->kbps > 0;
    // With --media every media file's figures and fields go into "media"; "mp3" stays MP3's.
    if (file.media) {
        bool first = true;
        auto key = [&](const char* name) {
            if (first)
                AppendLiteral(b, ",\"media\":{\"");
            else
                AppendLiteral(b, ",\"");
            AppendRaw(b, name, qsizetype(std::strlen(name)));
            AppendLiteral(b, "\":");
            first = false;
        };
        if (timed) {
            key("durationSeconds");
            AppendSignedDecimal(b, mp3->seconds);
        }
        if (rated) {
            key("bitrateKbps");
            AppendSignedDecimal(b, mp3->kbps);
            key("vbr");
            b.append(mp3->vbr ? "true" : "false");
        }
        for (const MediaFieldName& m : kMediaFieldNames) {
            const QString& value = (*file.media)[m.field];
            if (value.isEmpty()) continue;
            key(m.key);
            AppendJsonString(b, value);
        }
        if (!first) AppendChar(b, '}');
        if (!IsMp3Name(file.name.toString())) {
            AppendChar(b, '}');
            m_out.spill();
            return;
        }
    }
    if (timed || rated) {
        AppendLiteral(b, ",\"mp3\":{");
        if (timed) appendNumber(b, "\"durationSeconds\":", mp3->seconds);
        if (rated) {
            if (timed) AppendChar(b, ',');
            appendNumber(b, "\"bitrateKbps\":", mp3->kbps);
            if (mp3->vbr)
                AppendLiteral(b, ",\"vbr\":true");
            else
                AppendLiteral(b, ",\"vbr\":false");
        }
        AppendChar(b, '}');
    }
    AppendChar(b, '}');
    m_out.spill();
}

void JsonWriter::leaveFolder(const ExportEntry&, const FolderTotals& t) {
    m_first.pop_back();
    QByteArray& b = m_out.buffer();
    appendNumber(b, "],\"totals\":{\"files\":", t.files);
    appendNumber(b, ",\"folders\":", t.folders);
    AppendLiteral(b, ",\"bytes\":");
    AppendByteTotal(b, t.bytes);
    appendNumber(b, ",\"durationSeconds\":", t.seconds);
    AppendLiteral(b, "}}");
    m_out.spill();
}

void JsonWriter::endDocument(const FolderTotals&) {
    AppendLiteral(m_out.buffer(), "}\n");
    m_out.spill();
}

} // namespace treelan
