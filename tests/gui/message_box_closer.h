// Dismisses message boxes as they appear and remembers their captions and texts.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace quillon::test {

class MessageBoxCloser : public QObject {
public:
    /// minVisibleMs: how long a box stays up first, as long as a person takes to read it.
    explicit MessageBoxCloser(int intervalMs = 10, int minVisibleMs = 0)
        : m_nMinVisibleMs(minVisibleMs) {
        connect(&m_timer, &QTimer::timeout, this, [this] { CloseVisible(); });
        m_timer.start(intervalMs);
    }
    QStringList m_texts;
    QStringList m_captions;
    QStringList m_details; ///< the boxes' detailed texts, empty where they had none
    bool m_bEnabled = true;

private:
    void CloseVisible() {
        if (!m_bEnabled) {
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible()) {
                if (!m_seen.contains(box)) {
                    m_seen.insert(box, QDateTime::currentMSecsSinceEpoch());
                }
                if (QDateTime::currentMSecsSinceEpoch() - m_seen.value(box) < m_nMinVisibleMs) {
                    continue;
                }
                m_seen.remove(box);
                m_texts << box->text();
                m_captions << box->windowTitle();
                m_details << box->detailedText();
                box->button(QMessageBox::Ok)->click();
            }
        }
    }
    QTimer m_timer;
    int m_nMinVisibleMs;
    QHash<QMessageBox*, qint64> m_seen;
};

} // namespace quillon::test
