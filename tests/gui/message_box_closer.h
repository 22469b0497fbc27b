// Dismisses message boxes as they appear and remembers their captions and texts.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace quillon::test {

class MessageBoxCloser : public QObject {
public:
    explicit MessageBoxCloser(int intervalMs = 10) {
        connect(&m_timer, &QTimer::timeout, this, [this] { CloseVisible(); });
        m_timer.start(intervalMs);
    }
    QStringList m_texts;
    QStringList m_captions;
    bool m_bEnabled = true;

private:
    void CloseVisible() {
        if (!m_bEnabled) {
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible()) {
                m_texts << box->text();
                m_captions << box->windowTitle();
                box->button(QMessageBox::Ok)->click();
            }
        }
    }
    QTimer m_timer;
};

} // namespace quillon::test
