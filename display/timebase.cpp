// Timebase tables: the zoom slider labels, the samples each zoom puts on screen, and the
// time-per-division text for every zoom and rate multiplier.
#include "display/timebase.h"

#include <array>
#include <cstdint>

namespace quillon {
namespace {

constexpr std::array<std::string_view, 8> kZoomLabels = {"20ns/d",  "50ns/d", "100ns/d", "200ns/d",
                                                         "500ns/d", "1us/d",  "2us/d",   "5us/d"};
static_assert(kZoomLabels.size() == kZoomMax - kZoomMin + 1);
constexpr std::string_view kZoomLabelOutside = "10us/d";

struct GeometryRow {
    std::string_view zoomLabel;
    ZoomGeometry geometry;
};
constexpr std::array<GeometryRow, 8> kGeometryRows = {{
    {"20ns/d", {12, 1}},
    {"50ns/d", {30, 1}},
    {"100ns/d", {60, 1}},
    {"200ns/d", {120, 1}},
    {"500ns/d", {300, 1}},
    {"1us/d", {600, 1}},
    {"2us/d", {1200, 2}},
    {"5us/d", {3000, 5}},
}};
// "10us/d" shares the full 600-sample screen with "1us/d"; so does any label we do not know.
constexpr ZoomGeometry kGeometryOtherwise = {600, 1};

// Columns: rate multiplier 1, 10, 100, anything else.
struct TimebaseRow {
    std::string_view zoomLabel;
    std::array<std::string_view, 4> labels;
};
constexpr std::array<TimebaseRow, 9> kTimebaseRows = {{
    {"20ns/d", {"20ns/d", "200ns/d", "2us/d", "20us/d"}},
    {"50ns/d", {"50ns/d", "500ns/d", "5us/d", "50us/d"}},
    {"100ns/d", {"100ns/d", "1us/d", "10us/d", "100us/d"}},
    {"200ns/d", {"200ns/d", "2us/d", "20us/d", "200us/d"}},
    {"500ns/d", {"500ns/d", "5us/d", "50us/d", "500us/d"}},
    {"1us/d", {"1us/d", "10us/d", "100us/d", "1ms/d"}},
    {"2us/d", {"2us/d", "20us/d", "200us/d", "2ms/d"}},
    {"5us/d", {"5us/d", "50us/d", "500us/d", "5ms/d"}},
    {"10us/d", {"10us/d", "100us/d", "1ms/d", "10ms/d"}},
}};

constexpr std::size_t TimebaseColumn(int rate) {
    switch (rate) {
    case 1:
        return 0;
    case 10:
        return 1;
    case 100:
        return 2;
    default:
        return 3;
    }
}

} // namespace

std::string_view ZoomLabelForPosition(int position) {
    if (position < kZoomMin || position > kZoomMax) {
        return kZoomLabelOutside;
    }
    return kZoomLabels[static_cast<std::size_t>(position)];
}

ZoomGeometry ZoomGeometryFor(std::string_view zoomLabel) {
    for (const GeometryRow& row : kGeometryRows) {
        if (row.zoomLabel == zoomLabel) {
            return row.geometry;
        }
    }
    return kGeometryOtherwise;
}

std::optional<std::string_view> TimebaseLabelFor(std::string_view zoomLabel, int rate) {
    for (const TimebaseRow& row : kTimebaseRows) {
        if (row.zoomLabel == zoomLabel) {
            return row.labels[TimebaseColumn(rate)];
        }
    }
    return std::nullopt;
}

std::string ToBitString(int value) {
    const auto bits = static_cast<std::uint16_t>(static_cast<unsigned>(value) & 0xFFFFu);
    std::string text(16, '0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((bits >> (15 - i)) & 1u) {
            text[i] = '1';
        }
    }
    return text;
}

} // namespace quillon
