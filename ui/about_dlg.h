// CAboutDlg: the About box with the icon, the version line and OK.
#pragma once

#include <QDialog>

namespace quillon {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

/// The font of the program's windows: the Windows UI font where present, else a Japanese
/// Gothic that is installed, at 9 points.
QFont DialogFont();
/// Creates the widgets of a template on parent, each findable by its identifier.
void CreateControls(QWidget* parent, const struct ControlTemplate* begin,
                    const struct ControlTemplate* end);
/// The control with the given identifier, or nullptr.
QWidget* FindControl(const QWidget* parent, int id);

} // namespace quillon
