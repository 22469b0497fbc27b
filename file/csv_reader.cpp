// Comma-separated values: ours (a time_ns column, empty fields for samples not received, the
// trigger and a period the times cannot show in comments) and sigrok-cli's (header comments
// with the rate and the channels, with or without labels and a time column, rows of changes
// only when it was asked to leave out repeated rows).
#include "file/formats.h"

#include "file/safe_text.h"
#include "file/sample_rate.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace quillon {

namespace {

// Decimal places of times beyond this are not taken.
constexpr int kMaxTimeDecimals = 15;

enum class ColumnKind { Time, Level, Trigger, Skipped };

struct Column {
    ColumnKind kind = ColumnKind::Level;
    int channel = -1;
};

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

void Split(std::string_view line, char separator, std::vector<std::string_view>& cells) {
    cells.clear();
    std::size_t start = 0;
    for (;;) {
        const auto end = line.find(separator, start);
        cells.push_back(Trim(line.substr(start, end - start)));
        if (end == std::string_view::npos) {
            return;
        }
        start = end + 1;
    }
}

// 0 or 1 as a level, 2 for a sample not received; -1 when the cell is no level.
int LevelOf(std::string_view cell) {
    if (cell.size() == 1) {
        switch (cell[0]) {
        case '0':
            return 0;
        case '1':
            return 1;
        case 'x':
        case 'X':
        case 'z':
        case 'Z':
            return 2;
        default:
            return -1;
        }
    }
    return cell.empty() ? 2 : -1;
}

bool IsNumber(std::string_view cell) {
    if (!cell.empty() && (cell.front() == '-' || cell.front() == '+')) {
        cell.remove_prefix(1);
    }
    bool digit = false;
    for (const char c : cell) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+') {
            return false;
        }
    }
    return digit;
}

/// A time cell as an integer of 10^-decimals column units; nullopt when it is none or has
/// more decimals.
std::optional<std::int64_t> ParseTime(std::string_view cell, int decimals) {
    const auto point = cell.find('.');
    const std::string_view whole = cell.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : cell.substr(point + 1);
    if (static_cast<int>(fraction.size()) > decimals) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), value);
    if (ec != std::errc() || end != whole.data() + whole.size() || value < 0) {
        return std::nullopt;
    }
    for (int d = 0; d < decimals; ++d) {
        const int digit =
            d < static_cast<int>(fraction.size()) ? fraction[static_cast<std::size_t>(d)] - '0' : 0;
        if (digit < 0 || digit > 9 || __builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, digit, &value)) {
            return std::nullopt;
        }
    }
    return value;
}

int DecimalsOf(std::string_view cell) {
    const auto point = cell.find('.');
    return point == std::string_view::npos ? 0 : static_cast<int>(cell.size() - point - 1);
}

/// Seconds per unit of a time column's label; 0 for a time column of unknown unit, nullopt
/// for a label that is no time.
std::optional<std::int64_t> TimeLabelPerSecond(std::string_view label) {
    struct Name {
        std::string_view text;
        std::int64_t perSecond;
    };
    constexpr Name kNames[] = {{"time_s", 1},
                               {"time_ms", 1'000},
                               {"time_us", 1'000'000},
                               {"time_ns", 1'000'000'000},
                               {"time_ps", 1'000'000'000'000},
                               {"time_fs", 1'000'000'000'000'000},
                               {"seconds", 1},
                               {"milliseconds", 1'000},
                               {"microseconds", 1'000'000},
                               {"nanoseconds", 1'000'000'000},
                               {"picoseconds", 1'000'000'000'000},
                               {"time", 0},
                               {"t", 0}};
    const std::string lower = Lower(label);
    for (const auto& n : kNames) {
        if (lower == n.text) {
            return n.perSecond;
        }
    }
    return std::nullopt;
}

class CsvReader {
public:
    CsvReader(TextInput& in, const ReadOptions& options, ReadNotes& notes)
        : m_in(in), m_options(options), m_notes(notes) {}

    CapturePtr Read();

private:
    void ReadComment(std::string_view line);
    void Layout(const std::vector<std::string_view>* labels,
                const std::vector<std::string_view>& firstRow);
    /// Walks the data rows from their start; onRow(cells, line) returns false to stop.
    template <typename OnRow> bool Walk(OnRow onRow);
    /// The decimals of the times and their grid: from the first rows, or all of them.
    FoundGrid FindGrid(bool whole, bool& complete);
    CapturePtr Build(std::optional<GridStep> step, double tolerance, int& offGridLine);

    TextInput& m_in;
    const ReadOptions& m_options;
    ReadNotes& m_notes;
    std::int64_t m_analogLines = 0;  ///< sigrok-cli's analog text lines skipped by the last walk
    std::int64_t m_analogBefore = 0; ///< the same, before the data
    char m_separator = ',';
    TextInput::Mark m_data;
    int m_decimals = 0;
    std::vector<Column> m_columns;
    std::vector<std::string> m_names;
    bool m_hasTime = false;
    std::int64_t m_timePerSecond = 0; ///< of the time column; 0: unknown
    std::optional<SamplePeriod> m_ourPeriod;
    std::optional<SamplePeriod> m_statedRate;
    std::vector<std::string> m_commentNames;
    std::optional<std::int64_t> m_trigger;
    std::size_t m_firstRowBytes = 1;
};

void CsvReader::ReadComment(std::string_view line) {
    const auto valueAfter = [line](std::string_view key) -> std::optional<std::string_view> {
        const auto at = line.find(key);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view rest = line.substr(at + key.size());
        return rest.substr(0, rest.find_first_of(" \t,;"));
    };
    if (const auto v = valueAfter(kPeriodKey)) {
        m_ourPeriod = ParsePeriodText(*v);
    } else if (const auto ps = valueAfter(kPeriodPsKey)) {
        std::int64_t value = 0;
        if (std::from_chars(ps->data(), ps->data() + ps->size(), value).ec == std::errc() &&
            value > 0) {
            m_ourPeriod = SamplePeriod::FromPicoseconds(value);
        }
    }
    if (const auto t = valueAfter(kTriggerKey)) {
        std::int64_t value = 0;
        if (std::from_chars(t->data(), t->data() + t->size(), value).ec == std::errc() &&
            value >= 0) {
            m_trigger = value;
        }
    }
    // sigrok: "; Samplerate: 24 MHz" and "; Channels (8/8): D0, D1, ..."
    if (const auto at = line.find("Samplerate:"); at != std::string_view::npos) {
        m_statedRate = ParseSampleRate(line.substr(at + 11));
    }
    if (const auto at = line.find("Channels ("); at != std::string_view::npos) {
        if (const auto colon = line.find("):", at); colon != std::string_view::npos) {
            m_commentNames.clear();
            std::string_view rest = line.substr(colon + 2);
            while (!rest.empty()) {
                const auto comma = rest.find(',');
                m_commentNames.emplace_back(Trim(rest.substr(0, comma)));
                rest =
                    comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        }
    }
}

void CsvReader::Layout(const std::vector<std::string_view>* labels,
                       const std::vector<std::string_view>& firstRow) {
    const std::size_t count = labels != nullptr ? labels->size() : firstRow.size();
    m_columns.assign(count, Column{});
    std::size_t from = 0;
    if (labels != nullptr) {
        if (const auto perSecond = TimeLabelPerSecond((*labels)[0])) {
            m_hasTime = true;
            m_timePerSecond = *perSecond;
        }
    } else if (firstRow.size() == m_commentNames.size() + 1 || LevelOf(firstRow[0]) < 0) {
        m_hasTime = IsNumber(firstRow[0]) || firstRow.size() == m_commentNames.size() + 1;
    }
    if (m_hasTime) {
        m_columns[0].kind = ColumnKind::Time;
        from = 1;
    }
    // sigrok's labels by unit ("logic", "V DC"): the names are in its comment, in order.
    bool byUnit = false;
    if (labels != nullptr) {
        for (std::size_t i = from; i < count; ++i) {
            byUnit = byUnit || (*labels)[i] == "logic";
        }
    }
    std::size_t commentName = 0;
    for (std::size_t i = from; i < count; ++i) {
        std::string name;
        bool skip = false;
        if (labels != nullptr && (*labels)[i] == "Trigger" && i + 1 == count) {
            m_columns[i].kind = ColumnKind::Trigger;
            continue;
        }
        if (byUnit) {
            name = commentName < m_commentNames.size() ? m_commentNames[commentName] : "";
            ++commentName;
            skip = (*labels)[i] != "logic";
        } else if (labels != nullptr) {
            name = std::string((*labels)[i]);
        } else if (m_commentNames.size() == count - from) {
            name = m_commentNames[i - from];
        }
        if (!skip && i < firstRow.size() && LevelOf(firstRow[i]) < 0) {
            skip = true; // an analog column
        }
        if (skip) {
            m_columns[i].kind = ColumnKind::Skipped;
            m_notes.Add("column " + std::to_string(i + 1) +
                        (name.empty() ? std::string() : " (" + SafeText(name) + ")") +
                        " holds no logic levels: left out");
            continue;
        }
        m_columns[i].channel = static_cast<int>(m_names.size());
        m_names.push_back(name.empty() ? DefaultChannelName(static_cast<int>(m_names.size()))
                                       : name);
    }
    if (m_names.empty()) {
        Malformed(m_in.Line(), "no column holds logic levels");
    }
    if (static_cast<int>(m_names.size()) > kMaxCaptureChannels) {
        Malformed(m_in.Line(), "more than " + std::to_string(kMaxCaptureChannels) + " channels");
    }
}

template <typename OnRow> bool CsvReader::Walk(OnRow onRow) {
    m_in.Seek(m_data);
    m_analogLines = 0;
    std::string_view line;
    std::vector<std::string_view> cells;
    while (m_in.NextLine(line)) {
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (IsSigrokAnalogText(line)) {
            ++m_analogLines;
            continue;
        }
        Split(line, m_separator, cells);
        if (cells.size() != m_columns.size()) {
            Malformed(m_in.Line(), std::to_string(cells.size()) +
                                       " columns where the first row has " +
                                       std::to_string(m_columns.size()));
        }
        if (!onRow(cells, m_in.Line())) {
            return false;
        }
    }
    return true;
}

FoundGrid CsvReader::FindGrid(bool whole, bool& complete) {
    // The decimals first: the most any row (of the first ones) has.
    int decimals = 0;
    std::size_t rows = 0;
    Walk([&](const std::vector<std::string_view>& cells, int /*line*/) {
        decimals = std::max(decimals, DecimalsOf(cells[0]));
        return whole || ++rows < GridFinder::kPrefixStamps;
    });
    m_decimals = std::min(decimals, kMaxTimeDecimals);
    GridFinder finder;
    bool solved = false;
    bool fits = true;
    std::optional<std::int64_t> last;
    complete = Walk([&](const std::vector<std::string_view>& cells, int line) {
        const auto t = ParseTime(cells[0], m_decimals);
        if (!t) {
            if (DecimalsOf(cells[0]) > m_decimals && !whole) {
                return false; // more decimals further on: all rows decide
            }
            Malformed(line, "bad time " + Quoted(cells[0]));
        }
        if (last && *t <= *last) {
            return true; // the build names a time that goes back
        }
        last = t;
        if (!solved) {
            finder.AddPrefix(*t);
            if (finder.PrefixFull()) {
                solved = true;
                fits = finder.Solve();
                return whole && fits;
            }
            return true;
        }
        fits = finder.Refine(*t);
        return fits;
    });
    if (!solved) {
        fits = finder.Solve();
    }
    if (!fits) {
        complete = true;
        return {};
    }
    // The column's unit, to find a round rate: unknown units count as seconds.
    std::int64_t unitDen = std::max<std::int64_t>(m_timePerSecond, 1);
    for (int d = 0; d < m_decimals && unitDen < std::numeric_limits<std::int64_t>::max() / 10;
         ++d) {
        unitDen *= 10;
    }
    return {finder.Choose(1, unitDen), finder.Tolerance()};
}

CapturePtr CsvReader::Build(std::optional<GridStep> step, double tolerance, int& offGridLine) {
    // The period: stated by us or by sigrok, else from the time column, else the caller's.
    std::optional<SamplePeriod> period = m_ourPeriod ? m_ourPeriod : m_statedRate;
    if (!period && step && m_timePerSecond > 0) {
        Wide den = static_cast<Wide>(step->den) * m_timePerSecond;
        for (int d = 0; d < m_decimals; ++d) {
            den *= 10;
        }
        period = PeriodFromFraction(step->num, den);
    }
    if (!period) {
        period = m_options.period;
    }
    if (!period) {
        throw ReadFault{FileReadError::Kind::NoSampleRate, 0,
                        "the file does not say its sample rate"};
    }
    CaptureBuilder builder(static_cast<int>(m_names.size()), *period);
    for (std::size_t c = 0; c < m_names.size(); ++c) {
        builder.SetChannelName(static_cast<int>(c), m_names[c]);
    }
    const std::uint64_t budget = MemoryBudget(m_options);
    // At least a sample a row: a file far too big is refused before it is read.
    const std::uint64_t rest = m_in.Size() > m_data.offset ? m_in.Size() - m_data.offset : 0;
    CheckFits(builder.ChannelCount(), static_cast<std::int64_t>(rest / (2 * m_firstRowBytes + 2)),
              budget, true);
    SampleRows rows(builder, budget);
    TimeGrid grid;
    std::optional<std::int64_t> lastTime;
    std::int64_t sample = -1;
    std::optional<std::int64_t> trigger;
    const bool whole = Walk([&](const std::vector<std::string_view>& cells, int line) {
        std::int64_t k = sample + 1;
        if (m_hasTime) {
            const auto t = ParseTime(cells[0], m_decimals);
            if (!t) {
                if (DecimalsOf(cells[0]) > m_decimals) {
                    offGridLine = line;
                    return false;
                }
                Malformed(line, "bad time " + Quoted(cells[0]));
            }
            if (!lastTime) {
                grid = TimeGrid(*t, step.value_or(GridStep{}), tolerance);
            } else if (*t < *lastTime) {
                Malformed(line, "time " + std::string(cells[0]) + " goes back in time");
            }
            lastTime = t;
            const auto at = grid.SampleOf(*t);
            if (!at) {
                offGridLine = line;
                return false;
            }
            k = *at;
        }
        rows.AdvanceTo(k);
        sample = k;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Column& column = m_columns[i];
            if (column.kind == ColumnKind::Level) {
                const int level = LevelOf(cells[i]);
                if (level < 0) {
                    Malformed(line, "level " + Quoted(cells[i]) + " in column " +
                                        std::to_string(i + 1) + " is not 0, 1 or empty");
                }
                rows.SetMissing(column.channel, level == 2);
                if (level != 2) {
                    rows.SetLevel(column.channel, level == 1);
                }
            } else if (column.kind == ColumnKind::Trigger && cells[i] == "1" && !trigger) {
                trigger = k;
            }
        }
        return true;
    });
    if (!whole) {
        return nullptr;
    }
    NoteAnalogText(m_notes, m_analogBefore + m_analogLines);
    if (sample < 0) {
        Malformed(m_in.Line(), "no samples");
    }
    rows.Finish(sample + 1);
    if (!trigger && m_trigger && *m_trigger <= sample) {
        trigger = m_trigger;
    }
    builder.SetTrigger(trigger);
    return builder.Finish();
}

CapturePtr CsvReader::Read() {
    m_in.SkipBom();
    std::string_view line;
    std::vector<std::string_view> cells;
    std::vector<std::string> labels;
    bool haveLabels = false;
    // Comments, then a row of labels or the first row of levels.
    for (;;) {
        const TextInput::Mark at = m_in.Position();
        if (!m_in.NextLine(line)) {
            Malformed(m_in.Line(), haveLabels ? "no samples" : "no header row and no samples");
        }
        if (line.empty()) {
            continue;
        }
        if (line.front() == ';' || line.front() == '#') {
            ReadComment(line);
            continue;
        }
        if (IsSigrokAnalogText(line)) {
            ++m_analogBefore;
            continue;
        }
        if (!haveLabels) {
            m_separator = line.find(',') != std::string_view::npos    ? ','
                          : line.find('\t') != std::string_view::npos ? '\t'
                          : line.find(';') != std::string_view::npos  ? ';'
                                                                      : ',';
        }
        Split(line, m_separator, cells);
        const bool isLabels = std::any_of(cells.begin(), cells.end(), [](std::string_view c) {
            return LevelOf(c) < 0 && !IsNumber(c);
        });
        if (isLabels && !haveLabels) {
            labels.assign(cells.begin(), cells.end());
            haveLabels = true;
            continue;
        }
        if (haveLabels && cells.size() != labels.size()) {
            Malformed(m_in.Line(), std::to_string(cells.size()) + " columns where the header has " +
                                       std::to_string(labels.size()));
        }
        m_data = at;
        m_firstRowBytes = line.size() + 1;
        std::vector<std::string_view> labelViews(labels.begin(), labels.end());
        Layout(haveLabels ? &labelViews : nullptr, cells);
        break;
    }
    int offGrid = 0;
    if (!m_hasTime) {
        return Build(std::nullopt, 0.5, offGrid);
    }
    // Our own times lie exactly on the stated period.
    if (m_ourPeriod && m_timePerSecond > 0) {
        const Wide num = static_cast<Wide>(m_ourPeriod->Numerator()) * m_timePerSecond;
        const Wide den = m_ourPeriod->Denominator();
        const Wide g = Gcd(num, den);
        if (num >= den && num / g <= std::numeric_limits<std::int64_t>::max() &&
            den / g <= std::numeric_limits<std::int64_t>::max()) {
            m_decimals = 0;
            const GridStep step{static_cast<std::int64_t>(num / g),
                                static_cast<std::int64_t>(den / g)};
            if (auto capture = Build(step, 0.5, offGrid)) {
                return capture;
            }
            Malformed(offGrid, "the time is not on the sample grid of " +
                                   FormatDuration(m_ourPeriod->Seconds()));
        }
    }
    return BuildOnFoundGrid(
        [this](bool whole, bool& complete) { return FindGrid(whole, complete); },
        [this](GridStep step, double tolerance, int& line) { return Build(step, tolerance, line); },
        m_notes);
}

} // namespace

CapturePtr ReadCsv(TextInput& in, const ReadOptions& options, ReadNotes& notes) {
    return CsvReader(in, options, notes).Read();
}

} // namespace quillon
