// quillon-cli find: where in a capture file a condition holds (search/condition.h).
#pragma once

#include "app/cli_commands.h"
#include "search/matcher.h"

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

namespace quillon {

/// quillon-cli find FILE CONDITION [-P DECODERS] [--json]. Matches to out, errors to err.
/// Returns 0 when something matched, 1 when nothing did, 2 on any error (grep's convention).
int RunFindCommand(const CliArgs& request, std::ostream& out, std::ostream& err);

/// "quillon-cli: COMMAND: why (column N of the condition)", the condition and a caret under
/// the place.
void PrintConditionError(const std::string& command, const std::string& condition,
                         const ConditionError& error, std::ostream& err);
/// One match as find prints it: sample, time, what (and width), tab-separated.
void PrintMatchLine(const Match& m, const Capture& capture, const SearchAnnotations* annotations,
                    std::ostream& out);

/// Runs the decoders of a -P argument over capture in the decoding process (only the samples
/// received on their channels) and hands their annotations to the matcher as plain values. An
/// error text when they cannot run or fail.
std::variant<SearchAnnotations, std::string> DecodeForSearch(const CapturePtr& capture,
                                                             const std::string& decoders);

} // namespace quillon
