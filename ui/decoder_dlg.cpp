// The decoder dialog: decoder list with filter, the stack, and a form per stack entry built
// from the decoder's metadata.
#include "ui/decoder_dlg.h"

#include "capture/capture.h"
#include "decode/decoder_args.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace quillon {

namespace {

constexpr const char* kAddCaption = "デコーダの追加";
constexpr const char* kEditCaption = "デコーダの編集";
constexpr const char* kFilterHint = "フィルタ (ID・名前・説明)";
constexpr const char* kStackTitle = "スタック";
constexpr const char* kPushText = "重ねる";
constexpr const char* kPopText = "外す";
constexpr const char* kSettingsTitle = "チャンネルとオプション";
constexpr const char* kNoChannelText = "(なし)";
constexpr const char* kChooseFirstText = "デコーダを選んでください";
constexpr int kIdRole = Qt::UserRole;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

/// The capture channel named like the decoder's channel ("rx", "SDA"), or -1.
int MatchChannel(const std::vector<std::string>& names, const DecoderChannel& channel) {
    for (std::size_t n = 0; n < names.size(); ++n) {
        const QString name = Q(names[n]);
        if (name.compare(Q(channel.id), Qt::CaseInsensitive) == 0 ||
            name.compare(Q(channel.name), Qt::CaseInsensitive) == 0) {
            return static_cast<int>(n);
        }
    }
    return -1;
}

} // namespace

CDecoderDlg::CDecoderDlg(std::vector<std::string> names, const DecoderStack& initial,
                         const DecoderCatalog& catalog, QWidget* parent)
    : QDialog(parent), m_names(std::move(names)), m_catalog(catalog), m_stack(initial) {
    setWindowTitle(initial.empty() ? kAddCaption : kEditCaption);

    m_editFilter = new QLineEdit(this);
    m_editFilter->setPlaceholderText(kFilterHint);
    m_editFilter->setClearButtonEnabled(true);
    m_listDecoders = new QListWidget(this);
    for (const auto& d : m_catalog.Decoders()) {
        if (!d.ReadsChannels()) {
            continue; // these only read another decoder's output: offered under the stack
        }
        auto* item = new QListWidgetItem(Q(d.id + "  " + d.longname), m_listDecoders);
        item->setData(kIdRole, Q(d.id));
        item->setToolTip(Q(d.desc));
    }
    auto* left = new QVBoxLayout;
    left->addWidget(m_editFilter);
    left->addWidget(m_listDecoders, 1);

    auto* stackBox = new QGroupBox(kStackTitle, this);
    m_listStack = new QListWidget(stackBox);
    m_listStack->setMaximumHeight(80);
    m_comboStack = new QComboBox(stackBox);
    m_buttonPush = new QPushButton(kPushText, stackBox);
    m_buttonPop = new QPushButton(kPopText, stackBox);
    auto* stackButtons = new QHBoxLayout;
    stackButtons->addWidget(m_comboStack, 1);
    stackButtons->addWidget(m_buttonPush);
    stackButtons->addWidget(m_buttonPop);
    auto* stackLayout = new QVBoxLayout(stackBox);
    stackLayout->addWidget(m_listStack);
    stackLayout->addLayout(stackButtons);

    auto* formBox = new QGroupBox(kSettingsTitle, this);
    auto* scroll = new QScrollArea(formBox);
    scroll->setWidgetResizable(true);
    m_form = new QWidget(scroll);
    m_formLayout = new QFormLayout(m_form);
    scroll->setWidget(m_form);
    auto* formLayout = new QVBoxLayout(formBox);
    formLayout->addWidget(scroll);

    auto* right = new QVBoxLayout;
    right->addWidget(stackBox);
    right->addWidget(formBox, 1);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 2);
    columns->addLayout(right, 3);

    m_labelError = new QLabel(this);
    m_labelError->setStyleSheet("color: #b00000");
    m_labelError->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(m_labelError);
    layout->addWidget(buttons);
    resize(760, 480);

    connect(m_editFilter, &QLineEdit::textChanged, this, &CDecoderDlg::OnFilter);
    connect(m_listDecoders, &QListWidget::currentRowChanged, this,
            [this](int) { OnDecoderChosen(); });
    connect(m_listStack, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row != m_nEntry) {
            ShowEntry(row);
        }
    });
    connect(m_buttonPush, &QPushButton::clicked, this, &CDecoderDlg::OnPushStacked);
    connect(m_buttonPop, &QPushButton::clicked, this, &CDecoderDlg::OnPopStacked);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDecoderDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDecoderDlg::reject);

    if (!m_stack.empty()) {
        const auto items =
            m_listDecoders->findItems(Q(m_stack.front().id + "  "), Qt::MatchStartsWith);
        if (!items.empty()) {
            const QSignalBlocker block(m_listDecoders);
            m_listDecoders->setCurrentItem(items.front());
        }
    }
    UpdateStackList();
    BuildForm();
}

QComboBox* CDecoderDlg::ChannelBox(const std::string& id) const {
    for (const auto& [key, box] : m_channelBoxes) {
        if (key == id) {
            return box;
        }
    }
    return nullptr;
}

QWidget* CDecoderDlg::OptionEditor(const std::string& id) const {
    for (const auto& [key, editor] : m_optionEditors) {
        if (key == id) {
            return editor;
        }
    }
    return nullptr;
}

bool CDecoderDlg::ChooseDecoder(const QString& id) {
    for (int row = 0; row < m_listDecoders->count(); ++row) {
        if (m_listDecoders->item(row)->data(kIdRole).toString() == id) {
            m_listDecoders->item(row)->setHidden(false);
            m_listDecoders->setCurrentRow(row);
            return true;
        }
    }
    return false;
}

void CDecoderDlg::OnFilter(const QString& text) {
    for (int row = 0; row < m_listDecoders->count(); ++row) {
        QListWidgetItem* item = m_listDecoders->item(row);
        const DecoderInfo* d = Find(item->data(kIdRole).toString().toStdString());
        const bool match = text.isEmpty() ||
                           (d != nullptr && (Q(d->id).contains(text, Qt::CaseInsensitive) ||
                                             Q(d->name).contains(text, Qt::CaseInsensitive) ||
                                             Q(d->longname).contains(text, Qt::CaseInsensitive) ||
                                             Q(d->desc).contains(text, Qt::CaseInsensitive)));
        item->setHidden(!match);
    }
}

void CDecoderDlg::OnDecoderChosen() {
    QListWidgetItem* item = m_listDecoders->currentItem();
    if (item == nullptr) {
        return;
    }
    const DecoderInfo* info = Find(item->data(kIdRole).toString().toStdString());
    if (info == nullptr || (!m_stack.empty() && m_stack.front().id == info->id)) {
        return;
    }
    DecoderSetup setup{info->id, {}, {}};
    for (const auto* list : {&info->channels, &info->optChannels}) {
        for (const auto& channel : *list) {
            if (const int n = MatchChannel(m_names, channel); n >= 0) {
                setup.channels[channel.id] = n;
            }
        }
    }
    m_stack = {setup}; // a new first decoder: what was stacked on the old one no longer fits
    m_nEntry = 0;
    m_labelError->clear();
    UpdateStackList();
    BuildForm();
}

void CDecoderDlg::UpdateStackList() {
    {
        const QSignalBlocker block(m_listStack);
        m_listStack->clear();
        for (std::size_t i = 0; i < m_stack.size(); ++i) {
            const DecoderInfo* info = Find(m_stack[i].id);
            m_listStack->addItem(
                QString(static_cast<int>(i) * 2, ' ') +
                Q(info != nullptr ? info->id + "  " + info->longname : m_stack[i].id));
        }
        m_listStack->setCurrentRow(m_nEntry);
    }
    m_comboStack->clear();
    const DecoderInfo* top = m_stack.empty() ? nullptr : Find(m_stack.back().id);
    if (top != nullptr) {
        for (const auto& d : m_catalog.Decoders()) {
            if (d.CanStackOn(*top)) {
                m_comboStack->addItem(Q(d.id + "  " + d.longname), Q(d.id));
            }
        }
    }
    m_comboStack->setEnabled(m_comboStack->count() > 0);
    m_buttonPush->setEnabled(m_comboStack->count() > 0);
    m_buttonPop->setEnabled(m_stack.size() > 1);
}

void CDecoderDlg::OnPushStacked() {
    if (m_comboStack->currentIndex() < 0 || m_stack.empty()) {
        return;
    }
    if (const std::string error = SaveForm(); !error.empty()) {
        m_labelError->setText(Q(error));
        return;
    }
    m_stack.push_back({m_comboStack->currentData().toString().toStdString(), {}, {}});
    m_nEntry = static_cast<int>(m_stack.size()) - 1;
    UpdateStackList();
    BuildForm();
}

void CDecoderDlg::OnPopStacked() {
    if (m_stack.size() < 2) {
        return;
    }
    m_stack.pop_back();
    m_nEntry = std::min(m_nEntry, static_cast<int>(m_stack.size()) - 1);
    UpdateStackList();
    BuildForm();
}

void CDecoderDlg::ShowEntry(int index) {
    if (index < 0 || index >= static_cast<int>(m_stack.size())) {
        return;
    }
    if (const std::string error = SaveForm(); !error.empty()) {
        m_labelError->setText(Q(error));
        const QSignalBlocker block(m_listStack);
        m_listStack->setCurrentRow(m_nEntry);
        return;
    }
    m_labelError->clear();
    m_nEntry = index;
    BuildForm();
}

void CDecoderDlg::BuildForm() {
    while (m_formLayout->rowCount() > 0) {
        m_formLayout->removeRow(0);
    }
    m_channelBoxes.clear();
    m_optionEditors.clear();
    if (m_stack.empty()) {
        m_formLayout->addRow(new QLabel(kChooseFirstText, m_form));
        return;
    }
    const DecoderSetup& setup = m_stack[static_cast<std::size_t>(m_nEntry)];
    const DecoderInfo* info = Find(setup.id);
    if (info == nullptr) {
        return;
    }
    auto* title = new QLabel(Q(info->longname + "\n" + info->desc), m_form);
    title->setWordWrap(true);
    m_formLayout->addRow(title);
    if (m_nEntry == 0) {
        const auto addChannel = [&](const DecoderChannel& channel, bool required) {
            auto* box = new QComboBox(m_form);
            box->addItem(kNoChannelText, -1);
            for (std::size_t n = 0; n < m_names.size(); ++n) {
                const std::string& name = m_names[n];
                const std::string dn = DefaultChannelName(static_cast<int>(n));
                box->addItem(Q(name == dn ? dn : dn + " (" + name + ")"), static_cast<int>(n));
            }
            const auto mapped = setup.channels.find(channel.id);
            box->setCurrentIndex(mapped == setup.channels.end() ? 0 : mapped->second + 1);
            box->setToolTip(Q(channel.desc));
            m_formLayout->addRow(Q(channel.name + (required ? " *" : "")), box);
            m_channelBoxes.emplace_back(channel.id, box);
        };
        for (const auto& channel : info->channels) {
            addChannel(channel, true);
        }
        for (const auto& channel : info->optChannels) {
            addChannel(channel, false);
        }
    }
    for (const auto& option : info->options) {
        const auto set = setup.options.find(option.id);
        const OptionValue value = set != setup.options.end() ? set->second : option.def;
        QWidget* editor = nullptr;
        if (!option.values.empty()) {
            auto* box = new QComboBox(m_form);
            for (const auto& allowed : option.values) {
                box->addItem(Q(OptionValueText(allowed)));
            }
            box->setCurrentText(Q(OptionValueText(value)));
            editor = box;
        } else {
            editor = new QLineEdit(Q(OptionValueText(value)), m_form);
        }
        editor->setToolTip(Q(option.desc + " (" + OptionValueText(option.def) + ")"));
        m_formLayout->addRow(Q(option.desc), editor);
        m_optionEditors.emplace_back(option.id, editor);
    }
}

std::string CDecoderDlg::SaveForm() {
    if (m_stack.empty()) {
        return kChooseFirstText;
    }
    DecoderSetup& setup = m_stack[static_cast<std::size_t>(m_nEntry)];
    const DecoderInfo* info = Find(setup.id);
    if (info == nullptr) {
        return "unknown decoder " + setup.id;
    }
    DecoderSetup read{setup.id, {}, {}};
    for (const auto& [id, box] : m_channelBoxes) {
        if (const int n = box->currentData().toInt(); n >= 0) {
            read.channels[id] = n;
        }
    }
    for (const auto& [id, editor] : m_optionEditors) {
        const DecoderOption* option = info->FindOption(id);
        const auto* box = qobject_cast<QComboBox*>(editor);
        const QString text = box != nullptr ? box->currentText()
                                            : qobject_cast<QLineEdit*>(editor)->text().trimmed();
        const auto value = ParseOptionValue(*option, text.toStdString());
        if (!value) {
            return option->desc + ": '" + text.toStdString() + "' は " +
                   (std::holds_alternative<std::int64_t>(option->def) ? "整数" : "数値") +
                   "ではありません";
        }
        if (!(*value == option->def)) {
            read.options[id] = *value; // defaults stay unset, so they follow the decoder
        }
    }
    if (m_nEntry == 0) {
        for (const auto& channel : info->channels) {
            if (read.channels.count(channel.id) == 0) {
                return channel.name + " のチャンネルを選んでください";
            }
        }
    }
    setup = read;
    return {};
}

void CDecoderDlg::accept() {
    if (const std::string error = SaveForm(); !error.empty()) {
        m_labelError->setText(Q(error));
        return;
    }
    QDialog::accept();
}

} // namespace quillon
