// quillon-cli's capture options against emulated analyzers: a slower analyzer (and the
// window's --reply-delay), numbered repeated captures ended by Ctrl+C, fast download, and the
// cause of "not found".
#include "device/serial_port.h"
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace quillon;
using namespace std::chrono_literals;
using test::RunProgram;
namespace fs = std::filesystem;

class CliRepeatE2E : public ::testing::Test {
protected:
    fs::path m_dir = fs::temp_directory_path() /
                     ("quillon-cli-repeat-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::optional<CAnalyzerEmulator> m_analyzer;

    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }
    void Start(EmulatorOptions options = {}) {
        m_analyzer.emplace(options);
        ASSERT_TRUE(m_analyzer->Start());
    }
    test::ProgramResult Cli(const std::vector<std::string>& args,
                            const std::function<void(pid_t)>& whileRunning = {}) const {
        return RunProgram(QUILLON_CLI, args, {"QUILLON_PORTS=COM3=" + m_analyzer->SlavePath()},
                          whileRunning);
    }
    [[nodiscard]] std::string File(const std::string& name) const { return (m_dir / name); }
    [[nodiscard]] int Count(const std::string& command) const {
        const auto log = m_analyzer->Commands();
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [&](const auto& c) { return c.text == command; }));
    }
};

TEST_F(CliRepeatE2E, SlowerAnalyzerIsFoundWithALongerReplyWaitAndNoLatePacketIsTaken) {
    EmulatorOptions late;
    late.fault = EmulatorFault::Delay;
    late.delay = 45ms;
    Start(late);
    const auto unanswered = Cli({"capture", "-o", File("x.vcd")});
    EXPECT_EQ(unanswered.exitCode, 1) << unanswered.err;

    const auto found = Cli({"capture", "--reply-delay", "60", "-o", File("x.vcd")});
    EXPECT_NE(found.err.find("analyzer found on COM3"), std::string::npos) << found.err;
    // Each packet comes during the next request's pause: none is taken for another's.
    EXPECT_EQ(found.exitCode, 5) << found.err;
    EXPECT_NE(found.err.find("no packet arrived whole"), std::string::npos) << found.err;
    EXPECT_FALSE(fs::exists(File("x.vcd")));

    // The window takes the same setting.
    const std::string ports = "QUILLON_PORTS=COM3=" + m_analyzer->SlavePath();
    const std::string notFound = "USBロジアナが見つかりません。";
    const auto window = RunProgram(QUILLON_PROGRAM, {"--screenshot", File("w.png")}, {ports});
    EXPECT_NE(window.err.find(notFound), std::string::npos) << window.err;
    const auto slower = RunProgram(QUILLON_PROGRAM,
                                   {"--reply-delay", "60", "--screenshot", File("w.png")}, {ports});
    EXPECT_EQ(slower.err.find(notFound), std::string::npos) << slower.err;
    EXPECT_NE(slower.err.find("Packet is not 256. it's 0"), std::string::npos) << slower.err;
}

TEST_F(CliRepeatE2E, CountWritesNumberedFilesFastOnAPacedLine) {
    EmulatorOptions paced;
    paced.lineRateBaud = 921600;
    Start(paced);
    const auto result = Cli({"capture", "--fast", "--count", "3", "-o", File("x.csv")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
    for (const char* name : {"x-001.csv", "x-002.csv", "x-003.csv"}) {
        EXPECT_GT(fs::file_size(File(name)), 4032u * 17) << name;
    }
    EXPECT_FALSE(fs::exists(File("x.csv")));
    EXPECT_FALSE(fs::exists(File("x-004.csv")));
    EXPECT_EQ(Count("SD" + std::string(24, '0') + "\r"), 3);
    EXPECT_EQ(Count("REQPK\r"), 3 * 64);
}

TEST_F(CliRepeatE2E, CountZeroRepeatsUntilInterruptedAndKeepsTheFilesWritten) {
    Start();
    const auto result = Cli({"capture", "--count", "0", "-o", File("r.vcd")}, [&](pid_t pid) {
        for (int i = 0; i < 1000 && !fs::exists(File("r-002.vcd")); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid, SIGINT); // during the third capture
    });
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // Ctrl+C came once the second file was there: the second or third capture was the last.
    const auto at = result.err.find("interrupted after ");
    ASSERT_NE(at, std::string::npos) << result.err;
    const int captures = std::atoi(result.err.c_str() + at + 18);
    EXPECT_TRUE(captures == 2 || captures == 3) << result.err;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        ++files;
        // Every file is whole: a VCD ends with the time stamp after the last sample.
        std::ifstream in(entry.path());
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_NE(text.find("\n#80640\n"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(files, captures);
}

TEST_F(CliRepeatE2E, BusyPortIsNamedAsTheCauseWhenNothingIsFound) {
    Start();
    CSerialPort holder; // another program has the analyzer's port
    ASSERT_EQ(holder.OpenPath(m_analyzer->SlavePath(), CSerialPort::kAnalyzerBaud), 1);
    const auto result = Cli({"capture", "-o", File("x.vcd")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(m_analyzer->SlavePath() + ": in use by another program"),
              std::string::npos)
        << result.err;
}

} // namespace
