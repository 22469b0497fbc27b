// The viewer's decoding workers: one thread and one decoding process per runner, the latest
// request only; a thread per catalog request.
#include "ui/decode_runner.h"

#include "decode/decode_job.h"
#include "decode/decoder_process.h"
#include "session/thread_handoff.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace quillon {

namespace {

/// What a worker shares with its owner: a lock, the owner while it lives, and a descriptor
/// that stops the worker's process at once when written.
struct Link {
    std::mutex lock;
    QObject* owner = nullptr; ///< null once the owner is gone; guarded by lock
    int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() { ::close(stopFd); }

    /// Caller holds lock.
    void Stop() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(stopFd, &one, sizeof one);
    }
    /// Caller holds lock.
    void Drain() const {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(stopFd, &count, sizeof count);
    }
};

/// Gathers one stack's annotations into rows, stopping at the viewer's limit.
class CLaneSink : public AnnotationSink {
public:
    CLaneSink(std::vector<const DecoderInfo*> infos, std::size_t budget)
        : m_builder(std::move(infos), budget) {}
    bool Take(const Annotation& a) override { return m_builder.Add(a); }
    CLaneBuilder& Builder() { return m_builder; }

private:
    CLaneBuilder m_builder;
};

} // namespace

struct CDecodeRunner::Shared : Link {
    struct Job {
        std::uint64_t request = 0;
        CapturePtr capture;
        std::vector<DecoderStack> stacks;
        std::vector<std::vector<DecoderInfo>> infos;
    };
    std::condition_variable wake;
    std::optional<Job> pending; ///< guarded by lock
    bool quit = false;          ///< guarded by lock
    std::atomic<pid_t> pid{-1};

    /// The worker: waits for a job, runs it, reports it unless overtaken.
    static void Run(const std::shared_ptr<Shared>& self);
};

void CDecodeRunner::Shared::Run(const std::shared_ptr<Shared>& self) {
    CDecoderProcess process;
    process.SetStopFd(self->stopFd);
    while (true) {
        Job job;
        {
            std::unique_lock lock(self->lock);
            self->wake.wait(lock, [&] { return self->quit || self->pending.has_value(); });
            if (self->quit) {
                break;
            }
            job = std::move(*self->pending);
            self->pending.reset();
            self->Drain(); // stops meant for earlier jobs
        }
        auto results = std::make_shared<DecodedLanes>();
        bool stopped = false;
        std::size_t budget = kMaxAnnotations; // for the whole request
        for (std::size_t s = 0; s < job.stacks.size() && !stopped; ++s) {
            StackLanes out;
            std::vector<const DecoderInfo*> infos;
            for (const auto& info : job.infos[s]) {
                infos.push_back(&info);
            }
            std::string error;
            const auto decodeJob = MakeDecodeJob(job.capture, job.stacks[s], error);
            CLaneSink sink(infos, budget);
            std::optional<std::string> failure;
            if (!decodeJob) {
                failure = error;
            } else {
                std::string startError;
                if (!process.Start(startError)) {
                    failure = startError;
                } else {
                    self->pid = process.Pid();
                    const DecodeOutcome outcome = process.Decode(*decodeJob, sink);
                    // Stopped by the sink: the limit, which its rows say; else a new request.
                    stopped =
                        outcome.status == DecodeStatus::Stopped && !sink.Builder().LimitReached();
                    failure = outcome.error;
                }
            }
            self->pid = process.Pid();
            budget -= std::min(budget, sink.Builder().Count());
            for (auto& lane :
                 sink.Builder().Finish(failure, job.capture ? job.capture->SampleCount() : 0)) {
                out.lanes.push_back(std::make_shared<const AnnotationLane>(std::move(lane)));
            }
            out.error = failure;
            results->push_back(std::move(out));
        }
        if (stopped) {
            continue; // overtaken: the next request's results will come
        }
        std::lock_guard lock(self->lock);
        if (self->owner == nullptr || self->quit) {
            break;
        }
        if (self->pending) {
            continue; // overtaken while finishing
        }
        auto* owner = static_cast<CDecodeRunner*>(self->owner);
        const std::uint64_t request = job.request;
        CWorkerEvent::Post(owner, [owner, request, results] {
            if (request != owner->m_nLatest) {
                return;
            }
            owner->m_nFinished = request;
            emit owner->Decoded(request, results);
        });
    }
    process.Kill();
    self->pid = -1;
}

CDecodeRunner::CDecodeRunner(QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
    std::thread([shared = m_shared] { Shared::Run(shared); }).detach();
}

CDecodeRunner::~CDecodeRunner() {
    std::lock_guard lock(m_shared->lock);
    m_shared->owner = nullptr;
    m_shared->quit = true;
    m_shared->pending.reset();
    m_shared->Stop();
    m_shared->wake.notify_all();
}

std::uint64_t CDecodeRunner::Start(CapturePtr capture, std::vector<DecoderStack> stacks,
                                   std::vector<std::vector<DecoderInfo>> infos) {
    const std::uint64_t request = ++m_nLatest;
    std::lock_guard lock(m_shared->lock);
    m_shared->pending =
        Shared::Job{request, std::move(capture), std::move(stacks), std::move(infos)};
    m_shared->Stop(); // the running decode, if any, is for an older request
    m_shared->wake.notify_all();
    return request;
}

bool CDecodeRunner::event(QEvent* event) {
    return CWorkerEvent::Run(event) || QObject::event(event);
}

bool CCatalogLoader::event(QEvent* event) {
    return CWorkerEvent::Run(event) || QObject::event(event);
}

pid_t CDecodeRunner::ProcessId() const {
    return m_shared->pid;
}

struct CCatalogLoader::Shared : Link {};

CCatalogLoader::CCatalogLoader(std::vector<std::string> ids, bool all, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
    std::thread([shared = m_shared, ids = std::move(ids), all] {
        CDecoderProcess process;
        process.SetStopFd(shared->stopFd);
        auto infos = std::make_shared<std::vector<DecoderInfo>>();
        DecodeOutcome outcome = process.RequestCatalog(ids, all);
        if (outcome.status == DecodeStatus::Done) {
            outcome = process.ReceiveCatalog(*infos);
        }
        process.Kill();
        std::lock_guard lock(shared->lock);
        if (shared->owner == nullptr) {
            return;
        }
        QString error;
        if (outcome.status != DecodeStatus::Done) {
            error = QString::fromStdString(outcome.error.value_or("stopped"));
        } else if (all && infos->empty()) {
            error = QStringLiteral("libsigrokdecode found no protocol decoders");
        }
        auto* owner = static_cast<CCatalogLoader*>(shared->owner);
        CWorkerEvent::Post(owner, [owner, infos, error] { emit owner->Loaded(infos, error); });
    }).detach();
}

CCatalogLoader::~CCatalogLoader() {
    std::lock_guard lock(m_shared->lock);
    m_shared->owner = nullptr;
    m_shared->Stop();
}

} // namespace quillon
