// Finding the analyzer: the COM numbers 0..99 walked in order, each one asked who it is.
#pragma once

#include "device/analyzer_link.h"
#include "device/port_list.h"
#include "device/serial_port.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quillon {

inline constexpr int kDiscoveryLastCom = 99;
/// Between opening a port and asking it to identify itself.
inline constexpr std::chrono::milliseconds kDiscoveryOpenPause = 100ms;

/// n when an entry of ports is named COM n (by PortNumberFromName: the first such entry),
/// else -1.
int ListedPortNumber(const PortList& ports, int n);

/// Called after each port that opened was asked: its COM number and whether it is the
/// analyzer.
using DiscoveryObserver = std::function<void(int nCom, bool bIdentified)>;

/// Why listed ports could not be opened during one search, kept when the user can mend it:
/// no permission, or another program holds the port.
class COpenFailures {
public:
    /// After a failed Open of a listed port: keeps its cause if it is one of those.
    void Note(const CSerialPort& port);
    void Clear() { m_lines.clear(); }
    [[nodiscard]] bool IsEmpty() const { return m_lines.empty(); }
    /// One line per port, e.g. "/dev/ttyACM0: Permission denied — add yourself to the
    /// dialout group".
    [[nodiscard]] const std::vector<std::string>& Lines() const { return m_lines; }
    /// The lines joined by '\n'.
    [[nodiscard]] std::string Text() const;

private:
    std::vector<std::string> m_lines;
};

/// The line for a port that could not be opened with errno error; empty for other causes.
std::string OpenFailureCause(const std::string& device, int error);

/// Walks COM 0..99 like the window's start-up: a listed number is opened at 921600 baud,
/// after 100 ms asked to identify itself, and closed again unless it is the analyzer.
/// Returns the COM number left open on port, or -1 (port closed). ports is the list searched
/// (normally ReadPortList()); the port itself is opened by number. The calling thread waits.
/// failures, when given, collects why listed ports could not be opened.
int DiscoverAnalyzer(const PortList& ports, CSerialPort& port, CAnalyzerLink& link,
                     const DiscoveryObserver& observer = {}, COpenFailures* failures = nullptr);

} // namespace quillon
