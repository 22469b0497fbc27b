// The machine's list of serial ports, as (device, COM name) pairs, in the order searched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct PortEntry {
    std::string device; ///< device node, e.g. /dev/ttyACM0
    std::string name;   ///< port name, e.g. COM3
};

using PortList = std::vector<PortEntry>;

inline constexpr const char* kPortsVariable = "QUILLON_PORTS";

/// Parses "COM1=/dev/pts/4;COM3=/dev/pts/7": entries in order; blanks around parts ignored;
/// entries without '=' or with an empty side are skipped. An empty text gives no ports.
PortList ParsePortsVariable(std::string_view text);

/// USB serial ports under devRoot whose sysfs node (under sysRoot) sits on USB, named COM1,
/// COM2, ... in a stable order: ttyACM* before ttyUSB* before others, each by index.
PortList ScanUsbSerialPorts(const std::string& sysRoot = "/sys",
                            const std::string& devRoot = "/dev");

/// QUILLON_PORTS when set (even empty), otherwise the machine's USB serial ports.
PortList ReadPortList();

/// The device path of the entry named exactly name, or empty.
std::string DeviceForName(const PortList& ports, std::string_view name);

/// The device path of the first entry whose name gives n by the port-number rule (every
/// "COM" removed, then atoi: "COM03" is 3, "COM1COM2" is 12), or empty.
std::string DeviceForNumber(const PortList& ports, int n);

} // namespace quillon
