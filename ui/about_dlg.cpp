// The About box, and the template builder the windows share.
#include "ui/about_dlg.h"

#include "ui/app_icon.h"
#include "ui/dialog_template.h"
#include "ui/picture_ctrl.h"
#include "ui/spin_button_ctrl.h"
#include "ui/strings.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace quillon {

namespace {
constexpr const char* kIdProperty = "dlgCtrlId";
}

QFont DialogFont() {
    QFont font(QString::fromUtf8(kUiFontFamily), kUiFontPoints);
    QStringList families{QString::fromUtf8(kUiFontFamily)};
    // "MS UI Gothic" does not exist on Linux: fall back to an installed Japanese Gothic.
    for (const char* fallback :
         {"IPAGothic", "IPAPGothic", "Noto Sans CJK JP", "VL Gothic", "TakaoGothic"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(fallback))) {
            families << QString::fromLatin1(fallback);
        }
    }
    font.setFamilies(families);
    return font;
}

void CreateControls(QWidget* parent, const ControlTemplate* begin, const ControlTemplate* end) {
    QWidget* previous = nullptr;    // the control just before, for the spin's buddy
    QWidget* lastTabStop = nullptr; // tab order follows the template
    QWidget* groupBox = nullptr;
    for (const ControlTemplate* c = begin; c != end; ++c) {
        const QString caption = QString::fromUtf8(c->caption);
        QWidget* w = nullptr;
        switch (c->kind) {
        case ControlKind::PushButton: {
            auto* b = new QPushButton(caption, parent);
            // No default button: Enter in a field must not end the program.
            b->setAutoDefault(c->id == IDOK);
            b->setDefault(c->id == IDOK);
            w = b;
            break;
        }
        case ControlKind::Edit: {
            auto* e = new QLineEdit(parent);
            e->setReadOnly(c->readOnly);
            w = e;
            break;
        }
        case ControlKind::UpDown: {
            auto* spin = new CSpinButtonCtrl(parent);
            // The buddy is the control just before the up-down control.
            spin->SetBuddy(qobject_cast<QLineEdit*>(previous));
            w = spin;
            break;
        }
        case ControlKind::Picture:
            w = new CPictureCtrl(parent);
            break;
        case ControlKind::CheckBox:
            w = new QCheckBox(caption, parent);
            break;
        case ControlKind::Radio:
            w = new QRadioButton(caption, parent);
            break;
        case ControlKind::GroupBox:
            w = new QGroupBox(caption, parent);
            groupBox = w;
            break;
        case ControlKind::Icon: {
            auto* icon = new QLabel(parent);
            icon->setPixmap(QPixmap::fromImage(AppIconImage(32)));
            w = icon;
            break;
        }
        case ControlKind::Static: {
            auto* label = new QLabel(caption, parent);
            label->setTextFormat(Qt::PlainText); // an ampersand shows as itself
            w = label;
            break;
        }
        }
        w->setProperty(kIdProperty, c->id);
        QRect r = DluRect(*c);
        if (c->kind == ControlKind::Picture) {
            r.setSize({600, 320}); // the picture takes its bitmap's size
        } else if (c->kind == ControlKind::Icon) {
            r.setSize({32, 32});
        } else if (c->kind == ControlKind::Static) {
            // The substitute font runs wider than the original one: never clip a caption.
            r.setWidth(std::max(r.width(), w->sizeHint().width()));
        }
        w->setGeometry(r);
        w->setFocusPolicy(c->tabStop ? Qt::StrongFocus
                          : c->kind == ControlKind::Static || c->kind == ControlKind::GroupBox ||
                                  c->kind == ControlKind::Picture || c->kind == ControlKind::Icon
                              ? Qt::NoFocus
                              : Qt::ClickFocus);
        w->setVisible(c->visible);
        if (c->tabStop) {
            if (lastTabStop != nullptr) {
                QWidget::setTabOrder(lastTabStop, w);
            }
            lastTabStop = w;
        }
        previous = w;
    }
    if (groupBox != nullptr) {
        groupBox->lower(); // a frame only: the rate buttons inside it take the clicks
    }
}

QWidget* FindControl(const QWidget* parent, int id) {
    for (auto* w : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->property(kIdProperty).toInt() == id && id != IDC_STATIC) {
            return w;
        }
    }
    return nullptr;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kAboutCaption));
    setFont(DialogFont());
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    CreateControls(this, kAboutTemplate.data(), kAboutTemplate.data() + kAboutTemplate.size());
    setFixedSize(DluToPixelsX(kAboutWidthDlu), DluToPixelsY(kAboutHeightDlu));
    if (auto* ok = qobject_cast<QPushButton*>(FindControl(this, IDOK))) {
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        ok->setFocus();
    }
}

} // namespace quillon
