// The matcher: a parsed condition bound to one capture, answering "all matches in order",
// "the next or previous match from a sample" and "is there any". It reads the capture's bit
// planes a word (64 samples) at a time and lets the capture's block summaries skip quiet
// stretches, so a search of millions of samples never walks them one by one.
//
// What matches, and where (sample numbers; a match's span is [sample, end)):
//   - an edge at sample j: j - 1 and j differ, both received; span [j, j + 1). No edge at
//     sample 0 (nothing is known before it) nor beside a sample not received.
//   - a pulse: a whole high or low stretch [a, b) between an edge at a and the next edge at b
//     of the same received stretch; one cut by the capture's ends or by samples not received
//     is no pulse. Its width is (b - a) sample periods, as `info` and the viewer measure it,
//     compared with the condition's times exactly: at 20 ns a sample, high<50ns finds pulses
//     of 1 and 2 samples (20 and 40 ns), high<40ns only those of 1.
//   - a level or a pattern: each longest stretch of received samples in which it holds; one
//     may start at sample 0 or right after samples not received.
//   - an annotation: its samples [start, end) (at least one), when none of them is one that
//     its decoder's channels did not receive.
//   - A and B: each match of A whose span overlaps a match of B (at the same samples), given
//     as A's match; A or B: the matches of both in order, the same match once.
//
// No toolkit. A Matcher is an immutable value; any thread may use it, several at once.
#pragma once

#include "capture/capture.h"
#include "search/condition.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillon {

/// One decoder annotation as the matcher sees it, whatever library produced it.
struct SearchAnnotation {
    std::string decoder;  ///< the decoder's id, "uart"
    std::string instance; ///< its instance in the stack, "uart-1" (may be empty)
    std::int64_t start = 0;
    std::int64_t end = 0;           ///< the sample after its last (may equal start)
    std::vector<std::string> texts; ///< longest first
    /// The capture channels its decoder read (for a stacked decoder, the bottom one's); its
    /// samples must have been received on these. Empty: on every channel.
    std::vector<int> channels;
};

/// The annotations a capture's decoders gave, and which decoders ran (ann= may name only
/// those, even when they found nothing).
struct SearchAnnotations {
    std::vector<std::string> decoders; ///< ids and instance ids
    std::vector<SearchAnnotation> items;
};

/// One place where the condition holds.
struct Match {
    enum class Kind { Rise, Fall, Pulse, Level, Pattern, Annotation };
    Kind kind = Kind::Rise;
    std::int64_t sample = 0; ///< the first sample: the edge, the pulse's first sample, ...
    std::int64_t end = 0;    ///< the sample after the last; an edge's is sample + 1
    int channel = -1;        ///< Rise, Fall, Pulse, Level: the capture channel
    bool high = false;       ///< Pulse, Level: the level
    int annotation = -1;     ///< Annotation: index into SearchAnnotations::items

    /// Samples covered: a pulse's width, a level's or pattern's duration.
    [[nodiscard]] std::int64_t Samples() const { return end - sample; }
    bool operator==(const Match&) const = default;
};

/// The capture channel that text names: a channel's name exactly, else "Dn" (any case) for
/// channel n, else a name that differs only in case when only one does; -1 when none.
int FindChannelByName(const Capture& capture, std::string_view text);

class Matcher {
public:
    /// Binds condition to capture: resolves its channels, checks the pattern's length and
    /// the decoders named by ann= against annotations. An error points into condition.text.
    static std::variant<Matcher, ConditionError>
    Bind(const Condition& condition, CapturePtr capture,
         std::shared_ptr<const SearchAnnotations> annotations = nullptr);

    /// The matches whose first sample lies in [first, end) (end < 0: to the end of the
    /// capture), in order of their first sample, at most limit of them.
    [[nodiscard]] std::vector<Match>
    All(std::int64_t first = 0, std::int64_t end = -1,
        std::size_t limit = std::numeric_limits<std::size_t>::max()) const;
    /// Calls fn for each match whose first sample lies in [first, end) (end < 0: to the end
    /// of the capture), in order, until fn returns false; returns false when fn stopped it.
    /// Nothing is collected: for printing or counting the matches of a long capture.
    bool Each(std::int64_t first, std::int64_t end,
              const std::function<bool(const Match&)>& fn) const;
    /// The first match starting at or after from; nullopt when there is none.
    [[nodiscard]] std::optional<Match> Next(std::int64_t from = 0) const;
    /// The last match starting before before (< 0: the end of the capture).
    [[nodiscard]] std::optional<Match> Previous(std::int64_t before = -1) const;

    [[nodiscard]] const CapturePtr& Source() const { return m_capture; }
    /// The annotations bound with it (nullptr when none), for a Match's annotation index.
    [[nodiscard]] const std::shared_ptr<const SearchAnnotations>& Annotations() const {
        return m_annotations;
    }

    class Node; // the bound condition's tree, in matcher.cpp

private:
    Matcher() = default;

    CapturePtr m_capture;
    std::shared_ptr<const SearchAnnotations> m_annotations;
    std::shared_ptr<const Node> m_root;
};

/// Parses text, binds it to capture and returns every match: the whole search in one call.
std::variant<std::vector<Match>, ConditionError>
FindMatches(std::string_view text, const CapturePtr& capture,
            std::shared_ptr<const SearchAnnotations> annotations = nullptr);

} // namespace quillon
