#include "listing/ListingScan.h"

#include "listing/ListingModel.h"
#include "platform/FileError.h"

#include <QElapsedTimer>

#include <exception>
#include <mutex>
#include <thread>

namespace treelan {

// What one scan shares between its worker and this object's thread. Everything in it is handed
// over under `lock` (no event queue in between), so the hand-over is plain to a thread checker.
struct ListingScan::Job {
    std::atomic<bool> cancel{false};
    std::thread worker;

    std::mutex lock;
    std::deque<ListingModel::Store> pending; // batches since the last collection
    WalkProgress progress;
    bool progressNew = false;
    std::vector<Warning> warnings;
    bool stopped = false; // the walk ended after a cancel
    bool ended = false;   // the worker wrote its outcome and returns
    Outcome outcome = Outcome::Complete;
    QString error;
};

struct ListingScan::Disposal {
    std::thread thread;
    std::atomic<bool> done{false};
};

ListingScan::ListingScan(QObject* parent) : QObject(parent) {
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &ListingScan::collect);
}

ListingScan::~ListingScan() {
    if (m_job) m_job->cancel = true;
    for (auto& job : m_old)
        job->cancel = true;
    waitForThreads();
}

void ListingScan::cancel() {
    if (m_job) m_job->cancel = true;
}

void ListingScan::waitForThreads() {
    if (m_job && m_job->worker.joinable()) m_job->worker.join();
    for (auto& job : m_old)
        if (job->worker.joinable()) job->worker.join();
    m_old.clear();
    for (auto& d : m_disposals)
        d->thread.join();
    m_disposals.clear();
}

void ListingScan::dispose(ListingModel::Store rows) {
    if (rows.rows.empty() && rows.folders.texts.empty()) return;
    auto d = std::make_unique<Disposal>();
    Disposal* at = d.get();
    d->thread = std::thread([at, rows = std::move(rows)]() mutable {
        { const ListingModel::Store gone = std::move(rows); }
        at->done = true;
    });
    m_disposals.push_back(std::move(d));
}

void ListingScan::reapOld() {
    for (auto it = m_old.begin(); it != m_old.end();) {
        bool ended = false;
        {
            std::lock_guard guard((*it)->lock);
            ended = (*it)->ended;
        }
        if (ended) {
            (*it)->worker.join(); // it has only to return
            it = m_old.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_disposals.begin(); it != m_disposals.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = m_disposals.erase(it);
        } else {
            ++it;
        }
    }
}

void ListingScan::start(ScanOptions options) {
    if (m_job) {
        // Nothing of it arrives any more; its thread ends on its own and is joined later.
        m_job->cancel = true;
        m_old.push_back(std::move(m_job));
    }
    reapOld();
    auto job = std::make_shared<Job>();
    m_job = job;
    m_running = true;
    m_poll.start();

    Job* j = job.get();
    job->worker = std::thread([this, j, options = std::move(options)] {
        ListingModel staging; // this thread's own: the rows go out of it whole
        staging.setSorted(false);
        ScanOptions scan = options;
        QElapsedTimer clock;
        clock.start();
        qint64 lastRows = 0;
        int batches = 0; // hand-overs
        std::vector<Warning> warnings;
        auto handOver = [&] {
            if (staging.rowCount() == 0) return;
            ListingModel::Store rows = staging.takeRows();
            ++batches;
            std::lock_guard guard(j->lock);
            j->pending.push_back(std::move(rows));
        };

        scan.walk.progress = [&](const WalkProgress& p) {
            const bool cancelled = j->cancel;
            // The first rows go at once, later ones at most every kBatchMs.
            if (!cancelled && (batches == 0 || clock.elapsed() - lastRows >= kBatchMs) &&
                staging.rowCount() > 0) {
                handOver();
                lastRows = clock.elapsed();
            }
            {
                std::lock_guard guard(j->lock);
                j->progress = p;
                j->progressNew = true;
                j->warnings.insert(j->warnings.end(), warnings.begin(), warnings.end());
                warnings.clear();
                if (cancelled) j->stopped = true;
            }
            if (cancelled) { // told at once, not at the next poll
                QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
                return false;
            }
            return !options.walk.progress || options.walk.progress(p);
        };
        scan.walk.warning = [&](const QString& path, const QString& reason) {
            warnings.push_back({path, reason});
        };

        Outcome outcome = Outcome::Complete;
        QString error;
        try {
            FindFilesAPI(staging, scan);
        } catch (const Cancelled&) {
            outcome = Outcome::Cancelled;
        } catch (const FileError& e) {
            outcome = Outcome::Failed;
            error = e.message();
        } catch (const std::exception& e) {
            outcome = Outcome::Failed;
            error = QString::fromLocal8Bit(e.what());
        }
        if (outcome != Outcome::Failed) handOver();
        {
            std::lock_guard guard(j->lock);
            j->warnings.insert(j->warnings.end(), warnings.begin(), warnings.end());
            j->outcome = outcome;
            j->error = error;
            j->ended = true;
        }
        // The last rows are collected now rather than at the next poll. (This object outlives
        // the thread: its destructor joins it. Asked by name, the event is made and freed inside
        // Qt alone: nothing of ours crosses the event queue, whose lock a thread checker cannot
        // see.)
        QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
    });
}

void ListingScan::collect() {
    reapOld();
    if (!m_job) {
        m_poll.stop();
        return;
    }
    const std::shared_ptr<Job> job = m_job; // a receiver may start another scan
    std::deque<ListingModel::Store> batches;
    WalkProgress at;
    bool progressNew = false, stopNow = false, ended = false;
    std::vector<Warning> found;
    {
        std::lock_guard guard(job->lock);
        batches.swap(job->pending);
        at = job->progress;
        progressNew = job->progressNew;
        job->progressNew = false;
        found.swap(job->warnings);
        stopNow = job->stopped && !m_stoppedSent;
        ended = job->ended;
    }
    if (progressNew) emit progress(at.folders, at.entries, at.currentFolder);
    if (job != m_job) return;
    if (!found.empty()) emit warningsFound(found);
    if (job != m_job) return;
    for (ListingModel::Store& rows : batches) {
        emit rowsFound(rows);
        if (job != m_job) { // a receiver started another scan: the rest goes unseen
            for (ListingModel::Store& left : batches)
                dispose(std::move(left));
            return;
        }
    }
    if (stopNow) {
        m_stoppedSent = true;
        emit stopped();
    }
    if (!ended || job != m_job) return;
    job->worker.join();
    m_running = false;
    m_stoppedSent = false;
    m_poll.stop();
    m_job.reset();
    emit finished(job->outcome, job->error);
}

} // namespace treelan
