// Fuzz target: judging identification and trigger replies, and the text rules.
#include "device/protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    // The reply buffer as the commands fill it: cleared, then what arrived (at most 30).
    std::array<unsigned char, kReplyBufferSize + 1> reply{};
    std::memcpy(reply.data(), data, size < kReplyBufferSize ? size : kReplyBufferSize);
    const int k = LocateK(reply.data());
    if (k < 0 || k > 3) {
        std::abort();
    }
    if (IsIdentificationReply(reply.data()) &&
        std::memcmp(reply.data() + k + 1, "PNQUILLNV01\r", 12) != 0) {
        std::abort();
    }
    if (IsTriggerReply(reply.data()) && std::memcmp(reply.data() + k + 1, "TRY\r", 4) != 0) {
        std::abort();
    }
    if (ReplyText(reply.data()).size() > kReplyBufferSize) {
        std::abort();
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (ReplyDelayFromText(text).count() < 0) {
        std::abort();
    }
    (void)PortNumberFromName(text);
    (void)PacketWarningText(AtoiLike(text));
    return 0;
}
