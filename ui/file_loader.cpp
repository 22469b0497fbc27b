// Reading a capture file off the GUI thread.
#include "ui/file_loader.h"

#include "session/thread_handoff.h"

#include <QFile>

#include <chrono>

namespace quillon {

namespace {
// Progress reaches the window at most this often: a repaint per report is plenty.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
} // namespace

struct CFileLoader::Job {
    std::atomic<bool> cancel{false};
    /// Worker only: when progress was last reported.
    std::chrono::steady_clock::time_point lastReport;
};

CFileLoader::CFileLoader(QObject* parent) : QObject(parent) {}

CFileLoader::~CFileLoader() {
    StopWorker();
}

void CFileLoader::StopWorker() {
    if (m_job) {
        m_job->cancel = true;
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CFileLoader::Cancel() {
    if (m_job) {
        m_job->cancel = true;
    }
}

void CFileLoader::Start(const QString& path, std::optional<SamplePeriod> period) {
    StopWorker();
    auto job = std::make_shared<Job>();
    m_job = job;
    m_strPath = path;
    m_bBusy = true;
    const std::string file = QFile::encodeName(path).toStdString();
    m_worker = std::thread([this, job, file, period] {
        ReadOptions options;
        options.period = period;
        options.progress = [this, job](std::uint64_t done, std::uint64_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - job->lastReport >= kProgressInterval) {
                job->lastReport = now;
                QMetaObject::invokeMethod(
                    this,
                    [this, job, done, total] {
                        if (job == m_job) {
                            emit Progress(done, total);
                        }
                    },
                    Qt::QueuedConnection);
            }
            return !job->cancel;
        };
        auto result = std::make_shared<std::pair<CapturePtr, FileReadError>>();
        result->first = ReadCaptureFile(file, options, result->second);
        QUILLON_HANDOFF_SENT(result.get());
        QMetaObject::invokeMethod(
            this,
            [this, job, result, file] {
                QUILLON_HANDOFF_RECEIVED(result.get());
                if (job != m_job) {
                    return; // a later read took its place
                }
                m_bBusy = false;
                if (job->cancel) {
                    // Asked to stop, if only after the last byte: not wanted any more.
                    result->first.reset();
                    result->second = {FileReadError::Kind::Cancelled, file, 0, "cancelled"};
                }
                emit Finished(result->first, result->second);
            },
            Qt::QueuedConnection);
    });
}

} // namespace quillon
