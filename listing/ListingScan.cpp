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
    // Made on the owning thread; only the worker touches it until `ended`.
    std::unique_ptr<ListingModel> staging;

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
    m_job = job;
    m_running = true;
    m_poll.start();

    Job* j = job.get();
    job->worker = std::thread([j, options = std::move(options)] {
        ListingModel& staging = *j->staging;
        ScanOptions scan = options;
        QElapsedTimer clock;
        clock.start();
        qint64 lastRows = 0;
        int sent = 0;
        std::vector<Warning> warnings;

        scan.walk.progress = [&](const WalkProgress& p) {
            const bool cancelled = j->cancel;
            // The first rows go at once, later ones at most every kBatchMs.
            const bool rows =
                (sent == 0 && staging.rowCount() > 0) || clock.elapsed() - lastRows >= kBatchMs;
            std::lock_guard guard(j->lock);
            j->progress = p;
            j->progressNew = true;
            j->warnings.insert(j->warnings.end(), warnings.begin(), warnings.end());
            warnings.clear();
            if (cancelled) {
                j->stopped = true;
                return false;
            }
            if (rows && staging.rowCount() > sent) {
                j->pending->appendRowsFrom(staging, sent, staging.rowCount() - sent);
                sent = staging.rowCount();
                lastRows = clock.elapsed();
            }
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
    if (rows->rowCount() > 0) emit rowsFound(*rows);
    if (job != m_job) return;
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
    emit finished(*job->staging, job->outcome, job->error);
}

} // namespace treelan
