// SessionState: what a capture session is doing, as the viewer's status line and quillon-cli's
// standard error tell it. A plain value; no toolkit.
#pragma once

#include <chrono>
#include <string>

namespace quillon {

struct SessionState {
    enum class Phase {
        Idle,              ///< no capture under way
        WaitingForTrigger, ///< polling the trigger; waited says how long so far
        Downloading,       ///< packet requests; packet of 64 asked so far
    };
    Phase phase = Phase::Idle;
    std::chrono::seconds waited{0};
    int packet = 0;
    /// The capture under way (or the last one) of a repetition, from 1; 0: a single capture.
    int capture = 0;
    /// The captures the repetition is to take; 0: until stopped.
    int captures = 0;
    /// Packet warnings since the run (or the repetition) began.
    int warnings = 0;
    /// The capture whose samples matched the "until" condition; 0: none (yet).
    int foundIn = 0;

    bool operator==(const SessionState&) const = default;
};

enum class StateLanguage { English, Japanese };

/// "capture 2 of 5: waiting for the trigger (3 s); 1 packet warning", "downloading 12 of 64",
/// "found in capture 4", "" when idle with nothing to tell.
std::string StateText(const SessionState& state, StateLanguage language);

} // namespace quillon
