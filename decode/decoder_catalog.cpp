// The decoder metadata a program knows, sorted for lookups.
#include "decode/decoder_catalog.h"

#include <algorithm>

namespace quillon {

namespace {

bool ById(const DecoderInfo& a, const DecoderInfo& b) {
    return a.id < b.id;
}

} // namespace

DecoderCatalog::DecoderCatalog(std::vector<DecoderInfo> decoders) {
    Merge(decoders);
}

const DecoderInfo* DecoderCatalog::Find(const std::string& id) const {
    const auto it =
        std::lower_bound(m_decoders.begin(), m_decoders.end(), id,
                         [](const DecoderInfo& d, const std::string& k) { return d.id < k; });
    return it != m_decoders.end() && it->id == id ? &*it : nullptr;
}

void DecoderCatalog::Merge(const std::vector<DecoderInfo>& decoders) {
    for (const auto& d : decoders) {
        if (Find(d.id) == nullptr) {
            m_decoders.insert(std::upper_bound(m_decoders.begin(), m_decoders.end(), d, ById), d);
        }
    }
}

DecoderLookup DecoderCatalog::Lookup() const {
    return [this](const std::string& id) { return Find(id); };
}

std::vector<const DecoderInfo*> DecoderCatalog::InfosOf(const DecoderStack& stack) const {
    std::vector<const DecoderInfo*> infos;
    infos.reserve(stack.size());
    for (const auto& setup : stack) {
        infos.push_back(Find(setup.id));
    }
    return infos;
}

} // namespace quillon
