// Walking the port numbers for the analyzer, as the window does at start-up.
#include "device/discovery.h"

#include <cerrno>
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

std::string OpenFailureCause(const std::string& device, int error) {
    if (error == EACCES || error == EPERM) {
        return device + ": Permission denied — add yourself to the dialout group";
    }
    if (error == EWOULDBLOCK || error == EBUSY) {
        return device + ": in use by another program";
    }
    return {};
}

void COpenFailures::Note(const CSerialPort& port) {
    std::string line = OpenFailureCause(port.LastOpenDevice(), port.LastOpenError());
    if (!line.empty()) {
        m_lines.push_back(std::move(line));
    }
}

std::string COpenFailures::Text() const {
    std::string text;
    for (const auto& line : m_lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

int DiscoverAnalyzer(const PortList& ports, CSerialPort& port, CAnalyzerLink& link,
                     const DiscoveryObserver& observer, COpenFailures* failures) {
    for (int n = 0; n <= kDiscoveryLastCom; ++n) {
        if (link.IsCancelled()) {
            break;
        }
        if (ListedPortNumber(ports, n) == -1) {
            continue;
        }
        if (port.Open(n, CSerialPort::kAnalyzerBaud) == 0) {
            if (failures != nullptr) {
                failures->Note(port);
            }
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
