// Streaming input, rows into a capture, memory checks and the inference of time grids.
#include "file/file_support.h"

#include "file/safe_text.h"
#include "file/sample_rate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <unistd.h>

namespace quillon {

namespace {

// Pieces read from a file at a time, and the longest line or token the readers take.
constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr std::size_t kMaxPiece = std::size_t{64} << 20;
// Rows gathered before they go to the builder; a run of this many equal rows or more is
// filled channel by channel instead of row by row.
constexpr std::int64_t kStageBytes = std::int64_t{1} << 18;
constexpr std::int64_t kRunRows = 4096;
// How often the smallest difference of stamps may be a multiple of the step.
constexpr int kMaxStepDivisor = 16;
// Continued fractions stop here: denominators beyond this mean the interval is no help.
constexpr double kMaxDenominator = 1e9;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

} // namespace

Wide Gcd(Wide a, Wide b) {
    if (a < 0) {
        a = -a;
    }
    if (b < 0) {
        b = -b;
    }
    while (b != 0) {
        const Wide t = a % b;
        a = b;
        b = t;
    }
    return a;
}

std::optional<SamplePeriod> PeriodFromFraction(Wide num, Wide den) {
    if (num <= 0 || den <= 0) {
        return std::nullopt;
    }
    const Wide g = Gcd(num, den);
    num /= g;
    den /= g;
    constexpr auto kMax = static_cast<Wide>(std::numeric_limits<std::int64_t>::max());
    if (num > kMax || den > kMax) {
        return std::nullopt;
    }
    return SamplePeriod::Fraction(static_cast<std::int64_t>(num), static_cast<std::int64_t>(den));
}

std::optional<std::int64_t> ParseInt(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

void Malformed(int line, std::string what) {
    throw ReadFault{FileReadError::Kind::Malformed, line, std::move(what)};
}

std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "'" + string at -O3.
    std::string quoted = "'";
    quoted += SafeText(text.substr(0, kShown));
    quoted += text.size() > kShown ? "...'" : "'";
    return quoted;
}

void ReadNotes::Add(const std::string& text) {
    if (!m_options.note || std::find(m_told.begin(), m_told.end(), text) != m_told.end()) {
        return;
    }
    m_told.push_back(text);
    m_options.note(text);
}

// ---- TextInput ----------------------------------------------------------------------------

TextInput::TextInput(int fd, std::uint64_t size, const ReadOptions& options)
    : m_options(options), m_fd(fd), m_buffer(kReadChunk), m_data(m_buffer.data()), m_size(size) {}

TextInput::TextInput(std::string_view bytes, const ReadOptions& options)
    : m_options(options), m_memory(bytes), m_data(bytes.data()), m_end(bytes.size()),
      m_size(bytes.size()), m_eof(true) {}

void TextInput::Report() {
    if (m_options.progress && !m_options.progress(m_base + m_end, m_size)) {
        throw ReadFault{FileReadError::Kind::Cancelled, 0, "reading was cancelled"};
    }
}

bool TextInput::Refill(std::size_t& keep) {
    if (m_eof) {
        return false;
    }
    const std::size_t kept = m_end - keep;
    if (keep > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + keep, kept);
        m_base += keep;
        m_pos -= keep;
        m_end = kept;
        keep = 0;
    }
    if (m_end == m_buffer.size()) {
        if (m_buffer.size() >= kMaxPiece) {
            Malformed(m_line, "a line or word longer than " + FormatBytes(kMaxPiece));
        }
        m_buffer.resize(m_buffer.size() * 2);
    }
    m_data = m_buffer.data();
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw ReadFault{FileReadError::Kind::Unreadable, 0, std::strerror(errno)};
        }
        if (n == 0) {
            m_eof = true;
            return false;
        }
        m_end += static_cast<std::size_t>(n);
        Report();
        return true;
    }
}

void TextInput::SkipBom() {
    std::size_t keep = m_pos;
    while (m_end - m_pos < 3 && Refill(keep)) {
        keep = m_pos;
    }
    if (m_end - m_pos >= 3 && std::memcmp(m_data + m_pos, "\xEF\xBB\xBF", 3) == 0) {
        m_pos += 3;
    }
}

bool TextInput::NextToken(std::string_view& token) {
    for (;;) {
        while (m_pos < m_end) {
            const char c = m_data[m_pos];
            if (c == '\n') {
                ++m_line;
            } else if (!IsBlank(c)) {
                break;
            }
            ++m_pos;
        }
        if (m_pos < m_end) {
            break;
        }
        std::size_t keep = m_pos;
        if (!Refill(keep)) {
            return false;
        }
    }
    std::size_t start = m_pos;
    for (;;) {
        while (m_pos < m_end && !IsBlank(m_data[m_pos])) {
            ++m_pos;
        }
        if (m_pos < m_end || !Refill(start)) {
            break;
        }
    }
    token = std::string_view(m_data + start, m_pos - start);
    m_tokenLine = m_line;
    return true;
}

bool TextInput::NextLine(std::string_view& line) {
    if (m_pos >= m_end) {
        std::size_t keep = m_pos;
        if (!Refill(keep)) {
            return false;
        }
    }
    std::size_t start = m_pos;
    std::size_t from = m_pos;
    const char* newline = nullptr;
    for (;;) {
        newline = static_cast<const char*>(std::memchr(m_data + from, '\n', m_end - from));
        if (newline != nullptr) {
            break;
        }
        const std::size_t searched = m_end - start;
        if (!Refill(start)) {
            break;
        }
        from = start + searched;
    }
    const std::size_t stop =
        newline != nullptr ? static_cast<std::size_t>(newline - m_data) : m_end;
    line = std::string_view(m_data + start, stop - start);
    m_pos = newline != nullptr ? stop + 1 : stop;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    m_tokenLine = m_line++;
    return true;
}

TextInput::Mark TextInput::Position() const {
    return {m_base + m_pos, m_line};
}

void TextInput::Seek(const Mark& mark) {
    m_line = mark.line;
    if (m_fd < 0) {
        m_pos = static_cast<std::size_t>(mark.offset);
        return;
    }
    if (::lseek(m_fd, static_cast<off_t>(mark.offset), SEEK_SET) < 0) {
        throw ReadFault{FileReadError::Kind::Unreadable, 0, std::strerror(errno)};
    }
    m_base = mark.offset;
    m_pos = 0;
    m_end = 0;
    m_eof = false;
}

// ---- Memory -------------------------------------------------------------------------------

std::uint64_t MemoryBudget(const ReadOptions& options) {
    return options.memoryLimit ? *options.memoryLimit : AvailableMemoryBytes();
}

void CheckFits(int channels, std::int64_t count, std::uint64_t budget, bool atLeast) {
    const std::uint64_t need = CaptureBuilder::BytesFor(channels, count);
    if (need <= budget) {
        return;
    }
    throw ReadFault{FileReadError::Kind::TooBig, 0,
                    std::string("the capture would need ") + (atLeast ? "at least " : "") +
                        FormatBytes(need) + " of memory for " + std::to_string(count) +
                        " samples of " + std::to_string(channels) +
                        (channels == 1 ? " channel; " : " channels; ") + FormatBytes(budget) +
                        " are available"};
}

// ---- SampleRows ---------------------------------------------------------------------------

SampleRows::SampleRows(CaptureBuilder& builder, std::uint64_t budget)
    : m_builder(builder), m_channels(builder.ChannelCount()), m_unit((m_channels + 7) / 8),
      m_budget(budget), m_row(static_cast<std::size_t>(m_unit), 0),
      m_missingSince(static_cast<std::size_t>(m_channels), -1) {}

void SampleRows::Flush() {
    if (m_staged > 0) {
        m_builder.AppendRows(m_stage.data(), m_staged, m_unit);
        m_staged = 0;
    }
}

void SampleRows::AdvanceTo(std::int64_t sample) {
    const std::int64_t n = sample - m_filled;
    if (n <= 0) {
        return;
    }
    CheckFits(m_channels, sample, m_budget, true);
    if (n >= kRunRows) {
        Flush();
        m_builder.Resize(sample);
        for (int c = 0; c < m_channels; ++c) {
            if (((m_row[static_cast<std::size_t>(c >> 3)] >> (c & 7)) & 1U) != 0) {
                m_builder.Fill(c, m_filled, sample, true);
            }
        }
        m_filled = sample;
        return;
    }
    const auto unit = static_cast<std::size_t>(m_unit);
    // The stage grows with what is staged, up to its full size: small files stay small.
    const auto rowsWanted =
        std::min<std::int64_t>(m_staged + n, std::max<std::int64_t>(kStageBytes / m_unit, 64));
    if (static_cast<std::int64_t>(m_stage.size()) < rowsWanted * m_unit) {
        m_stage.resize(std::max(m_stage.size() * 2, static_cast<std::size_t>(rowsWanted) * unit));
    }
    const auto capacity = static_cast<std::int64_t>(m_stage.size() / unit);
    for (std::int64_t left = n; left > 0;) {
        if (m_staged == capacity) {
            Flush();
        }
        const std::int64_t take = std::min(left, capacity - m_staged);
        std::uint8_t* out = m_stage.data() + static_cast<std::size_t>(m_staged) * unit;
        if (unit == 1) {
            std::memset(out, m_row[0], static_cast<std::size_t>(take));
        } else {
            for (std::int64_t r = 0; r < take; ++r) {
                std::memcpy(out + static_cast<std::size_t>(r) * unit, m_row.data(), unit);
            }
        }
        m_staged += take;
        left -= take;
    }
    m_filled = sample;
}

void SampleRows::Finish(std::int64_t count) {
    AdvanceTo(count);
    Flush();
    for (int c = 0; c < m_channels; ++c) {
        SetMissing(c, false);
    }
}

// ---- Time grids ---------------------------------------------------------------------------

TimeGrid::TimeGrid(std::int64_t t0, GridStep step, double tolerance)
    : m_t0(t0), m_step(step),
      m_twiceTolerance(static_cast<Wide>(std::llround(2.0 * tolerance)) * step.den) {}

std::optional<std::int64_t> TimeGrid::SampleOf(std::int64_t t) const {
    if (t < m_t0) {
        return std::nullopt;
    }
    const Wide scaled = static_cast<Wide>(t - m_t0) * m_step.den;
    const Wide k = (2 * scaled + m_step.num) / (2 * static_cast<Wide>(m_step.num));
    const Wide error = 2 * (scaled - k * m_step.num);
    if (error > m_twiceTolerance || -error > m_twiceTolerance ||
        k > std::numeric_limits<std::int64_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(k);
}

bool GridFinder::Narrow(std::int64_t t, double& lo, double& hi) const {
    const double d = static_cast<double>(t - m_prefix.front());
    const double tol = m_tolerance;
    const double kLo = std::max(1.0, std::ceil((d - tol) / hi - 1e-9));
    const double kHi = std::floor((d + tol) / lo + 1e-9);
    if (kLo > kHi) {
        return false;
    }
    if (kLo == kHi) {
        lo = std::max(lo, (d - tol) / kLo);
        hi = std::min(hi, (d + tol) / kLo);
        return lo <= hi * (1 + 1e-12);
    }
    return true; // more than one sample fits: a later stamp decides
}

bool GridFinder::SolveWith(double tolerance) {
    m_tolerance = tolerance;
    std::int64_t smallest = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 1; i < m_prefix.size(); ++i) {
        smallest = std::min(smallest, m_prefix[i] - m_prefix[i - 1]);
    }
    const auto d = static_cast<double>(smallest);
    for (int m = 1; m <= kMaxStepDivisor; ++m) {
        double lo = std::max(1.0, (d - 2 * tolerance) / m);
        double hi = (d + 2 * tolerance) / m;
        if (hi < 1.0) {
            break;
        }
        bool fits = true;
        for (std::size_t i = 1; fits && i < m_prefix.size(); ++i) {
            fits = Narrow(m_prefix[i], lo, hi);
        }
        if (fits) {
            m_lo = lo;
            m_hi = hi;
            return true;
        }
    }
    return false;
}

bool GridFinder::Solve() {
    m_single = m_prefix.size() < 2;
    m_gcd = 0;
    for (const std::int64_t t : m_prefix) {
        m_gcd = std::gcd(m_gcd, t - m_prefix.front());
    }
    m_fits = !m_single && (SolveWith(0.5) || SolveWith(1.0));
    return m_single || m_fits || m_gcd >= 2;
}

bool GridFinder::Refine(std::int64_t t) {
    if (m_single) {
        return true;
    }
    m_gcd = std::gcd(m_gcd, t - m_prefix.front());
    m_fits = m_fits && Narrow(t, m_lo, m_hi);
    return m_fits || m_gcd >= 2;
}

namespace {

// The fraction with the smallest denominator in [lo, hi], 0 < lo <= hi, by continued
// fractions; nullopt when its terms grow beyond what the interval can tell.
std::optional<GridStep> SimplestFraction(double lo, double hi) {
    // Convergents h/k of the terms taken so far; the remaining value lies in [x, y].
    double h0 = 1;
    double k0 = 0;
    double h1 = 0;
    double k1 = 1;
    double x = lo;
    double y = hi;
    for (int depth = 0; depth < 64; ++depth) {
        const double a = std::floor(x);
        double term = a;
        bool last = false;
        if (a == x || a + 1 <= y) {
            term = a == x ? a : a + 1; // an integer lies in [x, y]: it ends the expansion
            last = true;
        }
        const double h = term * h0 + h1;
        const double k = term * k0 + k1;
        if (k > kMaxDenominator || h > 9e18) {
            return std::nullopt;
        }
        if (last) {
            return GridStep{static_cast<std::int64_t>(h), static_cast<std::int64_t>(k)};
        }
        h1 = h0;
        k1 = k0;
        h0 = h;
        k0 = k;
        const double nx = 1.0 / (y - a);
        const double ny = 1.0 / (x - a);
        x = nx;
        y = ny;
    }
    return std::nullopt;
}

} // namespace

GridStep GridFinder::Choose(std::int64_t unitNum, std::int64_t unitDen) const {
    if (m_single) {
        return {};
    }
    if (m_gcd >= 2) {
        return {m_gcd, 1}; // every stamp lies exactly on it
    }
    const double slack = 1e-12;
    // A whole number of time units.
    const double whole = std::ceil(m_lo - slack * m_lo);
    if (whole <= m_hi + slack * m_hi) {
        return {static_cast<std::int64_t>(whole), 1};
    }
    // A round rate: the number of hertz with the most trailing zeros.
    const double unit = static_cast<double>(unitNum) / static_cast<double>(unitDen);
    const double rateLo = 1.0 / (m_hi * unit);
    const double rateHi = 1.0 / (m_lo * unit);
    for (int zeros = 15; zeros >= 0; --zeros) {
        const double step = std::pow(10.0, zeros);
        const double rate = std::ceil(rateLo / step) * step;
        if (rate >= 1.0 && rate <= rateHi && rate < 9e18) {
            // step = 1 / (rate * unit) = unitDen / (rate * unitNum) units
            const auto hz = static_cast<std::int64_t>(rate);
            const Wide num = unitDen;
            const Wide den = static_cast<Wide>(hz) * unitNum;
            const Wide g = Gcd(num, den);
            constexpr auto kMax = static_cast<Wide>(std::numeric_limits<std::int64_t>::max());
            if (num / g <= kMax && den / g <= kMax) {
                return {static_cast<std::int64_t>(num / g), static_cast<std::int64_t>(den / g)};
            }
        }
    }
    if (const auto simplest = SimplestFraction(m_lo, m_hi)) {
        return *simplest;
    }
    return {static_cast<std::int64_t>(std::max(1.0, std::round(m_lo))), 1};
}

bool IsSigrokAnalogText(std::string_view text) {
    // "A" digits ":" and, for a whole line, a blank and the value.
    std::size_t i = 1;
    if (text.size() < 3 || text[0] != 'A') {
        return false;
    }
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
    }
    return i > 1 && i < text.size() && text[i] == ':' &&
           (i + 1 == text.size() || text[i + 1] == ' ');
}

void NoteAnalogText(ReadNotes& notes, std::int64_t lines) {
    if (lines > 0) {
        notes.Add(std::to_string(lines) +
                  " lines of analog values (sigrok-cli's text for analog channels) left out");
    }
}

} // namespace quillon
