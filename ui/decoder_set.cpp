// The viewer's decoder set: menu, settings, decoding on every capture.
#include "ui/decoder_set.h"

#include "decode/annotation_text.h"
#include "decode/decoder_library.h"
#include "file/save_file.h"
#include "ui/decoder_dlg.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>

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

std::vector<const DecoderInfo*> InfosOf(const DecoderStack& stack) {
    std::vector<const DecoderInfo*> infos;
    for (const auto& setup : stack) {
        infos.push_back(CDecoderLibrary::Instance().FindDecoder(setup.id));
    }
    return infos;
}

QString EntryTitle(const DecoderEntry& entry) {
    return QString::fromStdString(FormatDecoderArg(entry.stack));
}

} // namespace

CDecoderSet::CDecoderSet(QWidget* parent) : QObject(parent), m_parent(parent) {
    connect(&m_runner, &CDecodeRunner::Decoded, this, &CDecoderSet::OnDecoded);
}

void CDecoderSet::Load(const QStringList& saved) {
    m_entries.clear();
    for (const auto& text : saved) {
        if (auto entry = LoadDecoderEntry(text.toStdString(), CDecoderLibrary::Lookup())) {
            m_entries.push_back(std::move(*entry));
        }
    }
    FillMenu();
    Rerun();
}

void CDecoderSet::UseUserEntries() {
    m_bUserEntries = true;
    Load(QSettings(kSettingsOrg, kSettingsApp).value(kSettingsKey).toStringList());
}

void CDecoderSet::UseEntries(const QStringList& saved) {
    m_bUserEntries = false;
    Load(saved);
}

QStringList CDecoderSet::SavedEntries() const {
    QStringList saved;
    for (const auto& entry : m_entries) {
        saved << QString::fromStdString(SaveDecoderEntry(entry));
    }
    return saved;
}

void CDecoderSet::Save() const {
    if (m_bUserEntries) {
        QSettings(kSettingsOrg, kSettingsApp).setValue(kSettingsKey, SavedEntries());
    }
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

void CDecoderSet::SetCapture(const CaptureData& capture) {
    m_capture = capture;
    m_bHaveCapture = true;
    Rerun();
}

void CDecoderSet::SetEntries(std::vector<DecoderEntry> entries) {
    m_entries = std::move(entries);
    Save();
    FillMenu();
    Rerun();
    emit EntriesEdited();
}

void CDecoderSet::Rerun() {
    m_pendingStacks.clear();
    for (const auto& entry : m_entries) {
        if (entry.visible) {
            m_pendingStacks.push_back(entry.stack);
        }
    }
    if (!m_bHaveCapture || m_pendingStacks.empty()) {
        m_nRequest = m_runner.Start(CaptureData{}, {}); // drops a decode still running
        m_results.clear();
        m_resultStacks.clear();
        m_lanes.clear();
        FillMenu();
        emit LanesChanged();
        return;
    }
    m_nRequest = m_runner.Start(m_capture, m_pendingStacks);
}

bool CDecoderSet::IsDecoding() const {
    return !m_pendingStacks.empty() && m_bHaveCapture && m_runner.Finished() != m_nRequest;
}

void WaitForDecoders(const CDecoderSet& set, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (set.IsDecoding() && clock.elapsed() < timeout.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

void CDecoderSet::OnDecoded(std::uint64_t /*request*/, const std::vector<DecodeResult>& results) {
    // The runner reports only the latest request: the one of m_pendingStacks.
    m_results = results;
    m_resultStacks = m_pendingStacks;
    m_lanes.clear();
    for (std::size_t r = 0; r < results.size() && r < m_resultStacks.size(); ++r) {
        auto lanes = LayOutAnnotations(results[r], InfosOf(m_resultStacks[r]),
                                       static_cast<std::int64_t>(m_capture.samples.size()));
        m_lanes.insert(m_lanes.end(), lanes.begin(), lanes.end());
    }
    FillMenu();
    emit LanesChanged();
}

void CDecoderSet::OnAdd() {
    if (const auto& error = CDecoderLibrary::Instance().StartError(); !error.empty()) {
        QMessageBox::warning(m_parent, kAddText, kNoLibraryText + QString::fromStdString(error));
        return;
    }
    CDecoderDlg dialog(m_capture.names, {}, m_parent);
    if (dialog.exec() != QDialog::Accepted || dialog.Stack().empty()) {
        return;
    }
    auto entries = m_entries;
    entries.push_back({dialog.Stack(), true});
    SetEntries(std::move(entries));
}

void CDecoderSet::OnEdit(int entry) {
    if (entry < 0 || entry >= static_cast<int>(m_entries.size())) {
        return;
    }
    CDecoderDlg dialog(m_capture.names, m_entries[static_cast<std::size_t>(entry)].stack, m_parent);
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
    for (std::size_t r = 0; r < m_results.size() && r < m_resultStacks.size(); ++r) {
        const auto infos = InfosOf(m_resultStacks[r]);
        for (const auto& a : m_results[r].annotations) {
            if (a.decoder >= 0 && static_cast<std::size_t>(a.decoder) < infos.size() &&
                infos[static_cast<std::size_t>(a.decoder)] != nullptr) {
                text += FormatAnnotationRecord(a, *infos[static_cast<std::size_t>(a.decoder)],
                                               m_capture.PeriodPs());
            }
        }
        if (m_results[r].error && !infos.empty() && infos.front() != nullptr) {
            text += "\t\t\t\t" + infos.front()->id + "\terror\t" + *m_results[r].error + "\n";
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
