// The waveform area keeps its picture: covering and uncovering the window loses nothing.
#include "ui/picture_ctrl.h"

#include "display/waveform.h"

#include <QPainter>

namespace quillon {

CPictureCtrl::CPictureCtrl(QWidget* parent) : QWidget(parent), m_image(InitialBitmap()) {
    setFixedSize(kViewWidth, kViewHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPictureCtrl::SetImage(const QImage& image, quint64 serial) {
    if (serial != 0 && serial < m_nSerial) {
        return;
    }
    m_nSerial = std::max(m_nSerial, serial);
    m_image = image;
    update();
}

void CPictureCtrl::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}

} // namespace quillon
