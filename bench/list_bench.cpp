// Lists a folder recursively into the listing model and reports the refresh time, the model's
// memory per row and the time of a sort by every column.
#include "listing/FolderScan.h"
#include "listing/ListingModel.h"
#include "platform/RootPath.h"
#include "settings/StringTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <malloc.h>

namespace {

qint64 heapInUse() {
    malloc_trim(0);
    return qint64(mallinfo2().uordblks);
}

qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc != 2) {
        out << "usage: bench_list FOLDER\n";
        return 2;
    }
    treelan::LoadDefaultStrings();
    treelan::ListingModel model;
    treelan::ScanOptions options;
    options.rootPath = treelan::RootPath::fromBytes(argv[1]);
    options.browseSubfolders = true;
    // Warm the type-name cache and the page cache, then start from an empty model.
    treelan::RefreshListing(model, options);
    model.clear();
    const qint64 heapBefore = heapInUse(), rssBefore = residentBytes();

    QElapsedTimer timer;
    timer.start();
    treelan::RefreshListing(model, options);
    const double refresh = double(timer.nsecsElapsed()) / 1e9;
    const qint64 heap = heapInUse() - heapBefore, rss = residentBytes() - rssBefore;
    const int rows = model.rowCount();

    out << "refresh " << refresh << " s\n"
        << "rows " << rows << '\n'
        << "heap_per_row " << (rows ? double(heap) / rows : 0.0) << '\n'
        << "rss_per_row " << (rows ? double(rss) / rows : 0.0) << '\n';
    double slowest = 0;
    for (int column = 0; column < treelan::kListingColumns; ++column) {
        for (Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
            timer.restart();
            model.sort(column, order);
            const double t = double(timer.nsecsElapsed()) / 1e9;
            slowest = std::max(slowest, t);
            out << "sort column " << column + 1
                << (order == Qt::DescendingOrder ? " descending " : " ascending ") << t << " s\n";
        }
    }
    out << "slowest_sort " << slowest << " s\n";
    return 0;
}
