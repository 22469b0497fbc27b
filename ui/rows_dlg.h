// CRowsDlg: the viewer's rows at once: a list of the channels with check boxes (shown or
// hidden) and their colours, a filter for long lists, and "hide rows without edges".
#pragma once

#include <QDialog>
#include <QRgb>
#include <QString>

#include <optional>
#include <vector>

class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace quillon {

/// One channel as the dialog shows it.
struct RowChoice {
    QString name;
    bool visible = true;
    QRgb colour = 0;
    std::optional<QRgb> chosenColour; ///< nullopt: the channel's own colour
    QRgb ownColour = 0;
    bool hasEdges = true;
};

/// GUI thread; modal.
class CRowsDlg : public QDialog {
    Q_OBJECT
public:
    CRowsDlg(std::vector<RowChoice> rows, QWidget* parent = nullptr);

    /// The choices as the user left them, one per channel.
    [[nodiscard]] std::vector<RowChoice> Rows() const;

    // The buttons.
    void OnShowAll();
    void OnHideAll();
    void OnHideWithoutEdges();
    void OnChooseColour();
    void OnOwnColour();

private:
    void OnFilter(const QString& text);
    void SetColour(QListWidgetItem* item, std::optional<QRgb> colour);
    void SetAllShown(bool bShown);

    std::vector<RowChoice> m_rows;
    QLineEdit* m_editFilter = nullptr;
    QListWidget* m_list = nullptr;
};

/// A small square of colour, for lists and menus.
QIcon ColourSwatch(QRgb colour);

} // namespace quillon
