#include "listing/ListingScan.h"

#include "listing/ListingModel.h"
#include "platform/FileError.h"

#include <QElapsedTimer>

#include <algorithm>

#include <exception>
#include <mutex>
#include <thread>

namespace treelan {

// What one scan shares between its worker and this object's thread. Everything in it is handed
// over under `lock` (no event queue in between), so the hand-over is plain to a thread checker.
struct ListingScan::Job {
    std::atomic<bool> cancel{false};
    std::thread worker;
    // Made on the owning thread; only the worker touches them until `ended`.
    std::unique_ptr<ListingModel> staging;
    std::unique_ptr<ListingModel> filling; // the next batch, copied outside the lock
    std::function<void(int)> pause;

    std::mutex lock;
    std::unique_ptr<ListingModel> pending; // rows since the last hand-over, in a batch
    WalkProgress progress;
    bool progressNew = false;
    std::vector<Warning> warnings;
    bool stopped = false; // the walk ended after a cancel
    bool ended = false;   // the worker wrote its outcome and returns
    Outcome outcome = Outcome::Complete;
    QString error;
};

namespace {

// A store for rows in transit: made on the owning thread in a batch, so that the worker's
// additions signal nothing.
std::unique_ptr<ListingModel> emptyBatch() {
    auto rows = std::make_unique<ListingModel>();
    rows->setSorted(false);
    rows->beginBatch();
    return rows;
}

} // namespace

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

void ListingScan::setWorkerPause(std::function<void(int)> pause) {
    m_pause = std::move(pause);
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

void ListingScan::start(ScanOptions options, int sortKey, Qt::SortOrder order) {
    if (m_job) {
        // Nothing of it arrives any more; its thread ends on its own and is joined later.
        m_job->cancel = true;
        m_old.push_back(std::move(m_job));
    }
    reapOld();
    auto job = std::make_shared<Job>();
    job->staging = std::make_unique<ListingModel>();
    job->staging->sort(sortKey, order);
    job->pending = emptyBatch();
    job->filling = emptyBatch();
    job->pause = m_pause;
    m_job = job;
    m_inbox.clear();
    m_inboxNext = 0;
    m_poll.setInterval(kPollMs);
    m_running = true;
    m_poll.start();

    Job* j = job.get();
    job->worker = std::thread([j, options = std::move(options)] {
        ListingModel& staging = *j->staging;
        ScanOptions scan = options;
        QElapsedTimer clock;
        clock.start();
        qint64 lastRows = 0;
        int sent = 0;    // rows
        int batches = 0; // hand-overs
        std::vector<Warning> warnings;

        scan.walk.progress = [&](const WalkProgress& p) {
            const bool cancelled = j->cancel;
            // The first rows go at once, later ones at most every kBatchMs. They are copied
            // before taking the lock, which the owning thread then waits for only for a swap.
            const bool rows = !cancelled && staging.rowCount() > sent &&
                              (sent == 0 || clock.elapsed() - lastRows >= kBatchMs);
            if (rows) {
                j->filling->appendRowsFrom(staging, sent, staging.rowCount() - sent);
                sent = staging.rowCount();
                lastRows = clock.elapsed();
            }
            {
                std::lock_guard guard(j->lock);
                j->progress = p;
                j->progressNew = true;
                j->warnings.insert(j->warnings.end(), warnings.begin(), warnings.end());
                warnings.clear();
                if (cancelled) {
                    j->stopped = true;
                    return false;
                }
                if (j->filling->rowCount() > 0) {
                    ++batches;
                    if (j->pending->rowCount() == 0) {
                        std::swap(j->filling, j->pending);
                    } else { // not collected yet: rare, the owning thread looks every kPollMs
                        j->pending->appendRowsFrom(*j->filling, 0, j->filling->rowCount());
                        j->filling->clear();
                    }
                }
            }
            if (j->pause) j->pause(batches);
            return true;
        };
        scan.walk.warning = [&](const QString& path, const QString& reason) {
            warnings.push_back({path, reason});
        };

        Outcome outcome = Outcome::Complete;
        QString error;
        try {
            RefreshListing(staging, scan); // sorts once at its end, here on the worker
        } catch (const Cancelled&) {
            outcome = Outcome::Cancelled;
        } catch (const FileError& e) {
            outcome = Outcome::Failed;
            error = e.message();
        } catch (const std::exception& e) {
            outcome = Outcome::Failed;
            error = QString::fromLocal8Bit(e.what());
        }
        std::lock_guard guard(j->lock);
        j->warnings.insert(j->warnings.end(), warnings.begin(), warnings.end());
        j->outcome = outcome;
        j->error = error;
        j->ended = true;
    });
}

bool ListingScan::handOverSlices() {
    // A batch of tens of thousands of rows is handed over in slices, a few milliseconds of the
    // receiver's work at a time; the rest follows as soon as the event loop has had its turn.
    QElapsedTimer clock;
    clock.start();
    const std::shared_ptr<Job> job = m_job;
    while (!m_inbox.empty() && clock.elapsed() < kSliceMs) {
        const ListingModel& batch = *m_inbox.front();
        const int count = std::min(kSliceRows, batch.rowCount() - m_inboxNext);
        emit rowsFound(batch, m_inboxNext, count);
        if (job != m_job) return false; // a receiver started another scan
        m_inboxNext += count;
        if (m_inboxNext == batch.rowCount()) {
            m_inbox.pop_front();
            m_inboxNext = 0;
        }
    }
    m_poll.setInterval(m_inbox.empty() ? kPollMs : 0);
    return true;
}

void ListingScan::collect() {
    reapOld();
    if (!m_job) {
        m_poll.stop();
        return;
    }
    const std::shared_ptr<Job> job = m_job; // a receiver may start another scan
    std::unique_ptr<ListingModel> rows = emptyBatch();
    WalkProgress at;
    bool progressNew = false, stopNow = false, ended = false;
    std::vector<Warning> found;
    {
        std::lock_guard guard(job->lock);
        std::swap(rows, job->pending);
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
    // Rows still in transit at the end come with the sorted whole.
    if (ended) {
        m_inbox.clear();
        m_inboxNext = 0;
    } else {
        if (rows->rowCount() > 0) m_inbox.push_back(std::move(rows));
        if (!handOverSlices() || job != m_job) return;
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
    m_poll.setInterval(kPollMs);
    m_job.reset();
    emit finished(*job->staging, job->outcome, job->error);
}

} // namespace treelan
