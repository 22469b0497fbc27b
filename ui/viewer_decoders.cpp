// The viewer's protocol decoders: the "デコーダ" menu and tool button, decoding each capture
// the viewer shows, and the annotation rows under the channels.
#include "ui/decoder_set.h"
#include "ui/viewer_wnd.h"

#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

namespace quillon {

namespace {

constexpr const char* kDecoderMenu = "デコーダ(&D)";
constexpr const char* kDecoderButton = "デコーダ";

} // namespace

void CViewerWnd::AttachDecoders() {
    m_pDecoders = new CDecoderSet(this, false); // the view in use fills it
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(kDecoderMenu));
    m_pDecoders->AttachMenu(menu);
    if (auto* tools = findChild<QToolBar*>(QStringLiteral("viewerTools"))) {
        auto* button = new QToolButton(tools);
        button->setText(QString::fromUtf8(kDecoderButton));
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setObjectName(QStringLiteral("decoderButton"));
        tools->addSeparator();
        tools->addWidget(button);
    }
    connect(this, &CViewerWnd::CaptureChanged, this, &CViewerWnd::UpdateDecoderCapture);
    connect(m_pDecoders, &CDecoderSet::LanesChanged, this, &CViewerWnd::ShowDecoderRows);
    // A file's decoders are kept with the file's view.
    connect(m_pDecoders, &CDecoderSet::EntriesEdited, this, [this] {
        if (!m_bLive) {
            KeepState();
        }
    });
}

void CViewerWnd::UpdateDecoderCapture() {
    if (!m_capture) {
        return;
    }
    // The decoders see the names the rows show (the samples are shared, not copied).
    std::vector<std::string> names;
    for (int channel = 0; channel < ChannelCount(); ++channel) {
        names.push_back(ChannelName(channel).toStdString());
    }
    m_pDecoders->SetCapture(m_capture->WithNames(std::move(names)));
}

void CViewerWnd::ShowDecoderRows() {
    std::vector<ExtraRow> rows;
    for (const auto& lane : m_pDecoders->Lanes()) {
        rows.push_back({lane->label, lane});
    }
    SetExtraRows(std::move(rows));
}

} // namespace quillon
