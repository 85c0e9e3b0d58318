#include "listing/ListingScan.h"

#include "listing/ListingModel.h"
#include "platform/FileError.h"

#include <QElapsedTimer>

#include <exception>
#include <mutex>

namespace treelan {

// What one scan shares between its worker and this object's thread. Everything in it is handed
// over under `lock` (no event queue in between), so the hand-over is plain to a thread checker.
struct ListingScan::Job {
    struct Ending {
        Outcome outcome = Outcome::Complete;
        QString error;
    };

    std::mutex lock;
    std::deque<ListingModel::Store> pending; // batches since the last collection
    WalkProgress progress;
    bool progressNew = false;
    std::vector<Warning> warnings;
    bool stopped = false; // the walk ended after a cancel
    // Last: destroyed first, it joins the worker before the rest goes.
    std::unique_ptr<BackgroundJob<Ending>> worker;
};

// The worker's side of a scan: lists into a store of its own and hands the rows over whole.
class ListingScan::Worker {
public:
    Worker(ListingScan& scan, Job& job, const std::atomic<bool>& stop)
        : m_scan(scan), m_job(job), m_stop(stop) {
        m_staging.setSorted(false);
        m_clock.start();
    }

    Job::Ending run(ScanOptions options) {
        const ProgressCallback theirs = std::move(options.walk.progress);
        options.walk.progress = [&](const WalkProgress& p) {
            return atFolder(p) && (!theirs || theirs(p));
        };
        options.walk.stillWanted = [this] { return !m_stop; };
        options.walk.warning = [this](const QString& path, const QString& reason) {
            m_warnings.push_back({path, reason});
        };
        Job::Ending ending;
        try {
            FindFilesAPI(m_staging, options);
        } catch (const Cancelled&) {
            ending.outcome = Outcome::Cancelled;
        } catch (const FileError& e) {
            ending.outcome = Outcome::Failed;
            ending.error = e.message();
        } catch (const std::exception& e) {
            ending.outcome = Outcome::Failed;
            ending.error = QString::fromLocal8Bit(e.what());
        }
        if (ending.outcome != Outcome::Failed) handOver();
        std::lock_guard guard(m_job.lock);
        m_job.warnings.insert(m_job.warnings.end(), m_warnings.begin(), m_warnings.end());
        return ending;
    }

private:
    // After each folder: rows, counts and warnings go over; false stops the walk.
    bool atFolder(const WalkProgress& p) {
        const bool cancelled = m_stop;
        // The first rows go at once, later ones at most every kBatchMs.
        if (!cancelled && (m_batches == 0 || m_clock.elapsed() - m_lastRows >= kBatchMs) &&
            m_staging.rowCount() > 0) {
            handOver();
            m_lastRows = m_clock.elapsed();
        }
        {
            std::lock_guard guard(m_job.lock);
            m_job.progress = p;
            m_job.progressNew = true;
            m_job.warnings.insert(m_job.warnings.end(), m_warnings.begin(), m_warnings.end());
            m_warnings.clear();
            if (cancelled) m_job.stopped = true;
        }
        if (cancelled) // told at once, not at the next poll
            QMetaObject::invokeMethod(&m_scan, "collect", Qt::QueuedConnection);
        return !cancelled;
    }

    void handOver() {
        if (m_staging.rowCount() == 0) return;
        ListingModel::Store rows = m_staging.takeRows();
        ++m_batches;
        std::lock_guard guard(m_job.lock);
        m_job.pending.push_back(std::move(rows));
    }

    ListingScan& m_scan;
    Job& m_job;
    const std::atomic<bool>& m_stop;
    ListingModel m_staging; // this thread's own: the rows go out of it whole
    QElapsedTimer m_clock;
    qint64 m_lastRows = 0;
    int m_batches = 0; // hand-overs
    std::vector<Warning> m_warnings;
};

ListingScan::ListingScan(QObject* parent) : QObject(parent) {
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &ListingScan::collect);
}

ListingScan::~ListingScan() = default; // each job stops and joins its worker as it goes

void ListingScan::cancel() {
    if (m_job) m_job->worker->stop();
}

void ListingScan::dispose(ListingModel::Store rows) {
    if (!rows.rows.empty() || !rows.folders.texts.empty()) m_disposer.dispose(std::move(rows));
}

void ListingScan::reapOld() {
    std::erase_if(m_old, [](const std::shared_ptr<Job>& job) { return job->worker->ended(); });
    m_disposer.reap();
}

void ListingScan::start(ScanOptions options) {
    if (m_job) {
        // Nothing of it arrives any more; its thread ends on its own and is joined later.
        m_job->worker->stop();
        m_old.push_back(std::move(m_job));
    }
    reapOld();
    m_job = std::make_shared<Job>();
    m_running = true;
    m_poll.start();
    Job* job = m_job.get();
    // Once the worker has returned, its last rows are collected now rather than at the next
    // poll. (This object outlives the thread: its destructor joins it.)
    m_job->worker = std::make_unique<BackgroundJob<Job::Ending>>(
        [this, job, options = std::move(options)](const std::atomic<bool>& stop) {
            return Worker(*this, *job, stop).run(options);
        },
        this, "collect");
}

void ListingScan::collect() {
    reapOld();
    if (!m_job) {
        m_poll.stop();
        return;
    }
    const std::shared_ptr<Job> job = m_job; // a receiver may start another scan
    // Read before the rows: once it has ended, everything it handed over is in `pending`.
    const bool ended = job->worker->ended();
    if (!deliver(job) || !ended) return;
    const Job::Ending ending = job->worker->take();
    m_running = false;
    m_stoppedSent = false;
    m_poll.stop();
    m_job.reset();
    emit finished(ending.outcome, ending.error);
}

bool ListingScan::deliver(const std::shared_ptr<Job>& job) {
    std::deque<ListingModel::Store> batches;
    WalkProgress at;
    bool progressNew = false, stopNow = false;
    std::vector<Warning> found;
    {
        std::lock_guard guard(job->lock);
        batches.swap(job->pending);
        at = job->progress;
        progressNew = job->progressNew;
        job->progressNew = false;
        found.swap(job->warnings);
        stopNow = job->stopped && !m_stoppedSent;
    }
    if (progressNew) emit progress(at.folders, at.entries, at.currentFolder);
    if (job != m_job) return false;
    if (!found.empty()) emit warningsFound(found);
    if (job != m_job) return false;
    for (ListingModel::Store& rows : batches) {
        emit rowsFound(rows);
        if (job != m_job) { // a receiver started another scan: the rest goes unseen
            for (ListingModel::Store& left : batches)
                dispose(std::move(left));
            return false;
        }
    }
    if (stopNow) {
        m_stoppedSent = true;
        emit stopped();
    }
    return job == m_job;
}

} // namespace treelan
