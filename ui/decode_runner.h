// CDecodeRunner: decodes a capture with the viewer's decoders on a worker thread of its own
// and hands the results to the GUI thread; a new capture cancels a decode still running.
#pragma once

#include "capture/capture_data.h"
#include "decode/decoder_info.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quillon {

/// Lives on the GUI thread; its worker only decodes.
class CDecodeRunner : public QObject {
    Q_OBJECT
public:
    explicit CDecodeRunner(QObject* parent = nullptr);
    ~CDecodeRunner() override;
    CDecodeRunner(const CDecodeRunner&) = delete;
    CDecodeRunner& operator=(const CDecodeRunner&) = delete;

    /// Decodes capture with each stack, replacing (and cancelling) any earlier request.
    /// Returns the request's number. GUI thread.
    std::uint64_t Start(const CaptureData& capture, const std::vector<DecoderStack>& stacks);
    /// The number of the latest request whose results have arrived (0: none yet).
    [[nodiscard]] std::uint64_t Finished() const { return m_nFinished; }

signals:
    /// The results of request, one per stack, on the GUI thread; earlier requests that were
    /// overtaken never report.
    void Decoded(std::uint64_t request, const std::vector<quillon::DecodeResult>& results);

private:
    struct Job {
        std::uint64_t request = 0;
        CaptureData capture;
        std::vector<DecoderStack> stacks;
    };
    void RunWorker();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::optional<Job> m_pending; // guarded by m_lock
    bool m_bQuit = false;         // guarded by m_lock
    std::atomic<bool> m_bCancel{false};
    std::atomic<std::uint64_t> m_nLatest{0};
    std::uint64_t m_nFinished = 0; // GUI thread
    std::thread m_worker;
};

} // namespace quillon

Q_DECLARE_METATYPE(std::vector<quillon::DecodeResult>)
