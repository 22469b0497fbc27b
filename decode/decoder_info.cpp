// Plain decoder metadata: lookups and the spelling of option values.
#include "decode/decoder_info.h"

#include <algorithm>
#include <cstdio>

namespace quillon {

std::string OptionValueText(const OptionValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", *d);
        std::string out = text;
        // A number the decoders take as a float keeps its point: 1.0, not 1.
        if (out.find_first_of(".eni") == std::string::npos) {
            out += ".0";
        }
        return out;
    }
    return std::get<std::string>(value);
}

int DecoderInfo::RowOfClass(int cls) const {
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (std::find(rows[r].classes.begin(), rows[r].classes.end(), cls) !=
            rows[r].classes.end()) {
            return static_cast<int>(r);
        }
    }
    return -1;
}

const DecoderOption* DecoderInfo::FindOption(const std::string& optionId) const {
    const auto it = std::find_if(options.begin(), options.end(),
                                 [&](const DecoderOption& o) { return o.id == optionId; });
    return it != options.end() ? &*it : nullptr;
}

const DecoderChannel* DecoderInfo::FindChannel(const std::string& channelId) const {
    for (const auto* list : {&channels, &optChannels}) {
        const auto it = std::find_if(list->begin(), list->end(),
                                     [&](const DecoderChannel& c) { return c.id == channelId; });
        if (it != list->end()) {
            return &*it;
        }
    }
    return nullptr;
}

bool DecoderInfo::ReadsChannels() const {
    return std::find(inputs.begin(), inputs.end(), "logic") != inputs.end();
}

bool DecoderInfo::CanStackOn(const DecoderInfo& lower) const {
    return std::any_of(inputs.begin(), inputs.end(), [&](const std::string& in) {
        return std::find(lower.outputs.begin(), lower.outputs.end(), in) != lower.outputs.end();
    });
}

} // namespace quillon
