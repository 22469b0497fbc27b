// The icon: a dark screen with two logic traces, one in each of the trace colours.
#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace quillon {

QImage AppIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, size >= 32);
    const qreal s = size;
    p.setBrush(QColor(20, 28, 40));
    p.setPen(QPen(QColor(120, 130, 150), std::max<qreal>(1.0, s / 24)));
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 8, s / 8);
    const qreal lw = std::max<qreal>(1.0, s / 14);
    auto trace = [&](QColor colour, qreal top, const std::initializer_list<int>& levels) {
        QPainterPath path;
        const qreal step = (s - s / 4) / static_cast<qreal>(levels.size());
        const qreal hi = top;
        const qreal lo = top + s / 5;
        qreal x = s / 8;
        bool first = true;
        for (int level : levels) {
            const qreal y = level != 0 ? hi : lo;
            if (first) {
                path.moveTo(x, y);
                first = false;
            } else {
                path.lineTo(x, y);
            }
            x += step;
            path.lineTo(x, y);
        }
        p.setPen(QPen(colour, lw, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    trace(QColor(200, 0, 255), s * 0.18, {0, 1, 1, 0, 1, 0});
    trace(QColor(0, 230, 0), s * 0.55, {1, 0, 1, 1, 0, 0});
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    }
    return icon;
}

} // namespace quillon
