// Fuzz target: any text is either refused with an offset inside it or parsed, and a parsed
// condition bound to a small capture with gaps gives matches in order, inside the capture.
#include "search/matcher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

quillon::CapturePtr SmallCapture() {
    using namespace quillon;
    CaptureBuilder builder(3, SamplePeriod::FromPicoseconds(20'000));
    builder.Resize(300);
    for (std::int64_t i = 0; i < 300; ++i) {
        builder.SetLevel(0, i, (i / 3) % 2 == 1);
        builder.SetLevel(1, i, (i * 7 / 11) % 3 == 0);
        builder.SetLevel(2, i, i > 100 && i < 190);
    }
    builder.SetChannelName(1, "cs");
    builder.MarkMissing(1, 40, 52);
    builder.MarkMissing(-1, 250, 260);
    return builder.Finish();
}

std::shared_ptr<const quillon::SearchAnnotations> SomeAnnotations() {
    auto set = std::make_shared<quillon::SearchAnnotations>();
    set->decoders = {"uart", "uart-1"};
    set->items = {{"uart", "uart-1", 10, 60, {"Hello", "H"}, {0}},
                  {"uart", "uart-1", 45, 45, {"x"}, {1}},
                  {"uart", "uart-1", 240, 299, {"ERR"}, {}}};
    return set;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    static const CapturePtr capture = SmallCapture();
    static const auto annotations = SomeAnnotations();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = ParseCondition(text);
    if (const auto* error = std::get_if<ConditionError>(&parsed)) {
        if (error->offset > size || error->message.empty()) {
            std::abort();
        }
        return 0;
    }
    const auto bound = Matcher::Bind(std::get<Condition>(parsed), capture, annotations);
    if (const auto* error = std::get_if<ConditionError>(&bound)) {
        if (error->offset > size) {
            std::abort();
        }
        return 0;
    }
    const Matcher& matcher = std::get<Matcher>(bound);
    const auto all = matcher.All(0, -1, 1000);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].sample < 0 || all[i].sample >= 300 || all[i].end < all[i].sample ||
            (i > 0 && all[i].sample < all[i - 1].sample)) {
            std::abort();
        }
    }
    if (!all.empty() && (matcher.Next(0) != all.front() || !matcher.Previous())) {
        std::abort();
    }
    return 0;
}
