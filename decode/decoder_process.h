// CDecoderProcess: the decoding process (quillon-decoder) seen from a program. Started on
// demand and kept for further requests; asked for decoder metadata and for decodes, whose
// annotations stream back as the decoders produce them; killed to stop at once, whatever a
// decoder is doing. No toolkit, no decoding library.
#pragma once

#include "capture/capture.h"
#include "decode/decoder_info.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillon {

/// The decoding process's program: $QUILLON_DECODER, else quillon-decoder beside the running
/// program, else ../libexec/quillon/quillon-decoder from there (as installed).
std::string DecoderHelperPath();

/// One stack over a capture, as the decoding process takes it.
struct DecodeJob {
    DecoderStack stack;     ///< the first decoder's channels are bit positions of the rows
    std::uint64_t rate = 0; ///< sample rate in hertz given to the decoders (> 0)
    int unitSize = 1;       ///< bytes per row
    std::vector<SampleRange> stretches; ///< the samples to decode, each on its own session
    /// Writes the rows of samples [first, first + count) (count * unitSize bytes) to out.
    std::function<void(std::int64_t first, std::int64_t count, std::uint8_t* out)> pack;
};

/// Receives a decode's results on the thread that called Decode.
class AnnotationSink {
public:
    virtual ~AnnotationSink() = default;
    /// The stack's instance ids ("uart-1"), before its first annotation.
    virtual void Started(const std::vector<std::string>& /*instanceIds*/) {}
    /// One annotation, its texts valid during the call. False stops the decode.
    virtual bool Take(const Annotation& annotation) = 0;
    /// A batch of annotations ended: a moment to pass them on.
    virtual void BatchEnd() {}
};

enum class DecodeStatus {
    Done,    ///< every stretch decoded, or a decoder failed (DecodeOutcome::error)
    Stopped, ///< the stop fd fired or the sink said stop: the process was killed
    Failed,  ///< the process could not start or ended on its own (DecodeOutcome::error)
};

struct DecodeOutcome {
    DecodeStatus status = DecodeStatus::Done;
    std::optional<std::string> error; ///< a decoder's message (Done), or why the process failed
};

/// One thread at a time uses it; the stop fd lets any other thread end a wait at once.
class CDecoderProcess {
public:
    explicit CDecoderProcess(std::string helperPath = DecoderHelperPath());
    ~CDecoderProcess();
    CDecoderProcess(const CDecoderProcess&) = delete;
    CDecoderProcess& operator=(const CDecoderProcess&) = delete;

    /// A descriptor whose readability (never read here) stops every wait: the process is
    /// killed and the call returns Stopped. -1: none.
    void SetStopFd(int fd) { m_nStopFd = fd; }
    /// The process's id while one runs, else -1.
    [[nodiscard]] pid_t Pid() const { return m_pid; }

    /// Starts the process unless it runs. False (error set) when it cannot be started.
    bool Start(std::string& error);
    /// Ends the process at once (SIGKILL) and reaps it. No-op when none runs.
    void Kill();
    /// Lets the process go without waiting for it, for a program about to end: it ends by
    /// itself once it sees the socket close, and with the program in any case.
    void Release();

    /// Asks for the metadata of the decoders named (loading them), or of every installed
    /// decoder (ids empty and all set), without waiting: the process loads while the caller
    /// works on. Then ReceiveCatalog.
    DecodeOutcome RequestCatalog(const std::vector<std::string>& ids, bool all = false);
    /// The answer to RequestCatalog: the decoders found.
    DecodeOutcome ReceiveCatalog(std::vector<DecoderInfo>& infos);

    /// Decodes job, handing the annotations to sink as they arrive. Blocks until done.
    DecodeOutcome Decode(const DecodeJob& job, AnnotationSink& sink);

private:
    enum class Wait { Ready, Stopped, Broken };
    /// Sends bytes whole, watching the stop fd.
    Wait SendAll(const std::string& bytes);
    /// Reads more from the socket into m_inbox, watching the stop fd.
    Wait ReadMore();
    /// Builds the outcome of a broken or stopped wait (and kills the process).
    DecodeOutcome Lost(Wait wait);

    std::string m_strPath;
    pid_t m_pid = -1;
    int m_nSocket = -1;
    int m_nStopFd = -1;
    std::string m_inbox;
};

} // namespace quillon
