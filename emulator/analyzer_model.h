// The analyzer's behaviour without any I/O: command lines in, timed output chunks out.
#pragma once

#include "device/protocol.h"
#include "emulator/bench_signals.h"
#include "emulator/emulator_options.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

inline constexpr int kEmuSamplesPerPacket = kPacketSize / 2;
inline constexpr int kEmuCaptureSamples = kEmuSamplesPerPacket * kPacketsPerDownload; // 8192
/// Samples the program keeps of a download; trigger position p puts the trigger at p * 1008.
inline constexpr int kEmuKeptSamples = 4032;
inline constexpr int kEmuTriggerPositionStep = kEmuKeptSamples / 4;
/// How far after the arm the analyzer looks for its trigger pattern.
inline constexpr std::int64_t kTriggerSearchNs = 1'000'000'000;
/// Reply to REQTR while the trigger has not happened.
inline constexpr std::string_view kNoTriggerReply = "KNTR\r";
/// Longest command line kept; the rest of a longer line is dropped until its '\r'.
inline constexpr std::size_t kMaxCommandLength = 64;

/// The settings word after "SD", decoded.
struct AnalyzerSettings {
    int rateMultiplier = 1;      ///< 1, 10, 100 or 1000 (rate codes 00, 01, 10, 11)
    int triggerPosition = 0;     ///< 0..3
    std::uint16_t careMask = 0;  ///< channels the pattern examines ('0' or '1')
    std::uint16_t matchBits = 0; ///< their required levels
    bool triggerAtOnce = true;   ///< the pattern is sixteen '0': trigger at the arm
    char genType = '0';

    [[nodiscard]] std::int64_t SamplePeriodNs() const {
        return kBaseSamplePeriodNs * rateMultiplier;
    }
    bool operator==(const AnalyzerSettings&) const = default;
};

/// Decodes a 24-character settings word; nullopt for any other length. Rate and position
/// characters count as 1 when they are '1'; pattern characters other than '0'/'1' are
/// don't-care.
std::optional<AnalyzerSettings> ParseSettingsWord(std::string_view word);

/// The first sample index k in [first, last] whose levels (at k * period after the arm)
/// satisfy the pattern; sample 0 when the pattern triggers at once. Pure; any thread.
std::optional<std::int64_t> FindTriggerSample(const AnalyzerSettings& settings, SignalSet set,
                                              std::int64_t first, std::int64_t last);

/// One download's worth of samples, frozen at DLD (or at the first REQPK without one).
struct CaptureRecord {
    AnalyzerSettings settings;
    SignalSet signalSet = SignalSet::Bench;
    std::optional<std::int64_t> triggerSample; ///< set when the capture is trigger-aligned
    std::int64_t startNs = 0;                  ///< time of sample 0 after the arm
    std::vector<std::uint16_t> samples;        ///< kEmuCaptureSamples of them
    std::optional<std::int64_t> glitchSample;  ///< where --glitch inverted D11
};

/// Packet `index` (0..63) of a capture: 128 samples, low byte then high byte each.
std::string PacketBytes(const std::vector<std::uint16_t>& samples, int index);

/// Bytes that leave the analyzer no earlier than `due`, in order.
struct OutputChunk {
    std::string bytes;
    std::chrono::steady_clock::time_point due;
    bool hangUpAfter = false; ///< the line goes dead once the program has taken these bytes
};

/// Splits received bytes into command lines at '\r'.
class CCommandSplitter {
public:
    /// Feeds one byte; returns true when it completed a line, now in Line().
    bool Feed(char ch);
    [[nodiscard]] const std::string& Line() const { return m_strLine; }

private:
    std::string m_strPending;
    std::string m_strLine;
};

/// The analyzer's state machine. One thread at a time.
class CAnalyzerModel {
public:
    using Clock = std::chrono::steady_clock;

    CAnalyzerModel(EmulatorOptions options, Clock::time_point now);

    /// Acts on one command line (without '\r') received at `now`; returns what it sends.
    std::vector<OutputChunk> Handle(std::string_view line, Clock::time_point now);

    [[nodiscard]] const AnalyzerSettings& Settings() const { return m_settings; }
    /// The capture being downloaded (or last downloaded); nullopt before the first.
    [[nodiscard]] const std::optional<CaptureRecord>& Capture() const { return m_capture; }
    /// Counts the captures frozen so far.
    [[nodiscard]] std::uint64_t CaptureSerial() const { return m_nCaptureSerial; }
    [[nodiscard]] SignalSet CurrentSignalSet() const;

private:
    void Arm(Clock::time_point now);
    void Freeze();
    bool Triggered(Clock::time_point now);
    std::vector<OutputChunk> TextReply(std::string_view text, Clock::time_point now) const;
    std::vector<OutputChunk> PacketReply(Clock::time_point now);
    [[nodiscard]] std::string Noise(int count) const;

    EmulatorOptions m_options;
    AnalyzerSettings m_settings;
    Clock::time_point m_armTime;
    std::int64_t m_nSearchFrom = 0; // next sample the trigger search looks at
    std::optional<std::int64_t> m_triggerSample;
    bool m_bTriggerReported = false;
    std::optional<CaptureRecord> m_capture;
    std::uint64_t m_nCaptureSerial = 0;
    bool m_bDownloadOpen = false; // a capture is frozen for the current arm
    int m_nNextPacket = 0;
};

} // namespace quillon
