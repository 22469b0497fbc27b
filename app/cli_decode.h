// quillon-cli's decoding: `decoders`, `decode FILE -P DECODERS`, and -P on `capture`. The
// decoders run in the decoding process (quillon-decoder); their annotations are printed as
// they arrive.
#pragma once

#include "app/cli_commands.h"
#include "capture/capture.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct DecodeContext;

/// A decode as asked on the command line, and the decoding process that does it.
struct DecodeRequest : DecodeOptions {
    /// The decoding process and the metadata of the decoders named, once CheckDecodeRequest
    /// has run (shared by copies of the request, so that a capture's decode finds them).
    std::shared_ptr<DecodeContext> context;
};

/// Starts the decoding process (kept in request), loads the decoders named and checks the
/// request's arguments against them before a capture; prints the error and returns
/// kCliBadArguments when they do not fit (kCliDecoderFailed when the decoders cannot run at
/// all), else kCliOk.
int CheckDecodeRequest(DecodeRequest& request, std::ostream& err);

/// Decodes capture as asked and prints the annotations as they come; kCliDecoderFailed on a
/// decoder error. Ctrl+C or SIGTERM meanwhile ends the program at once with 130 or 143.
int DecodeCapture(const CapturePtr& capture, const DecodeRequest& request, std::ostream& out,
                  std::ostream& err);

int RunDecodersCommand(std::ostream& out, std::ostream& err);
int RunDecodeCommand(const CliArgs& args, std::ostream& out, std::ostream& err);

} // namespace quillon
