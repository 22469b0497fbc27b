// The viewer's decoding off the GUI thread. CDecodeRunner decodes captures with the viewer's
// decoders in a decoding process of its own, on a worker thread, and hands the annotation
// rows to the GUI thread; a new request kills a decode still running (the process is started
// again for the next one), so a decoder that never returns costs nothing. CCatalogLoader asks
// a decoding process for decoder metadata the same way. Neither ever makes the GUI thread
// wait: their workers are left to end by themselves when their owner goes.
#pragma once

#include "capture/capture.h"
#include "decode/annotation_layout.h"
#include "decode/decoder_info.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillon {

/// One stack's result: its rows, or why it could not run.
struct StackLanes {
    std::vector<std::shared_ptr<const AnnotationLane>> lanes;
    std::optional<std::string> error;
};
using DecodedLanes = std::vector<StackLanes>; ///< one per stack of the request

/// Lives on the GUI thread; its worker only decodes.
class CDecodeRunner : public QObject {
    Q_OBJECT
public:
    explicit CDecodeRunner(QObject* parent = nullptr);
    /// Tells the worker to kill its process and end; does not wait for it.
    ~CDecodeRunner() override;
    CDecodeRunner(const CDecodeRunner&) = delete;
    CDecodeRunner& operator=(const CDecodeRunner&) = delete;

    /// Decodes capture with each stack (infos[i]: the metadata of stack i's decoders),
    /// replacing and cancelling any earlier request; no stacks just cancels. Returns the
    /// request's number. GUI thread.
    std::uint64_t Start(CapturePtr capture, std::vector<DecoderStack> stacks,
                        std::vector<std::vector<DecoderInfo>> infos);
    /// The number of the latest request whose results have arrived (0: none yet).
    [[nodiscard]] std::uint64_t Finished() const { return m_nFinished; }
    /// The decoding process's id while one runs, else -1 (for tests). Any thread.
    [[nodiscard]] pid_t ProcessId() const;

protected:
    bool event(QEvent* event) override; ///< the worker's results

signals:
    /// The results of request on the GUI thread; earlier requests that were overtaken never
    /// report.
    void Decoded(std::uint64_t request, std::shared_ptr<const quillon::DecodedLanes> lanes);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::uint64_t m_nLatest = 0;
    std::uint64_t m_nFinished = 0;
};

/// Asks a decoding process of its own for the metadata of some decoders or of all, on a
/// thread of its own; reports once. Destroying it abandons the request (the process is
/// killed). GUI thread.
class CCatalogLoader : public QObject {
    Q_OBJECT
public:
    /// ids: the decoders to load; all: every installed decoder instead.
    CCatalogLoader(std::vector<std::string> ids, bool all, QObject* parent = nullptr);
    ~CCatalogLoader() override;
    CCatalogLoader(const CCatalogLoader&) = delete;
    CCatalogLoader& operator=(const CCatalogLoader&) = delete;

protected:
    bool event(QEvent* event) override; ///< the worker's answer

signals:
    /// The decoders found (error empty), or why there are none.
    void Loaded(std::shared_ptr<const std::vector<quillon::DecoderInfo>> decoders,
                const QString& error);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace quillon
