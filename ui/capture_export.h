// Saving the main window's last capture: the file dialog and the writing, with the texts that
// tell the user what went wrong or is missing. GUI thread.
#pragma once

#include "capture/capture_data.h"
#include "file/capture_file.h"

#include <QImage>
#include <QString>

#include <optional>

class QWidget;

namespace quillon {

/// Asks for a file to save to (VCD, CSV, .sr or PNG; preferred: the filter offered first),
/// starting in dir (empty: the home folder). The chosen path with its extension, or nothing.
std::optional<QString> AskSavePath(QWidget* parent, FileFormat preferred, const QString& dir);

struct SaveOutcome {
    bool written = false;
    /// What to tell the user in a box (empty: nothing): why nothing was written, or, when
    /// written, how many samples are missing.
    QString message;
};

/// Writes data (or view, for .png) to path, the format following its extension.
SaveOutcome SaveCaptureFile(const QString& path, CaptureData data, const QImage& view);

} // namespace quillon
