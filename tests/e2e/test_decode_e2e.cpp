// quillon-cli's decoding: the same lines as sigrok-cli for the same file, its exit statuses,
// decoding a fresh capture from the emulated analyzer, samples not received left undecoded,
// and decoders that never return or crawl, which Ctrl+C and SIGTERM end at once; the viewer's
// unattended picture, which uses none of the user's decoders.
#include "capture/capture_bridge.h"
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"
#include "emulator/bench_signals.h"
#include "file/capture_file.h"
#include "file/save_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
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

constexpr const char* kTestDecoders = "SIGROKDECODE_DIR=" QUILLON_TEST_DECODERS;

/// quillon-cli's environment, with QUILLON_PORTS naming ports when given.
std::vector<std::string> CliEnv(const std::string& ports = {}) {
    std::vector<std::string> env{kTestDecoders};
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

/// The characters of the uart-1 lines of a decode ("[0D]" for a carriage return).
std::string UartText(const std::string& lines) {
    std::string text;
    for (std::size_t at = 0; (at = lines.find("uart-1: ", at)) != std::string::npos;) {
        at += 8;
        text += lines.substr(at, lines.find('\n', at) - at);
    }
    return text;
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
        // The decoder would divide by it: refused before it runs.
        {{"decode", m_vcd, "-P", "uart:rx=D8:baudrate=0"}, "'baudrate'"},
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
    const auto failed = Cli({"decode", m_vcd, "-P", "testraise:data=D0"});
    EXPECT_EQ(failed.exitCode, 6);
    EXPECT_NE(failed.err.find("ValueError"), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("broken on purpose"), std::string::npos) << failed.err;
}

/// The process ids of pid's children.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> children;
    for (pid_t child = 0; in >> child;) {
        children.push_back(child);
    }
    return children;
}

/// Gone, or a zombie waiting for whoever inherited it, within a second.
bool Ends(pid_t pid) {
    for (int tries = 0; tries < 100; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            return true;
        }
        const auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

/// Runs quillon-cli with args, sends sig once the decoder has run a while, and tells how long
/// the program took to end after it and which children it left running.
struct Interrupted {
    test::ProgramResult result;
    std::chrono::milliseconds afterSignal{0};
    std::vector<pid_t> children;
};
Interrupted InterruptCli(const std::vector<std::string>& args, int sig,
                         const std::vector<std::string>& env) {
    Interrupted out;
    std::chrono::steady_clock::time_point sent;
    out.result = RunProgram(QUILLON_CLI, args, env, [&](pid_t pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        out.children = ChildrenOf(pid);
        sent = std::chrono::steady_clock::now();
        ::kill(pid, sig);
    });
    out.afterSignal = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    return out;
}

TEST_F(DecodeE2E, CtrlCAndTermEndDecodersThatNeverReturn) {
    // A decoder that loops for ever: Ctrl+C ends the command at once with 130; what it found
    // before it looped was printed as it came.
    const auto looping =
        InterruptCli({"decode", m_vcd, "-P", "testloop:data=D0"}, SIGINT, CliEnv());
    EXPECT_EQ(looping.result.exitCode, 130) << looping.result.err;
    EXPECT_LT(looping.afterSignal.count(), 1000);
    EXPECT_EQ(looping.result.out, "testloop-1: looping\n");
    ASSERT_FALSE(looping.children.empty()); // the decoding process, ended with the command
    for (const pid_t child : looping.children) {
        EXPECT_TRUE(Ends(child));
    }

    // One that sleeps 20 ms per sample: SIGTERM gives 143, its lines streamed meanwhile.
    const auto slow = InterruptCli({"decode", m_vcd, "-P", "testsleep:data=D0"}, SIGTERM, CliEnv());
    EXPECT_EQ(slow.result.exitCode, 143) << slow.result.err;
    EXPECT_LT(slow.afterSignal.count(), 1000);
    EXPECT_EQ(slow.result.out.rfind("testsleep-1: sample 1\ntestsleep-1: sample 2\n", 0), 0u)
        << slow.result.out;

    // capture -P: the same once the capture is written.
    CAnalyzerEmulator analyzer;
    ASSERT_TRUE(analyzer.Start());
    const std::string vcd = (m_dir / "fresh.vcd").string();
    const auto capture = InterruptCli({"capture", "--fast", "-o", vcd, "-P", "testloop:data=D0"},
                                      SIGINT, CliEnv("COM3=" + analyzer.SlavePath()));
    EXPECT_EQ(capture.result.exitCode, 130) << capture.result.err;
    EXPECT_LT(capture.afterSignal.count(), 1000);
    EXPECT_TRUE(fs::exists(vcd));
}

TEST_F(DecodeE2E, SamplesNotReceivedAreNeverDecoded) {
    // The bench's UART with samples 1000 ... 1099 unknown (x in the file, as for a packet
    // that never arrived).
    CaptureData bench;
    bench.rate = kRate200ns;
    bench.samples = SampleSignals(SignalSet::Bench, kRate200ns, 0, 4032);
    bench.received.assign(bench.samples.size(), 1);
    std::fill(bench.received.begin() + 1000, bench.received.begin() + 1100, 0);
    const std::string gapped = (m_dir / "gapped.vcd").string();
    std::string error;
    ASSERT_TRUE(WriteCaptureFile(gapped, *ToCapture(bench), FileFormat::Vcd, error)) << error;

    const std::vector<std::string> decode = {"-P", kUartArg, "-A", "uart=rx-data",
                                             "--annotation-times"};
    std::vector<std::string> args = {"decode", gapped};
    args.insert(args.end(), decode.begin(), decode.end());
    const auto result = Cli(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("100 samples of the decoded channels were not received"),
              std::string::npos)
        << result.err;
    args[1] = m_vcd;
    const auto whole = Cli(args);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;

    // Nothing spans the gap; up to it, exactly what the whole capture gives; after it the
    // line is found again, at its own samples.
    const std::regex line(R"(^(\d+)-(\d+) .*$)");
    std::istringstream lines(result.out);
    std::istringstream reference(whole.out);
    std::string text;
    std::string expected;
    int before = 0;
    std::string after;
    for (std::smatch m; std::getline(lines, text);) {
        ASSERT_TRUE(std::regex_match(text, m, line)) << text;
        const long first = std::stol(m[1]);
        const long end = std::stol(m[2]);
        EXPECT_TRUE(end <= 1000 || first >= 1100) << text;
        if (end <= 1000) {
            ASSERT_TRUE(std::getline(reference, expected));
            EXPECT_EQ(text, expected);
            ++before;
        } else if (text.size() == text.find(": ") + 3) {
            after += text.back(); // a character
        }
    }
    EXPECT_GT(before, 10);
    EXPECT_NE(after.find("Hello"), std::string::npos) << after;
}

TEST_F(DecodeE2E, TheViewersPictureUsesNoneOfTheUsersDecodersOrHiddenRows) {
    // The user keeps a decoder that never returns and hides D0: a picture without a user
    // shows neither, ends at once, and is the one a fresh user gets.
    const fs::path home = m_dir / "home";
    const fs::path fresh = m_dir / "fresh";
    fs::create_directories(home / "Quillon");
    fs::create_directories(fresh);
    std::ofstream(home / "Quillon" / "quillon.conf")
        << "[viewer]\ndecoders=+testloop:data=D0\nhidden=1\n";
    const auto shoot = [&](const fs::path& config, const std::string& png) {
        return RunProgram(QUILLON_PROGRAM, {"--open", m_vcd, "--screenshot", png},
                          {kTestDecoders, "XDG_CONFIG_HOME=" + config.string()});
    };
    const auto started = std::chrono::steady_clock::now();
    const auto user = shoot(home, (m_dir / "user.png").string());
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(user.exitCode, 0) << user.err;
    EXPECT_LT(took, std::chrono::seconds(5));
    const auto none = shoot(fresh, (m_dir / "fresh.png").string());
    ASSERT_EQ(none.exitCode, 0) << none.err;
    std::ifstream a(m_dir / "user.png", std::ios::binary);
    std::ifstream b(m_dir / "fresh.png", std::ios::binary);
    const std::string pa((std::istreambuf_iterator<char>(a)), {});
    const std::string pb((std::istreambuf_iterator<char>(b)), {});
    EXPECT_FALSE(pa.empty());
    EXPECT_TRUE(pa == pb);

    // Nor the view kept with the file (a row hidden, renamed, a decoder that never returns):
    // a picture without a user is the same wherever the file goes.
    const fs::path view = m_vcd + ".quillon";
    std::ofstream(view) << R"({"format": "quillon-view", "version": 1, "file": "bench.vcd",
        "channels": [{"channel": 0, "file_name": "D0", "hidden": true},
                     {"channel": 1, "file_name": "D1", "name": "RENAMED"}],
        "decoders": ["+testloop:data=D0"], "markers": []})";
    const auto viewed = shoot(fresh, (m_dir / "viewed.png").string());
    fs::remove(view);
    ASSERT_EQ(viewed.exitCode, 0) << viewed.err;
    std::ifstream v(m_dir / "viewed.png", std::ios::binary);
    EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(v)), {}) == pb);

    // Asked for, a decoder's rows are in the picture.
    const auto asked =
        RunProgram(QUILLON_PROGRAM,
                   {"--open", m_vcd, "--screenshot", (m_dir / "uart.png").string(), "-P", kUartArg},
                   {kTestDecoders, "XDG_CONFIG_HOME=" + fresh.string()});
    ASSERT_EQ(asked.exitCode, 0) << asked.err;
    std::ifstream c(m_dir / "uart.png", std::ios::binary);
    EXPECT_NE(std::string((std::istreambuf_iterator<char>(c)), {}), pb);
    const auto wrong = RunProgram(QUILLON_PROGRAM,
                                  {"--open", m_vcd, "--screenshot", (m_dir / "bad.png").string(),
                                   "-P", "uart:rx=D8:baudrate=0"},
                                  {kTestDecoders, "XDG_CONFIG_HOME=" + fresh.string()});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("'baudrate'"), std::string::npos) << wrong.err;
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
    EXPECT_EQ(UartText(result.out).substr(0, 27), "Hello from Quillon![0D][0A]");

    // A bad argument stops before the analyzer is touched.
    const auto bad = RunProgram(QUILLON_CLI, {"capture", "-o", vcd, "-P", "uart:rx=D8:x=1"},
                                CliEnv("COM3=" + analyzer.SlavePath()));
    EXPECT_EQ(bad.exitCode, 2);
}

// The README's figures of the bench's UART come from a capture of the emulator: the same
// characters from quillon-cli and sigrok-cli, as many as the README says.
TEST_F(DecodeE2E, ReadmeUartFiguresAreThoseOfARun) {
    std::ifstream file(QUILLON_README);
    const std::string readme((std::istreambuf_iterator<char>(file)), {});
    // The README's words, wherever its lines break.
    const auto words = [](const std::string& text) {
        return std::regex(std::regex_replace(text, std::regex(" "), "\\s+"));
    };
    std::smatch at20;
    std::smatch at200;
    ASSERT_TRUE(
        std::regex_search(readme, at20, words("at 20 ns only its first (\\d+) characters fit")));
    ASSERT_TRUE(std::regex_search(
        readme, at200,
        words("at 200 ns it holds (\\d+) whole lines and (\\d+) characters? of the next")));
    const std::string line = "Hello from Quillon![0D][0A]";

    CAnalyzerEmulator analyzer;
    ASSERT_TRUE(analyzer.Start());
    std::string decoded[2];
    const char* rates[] = {"20ns", "200ns"};
    for (int i = 0; i < 2; ++i) {
        const std::string sr = (m_dir / (std::string(rates[i]) + ".sr")).string();
        const auto result = RunProgram(QUILLON_CLI,
                                       {"capture", "--fast", "--rate", rates[i], "-o", sr, "-P",
                                        kUartArg, "-A", "uart=rx-data"},
                                       CliEnv("COM3=" + analyzer.SlavePath()));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        decoded[i] = UartText(result.out);
        if (HaveSigrokCli()) {
            const auto sigrok = RunProgram("/usr/bin/sigrok-cli",
                                           {"-i", sr, "-P", kUartArg, "-A", "uart=rx-data"}, {});
            ASSERT_EQ(sigrok.exitCode, 0) << sigrok.err;
            EXPECT_EQ(UartText(sigrok.out), decoded[i]) << rates[i];
        }
    }
    EXPECT_EQ(decoded[0], line.substr(0, std::stoul(at20[1]))) << "at 20 ns: " << decoded[0];
    std::string lines;
    for (int n = 0; n < std::stoi(at200[1]); ++n) {
        lines += line;
    }
    EXPECT_EQ(decoded[1], lines + line.substr(0, std::stoul(at200[2])))
        << "at 200 ns: " << decoded[1];
}

} // namespace
