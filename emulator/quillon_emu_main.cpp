// quillon-emu: the analyzer emulator as a program; prints the pty path, runs until a signal.
#include "emulator/analyzer_emulator.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const quillon::EmulatorCommandLine commandLine = quillon::ParseEmulatorCommandLine(args);
    if (commandLine.help) {
        std::fputs(quillon::EmulatorUsage().c_str(), stdout);
        return 0;
    }
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "quillon-emu: %s\n%s", commandLine.error.c_str(),
                     quillon::EmulatorUsage().c_str());
        return 2;
    }

    // Blocked before the serving thread exists, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    quillon::CAnalyzerEmulator emulator(commandLine.options);
    if (!emulator.Start()) {
        std::fputs("quillon-emu: cannot create the pseudo-terminal, log file or link\n", stderr);
        return 1;
    }
    std::printf("%s\n", emulator.SlavePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    emulator.Stop();
    return 0;
}
