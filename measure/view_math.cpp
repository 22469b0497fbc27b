// The viewer's view arithmetic: zoom limits, pixel columns, the time axis, the layout.
#include "measure/view_math.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

double MinPixelsPerSample(std::int64_t sampleCount, int widthPx) {
    return sampleCount > 0
               ? static_cast<double>(std::max(widthPx, 1)) / static_cast<double>(sampleCount)
               : kMaxPixelsPerSample;
}

} // namespace

Viewport FitAll(std::int64_t sampleCount, int widthPx) {
    Viewport view;
    view.widthPx = std::max(widthPx, 1);
    view.pixelsPerSample =
        std::min(MinPixelsPerSample(sampleCount, view.widthPx), kMaxPixelsPerSample);
    view.firstSample = 0.0;
    return view;
}

Viewport ClampViewport(Viewport view, std::int64_t sampleCount) {
    view.widthPx = std::max(view.widthPx, 1);
    const double fit = std::min(MinPixelsPerSample(sampleCount, view.widthPx), kMaxPixelsPerSample);
    if (!std::isfinite(view.pixelsPerSample)) {
        view.pixelsPerSample = fit;
    }
    view.pixelsPerSample = std::clamp(view.pixelsPerSample, fit, kMaxPixelsPerSample);
    const double last = std::max(0.0, static_cast<double>(sampleCount) - view.VisibleSamples());
    if (!std::isfinite(view.firstSample)) {
        view.firstSample = 0.0;
    }
    view.firstSample = std::clamp(view.firstSample, 0.0, last);
    return view;
}

Viewport ZoomAbout(const Viewport& view, double factor, double anchorX, std::int64_t sampleCount) {
    const double anchor = view.SampleAtX(anchorX);
    Viewport next = view;
    next.pixelsPerSample = view.pixelsPerSample * factor;
    next = ClampViewport(next, sampleCount);
    next.firstSample = anchor - anchorX / next.pixelsPerSample;
    return ClampViewport(next, sampleCount);
}

Viewport PanBy(const Viewport& view, double dx, std::int64_t sampleCount) {
    Viewport next = view;
    next.firstSample += dx / view.pixelsPerSample;
    return ClampViewport(next, sampleCount);
}

Viewport Resized(const Viewport& view, int widthPx, std::int64_t sampleCount) {
    // A view that showed the whole capture keeps showing all of it.
    const bool wasAll = view.pixelsPerSample <= MinPixelsPerSample(sampleCount, view.widthPx);
    if (wasAll) {
        return FitAll(sampleCount, widthPx);
    }
    Viewport next = view;
    next.widthPx = widthPx;
    return ClampViewport(next, sampleCount);
}

std::int64_t SampleAtColumn(const Viewport& view, double column) {
    return static_cast<std::int64_t>(std::floor(view.firstSample + column / view.pixelsPerSample));
}

std::int64_t ColumnsBefore(const Viewport& view, std::int64_t i) {
    return static_cast<std::int64_t>(std::ceil(view.XOfBoundary(static_cast<double>(i))));
}

std::vector<TimeTick> TimeTicks(const Viewport& view, const SamplePeriod& period,
                                double originSample, int minSpacingPx) {
    std::vector<TimeTick> ticks;
    const double psPerSample = period.Seconds() * 1e12;
    if (!(psPerSample > 0.0) || view.pixelsPerSample <= 0.0) {
        return ticks;
    }
    // The smallest 1-2-5 step (in ps) whose spacing is at least minSpacingPx.
    const double pxPerPs = view.pixelsPerSample / psPerSample;
    std::int64_t step = 1;
    int stepExp = 0;
    for (;;) {
        bool found = false;
        for (const int mantissa : {1, 2, 5}) {
            if (static_cast<double>(step * mantissa) * pxPerPs >= minSpacingPx) {
                step *= mantissa;
                found = true;
                break;
            }
        }
        if (found || step > INT64_MAX / 100) {
            break;
        }
        step *= 10;
        ++stepExp;
    }
    // The unit: the largest of ps, ns, µs, ms, s not above ten steps.
    static constexpr struct {
        std::int64_t ps;
        int exp;
        const char* name;
    } kUnits[] = {{1'000'000'000'000, 12, "s"},
                  {1'000'000'000, 9, "ms"},
                  {1'000'000, 6, "\u00b5s"},
                  {1'000, 3, "ns"},
                  {1, 0, "ps"}};
    const auto* unit = &kUnits[4];
    for (const auto& u : kUnits) {
        if (u.ps <= step * 10) {
            unit = &u;
            break;
        }
    }
    const int decimals = std::max(0, unit->exp - stepExp);
    const double startPs = (view.firstSample - originSample) * psPerSample;
    const double endPs = (view.SampleAtX(view.widthPx) - originSample) * psPerSample;
    for (auto t = static_cast<std::int64_t>(std::ceil(startPs / static_cast<double>(step))) * step;
         static_cast<double>(t) <= endPs; t += step) {
        TimeTick tick;
        tick.timePs = t;
        tick.x = static_cast<int>(std::lround((static_cast<double>(t) - startPs) * pxPerPs));
        char text[48];
        // + 0.0: no "-0" at the origin.
        std::snprintf(text, sizeof text, "%.*f %s", decimals,
                      static_cast<double>(t) / static_cast<double>(unit->ps) + 0.0, unit->name);
        tick.label = text;
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

int ViewerLayout::RowsBottom() const {
    return std::max(axisHeightPx, height - footerHeightPx);
}

int ViewerLayout::MaxScrollPx() const {
    return std::max(0, ContentHeightPx() - (RowsBottom() - RowsTop()));
}

int ViewerLayout::FirstRowShown() const {
    return rowHeightPx > 0 ? std::min(RowCount(), scrollPx / rowHeightPx) : 0;
}

int ViewerLayout::EndRowShown() const {
    if (rowHeightPx <= 0) {
        return 0;
    }
    const int lastY = RowsBottom() - RowsTop() + scrollPx; // exclusive, in content pixels
    return std::min(RowCount(), (lastY + rowHeightPx - 1) / rowHeightPx);
}

int ViewerLayout::RowAtY(int y) const {
    if (y < RowsTop() || y >= RowsBottom() || rowHeightPx <= 0) {
        return -1;
    }
    const int row = (y - axisHeightPx + scrollPx) / rowHeightPx;
    return row < RowCount() ? row : -1;
}

int ViewerLayout::TraceRowAtY(int y) const {
    const int row = RowAtY(y);
    return row < static_cast<int>(channels.size()) ? row : -1;
}

int ViewerLayout::ChannelAtY(int y) const {
    const int row = TraceRowAtY(y);
    return row < 0 ? -1 : channels[static_cast<std::size_t>(row)];
}

int ViewerLayout::ExtraRowAtY(int y) const {
    const int row = RowAtY(y) - static_cast<int>(channels.size());
    return RowAtY(y) >= 0 && row >= 0 ? row : -1;
}

int ViewerLayout::RowOfChannel(int channel) const {
    const auto it = std::find(channels.begin(), channels.end(), channel);
    return it == channels.end() ? -1 : static_cast<int>(it - channels.begin());
}

ViewerLayout LayoutViewer(int width, int height, std::vector<int> channels, int extraRows,
                          int scrollPx, int nameWidthPx) {
    ViewerLayout layout;
    layout.width = std::max(width, 1);
    layout.height = std::max(height, 1);
    layout.nameWidthPx = std::max(nameWidthPx, 0);
    layout.channels = std::move(channels);
    layout.extraRows = std::max(extraRows, 0);
    const int rows = std::max(layout.RowCount(), 1);
    const int available = layout.RowsBottom() - layout.RowsTop();
    layout.rowHeightPx =
        std::clamp(available / rows, ViewerLayout::kMinRowPx, ViewerLayout::kMaxRowPx);
    layout.scrollPx = std::clamp(scrollPx, 0, layout.MaxScrollPx());
    return layout;
}

} // namespace quillon
