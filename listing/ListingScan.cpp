#include "listing/ListingScan.h"

#include "listing/ListingModel.h"
#include "platform/FileError.h"

#include <QElapsedTimer>
#include <QThread>

#include <exception>

namespace treelan {

struct ListingScan::Job {
    std::atomic<bool> cancel{false};
    quint64 generation = 0;
};

ListingScan::ListingScan(QObject* parent) : QObject(parent) {}

ListingScan::~ListingScan() {
    if (m_job) m_job->cancel = true;
    waitForThreads();
}

void ListingScan::cancel() {
    if (m_job) m_job->cancel = true;
}

void ListingScan::waitForThreads() {
    for (QThread* thread : m_threads) {
        thread->wait();
        delete thread;
    }
    m_threads.clear();
}

void ListingScan::start(ScanOptions options, int sortKey, Qt::SortOrder order) {
    if (m_job) m_job->cancel = true; // its posts are dropped by generation below
    // Threads that have ended are freed; one still winding down is left to end on its own.
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if ((*it)->isFinished()) {
            delete *it;
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
    auto job = std::make_shared<Job>();
    job->generation = ++m_generation;
    m_job = job;
    m_running = true;

    // Made here, so it belongs to this thread, which deletes it; only the worker touches it
    // until it is handed back.
    auto staging = std::make_shared<ListingModel>();
    staging->sort(sortKey, order);
    QThread* owner = thread();

    QThread* worker = QThread::create([this, options = std::move(options), job, staging, owner] {
        ScanOptions scan = options;
        QElapsedTimer clock;
        clock.start();
        qint64 lastPost = 0;
        qint64 lastProgress = 0;
        int sent = 0;
        WalkProgress current;
        std::vector<Warning> warnings;

        // Hands the rows since the last batch over, with the progress and warnings so far.
        auto post = [&] {
            auto rows = std::make_shared<ListingModel>();
            rows->appendRowsFrom(*staging, sent, staging->rowCount() - sent);
            sent = staging->rowCount();
            rows->moveToThread(owner);
            // Moved into the call, so the last reference dies on the receiving thread.
            QMetaObject::invokeMethod(
                this,
                [this, job, rows = std::move(rows), at = current, found = std::move(warnings)] {
                    if (job->generation != m_generation) return;
                    emit progress(at.folders, at.entries, at.currentFolder);
                    if (!found.empty()) emit warningsFound(found);
                    if (rows->rowCount() > 0) emit rowsFound(*rows);
                },
                Qt::QueuedConnection);
            warnings.clear();
            lastPost = lastProgress = clock.elapsed();
        };
        auto postProgress = [&] {
            QMetaObject::invokeMethod(
                this,
                [this, job, at = current] {
                    if (job->generation == m_generation)
                        emit progress(at.folders, at.entries, at.currentFolder);
                },
                Qt::QueuedConnection);
            lastProgress = clock.elapsed();
        };
        scan.progress = [&](const WalkProgress& p) {
            current = p;
            if (job->cancel) {
                QMetaObject::invokeMethod(
                    this,
                    [this, job] {
                        if (job->generation == m_generation) emit stopped();
                    },
                    Qt::QueuedConnection);
                return false;
            }
            // The first rows go at once, later ones at most every kBatchMs; the counts more often.
            if ((sent == 0 && staging->rowCount() > 0) || clock.elapsed() - lastPost >= kBatchMs)
                post();
            else if (clock.elapsed() - lastProgress >= kProgressMs)
                postProgress();
            return true;
        };
        scan.warning = [&](const QString& path, const QString& reason) {
            warnings.push_back({path, reason});
        };

        Outcome outcome = Outcome::Complete;
        QString error;
        try {
            RefreshListing(*staging, scan); // sorts once at its end, here on the worker
        } catch (const Cancelled&) {
            outcome = Outcome::Cancelled;
        } catch (const FileError& e) {
            outcome = Outcome::Failed;
            error = e.message();
        } catch (const std::exception& e) {
            outcome = Outcome::Failed;
            error = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, job, staging, outcome, error, at = current, found = std::move(warnings)] {
                if (job->generation != m_generation) return;
                m_running = false;
                if (!found.empty()) emit warningsFound(found);
                emit progress(at.folders, at.entries, at.currentFolder);
                emit finished(*staging, outcome, error);
            },
            Qt::QueuedConnection);
    });
    m_threads.push_back(worker);
    worker->start();
}

} // namespace treelan
