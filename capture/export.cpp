// VCD and CSV texts of a capture, and the file writing shared by the window and the tool.
#include "capture/export.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifndef QUILLON_VERSION
#define QUILLON_VERSION ""
#endif

namespace quillon {

namespace {

// One-letter identifiers, 'a' for D0 up to 'p' for D15: letters never look like a keyword
// ('$') or a time stamp ('#') to a simple reader.
char VcdId(int channel) {
    return static_cast<char>('a' + channel);
}

void AppendTime(std::string& out, std::int64_t ns) {
    out += '#';
    out += std::to_string(ns);
    out += '\n';
}

int ChannelCount(const CaptureData& data) {
    return std::clamp(data.channels, 1, kExportChannels);
}

// A channel's name as one VCD word: blanks and control characters would end it early.
std::string VcdName(const std::string& name, int channel) {
    if (name.empty()) {
        return "D" + std::to_string(channel);
    }
    std::string word = name;
    for (char& c : word) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) {
            c = '_';
        }
    }
    return word;
}

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

// A channel's level at sample i as VCD and CSV write it: '0', '1', or 'x' for a sample the
// run did not receive.
char Level(const CaptureData& data, std::size_t i, int channel) {
    if (!data.IsReceived(i)) {
        return 'x';
    }
    return ((data.samples[i] >> channel) & 1U) != 0 ? '1' : '0';
}

} // namespace

CaptureData CaptureFromStore(const SampleStore& store, int rate) {
    CaptureData data;
    data.rate = rate;
    data.samples.reserve(SampleStore::kSamplesPerCapture);
    for (int i = 0; i < SampleStore::kSamplesPerCapture; ++i) {
        data.samples.push_back(store.GetSample(i));
    }
    return data;
}

std::int64_t SampleTimeNs(const CaptureData& data, std::int64_t index) {
    return index * data.PeriodPs() / 1000;
}

std::string ToVcd(const CaptureData& data, std::string_view date) {
    const int channels = ChannelCount(data);
    std::string out;
    // About 2 changes of 3 bytes per sample on a busy bench, plus the time stamps.
    out.reserve(1024 + data.samples.size() * 16);
    if (!date.empty()) {
        out += "$date\n\t";
        out += date;
        out += "\n$end\n";
    }
    out += "$version\n\tQuillon ";
    out += QUILLON_VERSION;
    out += "\n$end\n";
    out += "$timescale 1 ns $end\n";
    out += "$scope module quillon $end\n";
    for (int n = 0; n < channels; ++n) {
        out += "$var wire 1 ";
        out += VcdId(n);
        out += ' ';
        out += VcdName(data.names[static_cast<std::size_t>(n)], n);
        out += " $end\n";
    }
    out += "$upscope $end\n";
    out += "$enddefinitions $end\n";
    if (data.samples.empty()) {
        return out;
    }

    std::array<char, kExportChannels> previous{};
    AppendTime(out, 0);
    out += "$dumpvars\n";
    for (int n = 0; n < channels; ++n) {
        previous[static_cast<std::size_t>(n)] = Level(data, 0, n);
        out += previous[static_cast<std::size_t>(n)];
        out += VcdId(n);
        out += '\n';
    }
    out += "$end\n";
    for (std::size_t i = 1; i < data.samples.size(); ++i) {
        bool stamped = false;
        for (int n = 0; n < channels; ++n) {
            const char level = Level(data, i, n);
            char& was = previous[static_cast<std::size_t>(n)];
            if (level == was) {
                continue;
            }
            if (!stamped) {
                AppendTime(out, SampleTimeNs(data, static_cast<std::int64_t>(i)));
                stamped = true;
            }
            out += level;
            out += VcdId(n);
            out += '\n';
            was = level;
        }
    }
    // Viewers end the trace at the last time stamp: give the last sample its full length.
    AppendTime(out, SampleTimeNs(data, static_cast<std::int64_t>(data.samples.size())));
    return out;
}

std::string ToCsv(const CaptureData& data) {
    const int channels = ChannelCount(data);
    std::string out = "time_ns";
    for (int n = 0; n < channels; ++n) {
        out += ',';
        out += CsvField(data.names[static_cast<std::size_t>(n)].empty()
                            ? "D" + std::to_string(n)
                            : data.names[static_cast<std::size_t>(n)]);
    }
    out += '\n';
    out.reserve(out.size() + data.samples.size() * (12 + 2 * kExportChannels));
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        out += std::to_string(SampleTimeNs(data, static_cast<std::int64_t>(i)));
        const bool received = data.IsReceived(i);
        for (int n = 0; n < channels; ++n) {
            out += ',';
            if (received) {
                out += Level(data, i, n); // a sample not received leaves its fields empty
            }
        }
        out += '\n';
    }
    return out;
}

std::optional<ExportFormat> FormatForPath(std::string_view path) {
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt; // no extension, or a hidden file's name such as ".vcd"
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "vcd") {
        return ExportFormat::Vcd;
    }
    if (extension == "csv") {
        return ExportFormat::Csv;
    }
    if (extension == "png") {
        return ExportFormat::Png;
    }
    return std::nullopt;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error) {
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    errno = 0;
    const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    if (written != bytes.size() || std::fflush(file.get()) != 0) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    // A full disk may only show when the file is closed.
    if (std::fclose(file.release()) != 0) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    error.clear();
    return true;
}

} // namespace quillon
