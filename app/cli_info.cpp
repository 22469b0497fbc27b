// quillon-cli info: edges, shortest pulses, period, frequency and duty cycle per channel of a
// VCD or CSV capture, as a table or as JSON. The viewer's measurement core does the work.
#include "app/cli_info.h"

#include "app/cli.h"
#include "app/cli_json.h"
#include "capture/capture_bridge.h"
#include "measure/capture_file.h"
#include "measure/signal_measure.h"
#include "measure/view_math.h"

#include <cstdio>
#include <iomanip>
#include <optional>
#include <ostream>
#include <set>

namespace quillon {

namespace {

constexpr const char* kInfoUsage =
    "Usage: quillon-cli info FILE [--json]\n"
    "\n"
    "Prints, for each channel of a capture saved as VCD or CSV, the number of rising and\n"
    "falling edges, the shortest high and low pulse and, where the channel is periodic, its\n"
    "period, frequency and duty cycle. --json prints an object keyed by channel name; times\n"
    "are in seconds (_s), frequencies in hertz (_hz), the duty cycle from 0 to 1, and null\n"
    "stands for what the channel does not have.\n"
    "\n"
    "Exit status: 0 success, 2 bad arguments, 6 the file cannot be read.\n";

std::string JsonNumber(std::optional<double> value) {
    if (!value) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", *value);
    return text;
}

struct ChannelRow {
    std::string name;
    ChannelSummary summary;
};

std::optional<double> Seconds(std::optional<std::int64_t> samples, double period) {
    return samples ? std::optional<double>(static_cast<double>(*samples) * period) : std::nullopt;
}

void PrintJson(const std::vector<ChannelRow>& rows, double period, std::ostream& out) {
    out << "{\n";
    std::set<std::string> used;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ChannelSummary& s = rows[i].summary;
        std::string key = rows[i].name;
        if (!used.insert(key).second) {
            key += " (D" + std::to_string(i) + ")"; // keys stay unique
            used.insert(key);
        }
        std::optional<double> periodS;
        std::optional<double> frequency;
        if (s.periodSamples) {
            periodS = *s.periodSamples * period;
            frequency = 1.0 / *periodS;
        }
        out << "  " << JsonString(key) << ": {\"channel\": " << i
            << ", \"rising_edges\": " << s.rising << ", \"falling_edges\": " << s.falling
            << ", \"shortest_high_s\": " << JsonNumber(Seconds(s.shortestHighSamples, period))
            << ", \"shortest_low_s\": " << JsonNumber(Seconds(s.shortestLowSamples, period))
            << ", \"period_s\": " << JsonNumber(periodS)
            << ", \"frequency_hz\": " << JsonNumber(frequency)
            << ", \"duty_cycle\": " << JsonNumber(s.dutyCycle) << "}"
            << (i + 1 < rows.size() ? ",\n" : "\n");
    }
    out << "}\n";
}

void PrintTable(const std::string& file, const CaptureData& capture,
                const std::vector<ChannelRow>& rows, double period, std::ostream& out) {
    const double length = period * static_cast<double>(capture.samples.size());
    out << file << ": " << capture.samples.size() << " samples of " << FormatDuration(period)
        << ", " << FormatDuration(length);
    if (capture.triggerSample) {
        out << ", trigger at sample " << *capture.triggerSample;
    }
    if (const std::size_t missing = capture.MissingCount(); missing > 0) {
        out << ", " << missing << " samples not received";
    }
    out << "\n\n";
    std::size_t nameWidth = 7;
    for (const auto& row : rows) {
        nameWidth = std::max(nameWidth, row.name.size());
    }
    auto cell = [](std::optional<std::string> text) { return text.value_or("-"); };
    out << std::left << std::setw(static_cast<int>(nameWidth) + 2) << "channel" << std::right
        << std::setw(7) << "rising" << std::setw(8) << "falling" << std::setw(14) << "shortest high"
        << std::setw(14) << "shortest low" << std::setw(12) << "period" << std::setw(13)
        << "frequency" << std::setw(7) << "duty"
        << "\n";
    for (const auto& row : rows) {
        const ChannelSummary& s = row.summary;
        auto time = [period](std::optional<std::int64_t> samples) -> std::optional<std::string> {
            if (!samples) {
                return std::nullopt;
            }
            return FormatDuration(static_cast<double>(*samples) * period);
        };
        std::optional<std::string> periodText;
        std::optional<std::string> frequencyText;
        std::optional<std::string> dutyText;
        if (s.periodSamples && s.dutyCycle) {
            periodText = FormatDuration(*s.periodSamples * period);
            frequencyText = FormatFrequency(1.0 / (*s.periodSamples * period));
            char duty[16];
            std::snprintf(duty, sizeof duty, "%.1f %%", *s.dutyCycle * 100.0);
            dutyText = duty;
        }
        // Widths count bytes; "µ" takes two, so those cells get one more.
        auto width = [](const std::string& text, int w) {
            return w + static_cast<int>(text.find("\u00b5") != std::string::npos);
        };
        const std::string high = cell(time(s.shortestHighSamples));
        const std::string low = cell(time(s.shortestLowSamples));
        const std::string per = cell(periodText);
        out << std::left << std::setw(static_cast<int>(nameWidth) + 2) << row.name << std::right
            << std::setw(7) << s.rising << std::setw(8) << s.falling << std::setw(width(high, 14))
            << high << std::setw(width(low, 14)) << low << std::setw(width(per, 12)) << per
            << std::setw(13) << cell(frequencyText) << std::setw(7) << cell(dutyText) << "\n";
    }
}

} // namespace

int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<std::string> file;
    bool json = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "-h" || args[i] == "--help") {
            out << kInfoUsage;
            return kCliOk;
        } else if (!file && (args[i].empty() || args[i].front() != '-' || args[i] == "-")) {
            file = args[i];
        } else {
            err << "quillon-cli: info: unexpected argument '" << args[i] << "'\n" << kInfoUsage;
            return kCliBadArguments;
        }
    }
    if (!file) {
        err << "quillon-cli: info needs a file\n" << kInfoUsage;
        return kCliBadArguments;
    }
    CaptureData capture;
    ReadError error;
    if (!ReadCaptureFile(*file, capture, error)) {
        err << "quillon-cli: " << error.Text() << "\n";
        return kCliReadFailed;
    }
    const CapturePtr model = ToCapture(capture);
    std::vector<ChannelRow> rows;
    for (int channel = 0; channel < capture.channels; ++channel) {
        rows.push_back(
            {capture.names[static_cast<std::size_t>(channel)], SummarizeChannel(*model, channel)});
    }
    const double period = static_cast<double>(capture.PeriodPs()) * 1e-12;
    if (json) {
        PrintJson(rows, period, out);
    } else {
        PrintTable(*file, capture, rows, period, out);
    }
    return kCliOk;
}

} // namespace quillon
