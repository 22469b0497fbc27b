// Starts an emulated analyzer and makes it the only port the window searches, as COM3.
#pragma once

#include "emulator/analyzer_emulator.h"

#include <cstdlib>
#include <optional>

namespace quillon::test {

/// False when the emulator could not start.
inline bool StartEmulatorOnCom3(std::optional<CAnalyzerEmulator>& emulator,
                                EmulatorOptions options = {}) {
    emulator.emplace(options);
    if (!emulator->Start()) {
        return false;
    }
    ::setenv("QUILLON_PORTS", ("COM3=" + emulator->SlavePath()).c_str(), 1);
    return true;
}

} // namespace quillon::test
