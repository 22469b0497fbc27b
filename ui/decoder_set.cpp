// The viewer's decoder set: menu, settings, decoding on every capture.
#include "ui/decoder_set.h"

#include "decode/annotation_text.h"
#include "file/save_file.h"
#include "ui/decoder_dlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

constexpr const char* kSettingsOrg = "Quillon"; // the viewer's own settings
constexpr const char* kSettingsApp = "quillon";
constexpr const char* kSettingsKey = "viewer/decoders";
constexpr const char* kAddText = "追加...";
constexpr const char* kEditText = "編集...";
constexpr const char* kShowText = "表示";
constexpr const char* kRemoveText = "削除";
constexpr const char* kSaveText = "アノテーションを保存...";
constexpr const char* kSaveFilter = "テキスト (*.txt);;すべてのファイル (*)";
constexpr const char* kDefaultSaveName = "annotations.txt";
constexpr const char* kNoLibraryText = "プロトコルデコーダを使えません: ";

QString EntryTitle(const DecoderEntry& entry) {
    return QString::fromStdString(FormatDecoderArg(entry.stack));
}

/// The channel names a dialog offers: the capture's, or D0 ... D15 without one.
std::vector<std::string> NamesOf(const CapturePtr& capture) {
    if (capture) {
        return capture->ChannelNames();
    }
    std::vector<std::string> names;
    for (int n = 0; n < kAnalyzerChannels; ++n) {
        names.push_back(DefaultChannelName(n));
    }
    return names;
}

} // namespace

CDecoderSet::CDecoderSet(QWidget* parent, bool useSaved) : QObject(parent), m_parent(parent) {
    connect(&m_runner, &CDecodeRunner::Decoded, this, &CDecoderSet::OnDecoded);
    if (useSaved) {
        UseUserEntries();
    }
}

void CDecoderSet::Load(const QStringList& saved) {
    m_entries.clear();
    m_pendingTexts.clear();
    m_bPendingArgs = false;
    std::vector<std::string> ids;
    for (const auto& text : saved) {
        m_pendingTexts.push_back(text.toStdString());
        for (auto& id : DecoderIdsOf(m_pendingTexts.back().substr(1))) {
            ids.push_back(std::move(id));
        }
    }
    if (m_pendingTexts.empty()) {
        FillMenu();
        Rerun();
    } else if (std::all_of(ids.begin(), ids.end(),
                           [this](const std::string& id) { return m_catalog.Find(id); })) {
        ResolvePending(); // every decoder is known already
    } else {
        // The rows of the set before go now; the new ones come with the decoders' metadata.
        m_nRequest = m_runner.Start(nullptr, {}, {});
        Clear();
        RequestCatalog(std::move(ids), false);
    }
}

void CDecoderSet::UseUserEntries() {
    m_bUseSaved = true;
    Load(QSettings(kSettingsOrg, kSettingsApp).value(kSettingsKey).toStringList());
}

void CDecoderSet::UseEntries(const QStringList& saved) {
    m_bUseSaved = false;
    Load(saved);
}

QStringList CDecoderSet::SavedEntries() const {
    QStringList saved;
    // Entries still waiting for their decoders' metadata keep their saved form.
    for (const auto& text : m_pendingTexts) {
        saved << QString::fromStdString(text);
    }
    for (const auto& entry : m_entries) {
        saved << QString::fromStdString(SaveDecoderEntry(entry));
    }
    return saved;
}

void CDecoderSet::Save() const {
    if (m_bUseSaved) {
        QSettings(kSettingsOrg, kSettingsApp).setValue(kSettingsKey, SavedEntries());
    }
}

void CDecoderSet::RequestCatalog(std::vector<std::string> ids, bool all) {
    // One request at a time; a newer one replaces (and abandons) the older, unless that one
    // brings every decoder anyway.
    if (!all && m_pLoader != nullptr && m_pLoader->property("all").toBool()) {
        return;
    }
    delete m_pLoader;
    m_pLoader = new CCatalogLoader(std::move(ids), all, this);
    m_pLoader->setProperty("all", all);
    connect(m_pLoader, &CCatalogLoader::Loaded, this, &CDecoderSet::OnCatalog);
}

void CDecoderSet::OnCatalog(const std::shared_ptr<const std::vector<DecoderInfo>>& infos,
                            const QString& error) {
    const bool all = m_pLoader != nullptr && m_pLoader->property("all").toBool();
    if (m_pLoader != nullptr) {
        m_pLoader->deleteLater();
        m_pLoader = nullptr;
    }
    m_catalog.Merge(*infos);
    m_strCatalogError = error;
    m_bFullCatalog = m_bFullCatalog || (all && error.isEmpty());
    m_bFullCatalogFailed = all && !error.isEmpty();
    if (!m_pendingTexts.empty()) {
        ResolvePending();
    }
    const After after = std::exchange(m_after, After::Nothing);
    if (after != After::Nothing) {
        QApplication::restoreOverrideCursor();
    }
    emit CatalogLoaded();
    if (after == After::Add) {
        OnAdd();
    } else if (after == After::Edit) {
        OnEdit(m_nAfterEntry);
    }
}

void CDecoderSet::ResolvePending() {
    std::vector<DecoderEntry> entries;
    for (const auto& text : m_pendingTexts) {
        if (auto entry = LoadDecoderEntry(text, m_catalog.Lookup())) {
            entries.push_back(std::move(*entry));
        } else if (m_bPendingArgs) {
            // Arguments given to the program: say which one does not fit, and why.
            const auto parsed =
                ParseDecoderArg(text.substr(1), m_catalog.Lookup(), ChannelChoice{});
            const auto* e = std::get_if<ArgError>(&parsed);
            m_argErrors << (!m_strCatalogError.isEmpty()
                                ? kNoLibraryText + m_strCatalogError
                                : QString::fromStdString(e != nullptr ? e->message : text));
        }
    }
    m_pendingTexts.clear();
    m_entries = std::move(entries);
    FillMenu();
    Rerun();
}

void CDecoderSet::SetEntryArgs(const std::vector<std::string>& args) {
    m_entries.clear();
    m_argErrors.clear();
    m_pendingTexts.clear();
    m_bPendingArgs = true;
    std::vector<std::string> ids;
    for (const auto& arg : args) {
        m_pendingTexts.push_back("+" + arg);
        for (auto& id : DecoderIdsOf(arg)) {
            ids.push_back(std::move(id));
        }
    }
    if (m_pendingTexts.empty()) {
        SetEntries({});
        return;
    }
    RequestCatalog(std::move(ids), false);
}

void CDecoderSet::AttachMenu(QMenu* menu) {
    m_menu = menu;
    FillMenu();
}

void CDecoderSet::FillMenu() {
    if (m_menu == nullptr) {
        return;
    }
    m_menu->clear();
    m_menu->addAction(kAddText, this, &CDecoderSet::OnAdd);
    if (!m_entries.empty()) {
        m_menu->addSeparator();
    }
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const int entry = static_cast<int>(i);
        QMenu* sub = m_menu->addMenu(EntryTitle(m_entries[i]));
        sub->addAction(kEditText, this, [this, entry] { OnEdit(entry); });
        QAction* show = sub->addAction(kShowText, this, [this, entry] { OnToggle(entry); });
        show->setCheckable(true);
        show->setChecked(m_entries[i].visible);
        sub->addAction(kRemoveText, this, [this, entry] { OnRemove(entry); });
    }
    m_menu->addSeparator();
    QAction* save = m_menu->addAction(kSaveText, this, &CDecoderSet::OnSaveAnnotations);
    save->setEnabled(!m_lanes.empty());
}

void CDecoderSet::SetCapture(CapturePtr capture) {
    m_capture = std::move(capture);
    Rerun();
}

void CDecoderSet::SetEntries(std::vector<DecoderEntry> entries) {
    m_pendingTexts.clear();
    m_entries = std::move(entries);
    Save();
    // Decoders whose metadata has not come yet: the entries wait for it.
    std::vector<std::string> unknown;
    for (const auto& entry : m_entries) {
        for (const auto& setup : entry.stack) {
            if (m_catalog.Find(setup.id) == nullptr) {
                unknown.push_back(setup.id);
            }
        }
    }
    if (!unknown.empty()) {
        m_bPendingArgs = false;
        for (const auto& entry : m_entries) {
            m_pendingTexts.push_back(SaveDecoderEntry(entry));
        }
        m_entries.clear();
        RequestCatalog(std::move(unknown), false);
        emit EntriesEdited();
        return;
    }
    FillMenu();
    Rerun();
    emit EntriesEdited();
}

void CDecoderSet::Clear() {
    m_results.reset();
    m_resultStacks.clear();
    m_lanes.clear();
    FillMenu();
    emit LanesChanged();
}

void CDecoderSet::Rerun() {
    if (!m_pendingTexts.empty()) {
        return; // once the decoders' metadata is here
    }
    m_pendingStacks.clear();
    std::vector<std::vector<DecoderInfo>> infos;
    for (const auto& entry : m_entries) {
        if (!entry.visible) {
            continue;
        }
        std::vector<DecoderInfo> stackInfos;
        for (const auto* info : m_catalog.InfosOf(entry.stack)) {
            if (info != nullptr) {
                stackInfos.push_back(*info);
            }
        }
        if (stackInfos.size() == entry.stack.size()) {
            m_pendingStacks.push_back(entry.stack);
            infos.push_back(std::move(stackInfos));
        }
    }
    if (!m_capture || m_pendingStacks.empty()) {
        m_nRequest = m_runner.Start(nullptr, {}, {}); // drops a decode still running
        Clear();
        return;
    }
    m_nRequest = m_runner.Start(m_capture, m_pendingStacks, std::move(infos));
}

bool CDecoderSet::IsDecoding() const {
    return !m_pendingTexts.empty() ||
           (!m_pendingStacks.empty() && m_capture && m_runner.Finished() != m_nRequest);
}

void WaitForDecoders(const CDecoderSet& set, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (set.IsDecoding() && clock.elapsed() < timeout.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

void CDecoderSet::OnDecoded(std::uint64_t /*request*/,
                            const std::shared_ptr<const DecodedLanes>& results) {
    // The runner reports only the latest request: the one of m_pendingStacks.
    m_results = results;
    m_resultStacks = m_pendingStacks;
    m_lanes.clear();
    for (const auto& stack : *results) {
        m_lanes.insert(m_lanes.end(), stack.lanes.begin(), stack.lanes.end());
    }
    FillMenu();
    emit LanesChanged();
}

std::shared_ptr<const SearchAnnotations> CDecoderSet::ForSearch() const {
    auto found = std::make_shared<SearchAnnotations>();
    for (std::size_t r = 0; m_results && r < m_results->size() && r < m_resultStacks.size(); ++r) {
        const DecoderStack& stack = m_resultStacks[r];
        const std::vector<int> channels = ChannelsOf(stack);
        for (const auto& setup : stack) {
            found->decoders.push_back(setup.id);
        }
        for (const auto& lane : (*m_results)[r].lanes) {
            if (lane->decoder < 0 || static_cast<std::size_t>(lane->decoder) >= stack.size()) {
                continue; // a message row
            }
            const std::string& id = stack[static_cast<std::size_t>(lane->decoder)].id;
            for (const auto& box : lane->boxes) {
                std::vector<std::string> texts;
                for (const auto text : lane->TextsOf(box)) {
                    texts.emplace_back(text);
                }
                found->items.push_back({id, {}, box.first, box.end, std::move(texts), channels});
            }
        }
    }
    return found;
}

bool CDecoderSet::NeedFullCatalog(After after, int entry) {
    if (m_bFullCatalog || std::exchange(m_bFullCatalogFailed, false)) {
        return false; // known, or the error is to be shown (the next try asks again)
    }
    if (m_after == After::Nothing) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    }
    m_after = after;
    m_nAfterEntry = entry;
    if (m_pLoader == nullptr || !m_pLoader->property("all").toBool()) {
        RequestCatalog({}, true);
    }
    return true;
}

void CDecoderSet::OnAdd() {
    if (NeedFullCatalog(After::Add, -1)) {
        return;
    }
    if (!m_bFullCatalog) {
        QMessageBox::warning(m_parent, kAddText, kNoLibraryText + m_strCatalogError);
        return;
    }
    CDecoderDlg dialog(NamesOf(m_capture), {}, m_catalog, m_parent);
    if (dialog.exec() != QDialog::Accepted || dialog.Stack().empty()) {
        return;
    }
    auto entries = m_entries;
    entries.push_back({dialog.Stack(), true});
    SetEntries(std::move(entries));
}

void CDecoderSet::OnEdit(int entry) {
    if (entry < 0 || entry >= static_cast<int>(m_entries.size()) ||
        NeedFullCatalog(After::Edit, entry)) {
        return;
    }
    if (!m_bFullCatalog) {
        QMessageBox::warning(m_parent, kEditText, kNoLibraryText + m_strCatalogError);
        return;
    }
    CDecoderDlg dialog(NamesOf(m_capture), m_entries[static_cast<std::size_t>(entry)].stack,
                       m_catalog, m_parent);
    if (dialog.exec() != QDialog::Accepted || dialog.Stack().empty()) {
        return;
    }
    auto entries = m_entries;
    entries[static_cast<std::size_t>(entry)].stack = dialog.Stack();
    SetEntries(std::move(entries));
}

void CDecoderSet::OnToggle(int entry) {
    if (entry < 0 || entry >= static_cast<int>(m_entries.size())) {
        return;
    }
    auto entries = m_entries;
    entries[static_cast<std::size_t>(entry)].visible =
        !entries[static_cast<std::size_t>(entry)].visible;
    SetEntries(std::move(entries));
}

void CDecoderSet::OnRemove(int entry) {
    if (entry < 0 || entry >= static_cast<int>(m_entries.size())) {
        return;
    }
    auto entries = m_entries;
    entries.erase(entries.begin() + entry);
    SetEntries(std::move(entries));
}

bool CDecoderSet::SaveAnnotations(const QString& path, QString& error) const {
    std::string text = AnnotationFileHeader();
    const SamplePeriod period = m_capture ? m_capture->Period() : SamplePeriod();
    for (std::size_t r = 0; m_results && r < m_results->size() && r < m_resultStacks.size(); ++r) {
        const auto infos = m_catalog.InfosOf(m_resultStacks[r]);
        const StackLanes& stack = (*m_results)[r];
        // The rows' boxes merged by their first sample: the order the decoders found them.
        std::vector<std::size_t> next(stack.lanes.size(), 0);
        Annotation record;
        while (true) {
            const AnnotationLane* lane = nullptr;
            std::size_t from = 0;
            for (std::size_t l = 0; l < stack.lanes.size(); ++l) {
                const AnnotationLane& candidate = *stack.lanes[l];
                if (candidate.decoder >= 0 && next[l] < candidate.boxes.size() &&
                    (lane == nullptr ||
                     candidate.boxes[next[l]].first < lane->boxes[next[from]].first)) {
                    lane = &candidate;
                    from = l;
                }
            }
            if (lane == nullptr) {
                break;
            }
            const LaneBox& box = lane->boxes[next[from]++];
            const DecoderInfo* info = static_cast<std::size_t>(lane->decoder) < infos.size()
                                          ? infos[static_cast<std::size_t>(lane->decoder)]
                                          : nullptr;
            if (info == nullptr) {
                continue;
            }
            record.start = box.first;
            record.end = box.end;
            record.decoder = lane->decoder;
            record.row = lane->row;
            record.texts = {lane->texts->First(box.texts)};
            text += FormatAnnotationRecord(record, *info, period);
        }
        if (stack.error && !infos.empty() && infos.front() != nullptr) {
            text += "\t\t\t\t" + infos.front()->id + "\terror\t" + *stack.error + "\n";
        }
    }
    std::string reason;
    if (!WriteWholeFile(QFile::encodeName(path).toStdString(), text, reason)) {
        error = QString::fromLocal8Bit(reason.c_str());
        return false;
    }
    return true;
}

void CDecoderSet::OnSaveAnnotations() {
    const QString path =
        QFileDialog::getSaveFileName(m_parent, kSaveText, kDefaultSaveName, kSaveFilter);
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!SaveAnnotations(path, error)) {
        QMessageBox::warning(m_parent, kSaveText, path + ": " + error);
    }
}

} // namespace quillon
