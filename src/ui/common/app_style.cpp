#include "ui/common/app_style.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace varnix {

namespace {

// Two chevrons, pointing right (more items to the right) or down, in the palette's button text.
class TExtensionArrowEngine final : public QIconEngine {
public:
    explicit TExtensionArrowEngine(bool down) : down_(down) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const QPalette pal = QGuiApplication::palette();
        const QColor colour =
            pal.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active, QPalette::ButtonText);
        const qreal side = std::min(rect.width(), rect.height());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(QRectF(rect).center());
        if (down_)
            painter->rotate(90);
        painter->scale(side / 16.0, side / 16.0);
        painter->setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const qreal x : {-4.0, 1.0})
            painter->drawPolyline(QPolygonF({{x, -4}, {x + 3.5, 0}, {x, 4}}));
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        QPixmap pm(size * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new TExtensionArrowEngine(down_); }
    QString key() const override { return QStringLiteral("varnix-extension-arrow"); }

private:
    bool down_;
};

} // namespace

int TAppStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                         QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTip_WakeUpDelay)
        return HintPauseMs;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QIcon TAppStyle::standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const {
    if (icon == SP_ToolBarHorizontalExtensionButton)
        return QIcon(new TExtensionArrowEngine(false));
    if (icon == SP_ToolBarVerticalExtensionButton)
        return QIcon(new TExtensionArrowEngine(true));
    return QProxyStyle::standardIcon(icon, option, widget);
}

} // namespace varnix
