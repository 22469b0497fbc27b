// The decoder arguments of the command line, in the field's usual spelling:
//   -P uart:rx=D8:baudrate=115200,eeprom24xx   (a stack: decoder, channel=name, option=value)
//   -A uart=rx-data:tx-data,i2c                (which annotation classes or rows to print)
// checked against the decoders' metadata and the capture's channel names. No library calls.
#pragma once

#include "capture/capture_data.h"
#include "decode/decoder_info.h"

#include <functional>
#include <optional>
#include <set>
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
/// them; nullopt otherwise.
std::optional<OptionValue> ParseOptionValue(const DecoderOption& option, const std::string& text);

/// The capture channel a argument names: a channel name of the capture ("rx", "D8") or a number
/// 0..15, or "Dn" whatever the channel is called; -1 when it names none.
int FindCaptureChannel(const ChannelNames& names, const std::string& text);

/// Parses a -P argument into a stack: the first decoder reads the channels, each further one the
/// output of the one before. Required channels must be mapped.
std::variant<DecoderStack, ArgError> ParseDecoderArg(const std::string& argument,
                                                     const DecoderLookup& lookup,
                                                     const ChannelNames& names);

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

/// "uart:rx=D8:baudrate=115200": the argument that ParseDecoderArg reads back into stack (channels
/// as Dn), for
/// saving a viewer's decoders.
std::string FormatDecoderArg(const DecoderStack& stack);

} // namespace quillon
