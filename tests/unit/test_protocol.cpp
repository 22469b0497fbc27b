// Reply judging, atoi rules and port names.
#include "device/protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>

namespace {

using namespace quillon;

std::array<unsigned char, kReplyBufferSize> Reply(const std::string& bytes) {
    std::array<unsigned char, kReplyBufferSize> reply{};
    for (std::size_t i = 0; i < bytes.size() && i < reply.size(); ++i) {
        reply[i] = static_cast<unsigned char>(bytes[i]);
    }
    return reply;
}

struct ReplyCase {
    std::string bytes;
    bool ident;
    bool trigger;
};

class ReplyJudging : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyJudging, JudgesIdentificationAndTrigger) {
    const auto& c = GetParam();
    const auto reply = Reply(c.bytes);
    EXPECT_EQ(IsIdentificationReply(reply.data()), c.ident);
    EXPECT_EQ(IsTriggerReply(reply.data()), c.trigger);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyJudging,
    ::testing::Values(
        ReplyCase{"KPNQUILLNV01\r", true, false}, ReplyCase{"xKPNQUILLNV01\r", true, false},
        ReplyCase{"xyKPNQUILLNV01\r", true, false},
        // Three bytes without K: position 3 is taken unexamined.
        ReplyCase{"abcKPNQUILLNV01\r", true, false}, ReplyCase{"abcZPNQUILLNV01\r", true, false},
        ReplyCase{"abcdeKPNQUILLNV01\r", false, false},
        // The first K counts; the next byte must then be P.
        ReplyCase{"KKPNQUILLNV01\r", false, false}, ReplyCase{"KPNQUILLN", false, false},
        ReplyCase{"", false, false}, ReplyCase{"KPNQUILLNV01\rjunk", true, false},
        ReplyCase{"KPNOTHERDV99\r", false, false}, ReplyCase{"KTRY\r", false, true},
        ReplyCase{"KTRY", false, false}, ReplyCase{"KTRY\rKPN", false, true},
        ReplyCase{"\x01KTRY\r", false, true}, ReplyCase{"KNTR\r", false, false},
        ReplyCase{"ktry\r", false, false}));

TEST(ReplyText, StopsAtTheFirstZero) {
    EXPECT_EQ(ReplyText(Reply("KPNQUILLN").data()), "KPNQUILLN");
    EXPECT_EQ(ReplyText(Reply("").data()), "");
    EXPECT_EQ(ReplyText(Reply(std::string(30, 'A')).data()).size(), 30u);
}

struct AtoiCase {
    std::string text;
    int value;
};
class AtoiRules : public ::testing::TestWithParam<AtoiCase> {};

TEST_P(AtoiRules, ConvertsLikeTheCLibrary) {
    EXPECT_EQ(AtoiLike(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, AtoiRules,
                         ::testing::Values(AtoiCase{"30", 30}, AtoiCase{"50", 50},
                                           AtoiCase{"  42abc", 42}, AtoiCase{"\t+7", 7},
                                           AtoiCase{"-12", -12}, AtoiCase{"abc", 0},
                                           AtoiCase{"", 0}, AtoiCase{"- 5", 0},
                                           AtoiCase{"99999999999", INT_MAX},
                                           AtoiCase{"-99999999999", INT_MIN}));

TEST(ReplyDelay, NegativeWaitsCountAsZero) {
    EXPECT_EQ(ReplyDelayFromText("30"), std::chrono::milliseconds(30));
    EXPECT_EQ(ReplyDelayFromText("x"), std::chrono::milliseconds(0));
    EXPECT_EQ(ReplyDelayFromText("-1"), std::chrono::milliseconds(0));
}

struct PortNameCase {
    std::string name;
    int number;
};
class PortNames : public ::testing::TestWithParam<PortNameCase> {};

TEST_P(PortNames, RemovesEveryComThenConverts) {
    EXPECT_EQ(PortNumberFromName(GetParam().name), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Names, PortNames,
                         ::testing::Values(PortNameCase{"COM3", 3}, PortNameCase{"COM12", 12},
                                           PortNameCase{"COM1COM2", 12}, PortNameCase{"com3", 0},
                                           PortNameCase{"COMX", 0}, PortNameCase{"USB", 0},
                                           PortNameCase{"COM120", 120},
                                           PortNameCase{"CCOMOM4", 0}));

TEST(PacketWarning, NamesTheCount) {
    EXPECT_EQ(PacketWarningText(0), "Packet is not 256. it's 0 .  \r\n");
    EXPECT_EQ(PacketWarningText(255), "Packet is not 256. it's 255 .  \r\n");
    EXPECT_EQ(PacketWarningText(257), "Packet is not 256. it's 257 .  \r\n");
}

} // namespace
