// quillon-cli's decoding: the same lines as sigrok-cli for the same file, its exit statuses,
// and decoding a fresh capture from the emulated analyzer.
#include "capture/capture_bridge.h"
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"
#include "emulator/bench_signals.h"
#include "file/capture_file.h"
#include "file/save_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

using namespace quillon;
using test::RunProgram;
namespace fs = std::filesystem;

constexpr int kRate200ns = 10;
constexpr const char* kUartArg = "uart:rx=D8:baudrate=921600:format=ascii";
constexpr const char* kI2cArg = "i2c:scl=D13:sda=D14";

#if defined(__SANITIZE_ADDRESS__)
// libsigrokdecode loses a few strings inside GLib, which has no frame pointers: only the slow
// unwinder sees the Python frames that tests/lsan.supp matches on those stacks.
constexpr const char* kAsanOptions = "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0";
#else
constexpr const char* kAsanOptions = nullptr;
#endif

/// quillon-cli's environment, with QUILLON_PORTS naming ports when given.
std::vector<std::string> CliEnv(const std::string& ports = {}) {
    std::vector<std::string> env;
    if (kAsanOptions != nullptr) {
        env.emplace_back(kAsanOptions);
    }
    if (!ports.empty()) {
        env.push_back("QUILLON_PORTS=" + ports);
    }
    return env;
}

bool HaveSigrokCli() {
    return ::access("/usr/bin/sigrok-cli", X_OK) == 0;
}

class DecodeE2E : public ::testing::Test {
protected:
    fs::path m_dir = fs::temp_directory_path() /
                     ("quillon-decode-e2e-" + std::to_string(::getpid()) + "-" +
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

    static test::ProgramResult Cli(const std::vector<std::string>& args) {
        return RunProgram(QUILLON_CLI, args, CliEnv());
    }
};

TEST_F(DecodeE2E, LinesMatchSigrokCliForUartAndI2c) {
    if (!HaveSigrokCli()) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    const std::vector<std::vector<std::string>> cases = {
        {"-P", kUartArg, "-A", "uart=rx-data"},
        {"-P", kI2cArg},
        {"-P", kI2cArg, "-A", "i2c=addr-data"},
    };
    for (const auto& decodeArgs : cases) {
        std::vector<std::string> ours = {"decode", m_vcd};
        ours.insert(ours.end(), decodeArgs.begin(), decodeArgs.end());
        std::vector<std::string> theirs = {"-i", m_vcd};
        theirs.insert(theirs.end(), decodeArgs.begin(), decodeArgs.end());
        const auto mine = Cli(ours);
        const auto sigrok = RunProgram("/usr/bin/sigrok-cli", theirs, {});
        ASSERT_EQ(mine.exitCode, 0) << mine.err;
        ASSERT_EQ(sigrok.exitCode, 0) << sigrok.err;
        EXPECT_GT(std::count(mine.out.begin(), mine.out.end(), '\n'), 10);
        EXPECT_EQ(mine.out, sigrok.out) << decodeArgs[1];
    }
}

TEST_F(DecodeE2E, TimesListsAndExitStatuses) {
    const auto timed =
        Cli({"decode", m_vcd, "-P", kUartArg, "-A", "uart=rx-data", "--annotation-times"});
    ASSERT_EQ(timed.exitCode, 0) << timed.err;
    // The start bit begins 2 bit times (10.85 samples) after sample 0; H spans its data bits.
    EXPECT_EQ(timed.out.substr(0, timed.out.find('\n')), "17-60 3.4-12 us uart-1: H");

    const auto list = Cli({"decoders"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.out.find("\nuart  "), std::string::npos);

    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{"decode", m_vcd, "-P", "uartt:rx=D8"}, "'uartt'"},
        {{"decode", m_vcd, "-P", "uart:rx=D99"}, "'D99'"},
        {{"decode", m_vcd, "-P", "uart:rx=D8:bogus=1"}, "'bogus'"},
        {{"decode", m_vcd, "-P", "uart:rx=D8:parity=maybe"}, "'maybe'"},
        {{"decode", m_vcd, "-P", kUartArg, "-A", "uart=nothing"}, "'nothing'"},
        {{"decode", (m_dir / "missing.vcd").string(), "-P", kUartArg}, "missing.vcd"},
        {{"decode", m_vcd}, "usage"},
    };
    for (const auto& [args, named] : bad) {
        const auto result = Cli(args);
        EXPECT_EQ(result.exitCode, 2) << args[3 < args.size() ? 3 : 1];
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // A decoder that raises: its message, status 6.
    const auto failed = Cli({"decode", m_vcd, "-P", "uart:rx=D8:baudrate=0"});
    EXPECT_EQ(failed.exitCode, 6);
    EXPECT_NE(failed.err.find("ZeroDivisionError"), std::string::npos) << failed.err;
}

TEST_F(DecodeE2E, CaptureDecodesTheFreshSamples) {
    CAnalyzerEmulator analyzer;
    ASSERT_TRUE(analyzer.Start());
    const std::string vcd = (m_dir / "fresh.vcd").string();
    const auto result =
        RunProgram(QUILLON_CLI,
                   {"capture", "--rate", "200ns", "-o", vcd, "-P", kUartArg, "-A", "uart=rx-data"},
                   CliEnv("COM3=" + analyzer.SlavePath()));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::exists(vcd));
    std::string text;
    for (std::size_t at = 0; (at = result.out.find("uart-1: ", at)) != std::string::npos;) {
        at += 8;
        text += result.out.substr(at, result.out.find('\n', at) - at);
    }
    EXPECT_EQ(text.substr(0, 27), "Hello from Quillon![0D][0A]");

    // A bad argument stops before the analyzer is touched.
    const auto bad = RunProgram(QUILLON_CLI, {"capture", "-o", vcd, "-P", "uart:rx=D8:x=1"},
                                CliEnv("COM3=" + analyzer.SlavePath()));
    EXPECT_EQ(bad.exitCode, 2);
}

} // namespace
