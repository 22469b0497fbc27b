// CPictureCtrl: the waveform area; shows the last picture on every repaint.
#pragma once

#include <QImage>
#include <QWidget>

namespace quillon {

class CPictureCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CPictureCtrl(QWidget* parent = nullptr);
    /// GUI thread. Pictures drawn before the one shown (by serial) are ignored.
    void SetImage(const QImage& image, quint64 serial = 0);
    const QImage& Image() const { return m_image; }

signals:
    void DoubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* /*event*/) override { emit DoubleClicked(); }

private:
    QImage m_image;
    quint64 m_nSerial = 0;
};

} // namespace quillon
