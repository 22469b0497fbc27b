// The condition language: what the user looks for in a capture, written once and used by
// `quillon-cli find`, the viewer's find bar and captures that repeat until something is found.
//
//   D3 rise | D3 fall | D3 edge           an edge of channel D3
//   D3 high | D3 low                      a stretch in which D3 holds that level
//   D3 high<50ns  D3 low>2us  D3 high<=T  a whole pulse (edge to edge) of that width
//   D3 high>=T    D3 low=1us..2us  D3 high=500ns (one width)
//   pattern=xxxxxxxx0xxxxxx1              levels, one character per channel, highest first
//   ann=uart:ERR  ann=uart:"two words"    an annotation of that decoder containing the text
//   A and B, A or B, ( ... )              "and" binds tighter than "or"
//
// Channels are written as the capture names them, as Dn, or in double quotes. Times are a
// number with ps, ns, us (or µs), ms or s. ParseCondition reads the text once; the channels
// and the pattern's length are checked when the condition is bound to a capture
// (search/matcher.h). No toolkit; any thread.
#pragma once

#include "capture/units.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillon {

/// Why a condition was refused, and where.
struct ConditionError {
    std::size_t offset = 0; ///< byte offset into the condition's text
    std::string message;

    /// offset as a 1-based column of text, counting characters (UTF-8), for messages.
    [[nodiscard]] int Column(std::string_view text) const;
};

enum class EdgeKind { Rise, Fall, Any };

/// One bound of a pulse width.
struct WidthLimit {
    Picoseconds time{0};
    bool inclusive = false; ///< <= or >= (and both ends of a range T1..T2)
    bool operator==(const WidthLimit&) const = default;
};

/// One node of a parsed condition: a plain value tree.
struct ConditionNode {
    enum class Kind { Edge, Level, Pulse, Pattern, Annotation, And, Or };
    Kind kind = Kind::Edge;
    /// Where the node's channel, pattern or decoder starts in the text (for errors found
    /// when it is bound to a capture).
    std::size_t offset = 0;

    std::string channel;                ///< Edge, Level, Pulse: as written, quotes removed
    EdgeKind edge = EdgeKind::Any;      ///< Edge
    bool high = true;                   ///< Level, Pulse: which level
    std::optional<WidthLimit> shortest; ///< Pulse: the width must exceed (or reach) this
    std::optional<WidthLimit> longest;  ///< Pulse: the width must stay below (or at) this
    std::string pattern;                ///< Pattern: '0', '1' or 'x' per channel, highest first
    std::string decoder; ///< Annotation: a decoder id ("uart") or instance ("uart-1")
    std::string text;    ///< Annotation: what its text must contain (may be empty)
    std::vector<ConditionNode> operands; ///< And, Or: exactly two
};

/// A condition as the user wrote it, parsed; not yet tied to a capture.
struct Condition {
    std::string text;
    ConditionNode root;
};

/// Parses text. The error's offset points at the first character that does not fit.
std::variant<Condition, ConditionError> ParseCondition(std::string_view text);

/// Whether the condition needs decoder annotations (it has an ann= somewhere).
bool UsesAnnotations(const ConditionNode& node);

} // namespace quillon
