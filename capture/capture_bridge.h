// Between the old 16-channel CaptureData and the capture model, for code that has not moved to
// the model yet. No toolkit; any thread.
#pragma once

#include "capture/capture.h"
#include "capture/capture_data.h"

namespace quillon {

/// The same samples, names, period, trigger and received samples as a Capture.
CapturePtr ToCapture(const CaptureData& data);
/// The first 16 channels of capture as CaptureData; a sample counts as received when every
/// channel received it.
CaptureData ToCaptureData(const Capture& capture);

} // namespace quillon
