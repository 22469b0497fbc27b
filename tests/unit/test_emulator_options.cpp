// quillon-emu's command line and the fault names.
#include "emulator/emulator_options.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(EmulatorFaultNames, RoundTripAndRejectOthers) {
    for (const EmulatorFault fault :
         {EmulatorFault::None, EmulatorFault::Silent, EmulatorFault::Foreign, EmulatorFault::Delay,
          EmulatorFault::LateByte, EmulatorFault::ShortPacket, EmulatorFault::LongPacket,
          EmulatorFault::Garbage, EmulatorFault::HangUp, EmulatorFault::LatePackets,
          EmulatorFault::StrayByte, EmulatorFault::NoiseFront, EmulatorFault::DropPacket}) {
        EXPECT_EQ(FaultFromName(FaultName(fault)), fault) << FaultName(fault);
    }
    EXPECT_EQ(FaultFromName("late-byte"), EmulatorFault::LateByte);
    EXPECT_EQ(FaultFromName("hang-up"), EmulatorFault::HangUp);
    EXPECT_EQ(FaultFromName("noise-front"), EmulatorFault::NoiseFront);
    EXPECT_EQ(FaultFromName("Silent"), std::nullopt);
    EXPECT_EQ(FaultFromName(""), std::nullopt);
}

TEST(EmulatorCommandLine, ReadsEveryOption) {
    const auto parsed = ParseEmulatorCommandLine(
        {"--link",          "/tmp/la", "--log",     "/tmp/la.log", "--fault",       "short-packet",
         "--fault-packet",  "63",      "--delay",   "250",         "--short-bytes", "17",
         "--garbage-bytes", "3",       "--gentype", "1",           "--line-rate",   "921600",
         "--glitch",        "50",      "--gap",     "20"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.help);
    const EmulatorOptions& o = parsed.options;
    EXPECT_EQ(o.linkPath, "/tmp/la");
    EXPECT_EQ(o.logPath, "/tmp/la.log");
    EXPECT_EQ(o.fault, EmulatorFault::ShortPacket);
    EXPECT_EQ(o.faultPacket, 63);
    EXPECT_EQ(o.delay, std::chrono::milliseconds(250));
    EXPECT_EQ(o.shortPacketBytes, 17);
    EXPECT_EQ(o.garbageBytes, 3);
    EXPECT_EQ(o.genType, '1');
    EXPECT_EQ(o.lineRateBaud, 921600);
    EXPECT_EQ(o.gap, std::chrono::milliseconds(20));
    EXPECT_EQ(o.glitchEvery, 50);
}

TEST(EmulatorCommandLine, DefaultsWithoutArguments) {
    const auto parsed = ParseEmulatorCommandLine({});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.fault, EmulatorFault::None);
    EXPECT_EQ(parsed.options.faultPacket, 0);
    EXPECT_EQ(parsed.options.delay, std::chrono::milliseconds(60));
    EXPECT_EQ(parsed.options.shortPacketBytes, 255);
    EXPECT_EQ(parsed.options.gap, std::chrono::milliseconds(0));
    EXPECT_FALSE(parsed.options.genType.has_value());
    EXPECT_TRUE(ParseEmulatorCommandLine({"--help"}).help);
}

class EmuBadCommandLine : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(EmuBadCommandLine, IsRefusedWithAReason) {
    EXPECT_NE(ParseEmulatorCommandLine(GetParam()).error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmuBadCommandLine,
    ::testing::Values(
        std::vector<std::string>{"--fault", "sometimes"}, std::vector<std::string>{"--fault"},
        std::vector<std::string>{"--link"}, std::vector<std::string>{"--fault-packet", "64"},
        std::vector<std::string>{"--fault-packet", "-1"},
        std::vector<std::string>{"--fault-packet", "3x"}, std::vector<std::string>{"--delay", ""},
        std::vector<std::string>{"--gap", "-5"}, std::vector<std::string>{"--short-bytes", "256"},
        std::vector<std::string>{"--garbage-bytes", "0"},
        std::vector<std::string>{"--gentype", "12"}, std::vector<std::string>{"--gentype", ""},
        std::vector<std::string>{"--port", "/dev/x"},
        std::vector<std::string>{"--line-rate", "fast"}, std::vector<std::string>{"--glitch", "-1"},
        std::vector<std::string>{"stray"}));

} // namespace
} // namespace quillon
