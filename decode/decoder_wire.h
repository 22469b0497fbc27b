// The messages between a program and its decoding process (quillon-decoder) on a local
// stream socket. Each message is a 32-bit length (of what follows), a type byte and the
// fields, little-endian. Toolkit-free and library-free: both ends use it.
//
//   program -> process                     process -> program
//   Load ids                               Catalog decoders (those found)
//   ListAll                                Catalog decoders (all installed)
//   Decode stack rate unitSize             Started instanceIds
//     { Stretch first count, Rows ... }    Annotations (a batch) ...
//   End                                    Done error recycle
//                                          Failure text (the process cannot decode at all)
#pragma once

#include "decode/decoder_info.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::wire {

enum class Type : std::uint8_t {
    // To the process.
    Load = 1,
    ListAll = 2,
    Decode = 3,
    Stretch = 4,
    Rows = 5,
    End = 6,
    // To the program.
    Catalog = 20,
    Started = 21,
    Annotations = 22,
    Done = 23,
    Failure = 24,
};

/// Bytes of the length field and of the type that follows it.
inline constexpr std::size_t kHeaderBytes = 5;
/// No message is longer: a larger length means the stream is corrupt.
inline constexpr std::uint32_t kMaxMessageBytes = 64u << 20;
/// Samples per Rows message.
inline constexpr std::int64_t kRowsPerMessage = 65536;

/// Appends fields to a message; Finish() fills in its length.
class Writer {
public:
    explicit Writer(Type type);
    void U8(std::uint8_t v);
    void U32(std::uint32_t v);
    void I64(std::int64_t v);
    void F64(double v);
    void Str(std::string_view v);
    void Bytes(const std::uint8_t* data, std::size_t size);
    /// The message, ready to send.
    const std::string& Finish();

private:
    std::string m_bytes;
};

/// Reads the fields of one message; any read past its end sets Failed() and yields zeros.
class Reader {
public:
    explicit Reader(std::string_view payload) : m_rest(payload) {}
    std::uint8_t U8();
    std::uint32_t U32();
    std::int64_t I64();
    double F64();
    std::string_view Str();
    std::string_view Bytes(std::size_t size);
    /// A count of items that follow; above max the message is corrupt (Failed, 0).
    std::uint32_t Count(std::uint32_t max);
    [[nodiscard]] bool Failed() const { return m_bFailed; }
    [[nodiscard]] bool AtEnd() const { return m_rest.empty(); }

private:
    bool Take(std::size_t size, const char*& at);
    std::string_view m_rest;
    bool m_bFailed = false;
};

/// A complete message at the front of buffer: its type and fields. nullopt while incomplete;
/// a length beyond kMaxMessageBytes sets corrupt.
struct Message {
    Type type;
    std::string_view payload;
    std::size_t size; ///< bytes of the whole message in the buffer
};
std::optional<Message> NextMessage(std::string_view buffer, bool& corrupt);

void PutDecoderInfo(Writer& w, const DecoderInfo& info);
DecoderInfo GetDecoderInfo(Reader& r);
void PutStack(Writer& w, const DecoderStack& stack);
DecoderStack GetStack(Reader& r);
void PutStrings(Writer& w, const std::vector<std::string>& texts);
std::vector<std::string> GetStrings(Reader& r);

/// One annotation inside an Annotations batch (texts as views into the message).
void PutAnnotation(Writer& w, const Annotation& a);
void GetAnnotation(Reader& r, Annotation& a);

} // namespace quillon::wire
