// DecoderCatalog: the metadata of the decoders a program has been told about (all installed
// ones, or only those a command names), sorted by id. A plain value; any thread.
#pragma once

#include "decode/decoder_args.h"
#include "decode/decoder_info.h"

#include <string>
#include <vector>

namespace quillon {

class DecoderCatalog {
public:
    DecoderCatalog() = default;
    explicit DecoderCatalog(std::vector<DecoderInfo> decoders);

    /// The decoders sorted by id.
    [[nodiscard]] const std::vector<DecoderInfo>& Decoders() const { return m_decoders; }
    [[nodiscard]] const DecoderInfo* Find(const std::string& id) const;
    /// Adds the decoders not known yet (a decoder's metadata never changes while it runs).
    void Merge(const std::vector<DecoderInfo>& decoders);
    /// Find, for the argument parsers. The catalog must outlive the lookup.
    [[nodiscard]] DecoderLookup Lookup() const;
    /// The metadata of each decoder of stack (nullptr where unknown).
    [[nodiscard]] std::vector<const DecoderInfo*> InfosOf(const DecoderStack& stack) const;

private:
    std::vector<DecoderInfo> m_decoders;
};

} // namespace quillon
