// The viewer's decoding worker: one thread, the latest request only.
#include "ui/decode_runner.h"

#include "decode/decoder_library.h"
#include "ui/thread_handoff.h"

#include <memory>

namespace quillon {

CDecodeRunner::CDecodeRunner(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::vector<quillon::DecodeResult>>();
    m_worker = std::thread([this] { RunWorker(); });
}

CDecodeRunner::~CDecodeRunner() {
    {
        std::lock_guard lock(m_lock);
        m_bQuit = true;
        m_pending.reset();
    }
    m_bCancel = true;
    m_wake.notify_all();
    m_worker.join();
}

std::uint64_t CDecodeRunner::Start(const CaptureData& capture,
                                   const std::vector<DecoderStack>& stacks) {
    const std::uint64_t request = ++m_nLatest;
    {
        std::lock_guard lock(m_lock);
        m_pending = Job{request, capture, stacks};
        m_bCancel = true; // the running decode, if any, is for an older request
    }
    m_wake.notify_all();
    return request;
}

void CDecodeRunner::RunWorker() {
    while (true) {
        Job job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_bQuit || m_pending.has_value(); });
            if (m_bQuit) {
                return;
            }
            job = std::move(*m_pending);
            m_pending.reset();
            m_bCancel = false;
        }
        auto results = std::make_shared<std::vector<DecodeResult>>();
        for (const auto& stack : job.stacks) {
            results->push_back(CDecoderLibrary::Instance().Decode(job.capture, stack, &m_bCancel));
        }
        if (m_bCancel || job.request != m_nLatest) {
            continue; // overtaken: the next request's results will come
        }
        QUILLON_HANDOFF_SENT(results.get());
        const std::uint64_t request = job.request;
        QMetaObject::invokeMethod(
            this,
            [this, request, results] {
                QUILLON_HANDOFF_RECEIVED(results.get());
                if (request != m_nLatest) {
                    return;
                }
                m_nFinished = request;
                emit Decoded(request, *results);
            },
            Qt::QueuedConnection);
    }
}

} // namespace quillon
