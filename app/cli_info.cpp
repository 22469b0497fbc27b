// quillon-cli info: edges, shortest pulses, period, frequency and duty cycle per channel of a
// capture file, as a table or as JSON. The viewer's measurement core does the work.
#include "app/cli_info.h"

#include "app/cli.h"
#include "app/cli_read.h"
#include "file/safe_text.h"
#include "file/sample_rate.h"
#include "measure/signal_measure.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>

namespace quillon {

namespace {

struct ChannelRow {
    std::string name;
    ChannelSummary summary;
};

std::optional<double> Seconds(std::optional<std::int64_t> samples, double period) {
    return samples ? std::optional<double>(static_cast<double>(*samples) * period) : std::nullopt;
}

// Nine significant digits, as the figures deserve: no 5.0000000000000004e-07.
QJsonValue JsonNumber(std::optional<double> value) {
    if (!value) {
        return QJsonValue(QJsonValue::Null);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", *value);
    return QJsonValue(std::strtod(text, nullptr));
}

void PrintJson(const std::vector<ChannelRow>& rows, double period, std::ostream& out) {
    QJsonObject root;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ChannelSummary& s = rows[i].summary;
        // Names that are no UTF-8 become U+FFFD: the output is always valid JSON.
        QString key =
            QString::fromUtf8(rows[i].name.data(), static_cast<qsizetype>(rows[i].name.size()));
        if (root.contains(key)) {
            key += QStringLiteral(" (D%1)").arg(i); // keys stay unique
        }
        std::optional<double> periodS;
        std::optional<double> frequency;
        if (s.periodSamples) {
            periodS = *s.periodSamples * period;
            frequency = 1.0 / *periodS;
        }
        QJsonObject channel;
        channel.insert(QStringLiteral("channel"), static_cast<qint64>(i));
        channel.insert(QStringLiteral("rising_edges"), static_cast<qint64>(s.rising));
        channel.insert(QStringLiteral("falling_edges"), static_cast<qint64>(s.falling));
        channel.insert(QStringLiteral("shortest_high_s"),
                       JsonNumber(Seconds(s.shortestHighSamples, period)));
        channel.insert(QStringLiteral("shortest_low_s"),
                       JsonNumber(Seconds(s.shortestLowSamples, period)));
        channel.insert(QStringLiteral("period_s"), JsonNumber(periodS));
        channel.insert(QStringLiteral("frequency_hz"), JsonNumber(frequency));
        channel.insert(QStringLiteral("duty_cycle"), JsonNumber(s.dutyCycle));
        root.insert(key, channel);
    }
    out << QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

/// text right-aligned (or left-aligned) in width terminal columns.
std::string Cell(const std::string& text, int width, bool left = false) {
    const int pad = std::max(0, width - DisplayWidth(text));
    return left ? text + std::string(static_cast<std::size_t>(pad), ' ')
                : std::string(static_cast<std::size_t>(pad), ' ') + text;
}

void PrintTable(const std::string& file, const Capture& capture,
                const std::vector<ChannelRow>& rows, double period, std::ostream& out) {
    const double length = period * static_cast<double>(capture.SampleCount());
    out << SafeText(file) << ": " << capture.SampleCount() << " samples of "
        << FormatDuration(period) << ", " << FormatDuration(length);
    if (const auto trigger = capture.TriggerSample()) {
        out << ", trigger at sample " << *trigger;
    }
    if (const std::int64_t missing = capture.MissingCount(); missing > 0) {
        out << ", " << missing << " samples not received";
    }
    out << "\n\n";
    int nameWidth = 7;
    std::vector<std::string> names;
    for (const auto& row : rows) {
        names.push_back(SafeText(row.name)); // no control character reaches the terminal
        nameWidth = std::max(nameWidth, DisplayWidth(names.back()));
    }
    const auto cell = [](const std::optional<std::string>& text) { return text.value_or("-"); };
    out << Cell("channel", nameWidth + 2, true) << Cell("rising", 7) << Cell("falling", 8)
        << Cell("shortest high", 14) << Cell("shortest low", 14) << Cell("period", 12)
        << Cell("frequency", 13) << Cell("duty", 7) << "\n";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const ChannelSummary& s = rows[r].summary;
        const auto time =
            [period](std::optional<std::int64_t> samples) -> std::optional<std::string> {
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
        out << Cell(names[r], nameWidth + 2, true) << Cell(std::to_string(s.rising), 7)
            << Cell(std::to_string(s.falling), 8) << Cell(cell(time(s.shortestHighSamples)), 14)
            << Cell(cell(time(s.shortestLowSamples)), 14) << Cell(cell(periodText), 12)
            << Cell(cell(frequencyText), 13) << Cell(cell(dutyText), 7) << "\n";
    }
}

} // namespace

int RunInfoCommand(const CliArgs& args, std::ostream& out, std::ostream& err) {
    const CapturePtr capture = ReadCaptureForCli(args.file, args.rate, err);
    if (!capture) {
        return kCliReadFailed;
    }
    std::vector<ChannelRow> rows;
    for (int channel = 0; channel < capture->ChannelCount(); ++channel) {
        rows.push_back({capture->ChannelName(channel), SummarizeChannel(*capture, channel)});
    }
    const double period = capture->Period().Seconds();
    if (args.json) {
        PrintJson(rows, period, out);
    } else {
        PrintTable(args.file, *capture, rows, period, out);
    }
    return kCliOk;
}

} // namespace quillon
