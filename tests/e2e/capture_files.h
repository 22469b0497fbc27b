// Reading back what the programs wrote: files, CSV samples, and the emulator's own samples.
#pragma once

#include "capture/sample_store.h"
#include "emulator/analyzer_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillon::test {

/// A scratch folder named after the test, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "quillon-cli-e2e-") {
        std::string name = prefix + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-'); // a parameterised test's name
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] std::string File(const std::string& name) const {
        return (m_path / name).string();
    }

private:
    std::filesystem::path m_path;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

/// The samples the program keeps of the emulator's last download.
inline std::vector<std::uint16_t> KeptSamples(const CAnalyzerEmulator& emulator) {
    const auto capture = emulator.LastCapture();
    if (!capture) {
        return {};
    }
    return {capture->samples.begin(), capture->samples.begin() + SampleStore::kSamplesPerCapture};
}

/// A CSV capture's rows as sample words, checking each row's time; unknown: where the row's
/// levels are empty (not received), set to 1, else 0 (when given).
inline std::vector<std::uint16_t> CsvSamples(const std::string& csv, int rate,
                                             std::vector<std::uint8_t>* unknown = nullptr) {
    std::vector<std::uint16_t> samples;
    auto lines = Lines(csv);
    // A capture taken with a trigger starts with a comment line that says where it is.
    if (!lines.empty() && lines.front().rfind("; ", 0) == 0) {
        lines.erase(lines.begin());
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream row(lines[i]);
        std::string cell;
        std::getline(row, cell, ',');
        EXPECT_EQ(cell, std::to_string((i - 1) * 20 * static_cast<std::size_t>(rate)));
        std::uint16_t value = 0;
        bool empty = false;
        for (int bit = 0; std::getline(row, cell, ','); ++bit) {
            value = static_cast<std::uint16_t>(value | ((cell == "1" ? 1 : 0) << bit));
            empty = empty || cell.empty();
        }
        // A row of empty levels ends in a comma that getline does not report.
        empty = empty || lines[i].back() == ',';
        samples.push_back(value);
        if (unknown != nullptr) {
            unknown->push_back(empty ? 1 : 0);
        }
    }
    return samples;
}

} // namespace quillon::test
