// The -P and -A arguments, option values and annotation text, on made-up decoder metadata.
#include "decode/annotation_text.h"
#include "decode/decoder_args.h"

#include <gtest/gtest.h>

namespace {

using namespace quillon;

DecoderInfo Uart() {
    DecoderInfo d;
    d.id = "uart";
    d.name = "UART";
    d.inputs = {"logic"};
    d.outputs = {"uart"};
    d.optChannels = {{"rx", "RX", ""}, {"tx", "TX", ""}};
    d.options = {{"baudrate", "", std::int64_t{115200}, {}},
                 {"parity", "", std::string("none"), {std::string("none"), std::string("odd")}},
                 {"stop_bits", "", 1.0, {0.0, 0.5, 1.0, 1.5}},
                 {"format", "", std::string("hex"), {}}};
    d.classes = {{"rx-data", ""}, {"tx-data", ""}, {"rx-start", ""}, {"rx-bit", ""}};
    d.rows = {{"rx-bits", "RX bits", {3}}, {"rx-data", "RX", {0, 2}}, {"tx", "TX", {1}}};
    return d;
}

DecoderInfo I2c() {
    DecoderInfo d;
    d.id = "i2c";
    d.name = "I²C";
    d.inputs = {"logic"};
    d.outputs = {"i2c"};
    d.channels = {{"scl", "SCL", ""}, {"sda", "SDA", ""}};
    d.classes = {{"start", ""}, {"data-write", ""}};
    return d;
}

DecoderInfo Eeprom() {
    DecoderInfo d;
    d.id = "eeprom24xx";
    d.inputs = {"i2c"};
    return d;
}

const DecoderInfo* Lookup(const std::string& id) {
    static const DecoderInfo kInfos[] = {Uart(), I2c(), Eeprom()};
    for (const auto& info : kInfos) {
        if (info.id == id) {
            return &info;
        }
    }
    return nullptr;
}

std::variant<DecoderStack, ArgError> Parse(const std::string& argument, int channels = 16) {
    std::vector<std::string> names;
    for (int n = 0; n < channels; ++n) {
        names.push_back("D" + std::to_string(n));
    }
    names[13] = "scl";
    return ParseDecoderArg(argument, Lookup, ChannelChoice{names, channels});
}

TEST(DecoderArg, ReadsChannelsOptionsAndStacks) {
    const auto parsed = Parse("uart:rx=D8:baudrate=921600:parity=odd:stop_bits=1.5:format=ascii");
    ASSERT_TRUE(std::holds_alternative<DecoderStack>(parsed));
    const auto& stack = std::get<DecoderStack>(parsed);
    ASSERT_EQ(stack.size(), 1u);
    EXPECT_EQ(stack[0].channels.at("rx"), 8);
    EXPECT_EQ(stack[0].options.at("baudrate"), OptionValue(std::int64_t{921600}));
    EXPECT_EQ(stack[0].options.at("parity"), OptionValue(std::string("odd")));
    EXPECT_EQ(stack[0].options.at("stop_bits"), OptionValue(1.5));
    // Written back, it reads the same.
    EXPECT_EQ(std::get<DecoderStack>(Parse(FormatDecoderArg(stack))), stack);

    // Channels by the capture's own name, by number and by Dn; a stacked decoder after a comma.
    const auto i2c = std::get<DecoderStack>(Parse("i2c:scl=scl:sda=14,eeprom24xx"));
    ASSERT_EQ(i2c.size(), 2u);
    EXPECT_EQ(i2c[0].channels.at("scl"), 13);
    EXPECT_EQ(i2c[0].channels.at("sda"), 14);
    EXPECT_EQ(i2c[1].id, "eeprom24xx");
    EXPECT_EQ(DecoderIdsOf("i2c:scl=scl:sda=14,eeprom24xx"),
              (std::vector<std::string>{"i2c", "eeprom24xx"}));
    EXPECT_EQ(ChannelsOf(i2c), (std::vector<int>{13, 14}));

    // A capture of more channels than the analyzer's: any of them by Dn; a saved decoder
    // (no capture at hand) may name any.
    const auto wide = std::get<DecoderStack>(Parse("uart:rx=D40", 48));
    EXPECT_EQ(wide[0].channels.at("rx"), 40);
    EXPECT_TRUE(std::holds_alternative<ArgError>(Parse("uart:rx=D48", 48)));
    EXPECT_EQ(std::get<DecoderStack>(ParseDecoderArg("uart:rx=D300", Lookup, ChannelChoice{}))[0]
                  .channels.at("rx"),
              300);
}

TEST(DecoderArg, ErrorsNameWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"uartx:rx=D8", "unknown protocol decoder 'uartx'"},
        {"uart:rx=D16", "unknown channel 'D16'"},
        {"uart:rx=D08", "unknown channel 'D08'"},
        {"uart:speed=9600", "unknown option or channel 'speed'"},
        {"uart:baudrate=fast", "invalid value 'fast' for option 'baudrate'"},
        {"uart:baudrate=96.5", "invalid value '96.5'"},
        // The decoders divide by a number whose default is above 0: 0 is refused up front.
        {"uart:baudrate=0", "invalid value '0' for option 'baudrate' of decoder 'uart' (a whole "
                            "number above 0, like its default 115200)"},
        {"uart:baudrate=-9600", "invalid value '-9600'"},
        {"uart:parity=even", "invalid value 'even' for option 'parity' of decoder 'uart' (one of "
                             "none, odd)"},
        {"uart:stop_bits=2", "invalid value '2'"},
        {"uart:rx", "needs a value"},
        {"i2c:scl=D13", "needs its channel 'sda'"},
        {"eeprom24xx", "cannot read the channels"},
        {"uart:rx=D8,eeprom24xx", "cannot read the output of 'uart'"},
        {"i2c:scl=D1:sda=D2,", "empty decoder name"},
    };
    for (const auto& [argument, message] : cases) {
        const auto parsed = Parse(argument);
        ASSERT_TRUE(std::holds_alternative<ArgError>(parsed)) << argument;
        EXPECT_NE(std::get<ArgError>(parsed).message.find(message), std::string::npos)
            << argument << ": " << std::get<ArgError>(parsed).message;
    }
}

TEST(AnnotationArg, ClassesWinOverRowsAndUnnamedDecodersAreHidden) {
    const auto stack = std::get<DecoderStack>(Parse("i2c:scl=D13:sda=D14,eeprom24xx"));
    const auto all = AnnotationFilter::All(stack.size());
    EXPECT_TRUE(all.Shows({0, 1, 1, 0, -1, {}}));

    const auto uartStack = std::get<DecoderStack>(Parse("uart:rx=D8"));
    // "rx-data" is a class and a row: the class alone, not the start bits of its row.
    const auto byClass =
        std::get<AnnotationFilter>(ParseAnnotationArg("uart=rx-data", uartStack, Lookup));
    EXPECT_TRUE(byClass.Shows({0, 1, 0, 0, 1, {}}));
    EXPECT_FALSE(byClass.Shows({0, 1, 0, 2, 1, {}}));
    const auto byRow =
        std::get<AnnotationFilter>(ParseAnnotationArg("uart=rx-bits:tx", uartStack, Lookup));
    EXPECT_TRUE(byRow.Shows({0, 1, 0, 3, 0, {}}));
    EXPECT_TRUE(byRow.Shows({0, 1, 0, 1, 2, {}}));
    EXPECT_FALSE(byRow.Shows({0, 1, 0, 0, 1, {}}));

    // Only the decoders -A names print.
    const auto onlyUpper =
        std::get<AnnotationFilter>(ParseAnnotationArg("eeprom24xx", stack, Lookup));
    EXPECT_FALSE(onlyUpper.Shows({0, 1, 0, 0, -1, {}}));
    EXPECT_TRUE(onlyUpper.Shows({0, 1, 1, 5, -1, {}}));

    for (const char* bad : {"uart=rx-nothing", "spi"}) {
        EXPECT_TRUE(std::holds_alternative<ArgError>(ParseAnnotationArg(bad, uartStack, Lookup)))
            << bad;
    }
}

TEST(AnnotationText, LinesAndRecords) {
    const Annotation a{1000, 1054, 0, 0, 1, {"Hello", "H"}};
    const SamplePeriod period = SamplePeriod::FromPicoseconds(200'000);
    EXPECT_EQ(FormatAnnotationLine(a, "uart-1", false, period), "uart-1: Hello");
    EXPECT_EQ(FormatAnnotationLine(a, "uart-1", true, period),
              "1000-1054 200-210.8 us uart-1: Hello");
    // A period that is no whole number of picoseconds: times from the exact period.
    EXPECT_EQ(FormatAnnotationLine(a, "uart-1", true, *SamplePeriod::Fraction(1, 3'000'000)),
              "1000-1054 333.333-351.333 us uart-1: Hello");
    EXPECT_EQ(FormatTime(0), "0 s");
    EXPECT_EQ(FormatTime(1'500'000'000), "1.5 ms");
    EXPECT_EQ(FormatAnnotationRecord({4, 6, 0, 0, 1, {"a\tb"}}, Uart(),
                                     SamplePeriod::FromPicoseconds(20'000)),
              "80 ns\t120 ns\t4\t6\tuart\tRX\ta b\n");
    EXPECT_EQ(OptionValueText(1.0), "1.0");
    EXPECT_EQ(OptionValueText(std::int64_t{-1}), "-1");
}

} // namespace
