// quillon-cli's decoding: `decoders`, `decode FILE -P DECODERS`, and -P on `capture`. The
// decoders run in the decoding process (quillon-decoder); their annotations are printed as
// they arrive.
#pragma once

#include "capture/capture.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct DecodeContext;

/// -P, -A and --annotation-times as given on the command line.
struct DecodeRequest {
    std::string decoders;    ///< -P argument; empty: no decoding
    std::string annotations; ///< -A argument; empty: every annotation
    bool times = false;      ///< --annotation-times
    /// The decoding process and the metadata of the decoders named, once CheckDecodeRequest
    /// has run (shared by copies of the request, so that a capture's decode finds them).
    std::shared_ptr<DecodeContext> context;
};

/// Removes the decode options from args (after the command word) into request. Returns an
/// error text for a malformed one.
std::optional<std::string> TakeDecodeOptions(std::vector<std::string>& args,
                                             DecodeRequest& request);

/// Starts the decoding process, loads the decoders named and checks the request's arguments
/// against them before a capture; prints the error and returns kCliBadArguments when they do
/// not fit (kCliDecoderFailed when the decoders cannot run at all), else kCliOk.
int CheckDecodeRequest(const DecodeRequest& request, std::ostream& err);

/// Decodes capture as asked and prints the annotations as they come; kCliDecoderFailed on a
/// decoder error. Ctrl+C or SIGTERM meanwhile ends the program at once with 130 or 143.
int DecodeCapture(const CapturePtr& capture, const DecodeRequest& request, std::ostream& out,
                  std::ostream& err);

int RunDecodersCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunDecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillon
