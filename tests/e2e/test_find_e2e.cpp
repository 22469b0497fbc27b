// quillon-cli find: lines, JSON and exit statuses on a saved bench capture, and the hunt for
// the emulated analyzer's rare glitch through capture and find.
#include "capture/capture_bridge.h"
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"
#include "emulator/bench_signals.h"
#include "file/capture_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace quillon;
using test::RunProgram;
namespace fs = std::filesystem;

constexpr int kRate200ns = 10;

#if defined(__SANITIZE_ADDRESS__)
// As for decode: the slow unwinder lets tests/lsan.supp see the Python frames of the decoders.
constexpr const char* kAsanOptions = "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0";
#else
constexpr const char* kAsanOptions = nullptr;
#endif

std::vector<std::string> CliEnv(const std::string& ports = {}) {
    std::vector<std::string> env;
    if (kAsanOptions != nullptr) {
        env.emplace_back(kAsanOptions);
    }
    env.push_back("QUILLON_PORTS=" + ports);
    return env;
}

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class FindE2E : public ::testing::Test {
protected:
    fs::path m_dir = fs::temp_directory_path() /
                     ("quillon-find-e2e-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string m_vcd;

    void SetUp() override {
        fs::create_directories(m_dir);
        CaptureData bench;
        bench.rate = kRate200ns;
        bench.samples = SampleSignals(SignalSet::Bench, kRate200ns, 0, 4032);
        m_vcd = (m_dir / "bench.vcd").string();
        std::string error;
        ASSERT_TRUE(WriteCaptureFile(m_vcd, *ToCapture(bench), FileFormat::Vcd, error)) << error;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static test::ProgramResult Find(std::vector<std::string> args, const std::string& ports = {}) {
        args.insert(args.begin(), "find");
        return RunProgram(QUILLON_CLI, args, CliEnv(ports));
    }
};

TEST_F(FindE2E, LinesJsonAndExitStatuses) {
    // The 10 kHz PWM on D12: the high times step 5, 10, 15 us; the first is cut by sample 0.
    const auto pulses = Find({m_vcd, "D12 high<20us"});
    ASSERT_EQ(pulses.exitCode, 0) << pulses.err;
    EXPECT_EQ(pulses.out, "500\t100 \u00b5s\tD12 high pulse\t10 \u00b5s\n"
                          "1000\t200 \u00b5s\tD12 high pulse\t15 \u00b5s\n");

    // A condition split by the shell reads the same; one line per match.
    const auto edges = Find({m_vcd, "D7", "fall"});
    ASSERT_EQ(edges.exitCode, 0) << edges.err;
    EXPECT_EQ(Lines(edges.out), 17U);
    EXPECT_EQ(edges.out.substr(0, edges.out.find('\n')), "10\t2 \u00b5s\tD7 fall");

    const auto json = Find({m_vcd, "D12 high<20us or D7 rise", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
    const QJsonObject root = document.object();
    EXPECT_EQ(root["samples"].toInt(), 4032);
    EXPECT_DOUBLE_EQ(root["sample_period_s"].toDouble(), 2e-7);
    const QJsonArray matches = root["matches"].toArray();
    ASSERT_EQ(matches.size(), 18);
    // In order of their samples: D7 rises at 180 and 430 before the first pulse.
    EXPECT_EQ(matches[0].toObject()["kind"].toString(), "rise");
    EXPECT_EQ(matches[0].toObject()["sample"].toInt(), 180);
    const QJsonObject pulse = matches[2].toObject();
    EXPECT_EQ(pulse["sample"].toInt(), 500);
    EXPECT_EQ(pulse["kind"].toString(), "pulse");
    EXPECT_EQ(pulse["channel"].toString(), "D12");
    EXPECT_EQ(pulse["level"].toString(), "high");
    EXPECT_EQ(pulse["end_sample"].toInt(), 550);
    EXPECT_DOUBLE_EQ(pulse["width_s"].toDouble(), 1e-5);
    EXPECT_DOUBLE_EQ(pulse["time_s"].toDouble(), 1e-4);

    // Nothing found: status 1, nothing printed; an empty list in JSON.
    const auto none = Find({m_vcd, "D12 high>1s"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    const auto noneJson = Find({m_vcd, "D12 high>1s", "--json"});
    EXPECT_EQ(noneJson.exitCode, 1);
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(noneJson.out))
                    .object()["matches"]
                    .toArray()
                    .isEmpty())
        << noneJson.out;

    // Errors: status 2, the fault named, its column shown.
    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{m_vcd, "D0 rise and D99 fall"}, "no channel 'D99' in this capture"},
        {{m_vcd, "D0 high<5"}, "column 10"},
        {{m_vcd, "pattern=0101"}, "16 channels"},
        {{m_vcd, "ann=uart:Q"}, "-P"},
        {{m_vcd, "ann=uart:Q", "-P", "uart:rx=D99"}, "D99"},
        {{(m_dir / "missing.vcd").string(), "D0 rise"}, "missing.vcd"},
        {{m_vcd}, "condition"},
        {{m_vcd, "D0 rise", "--bogus"}, "--bogus"},
    };
    for (const auto& [args, says] : bad) {
        const auto result = Find(args);
        EXPECT_EQ(result.exitCode, 2) << args.back();
        EXPECT_NE(result.err.find(says), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(FindE2E, AnnotationsOfTheDecoders) {
    // The 921600-baud UART on D8 says "Hello from Quillon!" three times; the 1 kHz clock on
    // D15 is high for the first 500 us (2500 samples), over two of its Qs.
    const auto found =
        Find({m_vcd, "ann=uart:Q and D15 high", "-P", "uart:rx=D8:baudrate=921600:format=ascii"});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(Lines(found.out), 2U) << found.out;
    EXPECT_EQ(found.out.substr(0, found.out.find('\n')), "674\t134.8 \u00b5s\tuart-1: Q");
}

TEST_F(FindE2E, HuntsTheEmulatorsGlitch) {
    EmulatorOptions options;
    options.glitchEvery = 1; // one capture in N is the emulator's own test; here every one
    CAnalyzerEmulator analyzer(options);
    ASSERT_TRUE(analyzer.Start());
    const std::string vcd = (m_dir / "cap.vcd").string();
    // A machine too busy to serve the emulator in time loses a packet (status 5): capture again.
    test::ProgramResult captured;
    for (int attempt = 0; attempt < 3 && captured.exitCode != 0; ++attempt) {
        captured = RunProgram(QUILLON_CLI, {"capture", "--fast", "-o", vcd},
                              CliEnv("COM3=" + analyzer.SlavePath()));
    }
    ASSERT_EQ(captured.exitCode, 0) << captured.err;
    const auto glitch = analyzer.LastCapture()->glitchSample;
    ASSERT_TRUE(glitch.has_value());

    // The one-sample dropout on idle D11 at 20 ns: found as a pulse, and the only low there.
    const auto pulse = Find({vcd, "D11 low<100ns"});
    ASSERT_EQ(pulse.exitCode, 0) << pulse.err;
    EXPECT_EQ(pulse.out.substr(0, pulse.out.find('\t')), std::to_string(*glitch));
    EXPECT_EQ(Lines(pulse.out), 1U);
    EXPECT_NE(pulse.out.find("D11 low pulse\t20 ns\n"), std::string::npos) << pulse.out;
    const auto low = Find({vcd, "D11 low"});
    EXPECT_EQ(Lines(low.out), 1U) << low.out;
}

} // namespace
