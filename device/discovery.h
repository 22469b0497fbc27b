// Finding the analyzer: the COM numbers 0..99 walked in order, each one asked who it is.
#pragma once

#include "device/analyzer_link.h"
#include "device/port_list.h"
#include "device/serial_port.h"

#include <chrono>
#include <functional>

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

/// Walks COM 0..99 like the window's start-up: a listed number is opened at 921600 baud,
/// after 100 ms asked to identify itself, and closed again unless it is the analyzer.
/// Returns the COM number left open on port, or -1 (port closed). ports is the list searched
/// (normally ReadPortList()); the port itself is opened by number. The calling thread waits.
int DiscoverAnalyzer(const PortList& ports, CSerialPort& port, CAnalyzerLink& link,
                     const DiscoveryObserver& observer = {});

} // namespace quillon
