// Export of a capture: the samples taken from the store, VCD and CSV texts, file names, writing.
#include "capture/capture_run.h"
#include "capture/export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

using namespace quillon;

// A reader for the VCD subset ToVcd writes, strict enough to catch malformed output.
struct ParsedVcd {
    std::string timescale;
    std::vector<std::pair<std::string, std::string>> vars; // id, name in declaration order
    bool hasDate = false;
    std::vector<std::int64_t> times;                            // every time stamp, in order
    std::map<std::int64_t, std::map<std::string, int>> changes; // time -> id -> level
};

ParsedVcd ParseVcd(const std::string& text) {
    ParsedVcd vcd;
    std::istringstream in(text);
    std::string token;
    bool definitions = true;
    std::int64_t now = -1;
    while (in >> token) {
        if (definitions) {
            if (token == "$date") {
                vcd.hasDate = true;
            } else if (token == "$timescale") {
                std::string part;
                while (in >> part && part != "$end") {
                    vcd.timescale += (vcd.timescale.empty() ? "" : " ") + part;
                }
            } else if (token == "$var") {
                std::string type, width, id, name, end;
                in >> type >> width >> id >> name >> end;
                EXPECT_EQ(type, "wire");
                EXPECT_EQ(width, "1");
                EXPECT_EQ(end, "$end");
                vcd.vars.emplace_back(id, name);
            } else if (token == "$enddefinitions") {
                in >> token;
                EXPECT_EQ(token, "$end");
                definitions = false;
            }
            continue;
        }
        if (token == "$dumpvars" || token == "$end") {
            continue;
        }
        if (token[0] == '#') {
            now = std::stoll(token.substr(1));
            vcd.times.push_back(now);
            continue;
        }
        EXPECT_TRUE(token[0] == '0' || token[0] == '1') << token;
        EXPECT_GE(now, 0) << "a value before the first time stamp";
        auto& atTime = vcd.changes[now];
        EXPECT_EQ(atTime.count(token.substr(1)), 0u) << "channel set twice at " << now;
        atTime[token.substr(1)] = token[0] - '0';
    }
    return vcd;
}

// Replays the changes into one sample per period, for times 0, period, ... before end.
std::vector<std::uint16_t> Replay(const ParsedVcd& vcd, std::int64_t period, std::int64_t end) {
    std::map<std::string, int> bitOf;
    for (std::size_t n = 0; n < vcd.vars.size(); ++n) {
        bitOf[vcd.vars[n].first] = static_cast<int>(n);
    }
    std::vector<std::uint16_t> samples;
    std::uint16_t value = 0;
    auto next = vcd.changes.begin();
    for (std::int64_t t = 0; t < end; t += period) {
        for (; next != vcd.changes.end() && next->first <= t; ++next) {
            EXPECT_EQ(next->first, t) << "a change between two samples";
            for (const auto& [id, level] : next->second) {
                const int bit = bitOf.at(id);
                value = static_cast<std::uint16_t>(level != 0 ? value | (1U << bit)
                                                              : value & ~(1U << bit));
            }
        }
        samples.push_back(value);
    }
    return samples;
}

std::vector<std::uint16_t> RandomSamples(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint16_t> samples(count);
    std::uint16_t value = static_cast<std::uint16_t>(gen());
    for (auto& s : samples) {
        // Mostly a few channels flip, sometimes none: like a real bench.
        if (gen() % 3 != 0) {
            value = static_cast<std::uint16_t>(value ^ (1U << (gen() % 16)));
        }
        s = value;
    }
    return samples;
}

TEST(CaptureFromStore, TakesTheDownloadedSamplesWithTheirRate) {
    SampleStore store;
    for (int i = 0; i < SampleStore::kCapacity; ++i) {
        store.m_sampleLow[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        store.m_sampleHigh[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i >> 8 | 0x80);
    }
    const CaptureData data = CaptureFromStore(store, 100);
    EXPECT_EQ(data.rate, 100);
    ASSERT_EQ(data.samples.size(), 4032u);
    for (int i : {0, 1, 255, 256, 4031}) {
        EXPECT_EQ(data.samples[static_cast<std::size_t>(i)], store.GetSample(i)) << i;
    }
    EXPECT_EQ(data.samples[257], 0x8101);
}

TEST(SampleTime, IsIndexTimesTwentyNanosecondsTimesRate) {
    struct Case {
        int rate;
        std::int64_t index;
        std::int64_t ns;
    };
    for (const Case& c : {Case{1, 0, 0}, Case{1, 1, 20}, Case{1, 4031, 80620},
                          Case{10, 4031, 806200}, Case{100, 1, 2000}, Case{1000, 4032, 80640000}}) {
        CaptureData data;
        data.rate = c.rate;
        EXPECT_EQ(SampleTimeNs(data, c.index), c.ns) << c.rate << " " << c.index;
    }
}

TEST(Vcd, HeaderDeclaresSixteenWiresD0ToD15AtOneNanosecond) {
    CaptureData data;
    data.samples = {0};
    const std::string text = ToVcd(data);
    const ParsedVcd vcd = ParseVcd(text);
    EXPECT_EQ(vcd.timescale, "1 ns");
    EXPECT_NE(text.find("$timescale 1 ns $end\n"), std::string::npos);
    EXPECT_NE(text.find("$scope module quillon $end\n"), std::string::npos);
    EXPECT_NE(text.find("$upscope $end\n$enddefinitions $end\n"), std::string::npos);
    EXPECT_NE(text.find("$version"), std::string::npos);
    ASSERT_EQ(vcd.vars.size(), 16u);
    std::set<std::string> ids;
    for (std::size_t n = 0; n < vcd.vars.size(); ++n) {
        // Appending, not "D" + to_string(n): GCC 12 warns falsely (-Wrestrict) on that at -O2.
        std::string name = "D";
        name += std::to_string(n);
        EXPECT_EQ(vcd.vars[n].second, name);
        ids.insert(vcd.vars[n].first);
        for (char c : vcd.vars[n].first) {
            EXPECT_TRUE(c > ' ' && c < 127 && c != '$' && c != '#') << vcd.vars[n].first;
        }
    }
    EXPECT_EQ(ids.size(), 16u);
    EXPECT_FALSE(vcd.hasDate);
    EXPECT_TRUE(ParseVcd(ToVcd(data, "2024-05-01 12:00:00")).hasDate);
}

TEST(Vcd, DumpsAllAtZeroThenOnlyChangesAndEndsAfterTheLastSample) {
    CaptureData data;
    data.rate = 10;
    data.samples = {0x0001, 0x0001, 0x8001, 0x8000, 0x8000};
    const ParsedVcd vcd = ParseVcd(ToVcd(data));
    // #0 with all 16, #400 (sample 2) D15, #600 (sample 3) D0, #1000 the end; 1 and 4 are quiet.
    EXPECT_EQ(vcd.times, (std::vector<std::int64_t>{0, 400, 600, 1000}));
    ASSERT_EQ(vcd.changes.at(0).size(), 16u);
    EXPECT_EQ(vcd.changes.at(0).at(vcd.vars[0].first), 1);
    EXPECT_EQ(vcd.changes.at(0).at(vcd.vars[15].first), 0);
    EXPECT_EQ(vcd.changes.at(400), (std::map<std::string, int>{{vcd.vars[15].first, 1}}));
    EXPECT_EQ(vcd.changes.at(600), (std::map<std::string, int>{{vcd.vars[0].first, 0}}));
    EXPECT_EQ(vcd.changes.count(1000), 0u);
}

TEST(Vcd, ReplaysToTheSameSamplesAtEveryRate) {
    for (int rate : {1, 10, 100, 1000}) {
        CaptureData data;
        data.rate = rate;
        data.samples = RandomSamples(4032, static_cast<unsigned>(rate));
        const ParsedVcd vcd = ParseVcd(ToVcd(data));
        const std::int64_t period = 20LL * rate;
        ASSERT_FALSE(vcd.times.empty());
        EXPECT_EQ(vcd.times.back(), 4032 * period) << rate;
        EXPECT_TRUE(std::is_sorted(vcd.times.begin(), vcd.times.end()));
        EXPECT_EQ(std::set<std::int64_t>(vcd.times.begin(), vcd.times.end()).size(),
                  vcd.times.size())
            << "a time stamp written twice";
        EXPECT_EQ(Replay(vcd, period, 4032 * period), data.samples) << rate;
    }
}

TEST(Vcd, QuietOrEmptyCaptures) {
    CaptureData quiet;
    quiet.samples.assign(4032, 0xA5A5);
    const ParsedVcd vcd = ParseVcd(ToVcd(quiet));
    EXPECT_EQ(vcd.times, (std::vector<std::int64_t>{0, 80640}));
    EXPECT_EQ(Replay(vcd, 20, 80640), quiet.samples);

    const std::string empty = ToVcd(CaptureData{});
    EXPECT_EQ(empty.find('#'), std::string::npos);
    EXPECT_EQ(ParseVcd(empty).vars.size(), 16u);
}

TEST(Csv, HeaderThenOneRowPerSampleWithTimeAndLevels) {
    CaptureData data;
    data.rate = 100;
    data.samples = {0x0000, 0x8001, 0x0102};
    const std::string text = ToCsv(data);
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "time_ns,D0,D1,D2,D3,D4,D5,D6,D7,D8,D9,D10,D11,D12,D13,D14,D15");
    EXPECT_EQ(lines[1], "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(lines[2], "2000,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1");
    EXPECT_EQ(lines[3], "4000,0,1,0,0,0,0,0,0,1,0,0,0,0,0,0,0");
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(Csv, FullCaptureHasARowForEverySample) {
    CaptureData data;
    data.samples = RandomSamples(4032, 7);
    const std::string text = ToCsv(data);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4033);
    EXPECT_NE(text.find("\n80620,"), std::string::npos); // the last sample's time
}

// Samples the run did not receive leave the program as unknown, never as old data.
TEST(Export, MissingSamplesAreUnknownInVcdAndEmptyInCsv) {
    CaptureData data;
    data.samples = {0x0001, 0x0001, 0x0003, 0x0003, 0x0003};
    data.received = {1, 0, 0, 1, 1};
    const std::string vcd = ToVcd(data);
    const std::string body = vcd.substr(vcd.find("$enddefinitions"));
    // Sample 1 turns every wire to x; sample 3 brings all 16 back with their levels.
    EXPECT_NE(body.find("#20\nxa\nxb\nxc\n"), std::string::npos) << body;
    EXPECT_EQ(body.find("#40"), std::string::npos) << "x to x is no change";
    const auto back = body.find("#60\n1a\n1b\n0c\n");
    ASSERT_NE(back, std::string::npos) << body;
    EXPECT_EQ(std::count(body.begin() + static_cast<std::ptrdiff_t>(back), body.end(), '\n'),
              1 + 16 + 1); // the stamp, 16 wires, the end stamp
    EXPECT_EQ(std::count(body.begin(), body.end(), 'x'), 16);

    const std::string csv = ToCsv(data);
    EXPECT_NE(csv.find("\n0,1,0,"), std::string::npos);
    EXPECT_NE(csv.find("\n20,,,,,,,,,,,,,,,,\n40,,,,,,,,,,,,,,,,\n60,1,1,0,"), std::string::npos)
        << csv;

    data.received.assign(5, 0);
    EXPECT_NE(ToVcd(data).find("$dumpvars\nxa\n"), std::string::npos);
}

TEST(Export, NamesAndChannelCountAreThoseOfTheCapture) {
    CaptureData data;
    data.samples = {0x0002};
    data.channels = 2;
    data.names[0] = "chip select";
    data.names[1] = "a,\"b\"";
    const std::string vcd = ToVcd(data);
    // Blanks and commas would split a name in either format.
    EXPECT_NE(vcd.find("$var wire 1 a chip_select $end\n$var wire 1 b a_\"b\" $end\n$upscope"),
              std::string::npos)
        << vcd;
    EXPECT_EQ(ToCsv(data), "time_ns,chip_select,a_\"b\"\n0,0,1\n");
}

TEST(CaptureFromRun, MarksTheSamplesOfRejectedPacketsAndPlacesTheTrigger) {
    SampleStore store;
    CaptureResult result;
    result.received.set();
    result.triggered = true;
    const CaptureData whole = CaptureFromRun(store, 10, result, "10");
    EXPECT_TRUE(whole.received.empty());
    EXPECT_EQ(whole.rate, 10);
    EXPECT_EQ(whole.triggerSample, 2016);

    result.received.reset(2);  // samples 256..383
    result.received.reset(40); // beyond the kept samples: costs nothing
    result.triggered = false;  // stopped, not triggered: no trigger sample
    const CaptureData partial = CaptureFromRun(store, 1, result, "10");
    ASSERT_EQ(partial.received.size(), 4032u);
    EXPECT_EQ(partial.MissingCount(), 128u);
    EXPECT_TRUE(partial.IsReceived(255));
    EXPECT_FALSE(partial.IsReceived(256));
    EXPECT_FALSE(partial.IsReceived(383));
    EXPECT_TRUE(partial.IsReceived(384));
    EXPECT_FALSE(partial.triggerSample.has_value());

    result.triggered = true;
    EXPECT_FALSE(CaptureFromRun(store, 1, result, "1").triggerSample.has_value());
    EXPECT_FALSE(CaptureFromRun(store, 1, result, "x1").triggerSample.has_value());
    EXPECT_EQ(CaptureFromRun(store, 1, result, "11").triggerSample, 3024);
}

TEST(FormatForPath, FollowsTheExtension) {
    struct Case {
        std::string path;
        std::optional<ExportFormat> format;
    };
    const std::vector<Case> cases = {
        {"x.vcd", ExportFormat::Vcd},
        {"/tmp/run 1/X.VCD", ExportFormat::Vcd},
        {"a.csv", ExportFormat::Csv},
        {"a.Csv", ExportFormat::Csv},
        {"shot.png", ExportFormat::Png},
        {"dir.png/file", std::nullopt},
        {"x", std::nullopt},
        {".vcd", std::nullopt},
        {"dir/.csv", std::nullopt},
        {"x.vcd.bak", std::nullopt},
        {"x.", std::nullopt},
        {"x.vcdx", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatForPath(c.path), c.format) << c.path;
    }
}

class WriteFile : public ::testing::Test {
protected:
    std::filesystem::path m_dir =
        std::filesystem::temp_directory_path() / ("quillon-export-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(WriteFile, WritesAllBytesAndReplacesLongerContent) {
    const auto path = m_dir / "out.bin";
    std::string error = "stale";
    ASSERT_TRUE(WriteWholeFile(path.string(), "a much longer text than the next one", error));
    const std::string bytes("\x89PNG\0\r\n", 7);
    ASSERT_TRUE(WriteWholeFile(path.string(), bytes, error));
    EXPECT_EQ(Read(path), bytes);
    EXPECT_TRUE(error.empty());
}

// The file is replaced whole by a renamed new one: its permissions stay, a link still leads
// to it, and nothing else is left in the folder.
TEST_F(WriteFile, ReplacesTheFileALinkNamesAndKeepsItsPermissions) {
    const auto path = m_dir / "out.csv";
    std::string error;
    ASSERT_TRUE(WriteWholeFile(path.string(), "old", error));
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    std::filesystem::create_symlink(path, m_dir / "link.csv");
    ASSERT_TRUE(WriteWholeFile((m_dir / "link.csv").string(), "new", error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "link.csv"));
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir),
                            std::filesystem::directory_iterator()),
              2);
}

TEST_F(WriteFile, ReportsTheReason) {
    std::string error;
    EXPECT_FALSE(WriteWholeFile((m_dir / "missing" / "x.vcd").string(), "x", error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(WriteWholeFile(m_dir.string(), "x", error));
    EXPECT_EQ(error, "Is a directory");
    if (::access("/dev/full", W_OK) == 0) {
        // The disk fills up: the error shows when the data is flushed.
        EXPECT_FALSE(WriteWholeFile("/dev/full", std::string(1 << 16, 'x'), error));
        EXPECT_EQ(error, "No space left on device");
    }
}

} // namespace
