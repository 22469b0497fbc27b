// The viewer's rows: one per channel, named, coloured, shown or hidden, chosen one at a time
// or many at once, and kept (per user for the live capture, with the file for a file).
#include "ui/decoder_set.h"
#include "ui/rows_dlg.h"
#include "ui/viewer_common.h"
#include "ui/viewer_wnd.h"

#include <QColorDialog>
#include <QFontMetrics>
#include <QInputDialog>
#include <QMenu>
#include <QStatusBar>

namespace quillon {

using namespace viewer;

namespace {

constexpr const char* kShowAllRowsText = "すべて表示(&A)";
constexpr const char* kMoreRowsText = "ほか %1 チャンネル: 行の表示(&R)...";
constexpr const char* kRenameCaption = "チャンネル名";
constexpr const char* kRenamePrompt = "%1 の名前 (空欄でファイルの名前):";
constexpr const char* kViewForUserText =
    "フォルダに書き込めないため、表示の設定はユーザーのフォルダに保存しました";
constexpr int kMenuRowsMax = 64; // channels listed one by one in the channel menu
constexpr int kNameExtraPx = 24; // the colour mark and the margins beside a name
constexpr int kMaxNameWidthPx = 240;

/// A name as a menu item shows it, its '&' not taken for a letter.
QString MenuText(const QString& name) {
    return QString(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

void CViewerWnd::FillRowsMenu() {
    m_menuRows->clear();
    m_menuRows->addAction(Utf8(kShowAllRowsText), this, [this] {
        SetChannelsVisible(std::vector<bool>(static_cast<std::size_t>(ChannelCount()), true));
    });
    m_menuRows->addSeparator();
    if (ChannelCount() > kMenuRowsMax) {
        m_menuRows->addAction(Utf8(kMoreRowsText).arg(ChannelCount()), this,
                              &CViewerWnd::OnChooseRows);
        return;
    }
    // In the rows' order, by the names the rows show.
    for (const int channel : m_order) {
        auto* item = m_menuRows->addAction(MenuText(ChannelName(channel)));
        item->setIcon(ColourSwatch(ChannelColourOf(channel)));
        item->setCheckable(true);
        item->setChecked(IsChannelVisible(channel));
        connect(item, &QAction::toggled, this,
                [this, channel](bool bOn) { SetChannelVisible(channel, bOn); });
    }
}

ChannelNames UserChannelNames() {
    ChannelNames names = DefaultChannelNames();
    const ViewState view = ReadUserView(kAnalyzerChannels);
    for (int channel = 0; channel < kAnalyzerChannels; ++channel) {
        const QString& name = view.channels[static_cast<std::size_t>(channel)].name;
        if (!name.isEmpty()) {
            names[static_cast<std::size_t>(channel)] = name.toStdString();
        }
    }
    return names;
}

int CViewerWnd::ChannelCount() const {
    return m_capture ? m_capture->ChannelCount() : static_cast<int>(m_state.channels.size());
}

QString CViewerWnd::ChannelName(int channel) const {
    if (channel < 0 || channel >= ChannelCount()) {
        return {};
    }
    const QString& chosen = m_state.channels[static_cast<std::size_t>(channel)].name;
    if (!chosen.isEmpty()) {
        return chosen;
    }
    return m_capture ? QString::fromStdString(m_capture->ChannelName(channel))
                     : QString::fromStdString(DefaultChannelName(channel));
}

QRgb CViewerWnd::ChannelColourOf(int channel) const {
    if (channel >= 0 && channel < static_cast<int>(m_state.channels.size())) {
        if (const auto& colour = m_state.channels[static_cast<std::size_t>(channel)].colour) {
            return *colour;
        }
    }
    return ChannelColour(channel);
}

bool CViewerWnd::IsChannelVisible(int channel) const {
    return channel >= 0 && channel < static_cast<int>(m_state.channels.size()) &&
           !m_state.channels[static_cast<std::size_t>(channel)].hidden;
}

void CViewerWnd::KeepState() {
    UpdateScene();
    Redraw();
    if (m_bUnattended) {
        return; // a picture taken without a user changes nothing of the user's
    }
    if (m_bLive) {
        WriteUserView(m_state);
        return;
    }
    if (!m_capture) {
        return;
    }
    m_state.decoders = m_pDecoders->SavedEntries();
    QString error;
    const QString before = m_strViewFile;
    if (!WriteViewFor(m_strFile, *m_capture, m_state, m_strViewFile, error)) {
        statusBar()->showMessage(Utf8(kViewNotKeptText).arg(error), 10000);
    } else if (!m_strViewFile.isEmpty() && m_strViewFile != before &&
               m_strViewFile == ViewFileForUser(m_strFile)) {
        statusBar()->showMessage(Utf8(kViewForUserText), 10000);
    }
}

void CViewerWnd::OnRenameChannel(int channel) {
    bool bOk = false;
    const QString own = m_capture ? QString::fromStdString(m_capture->ChannelName(channel))
                                  : QString::fromStdString(DefaultChannelName(channel));
    const QString name =
        QInputDialog::getText(this, Utf8(kRenameCaption), Utf8(kRenamePrompt).arg(own),
                              QLineEdit::Normal, ChannelName(channel), &bOk);
    if (bOk) {
        RenameChannel(channel, name);
    }
}

void CViewerWnd::RenameChannel(int channel, const QString& name) {
    if (channel < 0 || channel >= ChannelCount()) {
        return;
    }
    QString trimmed = name.trimmed();
    const QString own = m_capture ? QString::fromStdString(m_capture->ChannelName(channel))
                                  : QString::fromStdString(DefaultChannelName(channel));
    if (trimmed == own) {
        trimmed.clear();
    }
    m_state.channels[static_cast<std::size_t>(channel)].name = trimmed;
    KeepState();
    UpdateDecoderCapture();
}

void CViewerWnd::SetChannelVisible(int channel, bool bVisible) {
    if (channel < 0 || channel >= ChannelCount()) {
        return;
    }
    m_state.channels[static_cast<std::size_t>(channel)].hidden = !bVisible;
    KeepState();
}

void CViewerWnd::SetChannelsVisible(const std::vector<bool>& visible) {
    for (std::size_t c = 0; c < m_state.channels.size() && c < visible.size(); ++c) {
        m_state.channels[c].hidden = !visible[c];
    }
    KeepState();
}

void CViewerWnd::HideRowsWithoutEdges() {
    if (!m_capture) {
        return;
    }
    for (int channel = 0; channel < ChannelCount(); ++channel) {
        if (!m_capture->NextEdge(channel, 0)) {
            m_state.channels[static_cast<std::size_t>(channel)].hidden = true;
        }
    }
    KeepState();
}

void CViewerWnd::SetChannelColour(int channel, std::optional<QRgb> colour) {
    if (channel < 0 || channel >= ChannelCount()) {
        return;
    }
    if (colour && *colour == ChannelColour(channel)) {
        colour.reset();
    }
    m_state.channels[static_cast<std::size_t>(channel)].colour = colour;
    KeepState();
}

void CViewerWnd::OnChooseColour(int channel) {
    const QColor colour = QColorDialog::getColor(QColor::fromRgb(ChannelColourOf(channel)), this,
                                                 WithoutAccelerator(Utf8(kColourText)));
    if (colour.isValid()) {
        SetChannelColour(channel, colour.rgb());
    }
}

void CViewerWnd::OnChooseRows() {
    std::vector<RowChoice> rows;
    for (int channel = 0; channel < ChannelCount(); ++channel) {
        RowChoice row;
        row.name = ChannelName(channel);
        row.visible = IsChannelVisible(channel);
        row.colour = ChannelColourOf(channel);
        row.chosenColour = m_state.channels[static_cast<std::size_t>(channel)].colour;
        row.ownColour = ChannelColour(channel);
        row.hasEdges = !m_capture || m_capture->NextEdge(channel, 0).has_value();
        rows.push_back(row);
    }
    CRowsDlg dialog(std::move(rows), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const auto chosen = dialog.Rows();
    for (std::size_t c = 0; c < chosen.size() && c < m_state.channels.size(); ++c) {
        m_state.channels[c].hidden = !chosen[c].visible;
        m_state.channels[c].colour = chosen[c].chosenColour;
    }
    KeepState();
}

void CViewerWnd::FitNames() {
    // Wide enough for the longest name shown, within bounds; longer ones are elided.
    const QFontMetrics metrics(Canvas()->font());
    int widest = 0;
    for (const int channel : m_scene.rows) {
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(
                                      m_scene.names[static_cast<std::size_t>(channel)])));
    }
    for (const auto& row : m_scene.extraRows) {
        widest = std::max(
            widest, metrics.horizontalAdvance(QString::fromStdString(ExtraRowName(row.label))));
    }
    m_scene.nameWidthPx =
        std::clamp(widest + kNameExtraPx, ViewerLayout::kDefaultNameWidthPx, kMaxNameWidthPx);
}

} // namespace quillon
