// Fuzz target: parsing QUILLON_PORTS.
#include "device/port_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& port : quillon::ParsePortsVariable(text)) {
        if (port.name.empty() || port.device.empty() || port.name.find(';') != std::string::npos ||
            port.name.find('=') != std::string::npos ||
            port.device.find(';') != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
