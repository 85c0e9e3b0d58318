#pragma once

#include "listing/FolderScan.h"
#include "listing/ListingModel.h"
#include "platform/BackgroundJob.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

namespace treelan {

// An entry that could not be read, and why; collected instead of stopping the work.
struct Warning {
    QString path;
    QString reason;
};

// A listing refresh on a worker thread. The worker lists into a store of its own and hands the
// rows found so far over whole (no copy) at most every kBatchMs, the first ones at once; this
// object's thread collects them, the counts and the warnings every kPollMs. The rows arrive in
// the order found; the receiver sorts them at the end (ListingModel::sortInBackground). Signals
// arrive on the thread that owns this object, and only for the latest start().
class ListingScan : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Complete, Cancelled, Failed };
    static constexpr int kBatchMs = 200;
    // How often the owning thread collects what the worker found: rows, counts, warnings.
    static constexpr int kPollMs = 50;

    explicit ListingScan(QObject* parent = nullptr);
    // Cancels a running scan and waits for its thread.
    ~ListingScan() override;

    // Starts listing `options.rootPath`. Its warning callback is replaced; its progress callback,
    // when set, is called on the worker after each folder's own hand-over (false cancels). A scan
    // still running is cancelled first; nothing of it arrives any more, and its thread ends on
    // its own.
    void start(ScanOptions options);
    // Asks the running scan to stop at its next folder: stopped() follows, then finished() once
    // the rows found so far have arrived.
    void cancel();
    bool isRunning() const { return m_running; }
    // Frees `rows` on a thread of its own: freeing a million rows would hold up this one.
    void dispose(ListingModel::Store rows);

signals:
    // New rows in the order found; the receiver takes them (ListingModel::appendRows).
    void rowsFound(treelan::ListingModel::Store& rows);
    void progress(qint64 folders, qint64 entries, const QString& currentFolder);
    void warningsFound(const std::vector<treelan::Warning>& warnings);
    // The walk has ended after a cancel; finished() follows.
    void stopped();
    // Every row found has arrived. `error` is the failure's message for Outcome::Failed.
    void finished(treelan::ListingScan::Outcome outcome, const QString& error);

private:
    struct Job;
    class Worker;
    // Invokable by name: the worker asks for it when it stops or ends.
    Q_INVOKABLE void collect();
    // Hands what the worker found to the receivers; false when one of them started another scan.
    bool deliver(const std::shared_ptr<Job>& job);
    void reapOld();

    std::shared_ptr<Job> m_job;
    std::vector<std::shared_ptr<Job>> m_old; // cancelled, their threads still ending
    Disposer m_disposer;
    QTimer m_poll;
    bool m_running = false;
    bool m_stoppedSent = false;
};

} // namespace treelan
