// CDecoderDlg: choose a protocol decoder (filtered by id, name or description), map its
// channels to the capture's channels, set its options from its own metadata, and stack further
// decoders on its output. Hands back a DecoderStack.
#pragma once

#include "decode/decoder_catalog.h"
#include "decode/decoder_info.h"

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace quillon {

/// GUI thread.
class CDecoderDlg : public QDialog {
    Q_OBJECT
public:
    /// names: the capture's channels, which also pre-fill the mapping; initial (may be empty)
    /// is the stack to edit; catalog: the installed decoders (outlives the dialog).
    CDecoderDlg(std::vector<std::string> names, const DecoderStack& initial,
                const DecoderCatalog& catalog, QWidget* parent = nullptr);

    /// The stack as the user set it (valid after accept()).
    [[nodiscard]] const DecoderStack& Stack() const { return m_stack; }

    // The dialog's parts, for tests.
    [[nodiscard]] QLineEdit* FilterEdit() const { return m_editFilter; }
    [[nodiscard]] QListWidget* DecoderList() const { return m_listDecoders; }
    [[nodiscard]] QComboBox* StackChoice() const { return m_comboStack; }
    [[nodiscard]] QLabel* ErrorLabel() const { return m_labelError; }
    /// The channel combo box of the first decoder's channel id, the editor of option id of
    /// the shown stack entry (QComboBox or QLineEdit); nullptr when there is none.
    [[nodiscard]] QComboBox* ChannelBox(const std::string& id) const;
    [[nodiscard]] QWidget* OptionEditor(const std::string& id) const;

    /// Chooses decoder id as the first of the stack (as a click in the list would).
    bool ChooseDecoder(const QString& id);
    /// Stacks the decoder chosen in StackChoice on the top of the stack.
    void OnPushStacked();
    void OnPopStacked();
    /// Shows the form of stack entry index.
    void ShowEntry(int index);

public slots:
    void accept() override;

private:
    void OnFilter(const QString& text);
    void OnDecoderChosen();
    void BuildForm();
    /// Reads the form into the shown entry; an error text when a value is not acceptable.
    std::string SaveForm();
    void UpdateStackList();

    const DecoderInfo* Find(const std::string& id) const { return m_catalog.Find(id); }

    std::vector<std::string> m_names;
    const DecoderCatalog& m_catalog;
    DecoderStack m_stack;
    int m_nEntry = 0;
    QLineEdit* m_editFilter = nullptr;
    QListWidget* m_listDecoders = nullptr;
    QListWidget* m_listStack = nullptr;
    QComboBox* m_comboStack = nullptr;
    QPushButton* m_buttonPush = nullptr;
    QPushButton* m_buttonPop = nullptr;
    QWidget* m_form = nullptr;
    QFormLayout* m_formLayout = nullptr;
    QLabel* m_labelError = nullptr;
    std::vector<std::pair<std::string, QComboBox*>> m_channelBoxes;
    std::vector<std::pair<std::string, QWidget*>> m_optionEditors;
};

} // namespace quillon
