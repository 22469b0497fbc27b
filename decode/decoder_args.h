// The decoder arguments of the command line, in the field's usual spelling:
//   -P uart:rx=D8:baudrate=115200,eeprom24xx   (a stack: decoder, channel=name, option=value)
//   -A uart=rx-data:tx-data,i2c                (which annotation classes or rows to print)
// checked against the decoders' metadata and the capture's channel names. No library calls.
#pragma once

#include "decode/decoder_info.h"

#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace quillon {

/// Finds an installed decoder's metadata by id; nullptr when there is none.
using DecoderLookup = std::function<const DecoderInfo*(const std::string&)>;

/// A argument that did not parse; message names the decoder, channel, option or value at fault.
struct ArgError {
    std::string message;
};

/// The text as a value of option's kind and, when the decoder lists allowed values, one of
/// them; nullopt otherwise. A number whose default is above 0 (a baud rate, a frequency, a
/// word size) must be above 0 too: the decoders divide by such values.
std::optional<OptionValue> ParseOptionValue(const DecoderOption& option, const std::string& text);

/// The channels an argument may name: the capture's names (index = channel), and how many
/// channels there are ("Dn" and plain numbers below that count name a channel whatever it is
/// called). Without names, any Dn below kMaxDecodeChannels.
struct ChannelChoice {
    std::span<const std::string> names;
    int count = 0;
};

/// The most channels a saved decoder may name without a capture at hand.
inline constexpr int kMaxDecodeChannels = 1024;

/// The capture channel an argument names: a channel name of the capture ("rx", "D8"), a
/// number, or "Dn" whatever the channel is called; -1 when it names none.
int FindCaptureChannel(const ChannelChoice& channels, const std::string& text);

/// Parses a -P argument into a stack: the first decoder reads the channels, each further one the
/// output of the one before. Required channels must be mapped.
std::variant<DecoderStack, ArgError> ParseDecoderArg(const std::string& argument,
                                                     const DecoderLookup& lookup,
                                                     const ChannelChoice& channels);

/// Which annotations to print: per stack entry, the classes chosen (empty set: all). A
/// decoder the -A argument leaves out prints nothing once any -A is given.
struct AnnotationFilter {
    std::vector<std::optional<std::set<int>>> classes; ///< nullopt: print none of it

    /// Every annotation of every decoder: the command's default.
    static AnnotationFilter All(std::size_t decoders);
    [[nodiscard]] bool Shows(const Annotation& annotation) const;
};

/// Parses a -A argument for stack: decoder ids, each with classes or rows (by id) after '='.
std::variant<AnnotationFilter, ArgError> ParseAnnotationArg(const std::string& argument,
                                                            const DecoderStack& stack,
                                                            const DecoderLookup& lookup);

/// "uart:rx=D8:baudrate=115200": the argument that ParseDecoderArg reads back into stack
/// (channels as Dn), for saving a viewer's decoders.
std::string FormatDecoderArg(const DecoderStack& stack);

/// The decoder ids an argument names ("i2c:scl=D1,eeprom24xx" -> i2c, eeprom24xx), without
/// checking anything: what to load before the argument can be parsed.
std::vector<std::string> DecoderIdsOf(const std::string& argument);

/// The capture channels the first decoder of stack reads, ascending and each once.
std::vector<int> ChannelsOf(const DecoderStack& stack);

} // namespace quillon
