// quillon-cli's command line: what a command line comes to, and what it is refused with.
#include "app/cli_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

using namespace quillon;

struct ArgsCase {
    const char* name;
    std::vector<std::string> args;
    std::optional<int> exitStatus; ///< nothing: the command runs
    std::string says;              ///< part of what is printed (help to out, problems to err)
    std::function<void(const CliArgs&)> check;
};

void PrintTo(const ArgsCase& c, std::ostream* os) {
    *os << c.name;
}

class CliArgsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(CliArgsTest, ParsesOrRefuses) {
    const ArgsCase& c = GetParam();
    std::ostringstream out;
    std::ostringstream err;
    const CliArgs parsed = ParseCliArgs(c.args, out, err);
    EXPECT_EQ(parsed.exitStatus, c.exitStatus) << err.str();
    const std::string printed = out.str() + err.str();
    EXPECT_NE(printed.find(c.says), std::string::npos) << printed;
    if (c.exitStatus == kCliBadArguments) {
        EXPECT_EQ(out.str(), "");
    }
    if (c.check) {
        c.check(parsed);
    }
}

const ArgsCase kCases[] = {
    {"EverySetting",
     {"capture", "--timeout=2.5", "--trigger", "XXXXXXXX0xxxxxxx", "--count", "3", "--rate", "2us",
      "--trigpos", "01", "--fast", "--reply-delay", "200", "-o", "a.sr"},
     std::nullopt,
     "",
     [](const CliArgs& a) {
         EXPECT_EQ(a.command, CliCommand::Capture);
         EXPECT_EQ(a.capture.timeoutSeconds, 2.5);
         EXPECT_EQ(a.capture.trigger, "xxxxxxxx0xxxxxxx");
         EXPECT_EQ(a.capture.count, 3);
         EXPECT_EQ(a.capture.rate, 100);
         EXPECT_EQ(a.capture.trigPos, "01");
         EXPECT_TRUE(a.capture.fast);
         EXPECT_EQ(a.capture.replyDelay, std::chrono::milliseconds(200));
         EXPECT_EQ(a.capture.format, FileFormat::Sigrok);
         EXPECT_EQ(a.capture.zoom, "1us/d");
         EXPECT_TRUE(a.decode.decoders.empty());
     }},
    // An empty value is the option's, not the next argument.
    {"EmptyInlineValue",
     {"capture", "--port=", "-o", "x.vcd"},
     kCliBadArguments,
     "--port needs a port name (COMn) or a device path",
     {}},
    {"MissingValueAtTheEnd", {"capture", "-o"}, kCliBadArguments, "option -o needs a value", {}},
    {"FlagWithAValue",
     {"capture", "--fast=yes", "-o", "x.vcd"},
     kCliBadArguments,
     "option --fast takes no value",
     {}},
    {"FirstWrongValueIsTold",
     {"capture", "--rate", "5ns", "--trigpos", "2", "-o", "x.vcd"},
     kCliBadArguments,
     "--rate must be 20ns, 200ns, 2us or 20us, not '5ns'",
     {}},
    // Help wins over a wrong value before it.
    {"HelpAfterAWrongValue",
     {"capture", "--rate", "5ns", "--help"},
     kCliOk,
     "Usage: quillon-cli capture",
     {}},
    // One command per line: a second command's name is an argument too many.
    {"NoSecondCommand",
     {"capture", "-o", "x.vcd", "list"},
     kCliBadArguments,
     "unexpected argument 'list'",
     {}},
    {"UnknownOption",
     {"find", "x.vcd", "D0 rise", "--bogus"},
     kCliBadArguments,
     "unknown option '--bogus'",
     {}},
    {"DecodersTwice",
     {"capture", "-o", "x.vcd", "-P", "uart:rx=D8", "-P", "i2c"},
     kCliBadArguments,
     "-P given twice",
     {}},
    {"AnnotationsWithoutDecoders",
     {"capture", "-o", "x.vcd", "--annotation-times"},
     kCliBadArguments,
     "need a decoder: -P DECODERS",
     {}},
    {"DecodeNeedsDecoders", {"decode", "x.vcd"}, kCliBadArguments, "-P DECODERS", {}},
    {"ListTakesNothing", {"list", "x"}, kCliBadArguments, "list takes no arguments", {}},
    {"UnknownCommand", {"frobnicate"}, kCliBadArguments, "unknown command 'frobnicate'", {}},
    {"NoCommand", {}, kCliBadArguments, "Usage: quillon-cli list", {}},
    // The shell may split the condition; after "--" a word may start with '-'.
    {"ConditionWords",
     {"find", "f.vcd", "--json", "--", "-D0", "rise"},
     std::nullopt,
     "",
     [](const CliArgs& a) {
         EXPECT_EQ(a.command, CliCommand::Find);
         EXPECT_EQ(a.file, "f.vcd");
         EXPECT_EQ(a.condition, "-D0 rise");
         EXPECT_TRUE(a.json);
     }},
    {"InfoRate",
     {"info", "--rate", "24MHz", "f.sr"},
     std::nullopt,
     "",
     [](const CliArgs& a) {
         EXPECT_EQ(a.command, CliCommand::Info);
         ASSERT_TRUE(a.rate.has_value());
         EXPECT_DOUBLE_EQ(a.rate->Seconds(), 1.0 / 24e6);
     }},
    {"InfoBadRate",
     {"info", "f.sr", "--rate", "fast"},
     kCliBadArguments,
     "'fast' is no sample rate",
     {}},
};

INSTANTIATE_TEST_SUITE_P(Lines, CliArgsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
