// quillon-cli: the port list and one capture into a file, without a window.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quillon {

/// quillon-cli's exit statuses.
enum CliExit : int {
    kCliOk = 0,
    kCliNoAnalyzer = 1, ///< no port answered as the analyzer (or the named port did not)
    kCliNoMatch = 1,    ///< capture --until: no capture held a match
    kCliBadArguments = 2,
    kCliTimeout = 3,       ///< the trigger did not come within --timeout
    kCliWriteFailed = 4,   ///< the output file could not be written
    kCliLinkLost = 5,      ///< the analyzer stopped answering or sent an incomplete packet
    kCliDecoderFailed = 6, ///< a protocol decoder failed (or the decoding library did not start)
};

/// Runs quillon-cli with args (without the program name). Results go to out, progress and
/// errors to err. Returns the exit status. The calling thread does the whole capture.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillon
