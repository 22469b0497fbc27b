// CSpinButtonCtrl: a horizontal up-down control that writes its position into a buddy edit.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QToolButton;

namespace quillon {

/// Left arrow lowers, right arrow raises; no wrap. Each change writes the position as
/// decimal text into the buddy, whose textChanged is the change notification.
class CSpinButtonCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CSpinButtonCtrl(QWidget* parent = nullptr);

    void SetBuddy(QLineEdit* buddy) { m_pBuddy = buddy; }
    QLineEdit* GetBuddy() const { return m_pBuddy; }
    void SetRange(int lower, int upper);
    /// Sets the position (clamped to the range) and writes it into the buddy.
    void SetPos(int pos);
    /// The position read back from the buddy's text in the low 16 bits; the high 16 bits are
    /// non-zero when the text is not a valid position.
    int GetPos() const;

    QToolButton* LeftArrow() const { return m_pLeft; }
    QToolButton* RightArrow() const { return m_pRight; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Step(int delta);

    QPointer<QLineEdit> m_pBuddy;
    QToolButton* m_pLeft;
    QToolButton* m_pRight;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};

} // namespace quillon
