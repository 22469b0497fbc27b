// VCD and CSV texts of a capture, and the file writing shared by the window and the tool.
#include "capture/export.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    return token.empty() ? DefaultChannelName(channel) : token;
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
    // What VCD has no place for, as keys a reader finds again (capture/export.h).
    out += "$comment\n\tsample_period_ps=" + std::to_string(data.PeriodPs());
    if (data.triggerSample) {
        out += " trigger_sample=" + std::to_string(*data.triggerSample);
    }
    out += "\n$end\n";
    out += TimeUnitPs(data) == 1000 ? "$timescale 1 ns $end\n" : "$timescale 1 ps $end\n";
    out += "$scope module quillon $end\n";
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
                AppendTime(out, SampleTime(data, static_cast<std::int64_t>(i)));
                stamped = true;
            }
            out += level;
            out += VcdId(n);
            out += '\n';
            was = level;
        }
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

namespace {

// Writes all of bytes to fd; false with errno set when the disk (or anything) refuses.
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool Fail(std::string& error, int code) {
    error = std::strerror(code != 0 ? code : EIO);
    return false;
}

// A device or pipe named as the output (e.g. /dev/stdout) is written as it is.
bool WriteInPlace(const std::string& path, std::string_view bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return Fail(error, errno);
    }
    if (!WriteAll(fd, bytes)) {
        const int code = errno;
        ::close(fd);
        return Fail(error, code);
    }
    if (::close(fd) != 0) {
        return Fail(error, errno);
    }
    error.clear();
    return true;
}

} // namespace

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Through a symbolic link to the file it names, which is what gets replaced.
    fs::path target = fs::path(path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return Fail(error, EISDIR);
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        return WriteInPlace(target.string(), bytes, error);
    }
    // A new file beside the target, written, flushed to the disk and renamed over it: the old
    // file stays as it was until the new one is whole, and a failure leaves nothing behind.
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string at -O3.
    std::string prefix = ".";
    prefix += target.filename().string();
    prefix += ".part-";
    prefix += std::to_string(::getpid());
    prefix += '-';
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = (dir / (prefix + std::to_string(attempt))).string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return Fail(error, errno);
        }
    }
    if (fd < 0) {
        return Fail(error, EEXIST);
    }
    if (exists) {
        ::fchmod(fd, existing.st_mode & 07777); // the replaced file's permissions stay
    }
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    // A full disk may only show when the file is closed.
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (!written || !closed) {
        ::unlink(temp.c_str());
        return Fail(error, !written ? writeError : closeError);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        return Fail(error, code);
    }
    // The rename itself reaches the disk with the folder.
    if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    error.clear();
    return true;
}

} // namespace quillon
