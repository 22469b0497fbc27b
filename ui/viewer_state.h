// What the viewer keeps of its view: per channel a name, hidden or shown, and a colour, and
// the decoders (and, later, markers) chosen. The live capture keeps them per user; a capture
// file keeps them with the file, in NAME.quillon (JSON) beside it, or in the user's data
// folder when that folder cannot be written. GUI thread.
#pragma once

#include "capture/capture.h"

#include <QJsonArray>
#include <QRgb>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace quillon {

/// What the user chose for one channel; empty or unset: the capture's own.
struct ChannelView {
    QString name;
    bool hidden = false;
    std::optional<QRgb> colour;

    [[nodiscard]] bool IsDefault() const { return name.isEmpty() && !hidden && !colour; }
    bool operator==(const ChannelView&) const = default;
};

/// The view of one capture.
struct ViewState {
    std::vector<ChannelView> channels; ///< one per channel
    QStringList decoders;              ///< in the decoder set's saved form
    QJsonArray markers;                ///< kept as read and written back

    /// Nothing chosen: the capture shows as it is.
    [[nodiscard]] bool IsClean() const;
};

/// The view file beside a capture file: "capture.vcd" -> "capture.vcd.quillon".
QString ViewFileBeside(const QString& capturePath);
/// The view file in the user's data folder, for a capture in a folder that cannot be written.
QString ViewFileForUser(const QString& capturePath);

/// The view kept for the capture read from capturePath: beside it (or in the user's data
/// folder when that copy is newer), else in the user's data folder, else a clean one. Entries for channels the capture does not have (or that now
/// carry another name: the file was replaced) are left out. from: where it was found.
ViewState ReadViewFor(const QString& capturePath, const Capture& capture, QString* from = nullptr);

/// Keeps view for the capture read from capturePath: beside it when that folder can be
/// written, else in the user's data folder; a clean view removes the file. writtenTo: the
/// file written (empty when removed). False with error set when neither could be written.
bool WriteViewFor(const QString& capturePath, const Capture& capture, const ViewState& view,
                  QString& writtenTo, QString& error);

/// The view of the live capture, kept for the user: names of D0 ... (also the main window's
/// export names), hidden rows, colours, and the user's decoders stay with the decoder set.
ViewState ReadUserView(int channels);
void WriteUserView(const ViewState& view);

/// "#rrggbb" and back.
QString ColourText(QRgb colour);
std::optional<QRgb> ColourFromText(const QString& text);

} // namespace quillon
