// The decoding library itself over the emulator's bench: metadata, UART/I2C/SPI results,
// a failing decoder, cancelling.
#include "decode/decoder_args.h"
#include "decode/decoder_library.h"
#include "emulator/bench_signals.h"

#include <gtest/gtest.h>

#include <thread>

#if defined(__SANITIZE_ADDRESS__)
// libsigrokdecode loses a few strings inside GLib, which has no frame pointers: only the slow
// unwinder sees the Python frames that tests/lsan.supp matches on those stacks.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
#endif

namespace {

using namespace quillon;

constexpr int kCaptureSamples = 4032;

CaptureData Bench(int rate) {
    CaptureData data;
    data.rate = rate;
    data.samples = SampleSignals(SignalSet::Bench, rate, 0, kCaptureSamples);
    return data;
}

DecoderStack Stack(const std::string& argument) {
    auto parsed = ParseDecoderArg(argument, CDecoderLibrary::Lookup(), DefaultChannelNames());
    if (const auto* e = std::get_if<ArgError>(&parsed)) {
        ADD_FAILURE() << e->message;
        return {};
    }
    return std::get<DecoderStack>(parsed);
}

/// The longest texts of one class, joined.
std::string Joined(const DecodeResult& result, const DecoderInfo& info, const std::string& cls,
                   int decoder = 0) {
    std::string text;
    for (const auto& a : result.annotations) {
        if (a.decoder == decoder && info.classes[static_cast<std::size_t>(a.cls)].id == cls) {
            text += a.texts.front();
        }
    }
    return text;
}

TEST(DecoderLibrary, ListsDecodersWithTheirMetadata) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    ASSERT_EQ(library.StartError(), "");
    EXPECT_GT(library.Decoders().size(), 100u);
    const DecoderInfo* uart = library.FindDecoder("uart");
    ASSERT_NE(uart, nullptr);
    EXPECT_EQ(uart->longname, "Universal Asynchronous Receiver/Transmitter");
    EXPECT_TRUE(uart->channels.empty());
    ASSERT_NE(uart->FindChannel("rx"), nullptr);
    EXPECT_EQ(uart->FindChannel("rx")->name, "RX");
    const DecoderOption* baud = uart->FindOption("baudrate");
    ASSERT_NE(baud, nullptr);
    EXPECT_EQ(baud->def, OptionValue(std::int64_t{115200}));
    const DecoderOption* parity = uart->FindOption("parity");
    ASSERT_NE(parity, nullptr);
    EXPECT_EQ(parity->values.front(), OptionValue(std::string("none")));
    EXPECT_EQ(std::get<double>(uart->FindOption("stop_bits")->def), 1.0);
    // rx-data the class sits in the row rx-data.
    ASSERT_GT(uart->classes.size(), 0u);
    EXPECT_EQ(uart->classes[0].id, "rx-data");
    const int row = uart->RowOfClass(0);
    ASSERT_GE(row, 0);
    EXPECT_EQ(uart->rows[static_cast<std::size_t>(row)].id, "rx-data");

    const DecoderInfo* i2c = library.FindDecoder("i2c");
    ASSERT_NE(i2c, nullptr);
    EXPECT_EQ(i2c->channels.size(), 2u);
    EXPECT_EQ(library.FindDecoder("no-such-decoder"), nullptr);
}

TEST(DecoderLibrary, DecodesTheBenchAtEachRate) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    const DecoderInfo& uart = *library.FindDecoder("uart");
    // 921600 baud at 200 ns (5.4 samples a bit): the whole line fits into the capture.
    const auto result = library.Decode(Bench(10), Stack("uart:rx=D8:baudrate=921600:format=ascii"));
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_EQ(result.instanceIds, std::vector<std::string>{"uart-1"});
    const std::string text = Joined(result, uart, "rx-data");
    EXPECT_EQ(text.substr(0, 32), "Hello from Quillon![0D][0A]Hello");
    for (const auto& a : result.annotations) {
        EXPECT_LE(a.start, a.end);
        EXPECT_LE(a.end, kCaptureSamples);
        EXPECT_EQ(a.row, uart.RowOfClass(a.cls));
    }
    // The 1200-baud line at 20 us (8 characters fit), and the 9600-baud one at 2 us.
    EXPECT_EQ(Joined(library.Decode(Bench(1000), Stack("uart:rx=D11:baudrate=1200:format=ascii")),
                     uart, "rx-data")
                  .substr(0, 8),
              "Hello fr");
    EXPECT_EQ(Joined(library.Decode(Bench(100), Stack("uart:rx=D10:baudrate=9600:format=ascii")),
                     uart, "rx-data")
                  .substr(0, 5),
              "Hello");

    // I2C at 200 ns: address 0x50 written, then the bytes of "Quillon I2C ".
    const DecoderInfo& i2c = *library.FindDecoder("i2c");
    const auto bus = library.Decode(Bench(10), Stack("i2c:scl=D13:sda=D14"));
    ASSERT_FALSE(bus.error) << *bus.error;
    EXPECT_NE(Joined(bus, i2c, "address-write").find("Address write: 50"), std::string::npos);
    EXPECT_EQ(Joined(bus, i2c, "data-write").substr(0, 28), "Data write: 51Data write: 75");

    // SPI at 20 ns: MOSI "Quil...", MISO "OK, ..." as hex bytes.
    const DecoderInfo& spi = *library.FindDecoder("spi");
    const auto spiResult = library.Decode(Bench(1), Stack("spi:clk=D4:mosi=D5:miso=D6:cs=D7"));
    ASSERT_FALSE(spiResult.error) << *spiResult.error;
    EXPECT_EQ(Joined(spiResult, spi, "mosi-data").substr(0, 8), "5175696C");
    EXPECT_EQ(Joined(spiResult, spi, "miso-data").substr(0, 4), "4F4B");
}

TEST(DecoderLibrary, StackedDecoderReadsTheOneBelow) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    const auto result = library.Decode(Bench(10), Stack("i2c:scl=D13:sda=D14,eeprom24xx"));
    ASSERT_FALSE(result.error) << *result.error;
    ASSERT_EQ(result.instanceIds.size(), 2u);
    const bool upper = std::any_of(result.annotations.begin(), result.annotations.end(),
                                   [](const Annotation& a) { return a.decoder == 1; });
    EXPECT_TRUE(upper);
}

TEST(DecoderLibrary, FailingDecoderGivesItsErrorAndOthersStillWork) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    const auto failed = library.Decode(Bench(10), Stack("uart:rx=D8:baudrate=0"));
    ASSERT_TRUE(failed.error);
    EXPECT_NE(failed.error->find("ZeroDivisionError"), std::string::npos) << *failed.error;
    EXPECT_EQ(failed.error->find('\n'), std::string::npos); // one line, no traceback

    // Decodes after it, and at once from two threads, are whole.
    std::string first;
    std::string second;
    const DecoderInfo& uart = *library.FindDecoder("uart");
    std::thread other([&] {
        first = Joined(library.Decode(Bench(10), Stack("uart:rx=D8:baudrate=921600:format=ascii")),
                       uart, "rx-data");
    });
    second = Joined(library.Decode(Bench(10), Stack("uart:rx=D8:baudrate=921600:format=ascii")),
                    uart, "rx-data");
    other.join();
    EXPECT_EQ(first.substr(0, 5), "Hello");
    EXPECT_EQ(second, first);
}

TEST(DecoderLibrary, CancelledDecodeStopsWithoutResults) {
    const std::atomic<bool> cancel{true};
    const auto result =
        CDecoderLibrary::Instance().Decode(Bench(10), Stack("uart:rx=D8:baudrate=921600"), &cancel);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.annotations.empty());
    EXPECT_FALSE(result.error);
}

} // namespace
