// What a protocol decoder is (its metadata), how the user set one up, and what it found: plain
// values without the decoding library, for the command, the viewer and the tests alike.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillon {

/// An option's value: the decoders take whole numbers, numbers and texts.
using OptionValue = std::variant<std::int64_t, double, std::string>;

/// The value as the decoders' own listings spell it: 115200, 1.5, none.
std::string OptionValueText(const OptionValue& value);

struct DecoderChannel {
    std::string id;   ///< "rx"
    std::string name; ///< "RX"
    std::string desc; ///< "UART receive line"
};

struct DecoderOption {
    std::string id;
    std::string desc;
    OptionValue def;
    std::vector<OptionValue> values; ///< the allowed values; empty: any of def's kind
};

struct AnnotationClass {
    std::string id;   ///< "rx-data"
    std::string desc; ///< "RX data"
};

struct AnnotationRow {
    std::string id;
    std::string desc;
    std::vector<int> classes; ///< indices into DecoderInfo::classes
};

/// One installed decoder as its Python module describes it.
struct DecoderInfo {
    std::string id;
    std::string name;
    std::string longname;
    std::string desc;
    std::vector<std::string> inputs;  ///< "logic" for decoders that read the channels
    std::vector<std::string> outputs; ///< what decoders stacked on this one read
    std::vector<DecoderChannel> channels;
    std::vector<DecoderChannel> optChannels;
    std::vector<DecoderOption> options;
    std::vector<AnnotationClass> classes;
    std::vector<AnnotationRow> rows;

    /// The row that shows class cls: its first row, or -1 when no row names it.
    [[nodiscard]] int RowOfClass(int cls) const;
    [[nodiscard]] const DecoderOption* FindOption(const std::string& optionId) const;
    /// Required then optional channels; nullptr when the decoder has no channel channelId.
    [[nodiscard]] const DecoderChannel* FindChannel(const std::string& channelId) const;
    /// Whether it reads the capture's channels (the first decoder of a stack must).
    [[nodiscard]] bool ReadsChannels() const;
    /// Whether it can be stacked on lower, reading lower's output.
    [[nodiscard]] bool CanStackOn(const DecoderInfo& lower) const;
};

/// One decoder of a stack as the user set it up.
struct DecoderSetup {
    std::string id;
    std::map<std::string, int> channels;        ///< decoder channel id -> capture channel Dn
    std::map<std::string, OptionValue> options; ///< only the options the user changed
    bool operator==(const DecoderSetup&) const = default;
};

/// A decoder reading the channels, then each further one reading the previous one's output.
using DecoderStack = std::vector<DecoderSetup>;

/// One result of a decoder as it arrives: a span of samples with its texts, longest first.
/// The texts belong to whoever hands the annotation over and are valid during that call.
struct Annotation {
    std::int64_t start = 0; ///< first sample
    std::int64_t end = 0;   ///< sample after the last (may equal start for a point)
    int decoder = 0;        ///< index into the stack
    int cls = 0;            ///< index into the decoder's classes
    int row = -1;           ///< index into the decoder's rows, -1 when no row names the class
    std::vector<std::string_view> texts;
};

} // namespace quillon
