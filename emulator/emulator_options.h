// Options of the analyzer emulator: which fault it plays, delays, logging, and its command line.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

/// One misbehaviour of the analyzer at a time, for tests of the program's error paths.
enum class EmulatorFault {
    None,        ///< a healthy analyzer
    Silent,      ///< never sends a byte
    Foreign,     ///< another device: identifies as kForeignIdentReply, answers nothing else
    Delay,       ///< every reply (text or packet) leaves `delay` after its command
    LateByte,    ///< the last byte of packet faultPacket leaves `delay` after the rest
    ShortPacket, ///< packet faultPacket has only shortPacketBytes bytes
    LongPacket,  ///< packet faultPacket has 257 bytes (one extra at the end)
    Garbage,     ///< garbageBytes noise bytes before every text reply and before packet faultPacket
    HangUp,      ///< the line goes dead once the program has taken packet faultPacket
    LatePackets, ///< every packet reply from faultPacket on leaves `delay` after its request
    StrayByte,   ///< one noise byte follows packet faultPacket, `gap` after it
    NoiseFront,  ///< garbageBytes noise bytes in front of packet faultPacket; with a `gap`, its
                 ///< last byte leaves that long after the rest
    DropPacket,  ///< packet faultPacket is never sent (the next request gets the next packet)
};

inline constexpr std::string_view kForeignIdentReply = "KPNOTHERDV99\r";

struct EmulatorOptions {
    EmulatorFault fault = EmulatorFault::None;
    int faultPacket = 0;                 ///< 0..63, counted from each DLD
    std::chrono::milliseconds delay{60}; ///< for Delay, LateByte and LatePackets
    std::chrono::milliseconds gap{0};    ///< for StrayByte and NoiseFront
    int shortPacketBytes = 255;          ///< 0..255, for ShortPacket
    int garbageBytes = 2;                ///< 1.., for Garbage
    std::optional<char> genType;         ///< forces the signal set, whatever SD says
    int glitchEvery = 0;  ///< one bench capture in glitchEvery carries a glitch on D11; 0: none
    int lineRateBaud = 0; ///< output paced at this line rate, 10 bits a byte; 0: unpaced
    std::string logPath;  ///< one line per received command; empty: none
    std::string linkPath; ///< symbolic link to the slave; empty: none
};

/// Bits on the line per byte: start bit, 8 data bits, stop bit.
inline constexpr int kBitsPerByte = 10;

/// "none", "silent", "foreign", "delay", "late-byte", "short-packet", "long-packet",
/// "garbage", "hang-up", "late-packets", "stray-byte", "noise-front", "drop-packet".
std::string_view FaultName(EmulatorFault fault);
std::optional<EmulatorFault> FaultFromName(std::string_view name);

/// The outcome of reading quillon-emu's arguments (without the program name).
struct EmulatorCommandLine {
    EmulatorOptions options;
    bool help = false;
    std::string error; ///< empty when the arguments were understood
};

EmulatorCommandLine ParseEmulatorCommandLine(const std::vector<std::string>& args);
/// The --help text.
std::string EmulatorUsage();

} // namespace quillon
