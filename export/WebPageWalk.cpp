// Interim: drives the page writer from the walk until the writer interface replaces this file.
#include "export/WebPage.h"

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"
#include "listing/Sort.h"
#include "media/Mp3Info.h"
#include "platform/DirWalker.h"
#include "platform/FileError.h"
#include "platform/RootPath.h"

#include <fcntl.h>
#include <unistd.h>

namespace treelan {

namespace {

struct Item {
    QString key;
    QString name;
    std::size_t index;
};

qint64 durationMs(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3) return 0;
    return (parts[0].toLongLong() * 3600 + parts[1].toLongLong() * 60 + parts[2].toLongLong()) *
           1000;
}

class PageVisitor final : public WalkVisitor {
public:
    PageVisitor(WebPageWriter& w, const ExportOptions& o, const QString& root)
        : m_w(w), m_o(o), m_root(root) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        if (!folder.readable) m_w.markFolder(PageData::FolderState::Unreadable);
        std::vector<Item> subfolders;
        std::vector<Item>& files = pending(folder.depth);
        files.clear();
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            (e.isFolder() ? subfolders : files).push_back({SortKey(e.name), e.name, i});
        }
        SortRecords(subfolders);
        SortRecords(files);
        for (const Item& s : subfolders)
            children.push_back(s.index);
        // The fd is open only now: read the MP3 figures here.
        std::vector<MP3Info>& mp3 = m_mp3[std::size_t(folder.depth)];
        mp3.assign(files.size(), MP3Info());
        if (m_o.mp3Info)
            for (std::size_t k = 0; k < files.size(); ++k) {
                const DirEntry& e = folder.entries[files[k].index];
                if (e.kind != DirEntry::Kind::File || !IsMp3Name(e.name)) continue;
                const int fd =
                    ::openat(folder.fd, e.rawName.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
                if (fd < 0) continue;
                try {
                    mp3[k] = ReadMP3InfoFromFd(fd, e.size, m_root + folder.relPath + e.name);
                } catch (const FileError&) {
                }
                ::close(fd);
            }
    }
    bool childBegin(WalkFolder&, const DirEntry& child) override {
        m_w.enterFolder(child.name);
        if (!m_o.browseSubfolders) m_w.markFolder(PageData::FolderState::NotEntered);
        return m_o.browseSubfolders;
    }
    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override { m_w.leaveFolder(); }
    void folderDone(WalkFolder& folder) override {
        std::vector<Item>& files = pending(folder.depth);
        const std::vector<MP3Info>& mp3 = m_mp3[std::size_t(folder.depth)];
        for (std::size_t k = 0; k < files.size(); ++k) {
            const DirEntry& e = folder.entries[files[k].index];
            const bool examined = e.kind != DirEntry::Kind::Unexamined;
            const qint64 unix = e.fileTime / 10000000 - 11644473600LL;
            m_w.file(e.name, examined ? e.size : -1, unix, durationMs(mp3[k].Duration),
                     mp3[k].Bitrate.section(QLatin1Char(' '), 0, 0).toInt());
        }
        files.clear();
    }

private:
    std::vector<Item>& pending(int depth) {
        if (m_files.size() <= std::size_t(depth)) {
            m_files.resize(std::size_t(depth) + 1);
            m_mp3.resize(std::size_t(depth) + 1);
        }
        return m_files[std::size_t(depth)];
    }
    WebPageWriter& m_w;
    const ExportOptions& m_o;
    QString m_root;
    std::vector<std::vector<Item>> m_files;
    std::vector<std::vector<MP3Info>> m_mp3;
};

} // namespace

void WriteWebPageInterim(const RootPath& rootPath, const QString& resourceDir,
                         const ExportOptions& options, OutputBuffer& out) {
    const QString root = rootPath.display();
    const WebPageTemplate page = WebPageTemplate::load(resourceDir + QStringLiteral("/page.html"));
    WebPageInfo info;
    info.rootPath = root;
    info.recursive = options.browseSubfolders;
    info.mp3 = options.mp3Info;
    WebPageWriter writer(out, page, info);
    writer.begin();
    writer.enterFolder(QString());
    PageVisitor visitor(writer, options, root);
    WalkTree(rootPath, visitor, options.walk);
    writer.leaveFolder();
    writer.end();
}

} // namespace treelan
