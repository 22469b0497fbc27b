// The start-up's order and pauses, in one place.
#include "session/analyzer_start.h"

#include <thread>

namespace quillon {

void ResetAndArm(CAnalyzerLink& link, const std::function<void()>& defaults) {
    std::this_thread::sleep_for(kBeforeResetPause);
    link.ResetDevice();
    std::this_thread::sleep_for(kAfterResetPause);
    if (defaults) {
        defaults();
    }
    link.ArmCapture();
}

int StartAnalyzer(const PortList& ports, CSerialPort& port, CAnalyzerLink& link,
                  const StartupHooks& hooks) {
    COpenFailures failures;
    const int com = DiscoverAnalyzer(ports, port, link, hooks.identified, &failures);
    if (com < 0 && hooks.notFound && !hooks.notFound(failures)) {
        return com;
    }
    ResetAndArm(link, hooks.defaults);
    return com;
}

} // namespace quillon
