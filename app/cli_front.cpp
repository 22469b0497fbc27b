// quillon-cli: the command as the user starts it. It loads no toolkit, so that help, wrong
// arguments, `decode` and `decoders` answer as fast as the decoders allow; every other command
// is the work of quillon-cli-full, which draws PNG pictures with Qt and which this program
// becomes.
#include "app/cli_commands.h"
#include "app/cli_decode.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kFullName = "quillon-cli-full";

std::string DirOfProgram() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    const std::string self(path, static_cast<std::size_t>(n));
    return self.substr(0, self.find_last_of('/'));
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const quillon::CliArgs parsed = quillon::ParseCliArgs(args, std::cout, std::cerr);
    if (parsed.exitStatus) {
        return *parsed.exitStatus;
    }
    if (parsed.command == quillon::CliCommand::Decode) {
        return quillon::RunDecodeCommand(parsed, std::cout, std::cerr);
    }
    if (parsed.command == quillon::CliCommand::Decoders) {
        return quillon::RunDecodersCommand(std::cout, std::cerr);
    }
    // Beside this program in a build, in the helpers' folder once installed.
    const std::string dir = DirOfProgram();
    for (const std::string& full :
         {dir + "/" + kFullName, dir + "/../libexec/quillon/" + kFullName}) {
        if (::access(full.c_str(), X_OK) == 0) {
            ::execv(full.c_str(), argv);
            std::cerr << "quillon-cli: cannot start " << full << ": " << std::strerror(errno)
                      << "\n";
            return quillon::kCliBadArguments;
        }
    }
    std::cerr << "quillon-cli: " << kFullName << " is missing beside " << dir << "\n";
    return quillon::kCliBadArguments;
}
