// quillon-cli info: what a saved capture holds, channel by channel.
#pragma once

#include "app/cli_commands.h"

#include <iosfwd>

namespace quillon {

/// Exit status of info when the file cannot be read or is no capture: a bad argument, as for
/// decode (6 is a decoder's failure).
inline constexpr int kCliReadFailed = 2;

/// quillon-cli info FILE [--json] [--rate RATE]. Table or JSON to out, errors to err; returns
/// the exit status.
int RunInfoCommand(const CliArgs& args, std::ostream& out, std::ostream& err);

} // namespace quillon
