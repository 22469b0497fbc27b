// Annotation lines for the command and the saved annotation file.
#include "decode/annotation_text.h"

#include <cstdio>
#include <cstdlib>

namespace quillon {

namespace {

struct TimeUnit {
    std::int64_t ps;
    const char* name;
};
constexpr TimeUnit kUnits[] = {
    {1'000'000'000'000, "s"}, {1'000'000'000, "ms"}, {1'000'000, "us"}, {1'000, "ns"}, {1, "ps"}};

/// Seconds... picoseconds with up to 3 decimals, trailing zeros dropped.
std::string Scaled(std::int64_t ps, const TimeUnit& unit) {
    char text[48];
    std::snprintf(text, sizeof text, "%.3f",
                  static_cast<double>(ps) / static_cast<double>(unit.ps));
    std::string out = text;
    while (out.back() == '0') {
        out.pop_back();
    }
    if (out.back() == '.') {
        out.pop_back();
    }
    return out;
}

const TimeUnit& UnitFor(std::int64_t ps) {
    for (const auto& unit : kUnits) {
        if (std::llabs(ps) >= unit.ps) {
            return unit;
        }
    }
    return kUnits[0];
}

std::string LongestText(const Annotation& annotation) {
    return annotation.texts.empty() ? std::string() : std::string(annotation.texts.front());
}

} // namespace

std::string FormatTime(std::int64_t ps) {
    const TimeUnit& unit = UnitFor(ps);
    return Scaled(ps, unit) + " " + unit.name;
}

void AppendAnnotationLine(std::string& out, const Annotation& annotation,
                          const std::string& instanceId, bool withTimes,
                          const SamplePeriod& period) {
    if (withTimes) {
        const std::int64_t endPs = period.TimeOf(annotation.end).count();
        const TimeUnit& unit = UnitFor(endPs);
        out += std::to_string(annotation.start) + "-" + std::to_string(annotation.end) + " " +
               Scaled(period.TimeOf(annotation.start).count(), unit) + "-" + Scaled(endPs, unit) +
               " " + unit.name + " ";
    }
    out += instanceId;
    out += ": ";
    if (!annotation.texts.empty()) {
        out += annotation.texts.front();
    }
    out += '\n';
}

std::string FormatAnnotationLine(const Annotation& annotation, const std::string& instanceId,
                                 bool withTimes, const SamplePeriod& period) {
    std::string line;
    AppendAnnotationLine(line, annotation, instanceId, withTimes, period);
    line.pop_back();
    return line;
}

std::string AnnotationFileHeader() {
    return "start\tend\tstart sample\tend sample\tdecoder\trow\ttext\n";
}

std::string FormatAnnotationRecord(const Annotation& annotation, const DecoderInfo& decoder,
                                   const SamplePeriod& period) {
    const bool hasRow =
        annotation.row >= 0 && static_cast<std::size_t>(annotation.row) < decoder.rows.size();
    const std::string row =
        hasRow ? decoder.rows[static_cast<std::size_t>(annotation.row)].desc : decoder.name;
    std::string text = LongestText(annotation);
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' '; // one record per line, whatever a decoder writes
        }
    }
    return FormatTime(period.TimeOf(annotation.start).count()) + "\t" +
           FormatTime(period.TimeOf(annotation.end).count()) + "\t" +
           std::to_string(annotation.start) + "\t" + std::to_string(annotation.end) + "\t" +
           decoder.id + "\t" + row + "\t" + text + "\n";
}

} // namespace quillon
