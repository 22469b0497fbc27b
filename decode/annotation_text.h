// Annotations as text: the command's lines (as the field's usual command line prints them)
// and the viewer's saved annotation file.
#pragma once

#include "capture/units.h"
#include "decode/decoder_info.h"

#include <cstdint>
#include <string>

namespace quillon {

/// "uart-1: H": the instance id and the longest text. With times,
/// "1000-1054 200.000-210.800 us uart-1: H" (start-end sample, then time).
std::string FormatAnnotationLine(const Annotation& annotation, const std::string& instanceId,
                                 bool withTimes, const SamplePeriod& period);
/// The same line appended to out, with its line feed (for output in bulk).
void AppendAnnotationLine(std::string& out, const Annotation& annotation,
                          const std::string& instanceId, bool withTimes,
                          const SamplePeriod& period);

/// A time in the unit that suits it: "210.8 us", "3 ms", "0 s".
std::string FormatTime(std::int64_t ps);

/// The annotation file's header line and one line per annotation, tab-separated:
/// start time, end time, start sample, end sample, decoder, row, text.
std::string AnnotationFileHeader();
std::string FormatAnnotationRecord(const Annotation& annotation, const DecoderInfo& decoder,
                                   const SamplePeriod& period);

} // namespace quillon
