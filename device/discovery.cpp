// Walking the port numbers for the analyzer, as the window does at start-up.
#include "device/discovery.h"

#include <thread>

namespace quillon {

int ListedPortNumber(const PortList& ports, int n) {
    for (const auto& entry : ports) {
        if (PortNumberFromName(entry.name) == n) {
            return n;
        }
    }
    return -1;
}

int DiscoverAnalyzer(const PortList& ports, CSerialPort& port, CAnalyzerLink& link,
                     const DiscoveryObserver& observer) {
    for (int n = 0; n <= kDiscoveryLastCom; ++n) {
        if (link.IsCancelled()) {
            break;
        }
        if (ListedPortNumber(ports, n) == -1 || port.Open(n, CSerialPort::kAnalyzerBaud) == 0) {
            continue;
        }
        std::this_thread::sleep_for(kDiscoveryOpenPause);
        const bool identified = link.IdentifyDevice() == 1;
        if (observer) {
            observer(n, identified);
        }
        if (identified) {
            return n;
        }
        port.Close();
    }
    return -1;
}

} // namespace quillon
