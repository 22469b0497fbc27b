// Runs the real quillon program headless and collects what it printed.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quillon::test {

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs program with args, offscreen, with env entries ("NAME=value") added to ours.
/// whileRunning, when given, is called with the program's process id once it has started.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::vector<std::string>& env,
                                const std::function<void(pid_t)>& whileRunning = {}) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    vars["QT_QPA_PLATFORM"] = "QT_QPA_PLATFORM=offscreen";
    for (const auto& entry : env) {
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    std::vector<char*> envp;
    for (auto& [name, entry] : vars) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    char outPath[] = "/tmp/quillon-e2e-out.XXXXXX";
    char errPath[] = "/tmp/quillon-e2e-err.XXXXXX";
    const int outFd = ::mkstemp(outPath);
    const int errFd = ::mkstemp(errPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = -1;
    ProgramResult result;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        if (whileRunning) {
            whileRunning(pid);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(outFd);
    ::close(errFd);
    auto slurp = [](const char* path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        ::unlink(path);
        return ss.str();
    };
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

/// The full path of program on PATH, or empty.
inline std::string Which(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

} // namespace quillon::test
