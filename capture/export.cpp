// VCD and CSV texts of a capture, and the file writing shared by the window and the tool.
#include "capture/export.h"

#include <algorithm>
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

void AppendValue(std::string& out, bool level, int channel) {
    out += level ? '1' : '0';
    out += VcdId(channel);
    out += '\n';
}

void AppendTime(std::string& out, std::int64_t ns) {
    out += '#';
    out += std::to_string(ns);
    out += '\n';
}

// Times in ns, or in ps for a period that is no whole number of ns (a file of another program).
std::int64_t TimeUnitPs(const CaptureData& data) {
    return data.PeriodPs() % 1000 == 0 ? 1000 : 1;
}

std::int64_t SampleTime(const CaptureData& data, std::int64_t index) {
    return index * (data.PeriodPs() / TimeUnitPs(data));
}

int ChannelCount(const CaptureData& data) {
    return std::clamp(data.channels, 1, kExportChannels);
}

// A channel's name as one token (VCD) or one cell (CSV): no blanks, commas or control bytes.
std::string NameToken(const std::string& name, int channel) {
    std::string token;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        token += u <= ' ' || c == ',' || c == '$' || u == 0x7f ? '_' : c;
    }
    if (token.empty()) {
        token = 'D'; // appended, not "D" + ...: GCC 12 warns falsely (-Wrestrict) on that
        token += std::to_string(channel);
    }
    return token;
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
    // What VCD has no place for, as keys a reader finds again (capture/export.h).
    out += "$comment\n\tsample_period_ps=" + std::to_string(data.PeriodPs());
    if (data.triggerSample) {
        out += " trigger_sample=" + std::to_string(*data.triggerSample);
    }
    out += "\n$end\n";
    out += TimeUnitPs(data) == 1000 ? "$timescale 1 ns $end\n" : "$timescale 1 ps $end\n";
    out += "$scope module quillon $end\n";
    const int channels = ChannelCount(data);
    for (int n = 0; n < channels; ++n) {
        out += "$var wire 1 ";
        out += VcdId(n);
        out += ' ';
        out += NameToken(data.names[static_cast<std::size_t>(n)], n);
        out += " $end\n";
    }
    out += "$upscope $end\n";
    out += "$enddefinitions $end\n";
    if (data.samples.empty()) {
        return out;
    }

    std::uint16_t previous = data.samples.front();
    AppendTime(out, 0);
    out += "$dumpvars\n";
    for (int n = 0; n < channels; ++n) {
        AppendValue(out, ((previous >> n) & 1U) != 0, n);
    }
    out += "$end\n";
    for (std::size_t i = 1; i < data.samples.size(); ++i) {
        const std::uint16_t sample = data.samples[i];
        const unsigned changed = static_cast<unsigned>(sample ^ previous) & ((1U << channels) - 1U);
        if (changed == 0) {
            continue;
        }
        AppendTime(out, SampleTime(data, static_cast<std::int64_t>(i)));
        for (int n = 0; n < channels; ++n) {
            if (((changed >> n) & 1U) != 0) {
                AppendValue(out, ((sample >> n) & 1U) != 0, n);
            }
        }
        previous = sample;
    }
    // Viewers end the trace at the last time stamp: give the last sample its full length.
    AppendTime(out, SampleTime(data, static_cast<std::int64_t>(data.samples.size())));
    return out;
}

std::string ToCsv(const CaptureData& data) {
    std::string out;
    if (data.triggerSample) {
        out += "; " + std::string(kTriggerCommentKey) + std::to_string(*data.triggerSample) + "\n";
    }
    out += TimeUnitPs(data) == 1000 ? "time_ns" : "time_ps";
    const int channels = ChannelCount(data);
    for (int n = 0; n < channels; ++n) {
        out += ',';
        out += NameToken(data.names[static_cast<std::size_t>(n)], n);
    }
    out += '\n';
    out.reserve(out.size() + data.samples.size() * (12 + 2 * kExportChannels));
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        out += std::to_string(SampleTime(data, static_cast<std::int64_t>(i)));
        const std::uint16_t sample = data.samples[i];
        for (int n = 0; n < channels; ++n) {
            out += ',';
            out += ((sample >> n) & 1U) != 0 ? '1' : '0';
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
