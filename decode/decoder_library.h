// The protocol decoding library (libsigrokdecode and its Python decoders) inside the decoding
// process: started once, decoders loaded by name or all at once, a stack run over one stretch
// of samples at a time. The only code that sees the library or Python.
#pragma once

#include "decode/decoder_info.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

struct DecodeSession;

/// One decoding process has one library. Its main thread calls it; the decoders run on
/// threads of the library's own.
class CDecoderLibrary {
public:
    CDecoderLibrary();
    ~CDecoderLibrary();
    CDecoderLibrary(const CDecoderLibrary&) = delete;
    CDecoderLibrary& operator=(const CDecoderLibrary&) = delete;

    /// Empty when the library started; otherwise why it did not.
    [[nodiscard]] const std::string& StartError() const { return m_strStartError; }
    /// Loads the decoders named (those loaded already cost nothing); the metadata of those
    /// that exist, in the order named.
    std::vector<DecoderInfo> Load(const std::vector<std::string>& ids);
    /// Loads every installed decoder (a few hundred milliseconds); their metadata by id.
    std::vector<DecoderInfo> LoadAll();

    /// For the library's log hook: keeps error messages of the running decode.
    void NoteError(const char* message);
    /// The error messages since the last call, emptied.
    std::vector<std::string> TakeErrors();

    /// A session for stack on rows of unitSize bytes: one that ran it before (ended and
    /// reset), or a new one; null (errors noted) when it cannot be set up.
    std::unique_ptr<DecodeSession> TakeSession(const DecoderStack& stack, int unitSize,
                                               std::string& error);
    /// Keeps a session that ended well for the next decode of the same stack.
    void KeepSession(std::unique_ptr<DecodeSession> session);

private:
    /// Sessions kept for reuse, the most recent last.
    std::list<std::unique_ptr<DecodeSession>> m_sessions;
    std::string m_strStartError;
    std::mutex m_errorLock; // the decoders' threads log while the main thread waits
    std::vector<std::string> m_errors;
};

/// Receives the annotations of a decode, on a decoder's thread.
using AnnotationFn = std::function<void(const Annotation&)>;

/// One stack over one stretch of received samples: a session started afresh (reused from an
/// earlier stretch or capture where possible), fed rows of unitSize bytes (bit k of a row is
/// the stack's channel k) in order. Annotations are reported at their place in the capture
/// (offset added). Main thread of the process.
class CStretchDecode {
public:
    /// stack's channels are bit positions of the rows; rate in hertz (> 0).
    CStretchDecode(CDecoderLibrary& library, const DecoderStack& stack, std::uint64_t rate,
                   int unitSize, std::int64_t offset, AnnotationFn emit);
    ~CStretchDecode();
    CStretchDecode(const CStretchDecode&) = delete;
    CStretchDecode& operator=(const CStretchDecode&) = delete;

    /// The instance ids ("uart-1") per stack entry; empty when the set-up failed.
    [[nodiscard]] const std::vector<std::string>& InstanceIds() const { return m_instanceIds; }
    /// Feeds count rows. False once a decoder has failed (Finish says why).
    bool Send(const std::uint8_t* rows, std::int64_t count);
    /// Ends the stretch: the decoders stop, the session goes. A decoder's error (its Python
    /// message, first line), or nullopt.
    std::optional<std::string> Finish();

private:
    CDecoderLibrary& m_library;
    std::unique_ptr<DecodeSession> m_session;
    std::vector<std::string> m_instanceIds;
    std::optional<std::string> m_error;
    std::int64_t m_nSent = 0;
    int m_nUnitSize = 1;
};

} // namespace quillon
