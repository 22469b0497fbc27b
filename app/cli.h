// quillon-cli: the port list and one capture into a file, without a window.
#pragma once

#include "app/cli_commands.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quillon {

/// Runs quillon-cli with args (without the program name). Results go to out, progress and
/// errors to err. Returns the exit status. The calling thread does the whole capture.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// Runs a parsed command (any of them).
int RunCliCommand(const CliArgs& args, std::ostream& out, std::ostream& err);

} // namespace quillon
