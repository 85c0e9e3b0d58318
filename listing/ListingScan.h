#pragma once

#include "listing/FolderScan.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <vector>

namespace treelan {

class ListingModel;

// An entry that could not be read, and why; collected instead of stopping the work.
struct Warning {
    QString path;
    QString reason;
};

// A listing refresh on a worker thread. The worker lists into a store of its own and hands the
// rows found so far over at most every kBatchMs (the first ones at once); this object's thread
// collects them, the counts and the warnings every kPollMs, the rows in
// the order found; at the end it sorts them all, off this thread, and hands over the sorted
// listing. Signals arrive on the thread that owns this object, and only for the latest start().
class ListingScan : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Complete, Cancelled, Failed };
    static constexpr int kBatchMs = 200;
    // How often the owning thread collects what the worker found: rows, counts, warnings.
    static constexpr int kPollMs = 25;

    explicit ListingScan(QObject* parent = nullptr);
    // Cancels a running scan and waits for its thread.
    ~ListingScan() override;

    // Starts listing `options.rootPath` (its progress and warning callbacks are replaced), to be
    // sorted by `sortKey` and `order`. A scan still running is cancelled first; nothing of it
    // arrives any more, and its thread ends on its own.
    void start(ScanOptions options, int sortKey, Qt::SortOrder order);
    // Asks the running scan to stop at its next folder: stopped() follows, then finished() with
    // the rows found so far.
    void cancel();
    bool isRunning() const { return m_running; }
    // Blocks until every worker thread this object started has ended (tests, shutdown).
    void waitForThreads();

signals:
    // New rows in the order found; valid during the call only.
    void rowsFound(const treelan::ListingModel& rows);
    void progress(qint64 folders, qint64 entries, const QString& currentFolder);
    void warningsFound(const std::vector<treelan::Warning>& warnings);
    // The walk has ended after a cancel; the sorted rows follow with finished().
    void stopped();
    // Every row found, sorted; the receiver may take them (ListingModel::adoptRows). `error` is
    // the failure's message for Outcome::Failed.
    void finished(treelan::ListingModel& rows, treelan::ListingScan::Outcome outcome,
                  const QString& error);

private:
    struct Job;
    void collect();
    void reapOld();

    std::shared_ptr<Job> m_job;
    std::vector<std::shared_ptr<Job>> m_old; // cancelled, their threads still ending
    QTimer m_poll;
    bool m_running = false;
    bool m_stoppedSent = false;
};

} // namespace treelan
