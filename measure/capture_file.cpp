// VCD and CSV readers. A file is read whole, checked as it is read, and turned into one
// CaptureData only when nothing was wrong.
#include "measure/capture_file.h"

#include "capture/export.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>
#include <sstream>
#include <vector>

namespace quillon {

std::string ReadError::Text() const {
    std::string text = file;
    if (line > 0) {
        text += ':' + std::to_string(line);
    }
    return text + ": " + what;
}

namespace {

constexpr std::int64_t kFsPerPs = 1000;
constexpr std::int64_t kMaxFileBytes = std::int64_t{256} << 20;

struct Failure {
    int line;
    std::string what;
};

std::optional<std::int64_t> ParseInt(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string shown(text.substr(0, kShown));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return "'" + shown + (text.size() > kShown ? "...'" : "'");
}

// The keys of Quillon's comments, wherever they appear in a text.
void ReadCommentKeys(std::string_view text, std::optional<std::int64_t>& periodPs,
                     std::optional<std::int64_t>& trigger) {
    auto valueOf = [text](std::string_view key) -> std::optional<std::int64_t> {
        const auto at = text.find(key);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        const auto start = at + key.size();
        auto end = start;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            ++end;
        }
        return ParseInt(text.substr(start, end - start));
    };
    if (const auto p = valueOf(kPeriodCommentKey)) {
        periodPs = p;
    }
    if (const auto t = valueOf(kTriggerCommentKey)) {
        trigger = t;
    }
}

// The analyzer's own periods go back into the rate multiplier.
void SetPeriod(CaptureData& data, std::int64_t periodPs) {
    for (const int rate : {1, 10, 100, 1000}) {
        if (periodPs == kSampleUnitPs * rate) {
            data.rate = rate;
            data.periodPs = 0;
            return;
        }
    }
    data.rate = 1;
    data.periodPs = periodPs;
}

// ---- VCD ------------------------------------------------------------------------------

class VcdTokens {
public:
    explicit VcdTokens(std::string_view text) : m_text(text) {}
    /// The next whitespace-separated token and its line; false at the end.
    bool Next(std::string_view& token, int& line) {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) {
            if (m_text[m_pos] == '\n') {
                ++m_line;
            }
            ++m_pos;
        }
        if (m_pos >= m_text.size()) {
            return false;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) {
            ++m_pos;
        }
        token = m_text.substr(start, m_pos - start);
        line = m_line;
        return true;
    }
    [[nodiscard]] int Line() const { return m_line; }

private:
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
};

// The tokens up to the next "$end"; fails at the end of the text.
std::optional<std::vector<std::string_view>> UntilEnd(VcdTokens& tokens, int& line) {
    std::vector<std::string_view> words;
    std::string_view token;
    while (tokens.Next(token, line)) {
        if (token == "$end") {
            return words;
        }
        words.push_back(token);
    }
    return std::nullopt;
}

std::optional<std::int64_t> TimescaleFs(const std::vector<std::string_view>& words) {
    std::string joined;
    for (const auto w : words) {
        joined += w;
    }
    std::size_t digits = 0;
    while (digits < joined.size() && joined[digits] >= '0' && joined[digits] <= '9') {
        ++digits;
    }
    const auto number = ParseInt(std::string_view(joined).substr(0, digits));
    if (!number || (*number != 1 && *number != 10 && *number != 100)) {
        return std::nullopt;
    }
    static const std::map<std::string, std::int64_t, std::less<>> kUnitsFs = {
        {"s", 1'000'000'000'000'000},
        {"ms", 1'000'000'000'000},
        {"us", 1'000'000'000},
        {"ns", 1'000'000},
        {"ps", 1'000},
        {"fs", 1}};
    const auto unit = kUnitsFs.find(std::string_view(joined).substr(digits));
    if (unit == kUnitsFs.end()) {
        return std::nullopt;
    }
    return *number * unit->second;
}

// Eight bytes a change: a big file holds tens of millions of them.
struct VcdChange {
    std::uint32_t stamp; // index into the time stamps
    std::uint8_t channel;
    char value; // '0', '1', or 'x' for unknown
};

struct VcdStamp {
    std::int64_t time;
    int line;
    bool hasChanges;
};

std::optional<Failure> ParseVcd(std::string_view text, CaptureData& out) {
    VcdTokens tokens(text);
    std::string_view token;
    int line = 1;
    std::int64_t scaleFs = 1'000'000; // VCD's default is 1 ns only by habit; files say it
    std::map<std::string, int, std::less<>> channelOf;
    std::map<std::string, int, std::less<>> otherVars;
    ChannelNames names = DefaultChannelNames();
    int channels = 0;
    std::optional<std::int64_t> periodPs;
    std::optional<std::int64_t> trigger;

    // Header: sections up to $enddefinitions.
    bool definitionsEnded = false;
    bool sectionSeen = false;
    while (!definitionsEnded && tokens.Next(token, line)) {
        const int sectionLine = line;
        if (!sectionSeen && token.front() != '$') {
            continue; // some writers put a line of their own first (sigrok-cli: "META ...")
        }
        sectionSeen = true;
        if (token.front() != '$') {
            return Failure{line, "unexpected " + Quoted(token) + " in the header"};
        }
        auto words = UntilEnd(tokens, line);
        if (!words) {
            return Failure{sectionLine, Quoted(token) + " has no $end"};
        }
        if (token == "$enddefinitions") {
            definitionsEnded = true;
        } else if (token == "$timescale") {
            const auto fs = TimescaleFs(*words);
            if (!fs) {
                return Failure{sectionLine, "the time scale is not one of 1, 10 or 100 s, ms, "
                                            "us, ns, ps or fs"};
            }
            scaleFs = *fs;
        } else if (token == "$var") {
            if (words->size() < 4) {
                return Failure{sectionLine, "$var needs a type, a size, an identifier and a name"};
            }
            const auto size = ParseInt((*words)[1]);
            const std::string id((*words)[2]);
            if (!size || *size < 1) {
                return Failure{sectionLine, "the size " + Quoted((*words)[1]) + " is not a number"};
            }
            if (*size != 1) {
                otherVars.emplace(id, 0); // wider values are left out
                continue;
            }
            if (channelOf.count(id) != 0) {
                continue; // the same wire under a second name
            }
            if (channels == kExportChannels) {
                return Failure{sectionLine, "more than 16 1-bit wires"};
            }
            std::string name((*words)[3]);
            for (std::size_t w = 4; w < words->size(); ++w) {
                name += (*words)[w];
            }
            names[static_cast<std::size_t>(channels)] = name;
            channelOf.emplace(id, channels++);
        } else if (token == "$comment") {
            for (const auto w : *words) {
                ReadCommentKeys(w, periodPs, trigger);
            }
        }
        // $date, $version, $scope, $upscope and others carry nothing the capture needs.
    }
    if (!definitionsEnded) {
        return Failure{tokens.Line(), "the file ends before $enddefinitions"};
    }
    if (channels == 0) {
        return Failure{line, "no 1-bit wires are defined"};
    }

    // Body: time stamps and value changes.
    std::vector<VcdChange> changes;
    std::vector<VcdStamp> stamps;
    while (tokens.Next(token, line)) {
        const char first = token.front();
        if (first == '#') {
            const auto time = ParseInt(token.substr(1));
            if (!time || *time < 0) {
                return Failure{line, "bad time stamp " + Quoted(token)};
            }
            if (!stamps.empty() && *time < stamps.back().time) {
                return Failure{line, "time stamp " + Quoted(token) + " goes back in time"};
            }
            if (stamps.empty() || *time != stamps.back().time) {
                stamps.push_back({*time, line, false});
            }
        } else if (first == '$') {
            if (token == "$comment") {
                if (!UntilEnd(tokens, line)) {
                    return Failure{line, "$comment has no $end"};
                }
            }
            // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end only group changes.
        } else if (first == 'b' || first == 'B' || first == 'r' || first == 'R') {
            std::string_view id;
            if (!tokens.Next(id, line) || channelOf.count(id) != 0) {
                return Failure{line, "a vector value for a 1-bit wire"};
            }
        } else if (std::strchr("01xXzZ", first) != nullptr) {
            const auto it = channelOf.find(token.substr(1));
            if (it == channelOf.end()) {
                if (otherVars.count(token.substr(1)) != 0) {
                    continue;
                }
                return Failure{line, "unknown identifier " + Quoted(token.substr(1))};
            }
            if (stamps.empty()) {
                return Failure{line, "a value change before the first time stamp"};
            }
            stamps.back().hasChanges = true;
            changes.push_back({static_cast<std::uint32_t>(stamps.size() - 1),
                               static_cast<std::uint8_t>(it->second),
                               first == '0' || first == '1' ? first : 'x'});
        } else {
            return Failure{line, "unexpected " + Quoted(token)};
        }
    }
    if (stamps.empty()) {
        return Failure{line, "no time stamps"};
    }

    // The grid: Quillon says its period; for others it is what all the times have in common.
    const std::int64_t t0 = stamps.front().time;
    std::int64_t period = 0;
    if (periodPs) {
        std::int64_t periodFs = 0;
        if (*periodPs <= 0 || __builtin_mul_overflow(*periodPs, kFsPerPs, &periodFs) ||
            periodFs % scaleFs != 0) {
            return Failure{0, "the sample period " + std::to_string(*periodPs) +
                                  " ps is not a whole number of time units"};
        }
        period = periodFs / scaleFs;
    } else {
        for (const auto& stamp : stamps) {
            period = std::gcd(period, stamp.time - t0);
        }
        if (period == 0) {
            period = 1; // one time stamp: one sample of one time unit
        }
    }
    for (const auto& stamp : stamps) {
        if ((stamp.time - t0) % period != 0) {
            return Failure{stamp.line, "time stamp #" + std::to_string(stamp.time) +
                                           " is not on the sample grid"};
        }
    }
    std::int64_t periodFs = 0;
    if (__builtin_mul_overflow(period, scaleFs, &periodFs) || periodFs % kFsPerPs != 0) {
        return Failure{0, "the sample period is not a whole number of picoseconds"};
    }
    // A last time stamp without changes marks the end of the last sample.
    const std::int64_t span = (stamps.back().time - t0) / period;
    const std::int64_t count =
        std::max<std::int64_t>(1, stamps.back().hasChanges ? span + 1 : span);
    if (span >= kMaxFileSamples) {
        return Failure{stamps.back().line, "too many samples (" + std::to_string(span) +
                                               "); at most " + std::to_string(kMaxFileSamples)};
    }

    CaptureData data;
    SetPeriod(data, periodFs / kFsPerPs);
    data.channels = channels;
    data.names = names;
    data.samples.assign(static_cast<std::size_t>(count), 0);
    data.received.assign(static_cast<std::size_t>(count), 1);
    unsigned value = 0;
    auto unknown = static_cast<unsigned>((1U << channels) - 1U); // until a value is given
    std::int64_t filled = 0;
    auto fillTo = [&](std::int64_t end) {
        for (; filled < end && filled < count; ++filled) {
            data.samples[static_cast<std::size_t>(filled)] = static_cast<std::uint16_t>(value);
            data.received[static_cast<std::size_t>(filled)] = unknown == 0 ? 1 : 0;
        }
    };
    for (const auto& change : changes) {
        fillTo((stamps[change.stamp].time - t0) / period);
        const unsigned bit = 1U << change.channel;
        value = change.value == '1' ? (value | bit) : (value & ~bit);
        unknown = change.value == 'x' ? (unknown | bit) : (unknown & ~bit);
    }
    fillTo(count);
    if (std::all_of(data.received.begin(), data.received.end(), [](auto r) { return r != 0; })) {
        data.received.clear();
    }
    if (trigger && *trigger >= 0 && *trigger < count) {
        data.triggerSample = trigger;
    }
    out = std::move(data);
    return std::nullopt;
}

// ---- CSV ------------------------------------------------------------------------------

std::vector<std::string_view> SplitCells(std::string_view line) {
    std::vector<std::string_view> cells;
    std::size_t start = 0;
    for (;;) {
        const auto comma = line.find(',', start);
        cells.push_back(line.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return cells;
        }
        start = comma + 1;
    }
}

std::optional<std::int64_t> TimeColumnPs(std::string_view header) {
    static constexpr std::pair<std::string_view, std::int64_t> kUnits[] = {
        {"time_ps", 1},
        {"time_ns", 1'000},
        {"time_us", 1'000'000},
        {"time_ms", 1'000'000'000},
        {"time_s", 1'000'000'000'000}};
    for (const auto& [name, ps] : kUnits) {
        if (header == name) {
            return ps;
        }
    }
    return std::nullopt;
}

std::optional<Failure> ParseCsv(std::string_view text, CaptureData& out) {
    CaptureData data;
    std::optional<std::int64_t> periodPs;
    std::optional<std::int64_t> trigger;
    std::optional<std::int64_t> unitPs;
    std::vector<std::int64_t> times;
    int columns = 0;
    int lineNo = 0;
    std::size_t pos = 0;
    bool anyMissing = false;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        if (line.front() == ';' || line.front() == '#') {
            ReadCommentKeys(line, periodPs, trigger);
            continue;
        }
        const auto cells = SplitCells(line);
        if (!unitPs) {
            unitPs = TimeColumnPs(cells.front());
            if (!unitPs) {
                return Failure{lineNo, "the first column must be the time (time_ns), not " +
                                           Quoted(cells.front())};
            }
            columns = static_cast<int>(cells.size()) - 1;
            if (columns < 1 || columns > kExportChannels) {
                return Failure{lineNo, "there must be 1 to 16 channel columns, not " +
                                           std::to_string(columns)};
            }
            for (int c = 0; c < columns; ++c) {
                data.names[static_cast<std::size_t>(c)] =
                    std::string(cells[static_cast<std::size_t>(c) + 1]);
            }
            continue;
        }
        if (static_cast<int>(cells.size()) != columns + 1) {
            return Failure{lineNo, std::to_string(cells.size()) + " columns where the header has " +
                                       std::to_string(columns + 1)};
        }
        const auto time = ParseInt(cells.front());
        std::int64_t timePs = 0;
        if (!time || __builtin_mul_overflow(*time, *unitPs, &timePs)) {
            return Failure{lineNo, "bad time " + Quoted(cells.front())};
        }
        if (static_cast<std::int64_t>(times.size()) >= kMaxFileSamples) {
            return Failure{lineNo, "too many samples; at most " + std::to_string(kMaxFileSamples)};
        }
        unsigned sample = 0;
        bool missing = false;
        for (int c = 0; c < columns; ++c) {
            const std::string_view cell = cells[static_cast<std::size_t>(c) + 1];
            if (cell == "1") {
                sample |= 1U << c;
            } else if (cell == "x" || cell == "X") {
                missing = true;
            } else if (cell != "0") {
                return Failure{lineNo, "level " + Quoted(cell) + " is not 0, 1 or x"};
            }
        }
        // The grid: set by the first two rows (or by Quillon's comment).
        if (times.size() == 1 && !periodPs) {
            periodPs = timePs - times.front();
        }
        if (!times.empty() &&
            (*periodPs <= 0 ||
             timePs != times.front() + static_cast<std::int64_t>(times.size()) * *periodPs)) {
            return Failure{lineNo, "time " + std::string(cells.front()) +
                                       " is not on the sample grid of the rows before"};
        }
        times.push_back(timePs);
        data.samples.push_back(static_cast<std::uint16_t>(sample));
        data.received.push_back(missing ? 0 : 1);
        anyMissing = anyMissing || missing;
    }
    if (!unitPs) {
        return Failure{lineNo, "no header row"};
    }
    if (times.empty()) {
        return Failure{lineNo, "no samples"};
    }
    SetPeriod(data, periodPs.value_or(kSampleUnitPs));
    data.channels = columns;
    if (!anyMissing) {
        data.received.clear();
    }
    if (trigger && *trigger >= 0 && *trigger < static_cast<std::int64_t>(times.size())) {
        data.triggerSample = trigger;
    }
    out = std::move(data);
    return std::nullopt;
}

bool Finish(std::optional<Failure> failure, std::string_view fileName, ReadError& error) {
    if (!failure) {
        return true;
    }
    error.file = std::string(fileName);
    error.line = failure->line;
    error.what = std::move(failure->what);
    return false;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(),
                      text.end() - static_cast<std::ptrdiff_t>(suffix.size()), [](char a, char b) {
                          return a == std::tolower(static_cast<unsigned char>(b));
                      });
}

} // namespace

bool ReadVcd(std::string_view fileName, std::string_view text, CaptureData& out, ReadError& error) {
    return Finish(ParseVcd(text, out), fileName, error);
}

bool ReadCsv(std::string_view fileName, std::string_view text, CaptureData& out, ReadError& error) {
    return Finish(ParseCsv(text, out), fileName, error);
}

bool ReadCaptureFile(const std::string& path, CaptureData& out, ReadError& error) {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Finish(Failure{0, std::strerror(errno != 0 ? errno : ENOENT)}, path, error);
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxFileBytes) {
        return Finish(Failure{0, "not a readable file of at most 256 MiB"}, path, error);
    }
    file.seekg(0);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!file.read(text.data(), size)) {
        return Finish(Failure{0, "cannot be read"}, path, error);
    }
    if (EndsWithNoCase(path, ".csv")) {
        return ReadCsv(path, text, out, error);
    }
    if (EndsWithNoCase(path, ".vcd")) {
        return ReadVcd(path, text, out, error);
    }
    const auto first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '$' ? ReadVcd(path, text, out, error)
                                                            : ReadCsv(path, text, out, error);
}

} // namespace quillon
