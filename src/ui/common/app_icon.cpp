#include "ui/common/app_icon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <utility>
#include <vector>

namespace varnix {

namespace {

// The drawing's grid: 64 units square, as in the SVG file.
constexpr qreal Grid = 64.0;

void Stations(QPainter& p) {
    p.setPen(QPen(QColor(0x2b, 0x7a, 0x3f), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(10, 10), QPointF(54, 10));
    p.drawLine(QPointF(32, 10), QPointF(32, 24));
    p.setPen(QPen(QColor(0x1f, 0x5c, 0x2f), 1.5));
    p.setBrush(QColor(0x3f, 0xae, 0x5a));
    for (const qreal x : {5.0, 27.0, 49.0})
        p.drawRoundedRect(QRectF(x, 5, 10, 10), 2, 2);
}

void Module(QPainter& p) {
    p.setPen(QPen(QColor(0x1b, 0x3a, 0x58), 2));
    p.setBrush(QColor(0x2f, 0x5d, 0x8a));
    p.drawRoundedRect(QRectF(4, 24, 56, 32), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x7d, 0xb0));
    p.drawRoundedRect(QRectF(4, 24, 56, 7), 3, 3);
}

void Plugs(QPainter& p) {
    const QPen outline(QColor(0x0f, 0x24, 0x38), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    p.setPen(outline);
    p.setBrush(QColor(0xdf, 0xe6, 0xec));
    // Serial plug: a D-shaped shell with two rows of pins.
    p.drawPolygon(QPolygonF({{9, 35}, {31, 35}, {28.5, 48}, {11.5, 48}}));
    // Network jack with its latch notch.
    p.drawPolygon(
        QPolygonF({{37, 35}, {53, 35}, {53, 46}, {49, 46}, {49, 49}, {41, 49}, {41, 46}, {37, 46}}));
    p.setPen(QPen(QColor(0xc8, 0x9b, 0x2a), 2));
    p.drawLine(QPointF(40, 38), QPointF(50, 38));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0f, 0x24, 0x38));
    for (const qreal x : {13.5, 17.0, 20.0, 23.0, 26.5})
        p.drawEllipse(QPointF(x, 39), 1.3, 1.3);
    for (const qreal x : {15.5, 18.5, 21.5, 24.5})
        p.drawEllipse(QPointF(x, 44), 1.3, 1.3);
    // Link lights.
    p.setBrush(QColor(0x7d, 0xff, 0x8f));
    p.drawEllipse(QPointF(50, 28), 1.8, 1.8);
    p.setBrush(QColor(0xff, 0xc2, 0x47));
    p.drawEllipse(QPointF(55, 28), 1.8, 1.8);
}

class TAppIconEngine final : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.45);
        PaintAppIcon(*painter, rect);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // A window's icon is asked for at every size it offers, more than once as the window is made
    // and shown: each size is painted once and kept.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        const TKey key{size.width(), size.height(), mode, scale};
        for (const auto& [k, pm] : painted_)
            if (k == key)
                return pm;
        QPixmap pm(size * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        p.end();
        if (painted_.size() >= MaxKept)
            painted_.erase(painted_.begin());
        painted_.emplace_back(key, pm);
        return pm;
    }
    QIconEngine* clone() const override { return new TAppIconEngine; }
    QString key() const override { return QStringLiteral("varnix-app-icon"); }
    // The sizes a window offers its task bar and switcher (X11 sends each one to the server as
    // the window is made); larger ones come from the installed icon theme.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}};
    }

private:
    struct TKey {
        int Width;
        int Height;
        QIcon::Mode Mode;
        qreal Scale;
        bool operator==(const TKey&) const = default;
    };
    static constexpr std::size_t MaxKept = 16;
    std::vector<std::pair<TKey, QPixmap>> painted_;
};

} // namespace

void PaintAppIcon(QPainter& painter, const QRectF& target) {
    const qreal side = std::min(target.width(), target.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.center() - QPointF(side / 2, side / 2));
    painter.scale(side / Grid, side / Grid);
    painter.translate(0, 2);
    Stations(painter);
    Module(painter);
    Plugs(painter);
    painter.restore();
}

QIcon AppIcon() {
    return QIcon(new TAppIconEngine);
}

} // namespace varnix
