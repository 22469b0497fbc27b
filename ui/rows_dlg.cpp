// The viewer's rows dialog.
#include "ui/rows_dlg.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillon {

namespace {

constexpr const char* kCaption = "行の表示";
constexpr const char* kFilterHint = "名前で絞り込み";
constexpr const char* kShowAllText = "すべて表示(&S)";
constexpr const char* kHideAllText = "すべて非表示(&N)";
constexpr const char* kHideQuietText = "エッジのない行を隠す(&E)";
constexpr const char* kColourText = "色の変更(&C)...";
constexpr const char* kOwnColourText = "元の色(&D)";
constexpr int kSwatchPx = 12;
constexpr int kRole = Qt::UserRole; // the channel of an item

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

QIcon ColourSwatch(QRgb colour) {
    QPixmap pixmap(kSwatchPx, kSwatchPx);
    pixmap.fill(QColor::fromRgb(colour));
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(0, 0, kSwatchPx - 1, kSwatchPx - 1);
    return QIcon(pixmap);
}

CRowsDlg::CRowsDlg(std::vector<RowChoice> rows, QWidget* parent)
    : QDialog(parent), m_rows(std::move(rows)) {
    setWindowTitle(Utf8(kCaption));
    m_editFilter = new QLineEdit(this);
    m_editFilter->setPlaceholderText(Utf8(kFilterHint));
    m_editFilter->setClearButtonEnabled(true);
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setUniformItemSizes(true);
    for (std::size_t c = 0; c < m_rows.size(); ++c) {
        auto* item = new QListWidgetItem(m_rows[c].name, m_list);
        item->setData(kRole, static_cast<int>(c));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(m_rows[c].visible ? Qt::Checked : Qt::Unchecked);
        item->setIcon(ColourSwatch(m_rows[c].colour));
    }

    auto* buttons = new QVBoxLayout;
    const auto button = [&](const char* text, void (CRowsDlg::*slot)()) {
        auto* made = new QPushButton(Utf8(text), this);
        made->setAutoDefault(false);
        connect(made, &QPushButton::clicked, this, slot);
        buttons->addWidget(made);
        return made;
    };
    button(kShowAllText, &CRowsDlg::OnShowAll);
    button(kHideAllText, &CRowsDlg::OnHideAll);
    button(kHideQuietText, &CRowsDlg::OnHideWithoutEdges);
    buttons->addSpacing(12);
    button(kColourText, &CRowsDlg::OnChooseColour);
    button(kOwnColourText, &CRowsDlg::OnOwnColour);
    buttons->addStretch(1);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_editFilter, &QLineEdit::textChanged, this, &CRowsDlg::OnFilter);

    auto* middle = new QHBoxLayout;
    middle->addWidget(m_list, 1);
    middle->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_editFilter);
    layout->addLayout(middle, 1);
    layout->addWidget(box);
    resize(420, 480);
}

std::vector<RowChoice> CRowsDlg::Rows() const {
    std::vector<RowChoice> rows = m_rows;
    for (int i = 0; i < m_list->count(); ++i) {
        const QListWidgetItem* item = m_list->item(i);
        rows[static_cast<std::size_t>(item->data(kRole).toInt())].visible =
            item->checkState() == Qt::Checked;
    }
    return rows;
}

void CRowsDlg::OnFilter(const QString& text) {
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        item->setHidden(!text.isEmpty() && !item->text().contains(text, Qt::CaseInsensitive));
    }
}

void CRowsDlg::SetAllShown(bool bShown) {
    // Only the rows the filter leaves in the list: "show all TX lines".
    for (int i = 0; i < m_list->count(); ++i) {
        if (!m_list->item(i)->isHidden()) {
            m_list->item(i)->setCheckState(bShown ? Qt::Checked : Qt::Unchecked);
        }
    }
}

void CRowsDlg::OnShowAll() {
    SetAllShown(true);
}

void CRowsDlg::OnHideAll() {
    SetAllShown(false);
}

void CRowsDlg::OnHideWithoutEdges() {
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        if (!m_rows[static_cast<std::size_t>(item->data(kRole).toInt())].hasEdges) {
            item->setCheckState(Qt::Unchecked);
        }
    }
}

void CRowsDlg::SetColour(QListWidgetItem* item, std::optional<QRgb> colour) {
    RowChoice& row = m_rows[static_cast<std::size_t>(item->data(kRole).toInt())];
    row.chosenColour = colour;
    row.colour = colour.value_or(row.ownColour);
    item->setIcon(ColourSwatch(row.colour));
}

void CRowsDlg::OnChooseColour() {
    const auto selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const QRgb start =
        m_rows[static_cast<std::size_t>(selected.front()->data(kRole).toInt())].colour;
    const QColor colour = QColorDialog::getColor(QColor::fromRgb(start), this);
    if (colour.isValid()) {
        for (auto* item : selected) {
            SetColour(item, colour.rgb());
        }
    }
}

void CRowsDlg::OnOwnColour() {
    for (auto* item : m_list->selectedItems()) {
        SetColour(item, std::nullopt);
    }
}

} // namespace quillon
