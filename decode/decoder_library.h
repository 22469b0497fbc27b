// The protocol decoding library (libsigrokdecode and its Python decoders): started once per
// process, its decoders listed, stacks of them run over a capture. The only code that sees the
// library or Python.
#pragma once

#include "capture/capture_data.h"
#include "decode/decoder_args.h"
#include "decode/decoder_info.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace quillon {

class CDecoderLibrary {
public:
    /// The process's library, started on first use (loads every installed decoder; some
    /// hundred milliseconds). Any thread.
    static CDecoderLibrary& Instance();

    CDecoderLibrary(const CDecoderLibrary&) = delete;
    CDecoderLibrary& operator=(const CDecoderLibrary&) = delete;

    /// Empty when the library started; otherwise why it did not (then no decoders are listed).
    [[nodiscard]] const std::string& StartError() const { return m_strStartError; }
    /// The installed decoders sorted by id. Fixed after start-up; any thread.
    [[nodiscard]] const std::vector<DecoderInfo>& Decoders() const { return m_decoders; }
    [[nodiscard]] const DecoderInfo* FindDecoder(const std::string& id) const;
    /// FindDecoder of the process's library, for the argument parsers.
    static DecoderLookup Lookup();

    /// Runs stack over capture at the capture's own sample rate. A decoder's error ends only
    /// this stack (DecodeResult::error); cancel, when set, stops between chunks of samples.
    /// Blocks the calling thread; decodes run one at a time. Call from any thread but the GUI.
    DecodeResult Decode(const CaptureData& capture, const DecoderStack& stack,
                        const std::atomic<bool>* cancel = nullptr);

    /// For the library's log hook: keeps error messages of the running decode.
    void NoteError(const char* message);

private:
    CDecoderLibrary();
    ~CDecoderLibrary();

    std::string m_strStartError;
    std::vector<DecoderInfo> m_decoders;
    std::mutex m_decodeLock; // the library's log hook and sessions are process-wide
    std::mutex m_errorLock;  // the decoders' threads log while Decode waits
    std::vector<std::string> m_errors;
};

} // namespace quillon
