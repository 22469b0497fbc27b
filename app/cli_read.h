// quillon-cli's reading of capture files, shared by its commands: the rate for a file that
// names none, read progress on a terminal, notes and errors on standard error.
#pragma once

#include "capture/capture.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace quillon {

/// Reads path for a command. While the read takes more than about a second, its progress is
/// shown on err when err is the program's standard error on a terminal; what the reader left
/// out is noted on err; a failure is reported there ("quillon-cli: FILE:LINE: why"). rate is
/// the sample period of a file that names none. nullptr after a failure.
CapturePtr ReadCaptureForCli(const std::string& path, std::optional<SamplePeriod> rate,
                             std::ostream& err);

} // namespace quillon
