// Value change dumps: ours (period and trigger in a $comment), sigrok's (its rate in a
// $comment, rounded time stamps) and anyone's, on the sample grid their time stamps show.
// The file is walked once for the header, once more over the first stamps when the grid is
// not stated, and once to build the capture; a grid that a later stamp contradicts costs one
// more walk over the stamps.
#include "file/formats.h"

#include "file/safe_text.h"
#include "file/sample_rate.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace quillon {

namespace {

constexpr int kMaxVectorBits = 64;

struct Var {
    int first = 0; ///< channel of bit 0
    int width = 1;
    bool skipped = false;
};

struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

// Identifiers of one or two printable bytes (nearly every file) are looked up in tables.
class VarIds {
public:
    VarIds() {
        m_one.fill(-1);
        m_two.assign(128 * 128, -1);
    }
    [[nodiscard]] int Find(std::string_view id) const {
        if (id.size() == 1 && static_cast<unsigned char>(id[0]) < 128) {
            return m_one[static_cast<unsigned char>(id[0])];
        }
        if (id.size() == 2 && static_cast<unsigned char>(id[0]) < 128 &&
            static_cast<unsigned char>(id[1]) < 128) {
            return m_two[static_cast<std::size_t>(id[0]) * 128 + static_cast<std::size_t>(id[1])];
        }
        const auto it = m_more.find(id);
        return it == m_more.end() ? -1 : it->second;
    }
    void Add(std::string_view id, int var) {
        if (id.size() == 1 && static_cast<unsigned char>(id[0]) < 128) {
            m_one[static_cast<unsigned char>(id[0])] = var;
        } else if (id.size() == 2 && static_cast<unsigned char>(id[0]) < 128 &&
                   static_cast<unsigned char>(id[1]) < 128) {
            m_two[static_cast<std::size_t>(id[0]) * 128 + static_cast<std::size_t>(id[1])] = var;
        } else {
            m_more.emplace(std::string(id), var);
        }
    }

private:
    std::array<int, 128> m_one{};
    std::vector<int> m_two;
    std::unordered_map<std::string, int, Hash, std::equal_to<>> m_more;
};

// A value character: 0 or 1 as a level, 2 for anything unknown; -1 when it is none.
int LevelOf(char c) {
    switch (c) {
    case '0':
    case 'l':
    case 'L':
        return 0;
    case '1':
    case 'h':
    case 'H':
        return 1;
    case 'x':
    case 'X':
    case 'z':
    case 'Z':
    case 'u':
    case 'U':
    case 'w':
    case 'W':
    case '-':
        return 2;
    default:
        return -1;
    }
}

/// "[7:0]" or "[3]": the most and least significant bit's index.
std::optional<std::pair<std::int64_t, std::int64_t>> ParseRange(std::string_view text) {
    if (text.size() < 3 || text.front() != '[' || text.back() != ']') {
        return std::nullopt;
    }
    text = text.substr(1, text.size() - 2);
    const auto colon = text.find(':');
    const auto msb = ParseInt(text.substr(0, colon));
    const auto lsb = colon == std::string_view::npos ? msb : ParseInt(text.substr(colon + 1));
    if (!msb || !lsb) {
        return std::nullopt;
    }
    return std::pair{*msb, *lsb};
}

class VcdReader {
public:
    VcdReader(TextInput& in, const ReadOptions& options, ReadNotes& notes)
        : m_in(in), m_options(options), m_notes(notes) {}

    CapturePtr Read();

private:
    void ReadHeader();
    void ReadComment(const std::vector<std::string>& words);
    void ReadTimescale(const std::vector<std::string>& words, int line);
    void ReadVar(const std::vector<std::string>& words, int line);
    /// Walks the body from its start; onStamp(t, line) returns false to stop there (the walk
    /// then returns false). onValue(var, value text) for each value of a wire.
    template <typename OnStamp, typename OnValue> bool Walk(OnStamp onStamp, OnValue onValue);
    /// Finds the grid from the stamps; whole: all of them, else the first ones.
    FoundGrid FindGrid(bool whole, bool& complete);
    /// Builds the capture on grid; nullptr with offGridLine set when a stamp lies off it.
    CapturePtr Build(GridStep step, double tolerance, const SamplePeriod& period, int& offGridLine);
    std::optional<GridStep> StepOf(const SamplePeriod& period) const;

    TextInput& m_in;
    const ReadOptions& m_options;
    ReadNotes& m_notes;
    std::int64_t m_analogLines = 0; ///< sigrok-cli's analog text lines skipped by the last walk
    TextInput::Mark m_body;
    std::vector<Var> m_vars;
    VarIds m_ids;
    std::vector<std::string> m_names;
    std::int64_t m_unitNum = 1; ///< the time unit: m_unitNum / m_unitDen seconds
    std::int64_t m_unitDen = 1'000'000'000;
    std::optional<SamplePeriod> m_ourPeriod;
    std::optional<SamplePeriod> m_statedRate; ///< another program's "at 24 MHz"
    std::optional<std::int64_t> m_trigger;
};

void VcdReader::ReadComment(const std::vector<std::string>& words) {
    for (std::size_t w = 0; w < words.size(); ++w) {
        const std::string_view word = words[w];
        if (word.rfind(kPeriodPsKey, 0) == 0) {
            if (const auto ps = ParseInt(word.substr(kPeriodPsKey.size())); ps && *ps > 0) {
                if (!m_ourPeriod) {
                    m_ourPeriod = SamplePeriod::FromPicoseconds(*ps);
                }
            }
        } else if (word.rfind(kPeriodKey, 0) == 0) {
            if (const auto period = ParsePeriodText(word.substr(kPeriodKey.size()))) {
                m_ourPeriod = period; // exact: wins over the picoseconds
            }
        } else if (word.rfind(kTriggerKey, 0) == 0) {
            if (const auto t = ParseInt(word.substr(kTriggerKey.size())); t && *t >= 0) {
                m_trigger = t;
            }
        } else if (word == "at" && w + 1 < words.size() && w >= 2 && words[w - 1] == "channels") {
            // sigrok: "Acquisition with 8/8 channels at 24 MHz"
            std::string rate = words[w + 1];
            if (w + 2 < words.size()) {
                rate += ' ' + words[w + 2];
            }
            m_statedRate = ParseSampleRate(rate);
            if (!m_statedRate) {
                m_statedRate = ParseSampleRate(words[w + 1]);
            }
        }
    }
}

void VcdReader::ReadTimescale(const std::vector<std::string>& words, int line) {
    std::string joined;
    for (const auto& w : words) {
        joined += w;
    }
    std::size_t digits = 0;
    while (digits < joined.size() && joined[digits] >= '0' && joined[digits] <= '9') {
        ++digits;
    }
    const auto number = ParseInt(std::string_view(joined).substr(0, digits));
    struct Unit {
        std::string_view name;
        std::int64_t perSecond;
    };
    constexpr Unit kUnits[] = {{"s", 1},
                               {"ms", 1'000},
                               {"us", 1'000'000},
                               {"ns", 1'000'000'000},
                               {"ps", 1'000'000'000'000},
                               {"fs", 1'000'000'000'000'000}};
    const std::string_view unit = std::string_view(joined).substr(digits);
    if (number && (*number == 1 || *number == 10 || *number == 100)) {
        for (const auto& u : kUnits) {
            if (unit == u.name) {
                const std::int64_t g = std::gcd(*number, u.perSecond);
                m_unitNum = *number / g;
                m_unitDen = u.perSecond / g;
                return;
            }
        }
    }
    Malformed(line, "the time scale " + Quoted(joined) +
                        " is not 1, 10 or 100 of s, ms, us, ns, ps or fs");
}

void VcdReader::ReadVar(const std::vector<std::string>& words, int line) {
    if (words.size() < 4) {
        Malformed(line, "$var needs a type, a size, an identifier and a name");
    }
    const std::string& type = words[0];
    const auto size = ParseInt(words[1]);
    const std::string& id = words[2];
    if (!size || *size < 1) {
        Malformed(line, "the size " + Quoted(words[1]) + " is not a number");
    }
    // The name: the words after the identifier; a last word "[7:0]" is the bit range.
    std::string name = words[3];
    std::optional<std::pair<std::int64_t, std::int64_t>> range;
    for (std::size_t w = 4; w < words.size(); ++w) {
        if (w + 1 == words.size() && (range = ParseRange(words[w]))) {
            break;
        }
        name += ' ' + words[w];
    }
    if (!range && name.back() == ']') {
        if (const auto open = name.rfind('['); open != std::string::npos && open > 0) {
            if ((range = ParseRange(std::string_view(name).substr(open)))) {
                name.erase(open);
            }
        }
    }
    if (m_ids.Find(id) >= 0) {
        return; // the same wire under a second name
    }
    Var var;
    var.width = static_cast<int>(std::min<std::int64_t>(*size, kMaxVectorBits + 1));
    var.first = static_cast<int>(m_names.size());
    const bool bits = type != "real" && type != "realtime" && type != "event" && type != "string" &&
                      type != "parameter";
    if (!bits) {
        var.skipped = true;
        m_notes.Add(SafeText(name) + " (" + SafeText(type) + ") is not a logic signal: left out");
    } else if (*size > kMaxVectorBits) {
        var.skipped = true;
        m_notes.Add(SafeText(name) + ": a vector of " + std::to_string(*size) +
                    " bits is left out (at most " + std::to_string(kMaxVectorBits) + ")");
    } else if (static_cast<int>(m_names.size()) + var.width > kMaxCaptureChannels) {
        var.skipped = true;
        m_notes.Add("more than " + std::to_string(kMaxCaptureChannels) +
                    " channels: the wires from " + SafeText(name) + " on are left out");
    } else if (var.width == 1) {
        m_names.push_back(range ? name + "[" + std::to_string(range->first) + "]" : name);
    } else {
        for (int i = 0; i < var.width; ++i) {
            std::int64_t index = i;
            if (range) {
                index = range->first >= range->second ? range->second + i : range->second - i;
            }
            m_names.push_back(name + "[" + std::to_string(index) + "]");
        }
        m_notes.Add(SafeText(name) + ": a vector of " + std::to_string(var.width) +
                    " bits, read as one channel per bit");
    }
    m_ids.Add(id, static_cast<int>(m_vars.size()));
    m_vars.push_back(var);
}

void VcdReader::ReadHeader() {
    std::string_view token;
    bool sectionSeen = false;
    while (m_in.NextToken(token)) {
        const int line = m_in.Line();
        if (!sectionSeen && token.front() != '$') {
            continue; // some writers put a line of their own first (sigrok-cli: "META ...")
        }
        sectionSeen = true;
        if (token.front() != '$') {
            Malformed(line, "unexpected " + Quoted(token) + " in the header");
        }
        const std::string section(token);
        std::vector<std::string> words;
        bool ended = false;
        while (m_in.NextToken(token)) {
            if (token == "$end") {
                ended = true;
                break;
            }
            words.emplace_back(token);
        }
        if (!ended) {
            Malformed(line, Quoted(section) + " has no $end");
        }
        if (section == "$enddefinitions") {
            if (m_names.empty()) {
                Malformed(line, "no wires are defined");
            }
            m_body = m_in.Position();
            return;
        }
        if (section == "$timescale") {
            ReadTimescale(words, line);
        } else if (section == "$var") {
            ReadVar(words, line);
        } else if (section == "$comment") {
            ReadComment(words);
        } else if (section == "$dumpvars" || section == "$dumpall") {
            Malformed(line, Quoted(section) + " before $enddefinitions");
        }
        // $date, $version, $scope, $upscope and others carry nothing the capture needs.
    }
    Malformed(m_in.Line(), "the file ends before $enddefinitions");
}

template <typename OnStamp, typename OnValue>
bool VcdReader::Walk(OnStamp onStamp, OnValue onValue) {
    m_in.Seek(m_body);
    m_analogLines = 0;
    std::string_view token;
    const auto varOf = [&](std::string_view id) -> const Var& {
        const int v = m_ids.Find(id);
        if (v < 0) {
            Malformed(m_in.Line(), "unknown identifier " + Quoted(id));
        }
        return m_vars[static_cast<std::size_t>(v)];
    };
    while (m_in.NextToken(token)) {
        const char first = token.front();
        if (first == '#') {
            const auto t = ParseInt(token.substr(1));
            if (!t || *t < 0) {
                Malformed(m_in.Line(), "bad time stamp " + Quoted(token));
            }
            if (!onStamp(*t, m_in.Line())) {
                return false;
            }
        } else if (LevelOf(first) >= 0) {
            const Var& var = varOf(token.substr(1));
            if (!var.skipped) {
                onValue(var, token.substr(0, 1));
            }
        } else if (first == 'b' || first == 'B') {
            const std::string_view value = token.substr(1);
            if (value.empty() || !m_in.NextToken(token)) {
                Malformed(m_in.Line(), "a vector value without its identifier");
            }
            const Var& var = varOf(token);
            if (!var.skipped) {
                for (const char c : value) {
                    if (LevelOf(c) < 0) {
                        Malformed(m_in.Line(), "bad vector value " + Quoted(value));
                    }
                }
                onValue(var, value);
            }
        } else if (first == 'r' || first == 'R' || first == 's' || first == 'S') {
            if (!m_in.NextToken(token)) {
                Malformed(m_in.Line(), "a value without its identifier");
            }
            varOf(token); // real numbers and texts are no logic levels
        } else if (IsSigrokAnalogText(token)) {
            std::string_view rest;
            m_in.NextLine(rest); // the value and its unit
            ++m_analogLines;
        } else if (token == "$comment") {
            const int line = m_in.Line();
            bool ended = false;
            while (!ended && m_in.NextToken(token)) {
                ended = token == "$end";
            }
            if (!ended) {
                Malformed(line, "$comment has no $end");
            }
        } else if (token != "$dumpvars" && token != "$dumpall" && token != "$dumpon" &&
                   token != "$dumpoff" && token != "$end") {
            Malformed(m_in.Line(), "unexpected " + Quoted(token));
        }
    }
    return true;
}

FoundGrid VcdReader::FindGrid(bool whole, bool& complete) {
    GridFinder finder;
    bool solved = false;
    bool fits = true;
    std::optional<std::int64_t> last;
    complete = Walk(
        [&](std::int64_t t, int /*line*/) {
            if (last && t <= *last) {
                return true; // the build names a stamp that goes back
            }
            last = t;
            if (!solved) {
                finder.AddPrefix(t);
                if (finder.PrefixFull()) {
                    solved = true;
                    fits = finder.Solve();
                    return whole && fits;
                }
                return true;
            }
            fits = finder.Refine(t);
            return fits;
        },
        [](const Var& /*var*/, std::string_view /*value*/) {});
    if (!solved) {
        fits = finder.Solve();
    }
    if (!fits) {
        complete = true; // no step fits: the time unit it is
        return {};
    }
    return {finder.Choose(m_unitNum, m_unitDen), finder.Tolerance()};
}

std::optional<GridStep> VcdReader::StepOf(const SamplePeriod& period) const {
    // period / unit = (pNum * unitDen) / (pDen * unitNum) units
    const Wide num = static_cast<Wide>(period.Numerator()) * m_unitDen;
    const Wide den = static_cast<Wide>(period.Denominator()) * m_unitNum;
    const Wide g = Gcd(num, den);
    constexpr auto kMax = static_cast<Wide>(std::numeric_limits<std::int64_t>::max());
    if (num / g > kMax || den / g > kMax || num < den) {
        return std::nullopt; // shorter than a time unit: stamps cannot tell the samples apart
    }
    return GridStep{static_cast<std::int64_t>(num / g), static_cast<std::int64_t>(den / g)};
}

CapturePtr VcdReader::Build(GridStep step, double tolerance, const SamplePeriod& period,
                            int& offGridLine) {
    CaptureBuilder builder(static_cast<int>(m_names.size()), period);
    for (std::size_t c = 0; c < m_names.size(); ++c) {
        builder.SetChannelName(static_cast<int>(c), m_names[c]);
    }
    SampleRows rows(builder, MemoryBudget(m_options));
    for (int c = 0; c < rows.Channels(); ++c) {
        rows.SetMissing(c, true); // unknown until a value is given
    }
    std::optional<std::int64_t> last;
    TimeGrid grid;
    std::int64_t sample = 0;
    bool changedHere = false;
    const auto apply = [&](int channel, char c) {
        const int level = LevelOf(c);
        if (level == 2) {
            rows.SetMissing(channel, true);
        } else {
            rows.SetMissing(channel, false);
            rows.SetLevel(channel, level == 1);
        }
    };
    const bool whole = Walk(
        [&](std::int64_t t, int line) {
            if (!last) {
                grid = TimeGrid(t, step, tolerance);
            } else if (t < *last) {
                Malformed(line, "time stamp #" + std::to_string(t) + " goes back in time");
            } else if (t == *last) {
                return true;
            }
            last = t;
            const auto k = grid.SampleOf(t);
            if (!k) {
                offGridLine = line;
                return false;
            }
            if (*k > sample) {
                rows.AdvanceTo(*k);
                sample = *k;
            }
            changedHere = false;
            return true;
        },
        [&](const Var& var, std::string_view value) {
            changedHere = true;
            if (var.width == 1) {
                apply(var.first, value.back());
                return;
            }
            // Bits from the right; a short value is extended by its first bit when that is
            // unknown, else by 0.
            const char pad = LevelOf(value.front()) == 2 ? value.front() : '0';
            const auto n = static_cast<int>(value.size());
            for (int i = 0; i < var.width; ++i) {
                apply(var.first + i, i < n ? value[static_cast<std::size_t>(n - 1 - i)] : pad);
            }
        });
    if (!whole) {
        return nullptr;
    }
    NoteAnalogText(m_notes, m_analogLines);
    if (!last) {
        Malformed(m_in.Line(), "no time stamps");
    }
    // A last time stamp without changes marks the end of the last sample.
    const std::int64_t count = std::max<std::int64_t>(1, changedHere ? sample + 1 : sample);
    rows.Finish(count);
    if (m_trigger && *m_trigger < count) {
        builder.SetTrigger(m_trigger);
    }
    return builder.Finish();
}

CapturePtr VcdReader::Read() {
    m_in.SkipBom();
    ReadHeader();
    const auto unitPeriod = [this](GridStep step) {
        const auto period = PeriodFromFraction(static_cast<Wide>(step.num) * m_unitNum,
                                               static_cast<Wide>(step.den) * m_unitDen);
        if (!period) {
            Malformed(0, "the sample period does not fit the time scale");
        }
        return *period;
    };
    int offGrid = 0;
    if (m_ourPeriod) {
        // Ours: the period is stated; a stamp off it is an error, not a guess.
        const auto step = StepOf(*m_ourPeriod);
        if (!step) {
            Malformed(0, "the sample period is shorter than the time scale");
        }
        if (auto capture = Build(*step, 0.5, *m_ourPeriod, offGrid)) {
            return capture;
        }
        Malformed(offGrid, "a time stamp is not on the sample grid of " +
                               FormatDuration(m_ourPeriod->Seconds()));
    }
    if (m_statedRate) {
        if (const auto step = StepOf(*m_statedRate)) {
            if (auto capture = Build(*step, 0.5, *m_statedRate, offGrid)) {
                return capture;
            }
        }
        m_notes.Add("the time stamps do not follow the stated rate of " +
                    FormatFrequency(m_statedRate->Hz()) + ": the rate is taken from them");
    }
    return BuildOnFoundGrid(
        [this](bool whole, bool& complete) { return FindGrid(whole, complete); },
        [&](GridStep step, double tolerance, int& line) {
            return Build(step, tolerance, unitPeriod(step), line);
        },
        m_notes);
}

} // namespace

CapturePtr ReadVcd(TextInput& in, const ReadOptions& options, ReadNotes& notes) {
    return VcdReader(in, options, notes).Read();
}

} // namespace quillon
