// CDecoderSet: the viewer's protocol decoders. Keeps the user's decoders (QSettings) or a
// file's own (kept by the viewer with the file's view), offers
// them in a menu (add, edit, hide, remove, save the annotations), decodes every capture it is
// given on a worker and hands back the annotation rows to show.
#pragma once

#include "capture/capture_data.h"
#include "decode/annotation_layout.h"
#include "ui/decode_runner.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <vector>

class QMenu;
class QWidget;

namespace quillon {

inline constexpr std::chrono::milliseconds kDecodeWait{10000};

/// GUI thread.
class CDecoderSet : public QObject {
    Q_OBJECT
public:
    /// parent: the window the dialogs belong to. The set starts empty: UseUserEntries or
    /// UseEntries fills it.
    explicit CDecoderSet(QWidget* parent);

    /// Fills menu with the decoder commands; it is filled again whenever the set changes.
    void AttachMenu(QMenu* menu);
    /// Decodes capture with the visible decoders (cancelling a decode still running).
    void SetCapture(const CaptureData& capture);

    [[nodiscard]] const std::vector<DecoderEntry>& Entries() const { return m_entries; }
    /// Replaces the set (kept for the user, or told by EntriesEdited) and decodes the capture
    /// again.
    void SetEntries(std::vector<DecoderEntry> entries);
    /// The user's own decoders, kept in the user's settings from now on (the live capture).
    void UseUserEntries();
    /// Decoders in their saved form (a file's own); changes are no longer kept for the user
    /// but told by EntriesEdited. Entries that no longer fit the installed decoders are
    /// left out.
    void UseEntries(const QStringList& saved);
    /// The set in its saved form, one text per decoder ("+uart:rx=D8:baudrate=115200").
    [[nodiscard]] QStringList SavedEntries() const;
    /// The rows of the latest finished decode of the visible decoders.
    [[nodiscard]] const std::vector<AnnotationLane>& Lanes() const { return m_lanes; }
    /// True while a decode for the latest capture or set is still running.
    [[nodiscard]] bool IsDecoding() const;

    /// Writes the visible decoders' annotations as text; false (error set) when it fails.
    bool SaveAnnotations(const QString& path, QString& error) const;

    // Menu commands.
    void OnAdd();
    void OnEdit(int entry);
    void OnToggle(int entry);
    void OnRemove(int entry);
    void OnSaveAnnotations();

signals:
    /// New annotation rows (after a decode, or when decoders were hidden or removed).
    void LanesChanged();
    /// The user added, edited, hid or removed a decoder.
    void EntriesEdited();

private:
    void Load(const QStringList& saved);
    void Save() const;
    void Rerun();
    void FillMenu();
    void OnDecoded(std::uint64_t request, const std::vector<DecodeResult>& results);

    QWidget* m_parent = nullptr;
    QMenu* m_menu = nullptr;
    CDecodeRunner m_runner;
    std::vector<DecoderEntry> m_entries;
    bool m_bUserEntries = false; ///< the set is the user's own, kept in the settings
    CaptureData m_capture;
    bool m_bHaveCapture = false;
    std::vector<DecoderStack> m_pendingStacks; ///< of the latest request
    std::vector<DecoderStack> m_resultStacks;  ///< of the latest finished request
    std::vector<DecodeResult> m_results;       ///< one per m_resultStacks
    std::vector<AnnotationLane> m_lanes;
    std::uint64_t m_nRequest = 0; ///< the runner's number of the latest request
};

/// Lets the event loop run until set has the rows of its latest decode (at most timeout),
/// for pictures taken without a user.
void WaitForDecoders(const CDecoderSet& set, std::chrono::milliseconds timeout = kDecodeWait);

} // namespace quillon
