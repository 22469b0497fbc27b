// Fault names and quillon-emu's command line.
#include "emulator/emulator_options.h"

#include <array>
#include <charconv>
#include <utility>

namespace quillon {

namespace {

constexpr std::array<std::pair<EmulatorFault, std::string_view>, 13> kFaultNames{{
    {EmulatorFault::None, "none"},
    {EmulatorFault::Silent, "silent"},
    {EmulatorFault::Foreign, "foreign"},
    {EmulatorFault::Delay, "delay"},
    {EmulatorFault::LateByte, "late-byte"},
    {EmulatorFault::ShortPacket, "short-packet"},
    {EmulatorFault::LongPacket, "long-packet"},
    {EmulatorFault::Garbage, "garbage"},
    {EmulatorFault::HangUp, "hang-up"},
    {EmulatorFault::LatePackets, "late-packets"},
    {EmulatorFault::StrayByte, "stray-byte"},
    {EmulatorFault::NoiseFront, "noise-front"},
    {EmulatorFault::DropPacket, "drop-packet"},
}};

std::optional<int> ParseInt(std::string_view text, int lo, int hi) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < lo || value > hi) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string_view FaultName(EmulatorFault fault) {
    for (const auto& [value, name] : kFaultNames) {
        if (value == fault) {
            return name;
        }
    }
    return "none";
}

std::optional<EmulatorFault> FaultFromName(std::string_view name) {
    for (const auto& [value, text] : kFaultNames) {
        if (text == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::string EmulatorUsage() {
    return "Usage: quillon-emu [options]\n"
           "Emulates the Quillon analyzer on a pseudo-terminal and prints its path.\n"
           "  --link PATH          also make PATH a symbolic link to it (removed on exit)\n"
           "  --log FILE           log every received command with its time in ms\n"
           "  --fault MODE         none, silent, foreign, delay, late-byte, short-packet,\n"
           "                       long-packet, garbage, hang-up, late-packets, stray-byte,\n"
           "                       noise-front, drop-packet (default none)\n"
           "  --fault-packet K     packet the fault hits (late-packets: from), 0..63\n"
           "                       (default 0)\n"
           "  --delay MS           delay of the delay, late-byte and late-packets faults\n"
           "                       (default 60)\n"
           "  --gap MS             stray-byte: the stray byte leaves MS after the packet;\n"
           "                       noise-front: the packet's last byte leaves MS after the\n"
           "                       rest (default 0)\n"
           "  --short-bytes N      bytes of the short packet, 0..255 (default 255)\n"
           "  --garbage-bytes N    noise bytes of the garbage and noise-front faults, 1..16\n"
           "                       (default 2)\n"
           "  --gentype C          force signal set C: 1 counter, 2 all low, 3 all high,\n"
           "                       anything else the bench (default: as the program asks)\n"
           "  --line-rate BAUD     send no faster than a serial line at BAUD, 10 bits a\n"
           "                       byte (e.g. 921600); default: as fast as the pty takes it\n"
           "  --glitch N           one bench capture in N (the Nth, 2Nth, ...) has a one-sample\n"
           "                       pulse on D11 at a different place each time (default 0: none)\n"
           "  --help               this text\n"
           "Runs until SIGINT or SIGTERM.\n";
}

EmulatorCommandLine ParseEmulatorCommandLine(const std::vector<std::string>& args) {
    EmulatorCommandLine result;
    EmulatorOptions& options = result.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            result.help = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            result.error =
                name.rfind("--", 0) == 0 ? "missing value for " + name : "unknown argument " + name;
            return result;
        }
        const std::string& value = args[++i];
        bool bGood = true;
        if (name == "--link") {
            options.linkPath = value;
            bGood = !value.empty();
        } else if (name == "--log") {
            options.logPath = value;
            bGood = !value.empty();
        } else if (name == "--fault") {
            const auto fault = FaultFromName(value);
            bGood = fault.has_value();
            options.fault = fault.value_or(EmulatorFault::None);
        } else if (name == "--fault-packet") {
            const auto k = ParseInt(value, 0, 63);
            bGood = k.has_value();
            options.faultPacket = k.value_or(0);
        } else if (name == "--delay") {
            const auto ms = ParseInt(value, 0, 600000);
            bGood = ms.has_value();
            options.delay = std::chrono::milliseconds(ms.value_or(0));
        } else if (name == "--gap") {
            const auto ms = ParseInt(value, 0, 600000);
            bGood = ms.has_value();
            options.gap = std::chrono::milliseconds(ms.value_or(0));
        } else if (name == "--short-bytes") {
            const auto n = ParseInt(value, 0, 255);
            bGood = n.has_value();
            options.shortPacketBytes = n.value_or(255);
        } else if (name == "--garbage-bytes") {
            const auto n = ParseInt(value, 1, 16);
            bGood = n.has_value();
            options.garbageBytes = n.value_or(2);
        } else if (name == "--line-rate") {
            const auto baud = ParseInt(value, 0, 100'000'000);
            bGood = baud.has_value();
            options.lineRateBaud = baud.value_or(0);
        } else if (name == "--glitch") {
            const auto n = ParseInt(value, 0, 1'000'000);
            bGood = n.has_value();
            options.glitchEvery = n.value_or(0);
        } else if (name == "--gentype") {
            bGood = value.size() == 1;
            if (bGood) {
                options.genType = value[0];
            }
        } else {
            result.error = "unknown argument " + name;
            return result;
        }
        if (!bGood) {
            result.error = "bad value '" + value + "' for " + name;
            return result;
        }
    }
    return result;
}

} // namespace quillon
