// Reading and writing the command line's decoder and annotation arguments.
#include "decode/decoder_args.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace quillon {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

std::optional<std::int64_t> ParseInteger(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseNumber(const std::string& text) {
    if (text.empty() || text.find_first_of(" \t") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || value != value) {
        return std::nullopt;
    }
    return value;
}

bool IsPositive(const OptionValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return *i > 0;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return *d > 0.0;
    }
    return false;
}

std::string AllowedText(const DecoderOption& option) {
    std::string out;
    for (const auto& v : option.values) {
        out += (out.empty() ? "" : ", ") + OptionValueText(v);
    }
    return out;
}

/// What an option takes, for the message that refuses a value.
std::string ExpectedText(const DecoderOption& option) {
    if (!option.values.empty()) {
        return "one of " + AllowedText(option);
    }
    const char* kind = std::holds_alternative<std::int64_t>(option.def) ? "a whole number"
                       : std::holds_alternative<double>(option.def)     ? "a number"
                                                                        : "a text";
    if (IsPositive(option.def)) {
        return std::string(kind) + " above 0, like its default " + OptionValueText(option.def);
    }
    return kind;
}

} // namespace

std::optional<OptionValue> ParseOptionValue(const DecoderOption& option, const std::string& text) {
    std::optional<OptionValue> value;
    if (std::holds_alternative<std::int64_t>(option.def)) {
        if (const auto i = ParseInteger(text)) {
            value = *i;
        }
    } else if (std::holds_alternative<double>(option.def)) {
        if (const auto d = ParseNumber(text)) {
            value = *d;
        }
    } else {
        value = text;
    }
    if (value && !option.values.empty() &&
        std::find(option.values.begin(), option.values.end(), *value) == option.values.end()) {
        return std::nullopt;
    }
    if (value && option.values.empty() && IsPositive(option.def) && !IsPositive(*value)) {
        return std::nullopt;
    }
    return value;
}

int FindCaptureChannel(const ChannelChoice& channels, const std::string& text) {
    for (std::size_t n = 0; n < channels.names.size(); ++n) {
        if (channels.names[n] == text) {
            return static_cast<int>(n);
        }
    }
    const std::string digits =
        text.size() > 1 && (text[0] == 'D' || text[0] == 'd') ? text.substr(1) : text;
    const int count =
        channels.names.empty() && channels.count == 0 ? kMaxDecodeChannels : channels.count;
    if (const auto n = ParseInteger(digits);
        n && *n >= 0 && *n < count && std::to_string(*n) == digits) {
        return static_cast<int>(*n);
    }
    return -1;
}

std::variant<DecoderStack, ArgError> ParseDecoderArg(const std::string& argument,
                                                     const DecoderLookup& lookup,
                                                     const ChannelChoice& channels) {
    DecoderStack stack;
    const DecoderInfo* lower = nullptr;
    for (const auto& part : Split(argument, ',')) {
        const auto fields = Split(part, ':');
        const DecoderInfo* info = fields[0].empty() ? nullptr : lookup(fields[0]);
        if (info == nullptr) {
            return ArgError{fields[0].empty() ? "empty decoder name in '" + argument + "'"
                                              : "unknown protocol decoder '" + fields[0] +
                                                    "' (see quillon-cli decoders)"};
        }
        if (lower == nullptr ? !info->inputs.empty() && !info->ReadsChannels()
                             : !info->CanStackOn(*lower)) {
            return ArgError{"protocol decoder '" + info->id + "' cannot read " +
                            (lower == nullptr ? std::string("the channels; stack it on another")
                                              : "the output of '" + lower->id + "'")};
        }
        DecoderSetup setup{info->id, {}, {}};
        for (std::size_t f = 1; f < fields.size(); ++f) {
            const auto eq = fields[f].find('=');
            const std::string key = fields[f].substr(0, eq);
            const std::string text = eq == std::string::npos ? "" : fields[f].substr(eq + 1);
            if (eq == std::string::npos) {
                return ArgError{"'" + fields[f] + "' of decoder '" + info->id +
                                "' needs a value: name=value"};
            }
            if (info->FindChannel(key) != nullptr) {
                if (lower != nullptr) {
                    return ArgError{"stacked decoder '" + info->id + "' reads no channels"};
                }
                const int channel = FindCaptureChannel(channels, text);
                if (channel < 0) {
                    const int count = channels.count > 0 ? channels.count : kMaxDecodeChannels;
                    return ArgError{"unknown channel '" + text + "' for " + info->id + ":" + key +
                                    " (channels are D0 ... D" + std::to_string(count - 1) +
                                    " or their names)"};
                }
                setup.channels[key] = channel;
            } else if (const DecoderOption* option = info->FindOption(key)) {
                const auto value = ParseOptionValue(*option, text);
                if (!value) {
                    return ArgError{"invalid value '" + text + "' for option '" + key +
                                    "' of decoder '" + info->id + "' (" + ExpectedText(*option) +
                                    ")"};
                }
                setup.options[key] = *value;
            } else {
                return ArgError{"unknown option or channel '" + key + "' of decoder '" + info->id +
                                "'"};
            }
        }
        for (const auto& channel : info->channels) {
            if (lower == nullptr && setup.channels.count(channel.id) == 0) {
                return ArgError{"decoder '" + info->id + "' needs its channel '" + channel.id +
                                "' mapped, e.g. " + channel.id + "=D0"};
            }
        }
        stack.push_back(std::move(setup));
        lower = info;
    }
    return stack;
}

AnnotationFilter AnnotationFilter::All(std::size_t decoders) {
    AnnotationFilter filter;
    filter.classes.assign(decoders, std::set<int>());
    return filter;
}

bool AnnotationFilter::Shows(const Annotation& annotation) const {
    if (annotation.decoder < 0 || static_cast<std::size_t>(annotation.decoder) >= classes.size()) {
        return false;
    }
    const auto& chosen = classes[static_cast<std::size_t>(annotation.decoder)];
    return chosen && (chosen->empty() || chosen->count(annotation.cls) != 0);
}

std::variant<AnnotationFilter, ArgError> ParseAnnotationArg(const std::string& argument,
                                                            const DecoderStack& stack,
                                                            const DecoderLookup& lookup) {
    AnnotationFilter filter;
    filter.classes.assign(stack.size(), std::nullopt);
    for (const auto& part : Split(argument, ',')) {
        const auto eq = part.find('=');
        const std::string id = part.substr(0, eq);
        const auto at = std::find_if(stack.begin(), stack.end(),
                                     [&](const DecoderSetup& s) { return s.id == id; });
        if (at == stack.end()) {
            return ArgError{"-A names decoder '" + id + "', which -P does not use"};
        }
        const DecoderInfo* info = lookup(id);
        auto& chosen = filter.classes[static_cast<std::size_t>(at - stack.begin())];
        chosen.emplace();
        if (eq == std::string::npos || info == nullptr) {
            continue;
        }
        for (const auto& name : Split(part.substr(eq + 1), ':')) {
            bool found = false;
            for (std::size_t c = 0; c < info->classes.size(); ++c) {
                if (info->classes[c].id == name) {
                    chosen->insert(static_cast<int>(c));
                    found = true;
                }
            }
            // A class of that name wins over a row of that name, as in the usual tools.
            for (const auto& row : info->rows) {
                if (!found && row.id == name) {
                    chosen->insert(row.classes.begin(), row.classes.end());
                    found = true;
                }
            }
            if (!found) {
                return ArgError{"unknown annotation class or row '" + name + "' of decoder '" + id +
                                "'"};
            }
        }
    }
    return filter;
}

std::vector<std::string> DecoderIdsOf(const std::string& argument) {
    std::vector<std::string> ids;
    for (const auto& part : Split(argument, ',')) {
        if (std::string id = part.substr(0, part.find(':')); !id.empty()) {
            ids.push_back(std::move(id));
        }
    }
    return ids;
}

std::vector<int> ChannelsOf(const DecoderStack& stack) {
    std::vector<int> channels;
    if (!stack.empty()) {
        for (const auto& [id, channel] : stack.front().channels) {
            channels.push_back(channel);
        }
    }
    std::sort(channels.begin(), channels.end());
    channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
    return channels;
}

std::string FormatDecoderArg(const DecoderStack& stack) {
    std::string out;
    for (const auto& setup : stack) {
        out += (out.empty() ? "" : ",") + setup.id;
        for (const auto& [key, channel] : setup.channels) {
            out += ":" + key + "=D" + std::to_string(channel);
        }
        for (const auto& [key, value] : setup.options) {
            out += ":" + key + "=" + OptionValueText(value);
        }
    }
    return out;
}

} // namespace quillon
