// The matcher: one node per part of the condition. Leaves read the bit planes 64 samples at a
// time and ask the capture's summaries (NextEdge, PrevEdge) to cross quiet stretches.
#include "search/matcher.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <functional>
#include <map>
#include <span>
#include <tuple>
#include <utility>

namespace quillon {

namespace {

// Products of a sample count, a period and 10^12 need more than 64 bits.
__extension__ typedef __int128 Wide; // NOLINT(modernize-use-using): __extension__ needs typedef

constexpr int kWordBits = 64;
constexpr std::int64_t kPsPerSecond = 1'000'000'000'000;
/// Words without a hit after which a scan lets the summaries find the next change.
constexpr int kQuietWords = 4;
/// "or" merges its operands' matches in chunks of this many samples.
constexpr std::int64_t kOrChunkSamples = std::int64_t{1} << 16;
/// Previous() looks back this far first, then twice as far each time.
constexpr std::int64_t kFirstLookBack = std::int64_t{1} << 12;
/// Channel names listed in the message about an unknown channel.
constexpr std::size_t kNamesListed = 16;

using MatchFn = std::function<bool(const Match&)>;

std::uint64_t LowBits(std::int64_t n) {
    return n >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

/// 64 samples of a plane from pos on (pos >= 0; samples past the plane read as 0).
std::uint64_t Bits64(std::span<const std::uint64_t> plane, std::int64_t pos) {
    const auto w = static_cast<std::size_t>(pos / kWordBits);
    const int offset = static_cast<int>(pos % kWordBits);
    std::uint64_t bits = w < plane.size() ? plane[w] >> offset : 0;
    if (offset != 0 && w + 1 < plane.size()) {
        bits |= plane[w + 1] << (kWordBits - offset);
    }
    return bits;
}

/// The samples a match occupies end here: an edge and an empty annotation occupy one.
std::int64_t SpanEnd(const Match& m) {
    return std::max(m.end, m.sample + 1);
}

bool Earlier(const Match& a, const Match& b) {
    return std::tie(a.sample, a.end, a.kind, a.channel, a.high, a.annotation) <
           std::tie(b.sample, b.end, b.kind, b.channel, b.high, b.annotation);
}

/// The stretch of (sorted, disjoint) stretches that holds x, or nullptr.
const SampleRange* StretchOf(const std::vector<SampleRange>& stretches, std::int64_t x) {
    const auto it =
        std::upper_bound(stretches.begin(), stretches.end(), x,
                         [](std::int64_t v, const SampleRange& r) { return v < r.end; });
    return it != stretches.end() && it->Contains(x) ? &*it : nullptr;
}

/// Calls fn for each stretch that overlaps [first, end), in order; false when fn said stop.
template <typename Fn>
bool ForStretches(const std::vector<SampleRange>& stretches, std::int64_t first, std::int64_t end,
                  Fn fn) {
    auto it = std::upper_bound(stretches.begin(), stretches.end(), first,
                               [](std::int64_t v, const SampleRange& r) { return v < r.end; });
    for (; it != stretches.end() && it->first < end; ++it) {
        if (!fn(*it)) {
            return false;
        }
    }
    return true;
}

/// The first edge of kind at j in [pos, hi), hi when none; samples pos - 1 .. hi - 1 must be
/// received (pos >= 1).
std::int64_t NextEdgeIn(const Capture& capture, int channel, EdgeKind kind, std::int64_t pos,
                        std::int64_t hi) {
    const auto plane = capture.Plane(channel);
    int quiet = 0;
    while (pos < hi) {
        const std::int64_t n = std::min<std::int64_t>(kWordBits, hi - pos);
        const std::uint64_t now = Bits64(plane, pos);
        std::uint64_t edges = (now ^ Bits64(plane, pos - 1)) & LowBits(n);
        if (kind == EdgeKind::Rise) {
            edges &= now;
        } else if (kind == EdgeKind::Fall) {
            edges &= ~now;
        }
        if (edges != 0) {
            return pos + std::countr_zero(edges);
        }
        pos += n;
        if (++quiet >= kQuietWords && pos < hi) {
            pos = capture.NextEdge(channel, pos, hi).value_or(hi);
            quiet = 0;
        }
    }
    return hi;
}

} // namespace

/// A bound condition. Scan and Covering report matches in order (Earlier) until fn returns
/// false, and then return false themselves.
class Matcher::Node {
public:
    virtual ~Node() = default;
    /// The matches whose first sample lies in [first, end).
    virtual bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const = 0;
    /// The matches that start before x and still occupy sample x.
    virtual bool Covering(std::int64_t x, const MatchFn& fn) const = 0;

    /// Whether a match occupies a sample of [x, y).
    [[nodiscard]] bool Overlaps(std::int64_t x, std::int64_t y) const {
        bool found = false;
        const MatchFn stop = [&found](const Match& /*m*/) {
            found = true;
            return false;
        };
        if (Covering(x, stop)) {
            Scan(x, y, stop);
        }
        return found;
    }
};

namespace {

using Node = Matcher::Node;
using NodePtr = std::shared_ptr<const Node>;

class EdgeNode : public Node {
public:
    EdgeNode(CapturePtr capture, int channel, EdgeKind kind)
        : m_capture(std::move(capture)), m_channel(channel), m_kind(kind),
          m_stretches(m_capture->ReceivedStretches(std::span<const int>(&m_channel, 1))) {}

    bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const override {
        return ForStretches(m_stretches, first, end, [&](const SampleRange& s) {
            const std::int64_t hi = std::min(end, s.end);
            for (std::int64_t pos = std::max(first, s.first + 1); pos < hi;) {
                const std::int64_t j = NextEdgeIn(*m_capture, m_channel, m_kind, pos, hi);
                if (j >= hi) {
                    break;
                }
                const auto kind =
                    m_capture->Level(m_channel, j) ? Match::Kind::Rise : Match::Kind::Fall;
                if (!fn(Match{kind, j, j + 1, m_channel, false, -1})) {
                    return false;
                }
                pos = j + 1;
            }
            return true;
        });
    }

    bool Covering(std::int64_t /*x*/, const MatchFn& /*fn*/) const override {
        return true; // an edge occupies its own sample only
    }

private:
    CapturePtr m_capture;
    int m_channel;
    EdgeKind m_kind;
    std::vector<SampleRange> m_stretches;
};

class PulseNode : public Node {
public:
    PulseNode(CapturePtr capture, int channel, bool high, std::int64_t shortest,
              std::int64_t longest)
        : m_capture(std::move(capture)), m_channel(channel), m_high(high), m_shortest(shortest),
          m_longest(longest),
          m_stretches(m_capture->ReceivedStretches(std::span<const int>(&m_channel, 1))) {}

    bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const override {
        const EdgeKind opening = m_high ? EdgeKind::Rise : EdgeKind::Fall;
        return ForStretches(m_stretches, first, end, [&](const SampleRange& s) {
            const std::int64_t hi = std::min(end, s.end);
            for (std::int64_t pos = std::max(first, s.first + 1); pos < hi;) {
                const std::int64_t a = NextEdgeIn(*m_capture, m_channel, opening, pos, hi);
                if (a >= hi) {
                    break;
                }
                // The closing edge may lie past end; the pulse must end inside the stretch.
                const std::int64_t b =
                    NextEdgeIn(*m_capture, m_channel, EdgeKind::Any, a + 1, s.end);
                if (b >= s.end) {
                    break;
                }
                if (Fits(b - a) && !fn(Match{Match::Kind::Pulse, a, b, m_channel, m_high, -1})) {
                    return false;
                }
                pos = b + 1;
            }
            return true;
        });
    }

    bool Covering(std::int64_t x, const MatchFn& fn) const override {
        const SampleRange* s = StretchOf(m_stretches, x);
        if (s == nullptr || x == s->first) {
            return true;
        }
        const auto a = m_capture->PrevEdge(m_channel, x + 1, s->first + 1);
        if (!a || *a == x || m_capture->Level(m_channel, *a) != m_high) {
            return true;
        }
        const auto b = m_capture->NextEdge(m_channel, x + 1, s->end);
        if (!b || !Fits(*b - *a)) {
            return true;
        }
        return fn(Match{Match::Kind::Pulse, *a, *b, m_channel, m_high, -1});
    }

private:
    [[nodiscard]] bool Fits(std::int64_t width) const {
        return width >= m_shortest && width <= m_longest;
    }

    CapturePtr m_capture;
    int m_channel;
    bool m_high;
    std::int64_t m_shortest;
    std::int64_t m_longest;
    std::vector<SampleRange> m_stretches;
};

/// A level of one channel, or a pattern over several: the stretches in which every channel
/// it cares about holds its level.
class LevelNode : public Node {
public:
    struct Care {
        int channel = 0;
        bool level = false;
    };

    LevelNode(CapturePtr capture, std::vector<Care> care, Match::Kind kind)
        : m_capture(std::move(capture)), m_care(std::move(care)), m_kind(kind) {
        std::vector<int> channels;
        for (const Care& c : m_care) {
            channels.push_back(c.channel);
            m_planes.push_back(m_capture->Plane(c.channel));
        }
        if (channels.empty()) { // all x: where every channel was received
            for (int c = 0; c < m_capture->ChannelCount(); ++c) {
                channels.push_back(c);
            }
        }
        m_stretches = m_capture->ReceivedStretches(channels);
    }

    bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const override {
        return ForStretches(m_stretches, first, end, [&](const SampleRange& s) {
            const std::int64_t hi = std::min(end, s.end);
            std::int64_t pos = std::max(first, s.first);
            if (pos > s.first && HoldsAt(pos - 1)) {
                pos = RunEnd(pos, s.end); // that run started before first
            }
            while (pos < hi) {
                const std::int64_t a = NextHold(pos, hi);
                if (a >= hi) {
                    break;
                }
                const std::int64_t b = RunEnd(a + 1, s.end);
                if (!fn(Make(a, b))) {
                    return false;
                }
                pos = b;
            }
            return true;
        });
    }

    bool Covering(std::int64_t x, const MatchFn& fn) const override {
        const SampleRange* s = StretchOf(m_stretches, x);
        if (s == nullptr || x == s->first || !HoldsAt(x) || !HoldsAt(x - 1)) {
            return true;
        }
        return fn(Make(RunStart(x, s->first), RunEnd(x + 1, s->end)));
    }

private:
    [[nodiscard]] Match Make(std::int64_t a, std::int64_t b) const {
        const bool single = m_kind == Match::Kind::Level;
        return Match{
            m_kind, a, b, single ? m_care.front().channel : -1, single && m_care.front().level, -1};
    }

    [[nodiscard]] bool HoldsAt(std::int64_t i) const {
        return std::all_of(m_care.begin(), m_care.end(), [&](const Care& c) {
            return m_capture->Level(c.channel, i) == c.level;
        });
    }

    /// Bit k: it holds at sample pos + k (k < n).
    [[nodiscard]] std::uint64_t Holds(std::int64_t pos, std::int64_t n) const {
        std::uint64_t holds = LowBits(n);
        for (std::size_t k = 0; k < m_care.size() && holds != 0; ++k) {
            const std::uint64_t bits = Bits64(m_planes[k], pos);
            holds &= m_care[k].level ? bits : ~bits;
        }
        return holds;
    }

    /// The first sample in [pos, hi) where it holds; hi when none.
    [[nodiscard]] std::int64_t NextHold(std::int64_t pos, std::int64_t hi) const {
        int quiet = 0;
        while (pos < hi) {
            const std::int64_t n = std::min<std::int64_t>(kWordBits, hi - pos);
            const std::uint64_t all = LowBits(n);
            std::uint64_t holds = all;
            int blocker = -1; // a channel wrong on every sample of the word
            for (std::size_t k = 0; k < m_care.size(); ++k) {
                const std::uint64_t bits = Bits64(m_planes[k], pos);
                const std::uint64_t wrong = (m_care[k].level ? ~bits : bits) & all;
                holds &= ~wrong;
                if (wrong == all) {
                    blocker = m_care[k].channel;
                    break;
                }
            }
            if (holds != 0) {
                return pos + std::countr_zero(holds);
            }
            pos += n;
            if (blocker >= 0 && ++quiet >= kQuietWords && pos < hi) {
                // The blocker keeps its wrong level up to its next edge.
                pos = m_capture->NextEdge(blocker, pos, hi).value_or(hi);
                quiet = 0;
            }
        }
        return hi;
    }

    /// Where a run that holds at pos - 1 ends: the first sample in [pos, hi) where it does not
    /// hold, or hi. Within one received stretch.
    [[nodiscard]] std::int64_t RunEnd(std::int64_t pos, std::int64_t hi) const {
        for (int words = 0; words < kQuietWords && pos < hi; ++words) {
            const std::int64_t n = std::min<std::int64_t>(kWordBits, hi - pos);
            if (const std::uint64_t fails = ~Holds(pos, n) & LowBits(n); fails != 0) {
                return pos + std::countr_zero(fails);
            }
            pos += n;
        }
        // A long run: it lasts until the first change of any channel it cares about.
        std::int64_t end = hi;
        for (const Care& c : m_care) {
            end = m_capture->NextEdge(c.channel, pos, end).value_or(end);
        }
        return end;
    }

    /// Where the run that holds at x started, not before lo (its stretch's first sample).
    [[nodiscard]] std::int64_t RunStart(std::int64_t x, std::int64_t lo) const {
        std::int64_t start = lo;
        for (const Care& c : m_care) {
            start = m_capture->PrevEdge(c.channel, x + 1, start + 1).value_or(start);
        }
        return start;
    }

    CapturePtr m_capture;
    std::vector<Care> m_care;
    std::vector<std::span<const std::uint64_t>> m_planes;
    Match::Kind m_kind;
    std::vector<SampleRange> m_stretches;
};

class AnnotationNode : public Node {
public:
    struct Item {
        std::int64_t start = 0;
        std::int64_t end = 0;
        int index = 0;
    };

    explicit AnnotationNode(std::vector<Item> items) : m_items(std::move(items)) {
        std::sort(m_items.begin(), m_items.end(), [](const Item& a, const Item& b) {
            return std::tie(a.start, a.end, a.index) < std::tie(b.start, b.end, b.index);
        });
        std::int64_t reach = 0;
        for (const Item& item : m_items) {
            reach = std::max(reach, std::max(item.end, item.start + 1));
            m_reach.push_back(reach);
        }
    }

    bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const override {
        auto it = std::lower_bound(m_items.begin(), m_items.end(), first,
                                   [](const Item& item, std::int64_t v) { return item.start < v; });
        for (; it != m_items.end() && it->start < end; ++it) {
            if (!fn(Make(*it))) {
                return false;
            }
        }
        return true;
    }

    bool Covering(std::int64_t x, const MatchFn& fn) const override {
        // Only items from the first whose running reach passes x can occupy x.
        const auto from = std::upper_bound(m_reach.begin(), m_reach.end(), x) - m_reach.begin();
        for (auto i = static_cast<std::size_t>(from); i < m_items.size() && m_items[i].start < x;
             ++i) {
            const Match m = Make(m_items[i]);
            if (SpanEnd(m) > x && !fn(m)) {
                return false;
            }
        }
        return true;
    }

private:
    static Match Make(const Item& item) {
        return Match{Match::Kind::Annotation, item.start, item.end, -1, false, item.index};
    }

    std::vector<Item> m_items;
    std::vector<std::int64_t> m_reach; ///< the furthest span end among items [0, i]
};

class AndNode : public Node {
public:
    AndNode(NodePtr a, NodePtr b) : m_a(std::move(a)), m_b(std::move(b)) {}

    bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const override {
        return m_a->Scan(first, end, [&](const Match& m) { return Both(m, fn); });
    }
    bool Covering(std::int64_t x, const MatchFn& fn) const override {
        return m_a->Covering(x, [&](const Match& m) { return Both(m, fn); });
    }

private:
    bool Both(const Match& m, const MatchFn& fn) const {
        return !m_b->Overlaps(m.sample, SpanEnd(m)) || fn(m);
    }

    NodePtr m_a;
    NodePtr m_b;
};

class OrNode : public Node {
public:
    OrNode(NodePtr a, NodePtr b) : m_a(std::move(a)), m_b(std::move(b)) {}

    bool Scan(std::int64_t first, std::int64_t end, const MatchFn& fn) const override {
        // In chunks, so that a search that stops at the first match reads little.
        for (std::int64_t lo = first; lo < end;) {
            const std::int64_t hi = end - lo > kOrChunkSamples ? lo + kOrChunkSamples : end;
            if (!Merge([&](const MatchFn& add) { return m_a->Scan(lo, hi, add); },
                       [&](const MatchFn& add) { return m_b->Scan(lo, hi, add); }, fn)) {
                return false;
            }
            lo = hi;
        }
        return true;
    }

    bool Covering(std::int64_t x, const MatchFn& fn) const override {
        return Merge([&](const MatchFn& add) { return m_a->Covering(x, add); },
                     [&](const MatchFn& add) { return m_b->Covering(x, add); }, fn);
    }

private:
    template <typename ScanA, typename ScanB>
    static bool Merge(const ScanA& scanA, const ScanB& scanB, const MatchFn& fn) {
        std::vector<Match> all;
        const MatchFn add = [&all](const Match& m) {
            all.push_back(m);
            return true;
        };
        scanA(add);
        const auto middle = static_cast<std::ptrdiff_t>(all.size());
        scanB(add);
        std::inplace_merge(all.begin(), all.begin() + middle, all.end(), Earlier);
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return std::all_of(all.begin(), all.end(), [&fn](const Match& m) { return fn(m); });
    }

    NodePtr m_a;
    NodePtr m_b;
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

/// Widths in samples from widths in time: w samples last w * num / den seconds, compared
/// exactly with the condition's picoseconds.
struct SampleWidths {
    std::int64_t shortest = 1;
    std::int64_t longest = std::numeric_limits<std::int64_t>::max();
};

SampleWidths WidthsInSamples(const ConditionNode& node, const SamplePeriod& period) {
    const Wide perSample = static_cast<Wide>(period.Numerator()) * kPsPerSecond;
    const auto scaled = [&](const WidthLimit& limit) {
        return static_cast<Wide>(limit.time.count()) * period.Denominator();
    };
    const auto clamp = [](Wide w) {
        return static_cast<std::int64_t>(
            std::clamp<Wide>(w, 0, std::numeric_limits<std::int64_t>::max()));
    };
    SampleWidths widths;
    if (node.shortest) {
        const Wide t = scaled(*node.shortest);
        // w * perSample >= t, or > t.
        widths.shortest = std::max<std::int64_t>(
            1,
            clamp(node.shortest->inclusive ? (t + perSample - 1) / perSample : t / perSample + 1));
    }
    if (node.longest) {
        const Wide t = scaled(*node.longest);
        // w * perSample <= t, or < t.
        widths.longest =
            clamp(node.longest->inclusive ? t / perSample : (t > 0 ? (t - 1) / perSample : 0));
    }
    return widths;
}

class CBinder {
public:
    CBinder(const Condition& condition, CapturePtr capture,
            std::shared_ptr<const SearchAnnotations> annotations)
        : m_condition(condition), m_capture(std::move(capture)),
          m_annotations(std::move(annotations)) {}

    std::variant<NodePtr, ConditionError> Bind() {
        NodePtr root = Build(m_condition.root);
        if (m_error) {
            return *m_error;
        }
        return root;
    }

private:
    NodePtr Fail(std::size_t offset, std::string message) {
        if (!m_error) {
            m_error = ConditionError{offset, std::move(message)};
        }
        return nullptr;
    }

    std::optional<int> Channel(const ConditionNode& node) {
        const int channel = FindChannelByName(*m_capture, node.channel);
        if (channel >= 0) {
            return channel;
        }
        std::string names;
        const auto& all = m_capture->ChannelNames();
        for (std::size_t i = 0; i < all.size() && i < kNamesListed; ++i) {
            names += (i > 0 ? ", " : "") + all[i];
        }
        if (all.size() > kNamesListed) {
            names += ", ...";
        }
        Fail(node.offset, "no channel '" + node.channel + "' in this capture (" + names + ")");
        return std::nullopt;
    }

    NodePtr Build(const ConditionNode& node) {
        using Kind = ConditionNode::Kind;
        switch (node.kind) {
        case Kind::Edge: {
            const auto channel = Channel(node);
            return channel ? std::make_shared<EdgeNode>(m_capture, *channel, node.edge) : nullptr;
        }
        case Kind::Pulse: {
            const auto channel = Channel(node);
            if (!channel) {
                return nullptr;
            }
            const SampleWidths widths = WidthsInSamples(node, m_capture->Period());
            return std::make_shared<PulseNode>(m_capture, *channel, node.high, widths.shortest,
                                               widths.longest);
        }
        case Kind::Level: {
            const auto channel = Channel(node);
            if (!channel) {
                return nullptr;
            }
            return std::make_shared<LevelNode>(
                m_capture, std::vector<LevelNode::Care>{{*channel, node.high}}, Match::Kind::Level);
        }
        case Kind::Pattern:
            return BuildPattern(node);
        case Kind::Annotation:
            return BuildAnnotation(node);
        case Kind::And:
        case Kind::Or: {
            NodePtr a = Build(node.operands.at(0));
            NodePtr b = Build(node.operands.at(1));
            if (!a || !b) {
                return nullptr;
            }
            if (node.kind == Kind::And) {
                return std::make_shared<AndNode>(std::move(a), std::move(b));
            }
            return std::make_shared<OrNode>(std::move(a), std::move(b));
        }
        }
        return nullptr;
    }

    NodePtr BuildPattern(const ConditionNode& node) {
        const int channels = m_capture->ChannelCount();
        if (static_cast<int>(node.pattern.size()) != channels) {
            return Fail(node.offset, "the pattern has " + std::to_string(node.pattern.size()) +
                                         " characters but the capture " + std::to_string(channels) +
                                         " channels: one character per channel, " +
                                         m_capture->ChannelName(channels - 1) + " first");
        }
        std::vector<LevelNode::Care> care;
        for (int k = 0; k < channels; ++k) {
            const char c = node.pattern[static_cast<std::size_t>(channels - 1 - k)];
            if (c == '0' || c == '1') {
                care.push_back({k, c == '1'});
            }
        }
        return std::make_shared<LevelNode>(m_capture, std::move(care), Match::Kind::Pattern);
    }

    NodePtr BuildAnnotation(const ConditionNode& node) {
        if (!m_annotations || m_annotations->decoders.empty()) {
            return Fail(node.offset, "ann= needs decoders, and none ran over this capture");
        }
        const auto& decoders = m_annotations->decoders;
        const auto named = [&](const std::string& id) {
            return !id.empty() && SameIgnoringCase(id, node.decoder);
        };
        if (std::none_of(decoders.begin(), decoders.end(), named)) {
            std::string list;
            for (const auto& d : decoders) {
                list += (list.empty() ? "" : ", ") + d;
            }
            return Fail(node.offset,
                        "no decoder '" + node.decoder + "' ran over this capture (" + list + ")");
        }
        std::vector<AnnotationNode::Item> items;
        const auto& all = m_annotations->items;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const SearchAnnotation& a = all[i];
            if (!named(a.decoder) && !named(a.instance)) {
                continue;
            }
            const bool says = std::any_of(a.texts.begin(), a.texts.end(), [&](const auto& t) {
                return t.find(node.text) != std::string::npos;
            });
            if (says && Received(a)) {
                items.push_back({a.start, a.end, static_cast<int>(i)});
            }
        }
        return std::make_shared<AnnotationNode>(std::move(items));
    }

    /// Whether every sample of the annotation was received on its channels.
    bool Received(const SearchAnnotation& a) {
        std::vector<int> channels;
        for (const int c : a.channels) {
            if (c >= 0 && c < m_capture->ChannelCount()) {
                channels.push_back(c);
            }
        }
        auto found = m_stretches.find(channels);
        if (found == m_stretches.end()) {
            found = m_stretches.emplace(channels, m_capture->ReceivedStretches(channels)).first;
        }
        const std::int64_t last = std::max(a.end, a.start + 1) - 1;
        const SampleRange* s = StretchOf(found->second, a.start);
        return a.start >= 0 && s != nullptr && s->Contains(last);
    }

    const Condition& m_condition;
    CapturePtr m_capture;
    std::shared_ptr<const SearchAnnotations> m_annotations;
    std::map<std::vector<int>, std::vector<SampleRange>> m_stretches;
    std::optional<ConditionError> m_error;
};

} // namespace

int FindChannelByName(const Capture& capture, std::string_view text) {
    const auto& names = capture.ChannelNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == text) {
            return static_cast<int>(i);
        }
    }
    if (text.size() >= 2 && text.size() <= 5 && (text[0] == 'D' || text[0] == 'd') &&
        std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int n = std::stoi(std::string(text.substr(1)));
        if (n < capture.ChannelCount()) {
            return n;
        }
    }
    int found = -1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (SameIgnoringCase(names[i], text)) {
            if (found >= 0) {
                return -1; // ambiguous
            }
            found = static_cast<int>(i);
        }
    }
    return found;
}

std::variant<Matcher, ConditionError>
Matcher::Bind(const Condition& condition, CapturePtr capture,
              std::shared_ptr<const SearchAnnotations> annotations) {
    if (!capture) {
        return ConditionError{0, "there is no capture to search"};
    }
    Matcher matcher;
    matcher.m_capture = capture;
    matcher.m_annotations = annotations;
    auto root = CBinder(condition, std::move(capture), std::move(annotations)).Bind();
    if (auto* error = std::get_if<ConditionError>(&root)) {
        return std::move(*error);
    }
    matcher.m_root = std::get<NodePtr>(std::move(root));
    return matcher;
}

bool Matcher::Each(std::int64_t first, std::int64_t end, const MatchFn& fn) const {
    const std::int64_t count = m_capture->SampleCount();
    first = std::clamp<std::int64_t>(first, 0, count);
    end = end < 0 ? count : std::min(end, count);
    return m_root->Scan(first, end, fn);
}

std::vector<Match> Matcher::All(std::int64_t first, std::int64_t end, std::size_t limit) const {
    std::vector<Match> matches;
    if (limit == 0) {
        return matches;
    }
    Each(first, end, [&](const Match& m) {
        matches.push_back(m);
        return matches.size() < limit;
    });
    return matches;
}

std::optional<Match> Matcher::Next(std::int64_t from) const {
    auto one = All(from, -1, 1);
    return one.empty() ? std::nullopt : std::optional<Match>(one.front());
}

std::optional<Match> Matcher::Previous(std::int64_t before) const {
    const std::int64_t count = m_capture->SampleCount();
    std::int64_t hi = before < 0 ? count : std::min(before, count);
    // Back in windows that double, so a near match costs little and a far one no more than
    // reading once to it.
    for (std::int64_t window = kFirstLookBack; hi > 0; window *= 2) {
        const std::int64_t lo = std::max<std::int64_t>(0, hi - window);
        std::optional<Match> last;
        m_root->Scan(lo, hi, [&last](const Match& m) {
            last = m;
            return true;
        });
        if (last) {
            return last;
        }
        hi = lo;
    }
    return std::nullopt;
}

std::variant<std::vector<Match>, ConditionError>
FindMatches(std::string_view text, const CapturePtr& capture,
            std::shared_ptr<const SearchAnnotations> annotations) {
    auto parsed = ParseCondition(text);
    if (auto* error = std::get_if<ConditionError>(&parsed)) {
        return std::move(*error);
    }
    auto bound = Matcher::Bind(std::get<Condition>(parsed), capture, std::move(annotations));
    if (auto* error = std::get_if<ConditionError>(&bound)) {
        return std::move(*error);
    }
    return std::get<Matcher>(bound).All();
}

} // namespace quillon
