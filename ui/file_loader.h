// CFileLoader: reads one capture file on a worker thread of its own, so that the window stays
// live while a big file comes in. The GUI thread hears of the progress and gets the capture
// (or the reason it could not be read) through queued calls; a new read or Cancel stops the
// one under way, and destroying the loader cancels and waits for its worker.
#pragma once

#include "file/capture_file.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

namespace quillon {

/// Lives on the GUI thread.
class CFileLoader : public QObject {
    Q_OBJECT
public:
    explicit CFileLoader(QObject* parent = nullptr);
    ~CFileLoader() override;
    CFileLoader(const CFileLoader&) = delete;
    CFileLoader& operator=(const CFileLoader&) = delete;

    /// Starts reading path (a file without a sample rate read at period, when given),
    /// cancelling a read under way.
    void Start(const QString& path, std::optional<SamplePeriod> period = std::nullopt);
    /// Stops the read under way; Finished then reports it as cancelled.
    void Cancel();
    [[nodiscard]] bool IsBusy() const { return m_bBusy; }
    [[nodiscard]] const QString& Path() const { return m_strPath; }

signals:
    /// Bytes read of the file's size, now and then while reading.
    void Progress(std::uint64_t done, std::uint64_t total);
    /// The capture read, or nullptr and why.
    void Finished(const quillon::CapturePtr& capture, const quillon::FileReadError& error);

private:
    struct Job;
    void StopWorker();

    std::shared_ptr<Job> m_job;
    std::thread m_worker;
    QString m_strPath;
    bool m_bBusy = false;
};

} // namespace quillon
