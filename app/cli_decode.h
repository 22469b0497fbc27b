// quillon-cli's decoding: `decoders`, `decode FILE -P DECODERS`, and -P on `capture`.
#pragma once

#include "capture/capture_data.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

/// -P, -A and --annotation-times as given on the command line.
struct DecodeRequest {
    std::string decoders;    ///< -P argument; empty: no decoding
    std::string annotations; ///< -A argument; empty: every annotation
    bool times = false;      ///< --annotation-times
};

/// Removes the decode options from args (after the command word) into request. Returns an
/// error text for a malformed one.
std::optional<std::string> TakeDecodeOptions(std::vector<std::string>& args,
                                             DecodeRequest& request);

/// Checks the request's arguments against the installed decoders before a capture; prints the
/// error and returns kCliBadArguments when they do not fit, else kCliOk.
int CheckDecodeRequest(const DecodeRequest& request, std::ostream& err);

/// Decodes capture as asked and prints the annotations; kCliDecoderFailed on a decoder error.
int DecodeCapture(const CaptureData& capture, const DecodeRequest& request, std::ostream& out,
                  std::ostream& err);

int RunDecodersCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunDecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillon
