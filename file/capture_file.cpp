// Choosing the reader or writer of a file, opening it safely, and what the formats share.
#include "file/capture_file.h"

#include "file/formats.h"
#include "file/safe_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <new>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kPsPerSecond = 1'000'000'000'000;

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

bool LooksLikeZip(std::string_view head) {
    return head.size() >= 4 && head[0] == 'P' && head[1] == 'K' &&
           ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6));
}

/// The format of a file: a zip archive by its first bytes, else by the name's extension, else
/// VCD when the text starts with '$'.
FileFormat Sniff(std::string_view name, std::string_view head) {
    if (LooksLikeZip(head)) {
        return FileFormat::Sigrok;
    }
    if (const auto format = FileFormatForPath(name); format && *format != FileFormat::Png) {
        return *format;
    }
    if (head.size() >= 3 && head.substr(0, 3) == "\xEF\xBB\xBF") {
        head.remove_prefix(3);
    }
    const auto first = head.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && head[first] == '$' ? FileFormat::Vcd
                                                                 : FileFormat::Csv;
}

template <typename Read>
CapturePtr Guarded(const std::string& name, FileReadError& error, Read read) {
    error = FileReadError{};
    error.file = name;
    try {
        return read();
    } catch (const ReadFault& fault) {
        error.kind = fault.kind;
        error.line = fault.line;
        error.what = fault.what;
    } catch (const std::bad_alloc&) {
        error.kind = FileReadError::Kind::TooBig;
        error.what = "there is not enough memory for the capture";
    } catch (const std::length_error&) {
        error.kind = FileReadError::Kind::TooBig;
        error.what = "the capture is too large to hold";
    }
    return nullptr;
}

CapturePtr ReadWith(FileFormat format, int fd, std::uint64_t size, std::string_view bytes,
                    const ReadOptions& options) {
    ReadNotes notes(options);
    if (format == FileFormat::Sigrok) {
        return ReadSigrok(fd, bytes, options, notes);
    }
    TextInput in = fd >= 0 ? TextInput(fd, size, options) : TextInput(bytes, options);
    return format == FileFormat::Vcd ? ReadVcd(in, options, notes) : ReadCsv(in, options, notes);
}

std::optional<std::uint64_t> ReadNumberFile(const char* path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max") {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<FileFormat> FileFormatForPath(std::string_view path) {
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt; // no extension, or a hidden file's name such as ".vcd"
    }
    std::string ext(name.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "vcd") {
        return FileFormat::Vcd;
    }
    if (ext == "csv") {
        return FileFormat::Csv;
    }
    if (ext == "sr") {
        return FileFormat::Sigrok;
    }
    if (ext == "png") {
        return FileFormat::Png;
    }
    return std::nullopt;
}

std::string FileReadError::Text() const {
    std::string text = SafeText(file);
    if (line > 0) {
        text += ':' + std::to_string(line);
    }
    return text + ": " + what;
}

CapturePtr ReadCaptureFile(const std::string& path, const ReadOptions& options,
                           FileReadError& error) {
    return Guarded(path, error, [&]() -> CapturePtr {
        // Not blocking on open: a FIFO with no writer would wait for ever.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            throw ReadFault{FileReadError::Kind::Unreadable, 0, std::strerror(errno)};
        }
        const FdCloser closer{fd};
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            throw ReadFault{FileReadError::Kind::Unreadable, 0, std::strerror(errno)};
        }
        if (S_ISDIR(info.st_mode)) {
            throw ReadFault{FileReadError::Kind::Unreadable, 0, std::strerror(EISDIR)};
        }
        if (!S_ISREG(info.st_mode)) {
            throw ReadFault{FileReadError::Kind::Unreadable, 0,
                            "not a regular file (a device, pipe or socket)"};
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        char head[64];
        const ssize_t got = ::pread(fd, head, sizeof head, 0);
        if (got < 0) {
            throw ReadFault{FileReadError::Kind::Unreadable, 0, std::strerror(errno)};
        }
        if (got == 0) {
            throw ReadFault{FileReadError::Kind::Malformed, 0, "the file is empty"};
        }
        const FileFormat format =
            Sniff(path, std::string_view(head, static_cast<std::size_t>(got)));
        return ReadWith(format, fd, static_cast<std::uint64_t>(info.st_size), {}, options);
    });
}

CapturePtr ReadCaptureBytes(std::string_view bytes, const std::string& name,
                            const ReadOptions& options, FileReadError& error) {
    return Guarded(name, error, [&]() -> CapturePtr {
        if (bytes.empty()) {
            throw ReadFault{FileReadError::Kind::Malformed, 0, "the file is empty"};
        }
        return ReadWith(Sniff(name, bytes.substr(0, 64)), -1, bytes.size(), bytes, options);
    });
}

bool WriteCapture(ByteSink& sink, const Capture& capture, FileFormat format, std::string& error,
                  std::string_view date) {
    if (format == FileFormat::Vcd || format == FileFormat::Csv) {
        const Wide end = static_cast<Wide>(capture.SampleCount()) * capture.Period().Numerator() *
                         kPsPerSecond / capture.Period().Denominator();
        if (end > std::numeric_limits<std::int64_t>::max()) {
            error = "the capture lasts too long for the time stamps of this format";
            return false;
        }
    }
    bool ok = false;
    switch (format) {
    case FileFormat::Vcd:
        ok = WriteVcd(sink, capture, date);
        break;
    case FileFormat::Csv:
        ok = WriteCsv(sink, capture);
        break;
    case FileFormat::Sigrok:
        ok = WriteSigrok(sink, capture, error);
        break;
    case FileFormat::Png:
        error = "a picture is no capture file";
        return false;
    }
    if (!ok && error.empty()) {
        error = "cannot write";
    }
    return ok;
}

bool WriteCaptureFile(const std::string& path, const Capture& capture, FileFormat format,
                      std::string& error, std::string_view date) {
    error.clear();
    if (format == FileFormat::Png) {
        error = "a picture is no capture file";
        return false;
    }
    SaveFile file(path);
    if (!file.Open()) {
        error = file.Error();
        return false;
    }
    std::string writeError;
    if (!WriteCapture(file, capture, format, writeError, date) || !file.Commit()) {
        // The system's reason (a full disk) says more than the writer's.
        error = !file.Error().empty() ? file.Error() : writeError;
        return false;
    }
    return true;
}

std::string CaptureFileBytes(const Capture& capture, FileFormat format, std::string_view date) {
    StringSink sink;
    std::string error;
    if (!WriteCapture(sink, capture, format, error, date)) {
        return {};
    }
    return sink.Take();
}

std::uint64_t AvailableMemoryBytes() {
    std::uint64_t available = std::numeric_limits<std::uint64_t>::max();
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        std::uint64_t kib = 0;
        if (key == "MemAvailable:" && meminfo >> kib) {
            available = kib * 1024;
            break;
        }
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (available == std::numeric_limits<std::uint64_t>::max()) {
        const long pages = ::sysconf(_SC_AVPHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && pageSize > 0) {
            available = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
        }
    }
    // A control group may allow less than the machine has.
    const auto limit = ReadNumberFile("/sys/fs/cgroup/memory.max");
    const auto used = ReadNumberFile("/sys/fs/cgroup/memory.current");
    if (limit && used) {
        available = std::min(available, *limit > *used ? *limit - *used : 0);
    }
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        available = std::min<std::uint64_t>(available, rl.rlim_cur);
    }
    return available;
}

// ---- What the formats share ---------------------------------------------------------------

std::string NameToken(const std::string& name, int channel) {
    std::string token;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        token += u <= ' ' || c == ',' || c == '$' || u == 0x7f ? '_' : c;
    }
    return token.empty() ? DefaultChannelName(channel) : token;
}

WrittenUnit UnitFor(const SamplePeriod& period) {
    const auto ps = period.WholePicoseconds();
    if (ps && *ps % 1000 == 0) {
        return {kNsPerSecond, "1 ns", "time_ns"};
    }
    return {kPsPerSecond, "1 ps", "time_ps"};
}

std::int64_t TimeIn(const SamplePeriod& period, std::int64_t perSecond, std::int64_t i) {
    const Wide scaled = static_cast<Wide>(i) * period.Numerator() * perSecond;
    const Wide rounded = (scaled + period.Denominator() / 2) / period.Denominator();
    constexpr auto kMax = static_cast<Wide>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(std::min(rounded, kMax));
}

std::string PeriodText(const SamplePeriod& period) {
    return std::to_string(period.Numerator()) + "/" + std::to_string(period.Denominator());
}

std::optional<SamplePeriod> ParsePeriodText(std::string_view text) {
    const auto slash = text.find('/');
    std::int64_t num = 0;
    std::int64_t den = 1;
    const std::string_view numText = text.substr(0, slash);
    if (std::from_chars(numText.data(), numText.data() + numText.size(), num).ec != std::errc()) {
        return std::nullopt;
    }
    if (slash != std::string_view::npos) {
        const std::string_view denText = text.substr(slash + 1);
        const auto [end, ec] =
            std::from_chars(denText.data(), denText.data() + denText.size(), den);
        if (ec != std::errc() || end != denText.data() + denText.size()) {
            return std::nullopt;
        }
    }
    return SamplePeriod::Fraction(num, den);
}

} // namespace quillon
