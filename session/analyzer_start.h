// The analyzer's start-up, the same for the window and quillon-cli: discovery of its port, then
// 100 ms, "RST\r", 50 ms, the default settings, "CAP\r". No toolkit; the calling thread waits.
#pragma once

#include "device/analyzer_link.h"
#include "device/discovery.h"

#include <functional>

namespace quillon {

inline constexpr std::chrono::milliseconds kBeforeResetPause = 100ms;
inline constexpr std::chrono::milliseconds kAfterResetPause = 50ms;

struct StartupHooks {
    /// After each port that opened was asked (see DiscoveryObserver).
    DiscoveryObserver identified;
    /// No analyzer answered: true goes on with the reset steps (the window does, on a closed
    /// port), false ends the start-up there.
    std::function<bool(const COpenFailures&)> notFound;
    /// Between the pause after the reset and the arm command: the default settings.
    std::function<void()> defaults;
};

/// The steps after discovery: 100 ms, "RST\r", 50 ms, defaults, "CAP\r".
void ResetAndArm(CAnalyzerLink& link, const std::function<void()>& defaults = {});

/// Discovery over ports (COM 0..99) and, unless hooks.notFound stops it, ResetAndArm. Returns
/// the COM number left open on port, or -1.
int StartAnalyzer(const PortList& ports, CSerialPort& port, CAnalyzerLink& link,
                  const StartupHooks& hooks);

} // namespace quillon
