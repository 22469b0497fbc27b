// sigrok session files (.sr), as PulseView and sigrok-cli write them: a zip archive with a
// "metadata" key file (channel names, sample rate, unit size) and the logic samples in chunks
// "logic-1-1", "logic-1-2", ..., rows of unit size bytes, bit k of a row being probe k + 1.
// The sizes of the chunks tell the sample count before anything is unpacked.
#include "file/formats.h"

#include "file/safe_text.h"
#include "file/sample_rate.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <map>
#include <memory>
#include <unistd.h>

namespace quillon {

namespace {

constexpr zip_uint64_t kMaxMetadataBytes = 1 << 20;
constexpr std::size_t kReadBytes = std::size_t{1} << 20;
// The widest rows we take: 1024 channels.
constexpr int kMaxUnitSize = kMaxCaptureChannels / 8;

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;
using Entry = std::unique_ptr<zip_file_t, EntryCloser>;

/// One group of a key file: keys in order with their values, escapes undone.
using KeyGroup = std::vector<std::pair<std::string, std::string>>;

std::string Unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            out += value[i];
        }
    }
    return out;
}

// GLib's key files: "[group]" lines, "key=value" lines, '#' comments.
std::map<std::string, KeyGroup> ParseKeyFile(std::string_view text) {
    std::map<std::string, KeyGroup> groups;
    KeyGroup* group = nullptr;
    int lineNo = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNo;
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            group = &groups[std::string(line.substr(1, line.size() - 2))];
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || group == nullptr) {
            Malformed(0, "the metadata's line " + std::to_string(lineNo) +
                             " is no key: " + Quoted(line));
        }
        std::string_view key = line.substr(0, equals);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
            key.remove_suffix(1);
        }
        std::string_view value = line.substr(equals + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        group->emplace_back(std::string(key), Unescaped(value));
    }
    return groups;
}

const std::string* Find(const KeyGroup& group, std::string_view key) {
    for (const auto& [k, v] : group) {
        if (k == key) {
            return &v;
        }
    }
    return nullptr;
}

std::string ZipErrorText(zip_error_t* error) {
    std::string text = zip_error_strerror(error);
    return text;
}

struct Chunk {
    std::int64_t number;
    zip_uint64_t index;
    zip_uint64_t size;
};

/// Rows of the file's unit size into rows of the capture's channels when the enabled probes
/// are not simply the first ones: per byte of the row, what each of its values sets.
class BitGather {
public:
    BitGather(const std::vector<int>& bits, int unit)
        : m_unit(unit), m_channels(static_cast<int>(bits.size())) {
        m_tables.assign(static_cast<std::size_t>(unit) * 256, 0);
        for (std::size_t c = 0; c < bits.size(); ++c) {
            const int byte = bits[c] / 8;
            const int bit = bits[c] % 8;
            for (int v = 0; v < 256; ++v) {
                if (((v >> bit) & 1) != 0) {
                    m_tables[static_cast<std::size_t>(byte) * 256 + static_cast<std::size_t>(v)] |=
                        std::uint64_t{1} << c;
                }
            }
        }
    }
    [[nodiscard]] int OutUnit() const { return (m_channels + 7) / 8; }
    void Gather(const std::uint8_t* in, std::int64_t rows, std::uint8_t* out) const {
        const int outUnit = OutUnit();
        for (std::int64_t r = 0; r < rows; ++r) {
            std::uint64_t value = 0;
            const std::uint8_t* row = in + r * m_unit;
            for (int b = 0; b < m_unit; ++b) {
                value |= m_tables[static_cast<std::size_t>(b) * 256 + row[b]];
            }
            for (int b = 0; b < outUnit; ++b) {
                out[r * outUnit + b] = static_cast<std::uint8_t>(value >> (8 * b));
            }
        }
    }

private:
    int m_unit;
    int m_channels;
    std::vector<std::uint64_t> m_tables;
};

} // namespace

CapturePtr ReadSigrok(int fd, std::string_view bytes, const ReadOptions& options,
                      ReadNotes& notes) {
    zip_error_t zerror;
    zip_error_init(&zerror);
    Archive archive;
    if (fd >= 0) {
        const int copy = ::dup(fd);
        int code = 0;
        archive.reset(copy >= 0 ? zip_fdopen(copy, 0, &code) : nullptr);
        if (!archive) {
            if (copy >= 0) {
                ::close(copy);
            }
            zip_error_set(&zerror, code, errno);
        }
    } else {
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &zerror);
        if (source != nullptr) {
            archive.reset(zip_open_from_source(source, ZIP_RDONLY, &zerror));
            if (!archive) {
                zip_source_free(source);
            }
        }
    }
    if (!archive) {
        const std::string why = ZipErrorText(&zerror);
        zip_error_fini(&zerror);
        Malformed(0, "not a sigrok session file (a zip archive): " + why);
    }
    zip_error_fini(&zerror);
    zip_t* za = archive.get();

    const auto readWhole = [za](zip_uint64_t index, zip_uint64_t size) {
        Entry entry(zip_fopen_index(za, index, 0));
        std::string text(static_cast<std::size_t>(size), '\0');
        if (!entry || zip_fread(entry.get(), text.data(), size) != static_cast<zip_int64_t>(size)) {
            Malformed(0, std::string("cannot unpack ") + zip_get_name(za, index, 0) + ": " +
                             zip_strerror(za));
        }
        return text;
    };
    const zip_int64_t metaIndex = zip_name_locate(za, "metadata", 0);
    zip_stat_t stat;
    if (metaIndex < 0 || zip_stat_index(za, static_cast<zip_uint64_t>(metaIndex), 0, &stat) != 0) {
        Malformed(0, "not a sigrok session file: it has no metadata");
    }
    if (stat.size > kMaxMetadataBytes) {
        Malformed(0, "the metadata is larger than " + FormatBytes(kMaxMetadataBytes));
    }
    const auto groups = ParseKeyFile(readWhole(static_cast<zip_uint64_t>(metaIndex), stat.size));

    // The device with logic data (sigrok-cli writes one: "device 1").
    const KeyGroup* device = nullptr;
    for (const auto& [name, group] : groups) {
        if (name.rfind("device ", 0) == 0 && Find(group, "capturefile") != nullptr) {
            if (device != nullptr) {
                notes.Add("the file holds several devices: only the first is read");
                break;
            }
            device = &group;
        }
    }
    if (device == nullptr) {
        Malformed(0, "the metadata names no logic data (no capturefile)");
    }
    const std::string capturefile = *Find(*device, "capturefile");
    const auto intKey = [device](std::string_view key) -> std::optional<std::int64_t> {
        const std::string* value = Find(*device, key);
        if (value == nullptr) {
            return std::nullopt;
        }
        const auto number = ParseInt(*value);
        if (!number || *number < 0) {
            Malformed(0, "the metadata's " + std::string(key) + " " + Quoted(*value) +
                             " is not a number");
        }
        return number;
    };
    const auto totalProbes = intKey("total probes");
    auto unitSize = intKey("unitsize");
    if (!unitSize) {
        unitSize = totalProbes ? std::max<std::int64_t>(1, (*totalProbes + 7) / 8) : 1;
    }
    if (*unitSize < 1 || *unitSize > kMaxUnitSize) {
        Malformed(0, "the unit size " + std::to_string(*unitSize) + " is not 1 to " +
                         std::to_string(kMaxUnitSize) + " bytes");
    }
    const int unit = static_cast<int>(*unitSize);
    if (totalProbes && *totalProbes > unit * 8) {
        Malformed(0, std::to_string(*totalProbes) + " probes do not fit in units of " +
                         std::to_string(unit) + " bytes");
    }
    // Named probes are the enabled channels; bit k of a row is probe k + 1.
    std::vector<std::pair<int, std::string>> probes;
    for (const auto& [key, value] : *device) {
        if (key.rfind("probe", 0) != 0 || key == "probe") {
            continue;
        }
        const auto number = ParseInt(std::string_view(key).substr(5));
        if (!number) {
            continue;
        }
        if (*number < 1 || *number > unit * 8) {
            Malformed(0, "probe " + std::to_string(*number) + " lies outside units of " +
                             std::to_string(unit) + " bytes");
        }
        probes.emplace_back(static_cast<int>(*number - 1), value);
    }
    if (probes.empty()) {
        const int all = static_cast<int>(totalProbes.value_or(unit * 8));
        for (int bit = 0; bit < all; ++bit) {
            probes.emplace_back(bit, DefaultChannelName(bit));
        }
    }
    std::sort(probes.begin(), probes.end());
    probes.erase(std::unique(probes.begin(), probes.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 probes.end());
    if (probes.empty()) {
        Malformed(0, "the file has no logic channels");
    }
    if (const auto analog = intKey("total analog"); analog && *analog > 0) {
        notes.Add("the file's " + std::to_string(*analog) + " analog channels are left out");
    }

    // The period: ours exactly, else sigrok's rate, else the caller's.
    const KeyGroup* ours = nullptr;
    if (const auto it = groups.find("quillon"); it != groups.end()) {
        ours = &it->second;
    }
    std::optional<SamplePeriod> period;
    if (ours != nullptr) {
        if (const std::string* text = Find(*ours, "sample_period_s")) {
            period = ParsePeriodText(*text);
        }
    }
    if (!period) {
        if (const std::string* rate = Find(*device, "samplerate")) {
            period = ParseSampleRate(*rate);
            if (!period && *rate != "0") {
                Malformed(0, "the sample rate " + Quoted(*rate) + " is no rate");
            }
        }
    }
    if (!period) {
        period = options.period;
    }
    if (!period) {
        throw ReadFault{FileReadError::Kind::NoSampleRate, 0,
                        "the file does not say its sample rate"};
    }

    // The chunks, in order, and what they hold.
    std::vector<Chunk> chunks;
    const zip_int64_t entries = zip_get_num_entries(za, 0);
    const std::string prefix = capturefile + "-";
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* name = zip_get_name(za, static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr) {
            continue;
        }
        const std::string_view entry(name);
        std::optional<std::int64_t> number;
        if (entry == capturefile) {
            number = 0; // the first format's one chunk
        } else if (entry.rfind(prefix, 0) == 0) {
            number = ParseInt(entry.substr(prefix.size()));
        }
        if (!number || zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &stat) != 0) {
            continue;
        }
        chunks.push_back({*number, static_cast<zip_uint64_t>(i), stat.size});
    }
    std::sort(chunks.begin(), chunks.end(),
              [](const Chunk& a, const Chunk& b) { return a.number < b.number; });
    if (chunks.empty()) {
        Malformed(0, "the file has no logic data (" + SafeText(capturefile) + "-1)");
    }
    std::uint64_t totalBytes = 0;
    for (const auto& chunk : chunks) {
        totalBytes += chunk.size;
    }
    const auto totalRows = static_cast<std::int64_t>(totalBytes / static_cast<std::uint64_t>(unit));
    const int channels = static_cast<int>(probes.size());
    CheckFits(channels, totalRows, MemoryBudget(options));

    CaptureBuilder builder(channels, *period);
    std::vector<int> bits;
    for (int c = 0; c < channels; ++c) {
        builder.SetChannelName(c, probes[static_cast<std::size_t>(c)].second);
        bits.push_back(probes[static_cast<std::size_t>(c)].first);
    }
    const bool prefixBits = bits.back() == channels - 1;
    std::optional<BitGather> gather;
    if (!prefixBits) {
        if (channels > 64) {
            Malformed(0, "more than 64 channels of which some are disabled");
        }
        gather.emplace(bits, unit);
    }
    builder.Reserve(totalRows);
    const std::size_t bufferBytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(totalBytes, kReadBytes));
    std::vector<std::uint8_t> buffer(bufferBytes - bufferBytes % static_cast<std::size_t>(unit) +
                                     static_cast<std::size_t>(unit));
    std::vector<std::uint8_t> gathered;
    std::size_t carried = 0;
    std::uint64_t done = 0;
    std::int64_t rowsRead = 0;
    for (const auto& chunk : chunks) {
        Entry entry(zip_fopen_index(za, chunk.index, 0));
        if (!entry) {
            Malformed(0, std::string("cannot unpack ") + zip_get_name(za, chunk.index, 0) + ": " +
                             zip_strerror(za));
        }
        for (;;) {
            const zip_int64_t n =
                zip_fread(entry.get(), buffer.data() + carried, buffer.size() - carried);
            if (n < 0) {
                Malformed(0, std::string("cannot unpack ") + zip_get_name(za, chunk.index, 0) +
                                 ": " + zip_file_strerror(entry.get()));
            }
            if (n == 0) {
                break;
            }
            const std::size_t have = carried + static_cast<std::size_t>(n);
            std::int64_t rows = static_cast<std::int64_t>(have / static_cast<std::size_t>(unit));
            rows = std::min(rows, totalRows - rowsRead); // never more than the sizes said
            if (gather) {
                gathered.resize(static_cast<std::size_t>(rows * gather->OutUnit()));
                gather->Gather(buffer.data(), rows, gathered.data());
                builder.AppendRows(gathered.data(), rows, gather->OutUnit());
            } else {
                builder.AppendRows(buffer.data(), rows, unit);
            }
            rowsRead += rows;
            const std::size_t used =
                static_cast<std::size_t>(rows) * static_cast<std::size_t>(unit);
            carried = have - used;
            if (rowsRead == totalRows) {
                carried = 0;
            }
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(used),
                      buffer.begin() + static_cast<std::ptrdiff_t>(used + carried), buffer.begin());
            done += static_cast<std::uint64_t>(n);
            if (options.progress && !options.progress(done, totalBytes)) {
                throw ReadFault{FileReadError::Kind::Cancelled, 0, "reading was cancelled"};
            }
        }
    }
    if (carried != 0) {
        notes.Add("the last " + std::to_string(carried) + " bytes are no whole sample: left out");
    }
    if (rowsRead == 0) {
        Malformed(0, "the file holds no samples");
    }
    if (ours != nullptr) {
        if (const std::string* text = Find(*ours, "trigger_sample")) {
            if (const auto t = ParseInt(*text); t && *t >= 0 && *t < rowsRead) {
                builder.SetTrigger(t);
            }
        }
        // "missingN=first-end,first-end": samples of probe N not received.
        for (const auto& [key, value] : *ours) {
            if (key.rfind("missing", 0) != 0) {
                continue;
            }
            const auto probe = ParseInt(std::string_view(key).substr(7));
            const auto at = std::find(bits.begin(), bits.end(), probe.value_or(0) - 1);
            if (!probe || at == bits.end()) {
                continue;
            }
            const int channel = static_cast<int>(at - bits.begin());
            std::string_view rest = value;
            while (!rest.empty()) {
                const auto comma = rest.find(',');
                const std::string_view range = rest.substr(0, comma);
                rest =
                    comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
                const auto dash = range.find('-');
                const auto first = ParseInt(range.substr(0, dash));
                const auto end = dash == std::string_view::npos ? std::nullopt
                                                                : ParseInt(range.substr(dash + 1));
                if (first && end) {
                    builder.MarkMissing(channel, *first, *end);
                }
            }
        }
    }
    return builder.Finish();
}

} // namespace quillon
