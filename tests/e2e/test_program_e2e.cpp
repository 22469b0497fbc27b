// The real quillon program, headless, against emulated analyzers on pseudo-terminals.
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"
#include "ui/strings.h"

#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <sys/file.h>

using namespace std::chrono_literals;

namespace {

using namespace quillon;
using test::RunProgram;

std::string TempPng(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("quillon-e2e-" + std::to_string(::getpid()) + "-" + name + ".png"))
        .string();
}

std::vector<std::string> Texts(const std::vector<CAnalyzerEmulator::LoggedCommand>& commands) {
    std::vector<std::string> texts;
    for (const auto& c : commands) {
        texts.push_back(c.text);
    }
    return texts;
}

TEST(ProgramE2E, FindsTheAnalyzerPastAForeignDeviceAndCaptures) {
    EmulatorOptions foreignOptions;
    foreignOptions.fault = EmulatorFault::Foreign;
    CAnalyzerEmulator foreign(foreignOptions);
    CAnalyzerEmulator analyzer;
    CAnalyzerEmulator spare; // COM4: must never be opened
    ASSERT_TRUE(foreign.Start() && analyzer.Start() && spare.Start());
    const std::string shot = TempPng("found");
    const auto result =
        RunProgram(QUILLON_PROGRAM, {"--screenshot", shot},
                   {"QUILLON_PORTS=COM1=" + foreign.SlavePath() + ";COM3=" + analyzer.SlavePath() +
                    ";COM4=" + spare.SlavePath()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;

    EXPECT_EQ(Texts(foreign.Commands()), std::vector<std::string>{"REQPN\r"});
    EXPECT_TRUE(spare.Commands().empty());

    const auto commands = analyzer.Commands();
    std::vector<std::string> expected = {"REQPN\r", "RST\r", "CAP\r",
                                         "SD" + std::string(24, '0') + "\r", "DLD\r"};
    expected.insert(expected.end(), 64, "REQPK\r");
    expected.push_back("CAP\r");
    ASSERT_EQ(Texts(commands), expected);
    // Pauses: reply wait 30 ms + 100 ms before the reset, reply wait 30 + 50 ms before arming.
    const auto gap = [&](std::size_t i) { return commands[i + 1].time - commands[i].time; };
    // The emulator stamps a command when it has read its last byte; on a busy machine that
    // read can come a few milliseconds after the byte, which shortens the next gap as seen.
    constexpr auto kStampSlack = 10ms;
    EXPECT_GE(gap(0), 130ms - kStampSlack);
    EXPECT_LT(gap(0), 130ms + 500ms);
    EXPECT_GE(gap(1), 80ms - kStampSlack);
    EXPECT_LT(gap(1), 80ms + 500ms);
    EXPECT_GE(gap(3), 200ms - kStampSlack); // the settings' pause

    // The screenshot shows the window with traces drawn over the grid.
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 600);
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            coloured += (qRed(p) == 200 && qGreen(p) == 0 && qBlue(p) == 255) ? 1 : 0;
        }
    }
    EXPECT_GT(coloured, 300); // the violet traces of channels 15 and 7
    std::filesystem::remove(shot);
}

TEST(ProgramE2E, NoPortsWarnsWithTheExactTextAndStillOpens) {
    const std::string shot = TempPng("none");
    const auto result = RunProgram(QUILLON_PROGRAM, {"--screenshot", shot}, {"QUILLON_PORTS="});
    EXPECT_EQ(result.exitCode, 1) << result.err; // the picture, but a script can tell
    EXPECT_NE(result.err.find(kNotFoundText), std::string::npos) << result.err;
    EXPECT_TRUE(std::filesystem::exists(shot));
    std::filesystem::remove(shot);
}

TEST(ProgramE2E, AnalyzerHeldByAnotherProgramIsNotFound) {
    CAnalyzerEmulator analyzer;
    ASSERT_TRUE(analyzer.Start());
    const int holder = ::open(analyzer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string shot = TempPng("held");
    const auto result = RunProgram(QUILLON_PROGRAM, {"--screenshot", shot},
                                   {"QUILLON_PORTS=COM3=" + analyzer.SlavePath()});
    ::close(holder);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(kNotFoundText), std::string::npos) << result.err;
    EXPECT_TRUE(analyzer.Commands().empty());
    std::filesystem::remove(shot);
}

TEST(ProgramE2E, VersionHelpAndBadArguments) {
    auto version = RunProgram(QUILLON_PROGRAM, {"--version"}, {});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quillon 1.0.0.1\n");
    auto help = RunProgram(QUILLON_PROGRAM, {"--help"}, {});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--demo"), std::string::npos);
    auto bad = RunProgram(QUILLON_PROGRAM, {"--no-such-option"}, {});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_FALSE(bad.err.empty());
}

TEST(ProgramE2E, AnIncompleteCaptureIsDrawnButExitsFive) {
    EmulatorOptions options;
    options.fault = EmulatorFault::ShortPacket;
    options.faultPacket = 7;
    CAnalyzerEmulator analyzer(options);
    ASSERT_TRUE(analyzer.Start());
    const std::string shot = TempPng("incomplete");
    const auto result = RunProgram(QUILLON_PROGRAM, {"--screenshot", shot},
                                   {"QUILLON_PORTS=COM3=" + analyzer.SlavePath()});
    EXPECT_EQ(result.exitCode, 5) << result.err;
    EXPECT_NE(result.err.find("63 of 64"), std::string::npos) << result.err;
    EXPECT_FALSE(QImage(QString::fromStdString(shot)).isNull());
    std::filesystem::remove(shot);
}

// No display at all: the options answer, and the screenshot picks the offscreen platform.
TEST(ProgramE2E, RunsWithoutADisplay) {
    const std::vector<std::string> noDisplay = {
        "QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "QUILLON_PORTS="};
    const auto version = RunProgram(QUILLON_PROGRAM, {"--version"}, noDisplay);
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, "quillon 1.0.0.1\n");
    const auto help = RunProgram(QUILLON_PROGRAM, {"--help"}, noDisplay);
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: quillon [options] [file]\n", 0), 0u) << help.out;
    EXPECT_EQ(RunProgram(QUILLON_PROGRAM, {"--bogus"}, noDisplay).exitCode, 2);
    const std::string shot = TempPng("nodisplay");
    const auto unattended = RunProgram(QUILLON_PROGRAM, {"--screenshot", shot}, noDisplay);
    EXPECT_EQ(unattended.exitCode, 1) << unattended.err; // drawn, but no analyzer
    EXPECT_FALSE(QImage(QString::fromStdString(shot)).isNull());
    std::filesystem::remove(shot);
}

TEST(ProgramE2E, DemoFindsItsOwnAnalyzer) {
    const std::string shot = TempPng("demo");
    const auto result =
        RunProgram(QUILLON_PROGRAM, {"--demo", "--screenshot", shot}, {"QUILLON_PORTS="});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find(".png"), std::string::npos);
    std::filesystem::remove(shot);
}

} // namespace
