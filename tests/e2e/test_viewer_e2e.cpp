// quillon --open and its screenshot mode on a capture file written by Quillon and on the same
// capture rewritten by another program (sigrok-cli); quillon-cli info on all; a file that
// does not fit is refused with its name and line.
#include "capture/capture_bridge.h"
#include "e2e/program_runner.h"
#include "file/capture_file.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace quillon;
using test::RunProgram;
using test::Which;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path =
        fs::temp_directory_path() / ("quillon-viewer-e2e-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
    std::string File(const char* name) const { return (path / name).string(); }
};

// D0: a 1 MHz clock at 20 ns per sample; D5: one glitch of one sample.
CaptureData Bench() {
    CaptureData capture;
    for (int i = 0; i < 4032; ++i) {
        capture.samples.push_back(
            static_cast<std::uint16_t>(((i / 25) % 2) | (i == 3000 ? 1U << 5 : 0U)));
    }
    return capture;
}

} // namespace

TEST(ViewerE2E, OursAndSigroksRewriteOpenToTheSamePicture) {
    const std::string sigrok = Which("sigrok-cli");
    ASSERT_FALSE(sigrok.empty()) << "sigrok-cli is not installed (scripts/install-deps.sh)";
    const TempDir dir;
    const CapturePtr bench = ToCapture(Bench());
    std::ofstream(dir.File("ours.vcd")) << CaptureFileBytes(*bench, FileFormat::Vcd);
    std::ofstream(dir.File("ours.sr")) << CaptureFileBytes(*bench, FileFormat::Sigrok);
    // sigrok-cli rewrites our session file at its rate; our VCD it reads at 1 GHz, its time
    // scale, and states that rate in its own VCD.
    for (const auto& [from, to] :
         {std::pair{"ours.sr", "theirs.vcd"}, std::pair{"ours.vcd", "upsampled.vcd"}}) {
        const auto rewrite =
            RunProgram(sigrok, {"-i", dir.File(from), "-O", "vcd", "-o", dir.File(to)}, {});
        ASSERT_EQ(rewrite.exitCode, 0) << rewrite.err;
    }

    const std::vector<std::string> env = {"QUILLON_PORTS=",
                                          "XDG_CONFIG_HOME=" + dir.File("config")};
    const auto ours = RunProgram(
        QUILLON_PROGRAM, {"--open", dir.File("ours.vcd"), "--screenshot", dir.File("a.png")}, env);
    ASSERT_EQ(ours.exitCode, 0) << ours.err;
    const auto theirs = RunProgram(
        QUILLON_PROGRAM, {dir.File("theirs.vcd"), "--screenshot", dir.File("b.png")}, env);
    ASSERT_EQ(theirs.exitCode, 0) << theirs.err;
    const QImage a(QString::fromStdString(dir.File("a.png")));
    const QImage b(QString::fromStdString(dir.File("b.png")));
    EXPECT_EQ(a.size(), QSize(1280, 720));
    EXPECT_TRUE(a == b) << "the two files show differently";

    for (const char* file : {"ours.vcd", "theirs.vcd", "upsampled.vcd"}) {
        const auto info = RunProgram(QUILLON_CLI, {"info", dir.File(file), "--json"}, {});
        ASSERT_EQ(info.exitCode, 0) << info.err;
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(info.out)).object();
        const QJsonObject d0 = json.value(QStringLiteral("D0")).toObject();
        EXPECT_EQ(d0.value(QStringLiteral("channel")).toInt(), 0) << file << "\n" << info.out;
        EXPECT_EQ(d0.value(QStringLiteral("rising_edges")).toInt(), 81);
        EXPECT_EQ(d0.value(QStringLiteral("falling_edges")).toInt(), 80);
        EXPECT_DOUBLE_EQ(d0.value(QStringLiteral("shortest_high_s")).toDouble(), 5e-07);
        EXPECT_DOUBLE_EQ(d0.value(QStringLiteral("shortest_low_s")).toDouble(), 5e-07);
        EXPECT_DOUBLE_EQ(d0.value(QStringLiteral("period_s")).toDouble(), 1e-06);
        EXPECT_DOUBLE_EQ(d0.value(QStringLiteral("frequency_hz")).toDouble(), 1e6);
        EXPECT_DOUBLE_EQ(d0.value(QStringLiteral("duty_cycle")).toDouble(), 0.5);
        const QJsonObject d5 = json.value(QStringLiteral("D5")).toObject();
        EXPECT_EQ(d5.value(QStringLiteral("rising_edges")).toInt(), 1) << info.out;
        EXPECT_EQ(d5.value(QStringLiteral("falling_edges")).toInt(), 1);
        EXPECT_DOUBLE_EQ(d5.value(QStringLiteral("shortest_high_s")).toDouble(), 2e-08);
        EXPECT_TRUE(d5.value(QStringLiteral("period_s")).isNull());
    }
}

TEST(ViewerE2E, AFileThatDoesNotFitIsNamedWithItsLine) {
    const TempDir dir;
    std::ofstream(dir.File("bad.vcd")) << "$timescale 1 ns $end\n$var wire 1 a A $end\n"
                                          "$enddefinitions $end\n#0 1a\n#7 0b\n";
    const auto result = RunProgram(
        QUILLON_PROGRAM, {"--open", dir.File("bad.vcd"), "--screenshot", dir.File("c.png")},
        {"QUILLON_PORTS=", "XDG_CONFIG_HOME=" + dir.File("config")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("bad.vcd:5: unknown identifier 'b'"), std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir.File("c.png")));
    const auto info = RunProgram(QUILLON_CLI, {"info", dir.File("bad.vcd")}, {});
    EXPECT_EQ(info.exitCode, 2);
    EXPECT_NE(info.err.find("bad.vcd:5:"), std::string::npos) << info.err;
}
