// The analyzer's state machine: settings, trigger search, capture memory and fault injection.
#include "emulator/analyzer_model.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quillon {

namespace {

constexpr std::array<int, 4> kRateMultipliers{1, 10, 100, 1000};
constexpr std::string_view kAllZeroPattern = "0000000000000000";
// Line noise: never 'K' (the program looks for it) and never zero (it ends reply texts).
constexpr std::array<char, 4> kNoise{'\xFF', '?', '\xFE', '\x7F'};

bool IsCommand(std::string_view line, std::string_view command) {
    return command.size() == line.size() + 1 && command.substr(0, line.size()) == line &&
           command.back() == '\r';
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { // b > 0, a >= 0 here
    return a / b + (a % b != 0 ? 1 : 0);
}

} // namespace

std::optional<AnalyzerSettings> ParseSettingsWord(std::string_view word) {
    if (word.size() != static_cast<std::size_t>(kSettingsWordLength)) {
        return std::nullopt;
    }
    const auto bit = [&](std::size_t i) { return word[i] == '1' ? 1 : 0; };
    AnalyzerSettings settings;
    settings.rateMultiplier = kRateMultipliers[static_cast<std::size_t>(2 * bit(3) + bit(4))];
    settings.triggerPosition = 2 * bit(5) + bit(6);
    settings.genType = word[15];
    std::string pattern(word.substr(7, 8));
    pattern += word.substr(16, 8);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto channelBit = static_cast<std::uint16_t>(1u << (15 - i));
        if (pattern[i] == '0' || pattern[i] == '1') {
            settings.careMask = static_cast<std::uint16_t>(settings.careMask | channelBit);
        }
        if (pattern[i] == '1') {
            settings.matchBits = static_cast<std::uint16_t>(settings.matchBits | channelBit);
        }
    }
    settings.triggerAtOnce = pattern == kAllZeroPattern;
    return settings;
}

std::optional<std::int64_t> FindTriggerSample(const AnalyzerSettings& settings, SignalSet set,
                                              std::int64_t first, std::int64_t last) {
    first = std::max<std::int64_t>(first, 0);
    if (first > last) {
        return std::nullopt;
    }
    if (settings.triggerAtOnce) {
        return first == 0 ? std::optional<std::int64_t>(0) : std::nullopt;
    }
    const std::int64_t periodNs = settings.SamplePeriodNs();
    std::int64_t k = first;
    while (k <= last) {
        const SignalLevels levels = EvaluateSignals(set, k * periodNs, settings.careMask);
        if ((levels.value & settings.careMask) == settings.matchBits) {
            return k;
        }
        // Nothing the pattern looks at moves before stableUntilNs: skip the samples up to it.
        k = std::max(k + 1, CeilDiv(levels.stableUntilNs, periodNs));
    }
    return std::nullopt;
}

std::string PacketBytes(const std::vector<std::uint16_t>& samples, int index) {
    std::string bytes(static_cast<std::size_t>(kPacketSize), '\0');
    for (int i = 0; i < kEmuSamplesPerPacket; ++i) {
        const auto s = static_cast<std::size_t>(index * kEmuSamplesPerPacket + i);
        const std::uint16_t value = s < samples.size() ? samples[s] : 0;
        bytes[static_cast<std::size_t>(2 * i)] = static_cast<char>(value & 0xFFu);
        bytes[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>(value >> 8);
    }
    return bytes;
}

bool CCommandSplitter::Feed(char ch) {
    if (ch == '\r') {
        m_strLine = std::move(m_strPending);
        m_strPending.clear();
        return true;
    }
    if (m_strPending.size() < kMaxCommandLength) {
        m_strPending.push_back(ch);
    }
    return false;
}

CAnalyzerModel::CAnalyzerModel(EmulatorOptions options, Clock::time_point now)
    : m_options(std::move(options)) {
    Arm(now);
}

SignalSet CAnalyzerModel::CurrentSignalSet() const {
    return SignalSetFor(m_options.genType.value_or(m_settings.genType));
}

std::vector<OutputChunk> CAnalyzerModel::Handle(std::string_view line, Clock::time_point now) {
    const bool bSpeaks =
        m_options.fault != EmulatorFault::Silent && m_options.fault != EmulatorFault::Foreign;
    if (IsCommand(line, kCmdIdentify)) {
        if (m_options.fault == EmulatorFault::Foreign) {
            return {{std::string(kForeignIdentReply), now}};
        }
        return TextReply(kIdentReply, now);
    }
    if (IsCommand(line, kCmdReset)) {
        m_settings = AnalyzerSettings{};
        Arm(now);
    } else if (IsCommand(line, kCmdArm)) {
        Arm(now);
    } else if (IsCommand(line, kCmdDownload)) {
        Freeze();
    } else if (IsCommand(line, kCmdPollTrigger)) {
        const bool bTriggered = Triggered(now);
        if (bSpeaks) {
            return TextReply(bTriggered ? kTriggerReply : kNoTriggerReply, now);
        }
    } else if (IsCommand(line, kCmdRequestPacket)) {
        if (bSpeaks) {
            return PacketReply(now);
        }
    } else if (line.substr(0, kSettingsPrefix.size()) == kSettingsPrefix) {
        if (const auto settings = ParseSettingsWord(line.substr(kSettingsPrefix.size()))) {
            m_settings = *settings;
            // A new pattern starts a new search from the arm.
            m_nSearchFrom = 0;
            m_triggerSample.reset();
            m_bTriggerReported = false;
        }
    }
    return {};
}

void CAnalyzerModel::Arm(Clock::time_point now) {
    m_armTime = now;
    m_nSearchFrom = 0;
    m_triggerSample.reset();
    m_bTriggerReported = false;
    m_bDownloadOpen = false;
    m_nNextPacket = 0;
}

void CAnalyzerModel::Freeze() {
    CaptureRecord record;
    record.settings = m_settings;
    record.signalSet = CurrentSignalSet();
    if (m_bTriggerReported && m_triggerSample) {
        record.triggerSample = m_triggerSample;
        record.startNs = (*m_triggerSample - m_settings.triggerPosition * kEmuTriggerPositionStep) *
                         m_settings.SamplePeriodNs();
    }
    record.samples = SampleSignals(record.signalSet, m_settings.rateMultiplier, record.startNs,
                                   kEmuCaptureSamples);
    ++m_nCaptureSerial;
    // Only in the samples the program keeps, and unseen by the trigger search.
    if (m_options.glitchEvery > 0 && record.signalSet == SignalSet::Bench &&
        m_nCaptureSerial % static_cast<std::uint64_t>(m_options.glitchEvery) == 0) {
        record.glitchSample = AddGlitch(record.samples, m_nCaptureSerial, kEmuKeptSamples);
    }
    m_capture = std::move(record);
    m_bDownloadOpen = true;
    m_nNextPacket = 0;
}

bool CAnalyzerModel::Triggered(Clock::time_point now) {
    if (!m_triggerSample) {
        // Search only the signal time that has passed since the arm, so each poll does a
        // little and a pattern met late is reported late.
        const std::int64_t periodNs = m_settings.SamplePeriodNs();
        const std::int64_t elapsedNs = std::max<std::int64_t>(
            0, std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_armTime).count());
        const std::int64_t last = std::min(elapsedNs, kTriggerSearchNs) / periodNs;
        if (m_nSearchFrom <= last) {
            m_triggerSample =
                FindTriggerSample(m_settings, CurrentSignalSet(), m_nSearchFrom, last);
            m_nSearchFrom = last + 1;
        }
    }
    if (m_triggerSample) {
        m_bTriggerReported = true;
    }
    return m_triggerSample.has_value();
}

std::string CAnalyzerModel::Noise(int count) const {
    std::string noise;
    for (int i = 0; i < count; ++i) {
        noise.push_back(kNoise[static_cast<std::size_t>(i) % kNoise.size()]);
    }
    return noise;
}

std::vector<OutputChunk> CAnalyzerModel::TextReply(std::string_view text,
                                                   Clock::time_point now) const {
    switch (m_options.fault) {
    case EmulatorFault::Silent:
        return {};
    case EmulatorFault::Delay:
        return {{std::string(text), now + m_options.delay}};
    case EmulatorFault::Garbage:
        return {{Noise(m_options.garbageBytes) + std::string(text), now}};
    default:
        return {{std::string(text), now}};
    }
}

std::vector<OutputChunk> CAnalyzerModel::PacketReply(Clock::time_point now) {
    if (!m_bDownloadOpen) {
        Freeze();
    }
    const int index = m_nNextPacket;
    m_nNextPacket = std::min(m_nNextPacket + 1, kPacketsPerDownload);
    // Past the last packet the capture memory reads as zeros.
    OutputChunk chunk{index < kPacketsPerDownload ? PacketBytes(m_capture->samples, index)
                                                  : std::string(kPacketSize, '\0'),
                      now};
    if (m_options.fault == EmulatorFault::Delay ||
        (m_options.fault == EmulatorFault::LatePackets && index >= m_options.faultPacket)) {
        chunk.due += m_options.delay;
    }
    if (index != m_options.faultPacket) {
        return {chunk};
    }
    switch (m_options.fault) {
    case EmulatorFault::LateByte: {
        OutputChunk last{chunk.bytes.substr(kPacketSize - 1), now + m_options.delay};
        chunk.bytes.resize(kPacketSize - 1);
        return {chunk, last};
    }
    case EmulatorFault::ShortPacket:
        chunk.bytes.resize(
            static_cast<std::size_t>(std::clamp(m_options.shortPacketBytes, 0, kPacketSize)));
        break;
    case EmulatorFault::LongPacket:
        chunk.bytes.push_back(chunk.bytes.back());
        break;
    case EmulatorFault::Garbage:
        chunk.bytes = Noise(m_options.garbageBytes) + chunk.bytes;
        break;
    case EmulatorFault::HangUp:
        chunk.hangUpAfter = true;
        break;
    case EmulatorFault::StrayByte:
        return {chunk, {Noise(1), now + m_options.gap}};
    case EmulatorFault::NoiseFront: {
        chunk.bytes = Noise(m_options.garbageBytes) + chunk.bytes;
        if (m_options.gap.count() == 0) {
            break;
        }
        OutputChunk last{chunk.bytes.substr(chunk.bytes.size() - 1), now + m_options.gap};
        chunk.bytes.pop_back();
        return {chunk, last};
    }
    case EmulatorFault::DropPacket:
        return {};
    default:
        break;
    }
    return {chunk};
}

} // namespace quillon
