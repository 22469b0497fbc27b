// The horizontal up-down control and its buddy text.
#include "ui/spin_button_ctrl.h"

#include <QKeyEvent>
#include <QToolButton>

#include <algorithm>

namespace quillon {

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* parent)
    : QWidget(parent), m_pLeft(new QToolButton(this)), m_pRight(new QToolButton(this)) {
    m_pLeft->setArrowType(Qt::LeftArrow);
    m_pRight->setArrowType(Qt::RightArrow);
    for (auto* arrow : {m_pLeft, m_pRight}) {
        arrow->setAutoRepeat(true);
        arrow->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_pLeft, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(m_pRight, &QToolButton::clicked, this, [this] { Step(+1); });
    setFocusPolicy(Qt::ClickFocus); // not a tab stop
}

void CSpinButtonCtrl::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
}

void CSpinButtonCtrl::SetPos(int pos) {
    m_nPos = std::clamp(pos, std::min(m_nLower, m_nUpper), std::max(m_nLower, m_nUpper));
    if (m_pBuddy) {
        m_pBuddy->setText(QString::number(m_nPos));
    }
}

int CSpinButtonCtrl::GetPos() const {
    if (!m_pBuddy) {
        return m_nPos;
    }
    bool ok = false;
    const int pos = m_pBuddy->text().trimmed().toInt(&ok);
    if (!ok || pos < std::min(m_nLower, m_nUpper) || pos > std::max(m_nLower, m_nUpper)) {
        return 0x10000 | (m_nPos & 0xFFFF);
    }
    return pos;
}

void CSpinButtonCtrl::Step(int delta) {
    const int lowest = std::min(m_nLower, m_nUpper);
    const int highest = std::max(m_nLower, m_nUpper);
    const int next = std::clamp(m_nPos + delta, lowest, highest);
    if (next != m_nPos) {
        SetPos(next); // at the ends the position stays and nothing is written
    }
}

void CSpinButtonCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Down) {
        Step(-1);
    } else if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Up) {
        Step(+1);
    } else {
        QWidget::keyPressEvent(event);
    }
}

void CSpinButtonCtrl::resizeEvent(QResizeEvent* event) {
    const int half = width() / 2;
    m_pLeft->setGeometry(0, 0, half, height());
    m_pRight->setGeometry(half, 0, width() - half, height());
    QWidget::resizeEvent(event);
}

} // namespace quillon
