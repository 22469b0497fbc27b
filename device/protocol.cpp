// Reply judging and text rules of the analyzer protocol.
#include "device/protocol.h"

#include <climits>
#include <cstring>

namespace quillon {

namespace {

constexpr std::string_view kIdentBody = kIdentReply.substr(1);     // "PNQUILLNV01\r"
constexpr std::string_view kTriggerBody = kTriggerReply.substr(1); // "TRY\r"

bool BodyFollowsK(const unsigned char* reply, std::string_view body) {
    const int p = LocateK(reply);
    // p + 1 + body <= 3 + 1 + 12 < 30: always inside the reply buffer.
    return std::memcmp(reply + p + 1, body.data(), body.size()) == 0;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

int LocateK(const unsigned char* reply) {
    for (int p = 0; p < 3; ++p) {
        if (reply[p] == 'K') {
            return p;
        }
    }
    return 3;
}

bool IsIdentificationReply(const unsigned char* reply) {
    return BodyFollowsK(reply, kIdentBody);
}

bool IsTriggerReply(const unsigned char* reply) {
    return BodyFollowsK(reply, kTriggerBody);
}

std::string ReplyText(const unsigned char* reply) {
    const auto* text = reinterpret_cast<const char*>(reply);
    return std::string(text, strnlen(text, kReplyBufferSize));
}

int AtoiLike(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}

std::chrono::milliseconds ReplyDelayFromText(std::string_view text) {
    const int ms = AtoiLike(text);
    return std::chrono::milliseconds(ms < 0 ? 0 : ms);
}

int PortNumberFromName(std::string_view name) {
    std::string rest;
    rest.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        if (name.substr(i, 3) == "COM") {
            i += 3;
        } else {
            rest.push_back(name[i++]);
        }
    }
    return AtoiLike(rest);
}

std::string PacketWarningText(int count) {
    return "Packet is not 256. it's " + std::to_string(count) + " .  \r\n";
}

} // namespace quillon
