#include "ui/artwork.h"

#include <QPainter>
#include <QSvgRenderer>

#include <array>

// The artwork is compiled into this library; a static library has to register it itself.
static void register_artwork() {
    Q_INIT_RESOURCE(trelvo);
}

namespace trelvo::ui {

namespace {

QPixmap render(QSvgRenderer& svg, QSize size, qreal device_pixel_ratio) {
    QPixmap pixmap(size * device_pixel_ratio);
    pixmap.setDevicePixelRatio(device_pixel_ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

}  // namespace

QIcon program_icon() {
    register_artwork();
    QSvgRenderer svg(QStringLiteral(":/trelvo/trelvo.svg"));
    QIcon icon;
    if (!svg.isValid()) return icon;
    for (int side : std::array{16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(render(svg, QSize(side, side), 1.0));
    return icon;
}

QPixmap logo_pixmap(qreal device_pixel_ratio) {
    register_artwork();
    QSvgRenderer svg(QStringLiteral(":/trelvo/logo.svg"));
    if (!svg.isValid()) return QPixmap();
    return render(svg, svg.defaultSize(), device_pixel_ratio);
}

}  // namespace trelvo::ui
