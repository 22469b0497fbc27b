// CDecoderSet: the viewer's protocol decoders. Keeps the user's decoders (QSettings) or a
// file's own (kept by the viewer with the file's view), offers
// them in a menu (add, edit, hide, remove, save the annotations), decodes every capture it is
// given in a decoding process and hands back the annotation rows to show. Decoder metadata
// comes from a decoding process too, so the GUI thread never loads a decoder.
#pragma once

#include "capture/capture.h"
#include "decode/annotation_layout.h"
#include "decode/decoder_catalog.h"
#include "search/matcher.h"
#include "ui/decode_runner.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <vector>

class QMenu;
class QWidget;

namespace quillon {

inline constexpr std::chrono::milliseconds kDecodeWait{10000};

/// GUI thread.
class CDecoderSet : public QObject {
    Q_OBJECT
public:
    /// parent: the window the dialogs belong to. useSaved: the user's own decoders are
    /// loaded and changes kept (as UseUserEntries); without, the set starts empty and keeps
    /// nothing until UseUserEntries or UseEntries (pictures taken without a user show only
    /// the decoders they are given).
    explicit CDecoderSet(QWidget* parent, bool useSaved = true);

    /// Fills menu with the decoder commands; it is filled again whenever the set changes.
    void AttachMenu(QMenu* menu);
    /// Decodes capture with the visible decoders (cancelling a decode still running).
    void SetCapture(CapturePtr capture);

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
    /// Replaces the set by decoder arguments as quillon-cli takes them (-P), once their
    /// decoders have been loaded; those that do not fit are left out and named by ArgErrors.
    void SetEntryArgs(const std::vector<std::string>& args);
    [[nodiscard]] const QStringList& ArgErrors() const { return m_argErrors; }
    /// The rows of the latest finished decode of the visible decoders.
    [[nodiscard]] const std::vector<std::shared_ptr<const AnnotationLane>>& Lanes() const {
        return m_lanes;
    }
    /// The latest decode's annotations as conditions (ann=) search them.
    [[nodiscard]] std::shared_ptr<const SearchAnnotations> ForSearch() const;
    /// True while a decode for the latest capture or set (or the decoders' metadata it
    /// needs) is still on its way.
    [[nodiscard]] bool IsDecoding() const;
    /// The decoding process's id while one runs, else -1 (for tests).
    [[nodiscard]] pid_t DecoderProcessId() const { return m_runner.ProcessId(); }

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
    /// The installed decoders' list has arrived (after OnAdd or OnEdit asked for it).
    void CatalogLoaded();

private:
    enum class After { Nothing, Add, Edit };
    void Load(const QStringList& saved);
    void Save() const;
    void Rerun();
    void FillMenu();
    void RequestCatalog(std::vector<std::string> ids, bool all);
    void OnCatalog(const std::shared_ptr<const std::vector<DecoderInfo>>& infos,
                   const QString& error);
    /// Parses the entries waiting for their decoders' metadata.
    void ResolvePending();
    /// Runs dialogAction once every installed decoder is known (asking for them first).
    bool NeedFullCatalog(After after, int entry);
    void OnDecoded(std::uint64_t request, const std::shared_ptr<const DecodedLanes>& results);
    void Clear();

    QWidget* m_parent = nullptr;
    QMenu* m_menu = nullptr;
    bool m_bUseSaved = false; ///< the set is the user's own, kept in the settings
    CDecodeRunner m_runner;
    DecoderCatalog m_catalog;          ///< the decoders known so far
    bool m_bFullCatalog = false;       ///< every installed decoder is in m_catalog
    bool m_bFullCatalogFailed = false; ///< the last request for them failed
    CCatalogLoader* m_pLoader = nullptr;
    QString m_strCatalogError;
    After m_after = After::Nothing;
    int m_nAfterEntry = -1;
    std::vector<std::string> m_pendingTexts; ///< saved form ("+uart:..."), not yet parsed
    bool m_bPendingArgs = false;             ///< they were given by SetEntryArgs
    QStringList m_argErrors;
    std::vector<DecoderEntry> m_entries;
    CapturePtr m_capture;
    std::vector<DecoderStack> m_pendingStacks;     ///< of the latest request
    std::vector<DecoderStack> m_resultStacks;      ///< of the latest finished request
    std::shared_ptr<const DecodedLanes> m_results; ///< one per m_resultStacks
    std::vector<std::shared_ptr<const AnnotationLane>> m_lanes;
    std::uint64_t m_nRequest = 0; ///< the runner's number of the latest request
};

/// Lets the event loop run until set has the rows of its latest decode (at most timeout),
/// for pictures taken without a user.
void WaitForDecoders(const CDecoderSet& set, std::chrono::milliseconds timeout = kDecodeWait);

} // namespace quillon
