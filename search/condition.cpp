// The condition parser: recursive descent straight over the text, so that every fault carries
// the offset of the character at fault.
#include "search/condition.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <utility>

namespace quillon {

namespace {

// Sums of 36 decimal digits times a unit need more than 64 bits.
__extension__ typedef __int128 Wide; // NOLINT(modernize-use-using): __extension__ needs typedef

/// Nesting of parentheses, and conditions joined by and/or, beyond these are refused, so that
/// no text can exhaust the stack of the parser or of the matcher built from its tree.
constexpr int kMaxDepth = 64;
constexpr int kMaxParts = 256;
/// Digits of a time, integer and fraction together.
constexpr int kMaxTimeDigits = 24;
/// The longest time a condition may name: some 11 days, far beyond any capture.
constexpr std::int64_t kMaxTimePs = std::int64_t{1'000'000} * 1'000'000'000'000;

struct Unit {
    std::string_view name;
    std::int64_t ps;
};
// Longest spellings first where one is the start of another ("ms" before "s").
constexpr std::array<Unit, 7> kUnits{{
    {"ps", 1},
    {"ns", 1'000},
    {"us", 1'000'000},
    {"\u00b5s", 1'000'000}, // micro sign
    {"\u03bcs", 1'000'000}, // Greek mu, which some keyboards give instead
    {"ms", 1'000'000'000},
    {"s", 1'000'000'000'000},
}};

constexpr const char* kUnitHelp = "ps, ns, us (or \u00b5s), ms or s";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// Ends a bare word: a channel name, a decoder, an annotation text.
bool EndsWord(char c) {
    return IsSpace(c) || c == '(' || c == ')';
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

class CParser {
public:
    explicit CParser(std::string_view text) : m_text(text) {}

    std::variant<Condition, ConditionError> Parse() {
        SkipSpaces();
        if (AtEnd()) {
            return ConditionError{m_pos, "the condition is empty"};
        }
        ConditionNode root = ParseJoined(0, ConditionNode::Kind::Or);
        if (!m_error) {
            SkipSpaces();
            if (!AtEnd()) {
                Fail(Peek() == ')'
                         ? "')' without '('"
                         : "unexpected '" + Word() + "': expected 'and', 'or' or the end");
            }
        }
        if (m_error) {
            return *m_error;
        }
        return Condition{std::string(m_text), std::move(root)};
    }

private:
    [[nodiscard]] bool AtEnd() const { return m_pos >= m_text.size(); }
    [[nodiscard]] char Peek(std::size_t ahead = 0) const {
        return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0';
    }
    void SkipSpaces() {
        while (!AtEnd() && IsSpace(Peek())) {
            ++m_pos;
        }
    }
    /// The bare word at the position, for messages (not consumed).
    [[nodiscard]] std::string Word() const {
        std::size_t end = m_pos;
        while (end < m_text.size() && !EndsWord(m_text[end])) {
            ++end;
        }
        return std::string(m_text.substr(m_pos, std::max<std::size_t>(end - m_pos, 1)));
    }
    void Fail(std::string message) { FailAt(m_pos, std::move(message)); }
    void FailAt(std::size_t offset, std::string message) {
        if (!m_error) {
            m_error = ConditionError{offset, std::move(message)};
        }
    }

    /// Consumes keyword (any case) when it stands at the position followed by a character
    /// that may end it.
    bool TakeKeyword(std::string_view keyword, std::string_view alsoEnds = {}) {
        if (m_text.size() - m_pos < keyword.size()) {
            return false;
        }
        for (std::size_t i = 0; i < keyword.size(); ++i) {
            if (Lower(m_text[m_pos + i]) != keyword[i]) {
                return false;
            }
        }
        const char next = Peek(keyword.size());
        if (next != '\0' && !EndsWord(next) && alsoEnds.find(next) == std::string_view::npos) {
            return false;
        }
        m_pos += keyword.size();
        return true;
    }

    /// A keyword immediately followed (after spaces) by '='; consumes both.
    bool TakeAssignment(std::string_view keyword) {
        const std::size_t start = m_pos;
        if (!TakeKeyword(keyword, "=")) {
            return false;
        }
        SkipSpaces();
        if (Peek() != '=') {
            m_pos = start;
            return false;
        }
        ++m_pos;
        SkipSpaces();
        return true;
    }

    /// Operands joined by "or" (which binds loosest) or by "and".
    ConditionNode ParseJoined(int depth, ConditionNode::Kind join) {
        const bool isOr = join == ConditionNode::Kind::Or;
        const auto operand = [&] {
            return isOr ? ParseJoined(depth, ConditionNode::Kind::And) : ParseFactor(depth);
        };
        ConditionNode left = operand();
        for (;;) {
            SkipSpaces();
            if (m_error || !TakeKeyword(isOr ? "or" : "and")) {
                return left;
            }
            ConditionNode node;
            node.kind = join;
            node.offset = left.offset;
            node.operands.push_back(std::move(left));
            node.operands.push_back(operand());
            left = std::move(node);
        }
    }

    ConditionNode ParseFactor(int depth) {
        SkipSpaces();
        ConditionNode node;
        node.offset = m_pos;
        if (++m_nParts > kMaxParts) {
            Fail("the condition has too many parts");
            return node;
        }
        if (AtEnd()) {
            Fail("expected a condition: a channel, pattern= or ann=");
            return node;
        }
        if (Peek() == '(') {
            if (depth >= kMaxDepth) {
                Fail("too many parentheses inside each other");
                return node;
            }
            const std::size_t open = m_pos++;
            node = ParseJoined(depth + 1, ConditionNode::Kind::Or);
            SkipSpaces();
            if (!m_error && Peek() != ')') {
                FailAt(AtEnd() ? open : m_pos,
                       AtEnd() ? "'(' is not closed" : "expected ')', not '" + Word() + "'");
            }
            ++m_pos;
            return node;
        }
        if (Peek() == ')') {
            Fail("expected a condition before ')'");
            return node;
        }
        if (TakeAssignment("pattern")) {
            ParsePattern(node);
            return node;
        }
        if (TakeAssignment("ann")) {
            ParseAnnotation(node);
            return node;
        }
        ParseChannelCondition(node);
        return node;
    }

    void ParsePattern(ConditionNode& node) {
        node.kind = ConditionNode::Kind::Pattern;
        node.offset = m_pos;
        while (!AtEnd() && !EndsWord(Peek())) {
            const char c = Lower(Peek());
            if (c != '0' && c != '1' && c != 'x') {
                Fail(std::string("a pattern has only 0, 1 and x, not '") + Peek() + "'");
                return;
            }
            node.pattern.push_back(c);
            ++m_pos;
        }
        if (node.pattern.empty()) {
            Fail("expected a pattern after pattern=: 0, 1 or x per channel, highest first");
        }
    }

    void ParseAnnotation(ConditionNode& node) {
        node.kind = ConditionNode::Kind::Annotation;
        node.offset = m_pos;
        while (!AtEnd() && !EndsWord(Peek()) && Peek() != ':') {
            node.decoder.push_back(m_text[m_pos++]);
        }
        if (node.decoder.empty()) {
            Fail("expected a decoder after ann=, e.g. ann=uart:ERR");
            return;
        }
        if (Peek() != ':') {
            return; // every annotation of the decoder
        }
        ++m_pos;
        if (Peek() == '"') {
            TakeQuoted(node.text);
            return;
        }
        while (!AtEnd() && !EndsWord(Peek())) {
            node.text.push_back(m_text[m_pos++]);
        }
    }

    /// A text in double quotes at the position, \" and \\ standing for " and \.
    bool TakeQuoted(std::string& out) {
        const std::size_t open = m_pos++;
        while (!AtEnd() && Peek() != '"') {
            if (Peek() == '\\' && (Peek(1) == '"' || Peek(1) == '\\')) {
                ++m_pos;
            }
            out.push_back(m_text[m_pos++]);
        }
        if (AtEnd()) {
            FailAt(open, "the quote is not closed");
            return false;
        }
        ++m_pos;
        return true;
    }

    void ParseChannelCondition(ConditionNode& node) {
        node.offset = m_pos;
        if (Peek() == '"') {
            if (!TakeQuoted(node.channel)) {
                return;
            }
        } else {
            while (!AtEnd() && !EndsWord(Peek())) {
                node.channel.push_back(m_text[m_pos++]);
            }
        }
        SkipSpaces();
        const std::size_t what = m_pos;
        if (TakeKeyword("rise")) {
            node.kind = ConditionNode::Kind::Edge;
            node.edge = EdgeKind::Rise;
        } else if (TakeKeyword("fall")) {
            node.kind = ConditionNode::Kind::Edge;
            node.edge = EdgeKind::Fall;
        } else if (TakeKeyword("edge")) {
            node.kind = ConditionNode::Kind::Edge;
            node.edge = EdgeKind::Any;
        } else if (TakeKeyword("high", "<>=") || TakeKeyword("low", "<>=")) {
            node.high = Lower(m_text[what]) == 'h';
            node.kind = ConditionNode::Kind::Level;
            ParseWidth(node);
        } else if (AtEnd()) {
            Fail("expected rise, fall, edge, high or low after the channel '" + node.channel + "'");
        } else {
            Fail("expected rise, fall, edge, high or low after the channel, not '" + Word() + "'");
        }
    }

    /// What may follow high or low: nothing (a level), or a comparison with a width.
    void ParseWidth(ConditionNode& node) {
        const std::size_t save = m_pos;
        SkipSpaces();
        const char op = Peek();
        if (op != '<' && op != '>' && op != '=') {
            m_pos = save;
            return;
        }
        node.kind = ConditionNode::Kind::Pulse;
        ++m_pos;
        const bool orEqual = op != '=' && Peek() == '=';
        if (orEqual) {
            ++m_pos;
        }
        SkipSpaces();
        if (op == '<' || op == '>') {
            const auto time = ParseTime();
            if (!time) {
                return;
            }
            (op == '<' ? node.longest : node.shortest) = WidthLimit{*time, orEqual};
            return;
        }
        // =T or =T1..T2; T1 may leave its unit to T2 (=1..2us).
        const std::size_t firstAt = m_pos;
        std::optional<std::int64_t> unit;
        const auto digits = ParseNumber();
        if (!digits) {
            return;
        }
        SkipSpaces();
        if (Peek() != '.') {
            unit = ParseUnit();
            if (!unit) {
                return;
            }
            SkipSpaces();
        }
        if (Peek() == '.' && Peek(1) == '.') {
            m_pos += 2;
            SkipSpaces();
            const std::size_t secondAt = m_pos;
            const auto second = ParseTime(&unit);
            if (!second) {
                return;
            }
            const auto first = Scale(*digits, *unit, firstAt);
            if (!first) {
                return;
            }
            if (*second < *first) {
                FailAt(secondAt, "the range ends before it starts");
                return;
            }
            node.shortest = WidthLimit{*first, true};
            node.longest = WidthLimit{*second, true};
            return;
        }
        if (!unit) {
            Fail(std::string("expected a unit: ") + kUnitHelp);
            return;
        }
        const auto only = Scale(*digits, *unit, firstAt);
        if (only) {
            node.shortest = WidthLimit{*only, true};
            node.longest = WidthLimit{*only, true};
        }
    }

    /// A decimal number: its digits without the point, and how many follow the point.
    struct Decimal {
        Wide digits = 0;
        int fraction = 0;
    };

    std::optional<Decimal> ParseNumber() {
        const std::size_t start = m_pos;
        Decimal number;
        int count = 0;
        bool point = false;
        while (!AtEnd()) {
            const char c = Peek();
            if (IsDigit(c)) {
                if (++count > kMaxTimeDigits) {
                    FailAt(start, "too many digits in a time");
                    return std::nullopt;
                }
                number.digits = number.digits * 10 + (c - '0');
                number.fraction += point ? 1 : 0;
                ++m_pos;
            } else if (c == '.' && !point && IsDigit(Peek(1))) {
                point = true;
                ++m_pos;
            } else {
                break;
            }
        }
        if (count == 0) {
            Fail("expected a time such as 50ns, not '" + Word() + "'");
            return std::nullopt;
        }
        return number;
    }

    /// The unit at the position, in picoseconds.
    std::optional<std::int64_t> ParseUnit() {
        for (const Unit& unit : kUnits) {
            if (m_text.substr(m_pos, unit.name.size()) == unit.name) {
                const char next = Peek(unit.name.size());
                if (next == '\0' || EndsWord(next) || next == '.') {
                    m_pos += unit.name.size();
                    return unit.ps;
                }
            }
        }
        Fail(AtEnd() ? std::string("expected a unit: ") + kUnitHelp
                     : "unknown unit '" + Word() + "': use " + kUnitHelp);
        return std::nullopt;
    }

    std::optional<Picoseconds> Scale(const Decimal& number, std::int64_t unitPs, std::size_t at) {
        Wide scale = 1;
        for (int i = 0; i < number.fraction; ++i) {
            scale *= 10;
        }
        // Rounded to the nearest picosecond: no capture resolves less.
        const Wide ps = (number.digits * unitPs + scale / 2) / scale;
        if (ps > kMaxTimePs) {
            FailAt(at, "the time is too long");
            return std::nullopt;
        }
        return Picoseconds(static_cast<std::int64_t>(ps));
    }

    /// A number and its unit. unitOut, when given, receives the unit (and supplies it to a
    /// caller whose number had none).
    std::optional<Picoseconds> ParseTime(std::optional<std::int64_t>* unitOut = nullptr) {
        const std::size_t start = m_pos;
        const auto number = ParseNumber();
        if (!number) {
            return std::nullopt;
        }
        SkipSpaces();
        const auto unit = ParseUnit();
        if (!unit) {
            return std::nullopt;
        }
        if (unitOut != nullptr && !*unitOut) {
            *unitOut = unit;
        }
        return Scale(*number, *unit, start);
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_nParts = 0;
    std::optional<ConditionError> m_error;
};

} // namespace

int ConditionError::Column(std::string_view text) const {
    const std::size_t end = std::min(offset, text.size());
    int column = 1;
    for (std::size_t i = 0; i < end; ++i) {
        // Continuation bytes of a UTF-8 character do not start a column.
        column += (static_cast<unsigned char>(text[i]) & 0xC0U) != 0x80U ? 1 : 0;
    }
    return column;
}

std::variant<Condition, ConditionError> ParseCondition(std::string_view text) {
    return CParser(text).Parse();
}

bool UsesAnnotations(const ConditionNode& node) {
    return node.kind == ConditionNode::Kind::Annotation ||
           std::any_of(node.operands.begin(), node.operands.end(),
                       [](const ConditionNode& operand) { return UsesAnnotations(operand); });
}

} // namespace quillon
