#include "format/TypeName.h"

#include <QHash>
#include <QMimeDatabase>

#include <array>
#include <mutex>

namespace treelan {

QString StripTerminator(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString TypeNameForFile(const QString& name) {
    // The MIME database is slow to ask; a listing has few distinct extensions.
    // Per thread: a scan in the background and one in the foreground (a test, the command line)
    // may ask at once.
    thread_local QHash<QString, QString> cache;
    static const QMimeDatabase db;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A few recent extensions answer most calls without building a key.
    struct Recent {
        QString extension, typeName;
    };
    thread_local std::array<Recent, 8> recent;
    thread_local std::size_t nextRecent = 0;
    const QStringView extension = dot >= 0 ? QStringView(name).mid(dot + 1) : QStringView();
    if (dot >= 0)
        for (const Recent& r : recent)
            if (!r.extension.isNull() && extension.compare(r.extension, Qt::CaseInsensitive) == 0)
                return r.typeName;
    // Like the shell's type names, these go by the extension alone: every name without one gets
    // the same type. (Asking the database about each such name would also cost 45 us a file.)
    const QString key = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
    const QString probe = dot >= 0 ? name : QStringLiteral("file");
    auto it = cache.constFind(key);
    if (it == cache.constEnd()) {
        // The database's texts are made under its own lock, which a thread checker cannot see;
        // ours orders every lookup, and the text kept is a copy of our own.
        static std::mutex dbLock;
        QString typeName;
        {
            std::lock_guard guard(dbLock);
            const QString comment =
                db.mimeTypeForFile(probe, QMimeDatabase::MatchExtension).comment();
            typeName = StripTerminator(QString(comment.constData(), comment.size()));
        }
        it = cache.insert(key, typeName);
    }
    if (dot >= 0) recent[nextRecent++ % recent.size()] = {key, *it};
    return *it;
}

} // namespace treelan
