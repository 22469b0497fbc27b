// The port list: QUILLON_PORTS when set, else the machine's USB serial ports from sysfs.
#include "device/port_list.h"

#include "device/protocol.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <tuple>

namespace quillon {

namespace {

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// ttyACM before ttyUSB before the rest; within a family by index, then by name.
std::tuple<int, long, std::string> SortKey(const std::string& name) {
    int family = 2;
    std::string_view digits;
    if (name.rfind("ttyACM", 0) == 0) {
        family = 0;
        digits = std::string_view(name).substr(6);
    } else if (name.rfind("ttyUSB", 0) == 0) {
        family = 1;
        digits = std::string_view(name).substr(6);
    }
    long index = -1;
    if (!digits.empty() &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        index = std::strtol(std::string(digits).c_str(), nullptr, 10);
    }
    return {family, index, name};
}

} // namespace

PortList ParsePortsVariable(std::string_view text) {
    PortList ports;
    while (!text.empty()) {
        const auto end = text.find(';');
        const std::string_view entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto eq = entry.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        const std::string_view name = Trim(entry.substr(0, eq));
        const std::string_view device = Trim(entry.substr(eq + 1));
        if (name.empty() || device.empty()) {
            continue;
        }
        ports.push_back({std::string(device), std::string(name)});
    }
    return ports;
}

PortList ScanUsbSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
        const std::string name = entry.path().filename().string();
        // Platform UARTs carry consoles and modems: never send them identification bytes.
        if (name.rfind("ttyS", 0) == 0) {
            continue;
        }
        std::error_code linkError;
        const fs::path device = fs::canonical(entry.path() / "device", linkError);
        if (linkError) {
            continue; // virtual terminals and pseudo-terminals have no device
        }
        if (device.string().find("/usb") == std::string::npos) {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return SortKey(a) < SortKey(b); });
    PortList ports;
    int number = 1;
    for (const auto& name : names) {
        ports.push_back({(fs::path(devRoot) / name).string(), "COM" + std::to_string(number++)});
    }
    return ports;
}

PortList ReadPortList() {
    if (const char* text = std::getenv(kPortsVariable)) {
        return ParsePortsVariable(text);
    }
    return ScanUsbSerialPorts();
}

std::string DeviceForName(const PortList& ports, std::string_view name) {
    for (const auto& port : ports) {
        if (port.name == name) {
            return port.device;
        }
    }
    return {};
}

std::string DeviceForNumber(const PortList& ports, int n) {
    for (const auto& port : ports) {
        if (PortNumberFromName(port.name) == n) {
            return port.device;
        }
    }
    return {};
}

} // namespace quillon
