#include "ui/common/screen_fit.h"

#include "app/settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace varnix {

void KeepOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    // The frame includes the title bar and borders the window manager adds; before the window
    // is shown it equals the window's own geometry.
    const QRect frame = window->frameGeometry();
    // Too wide or too high: the top-left corner stays visible (menus and title bar reachable).
    const int x = std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width()));
    const int y = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top())
        window->move(window->pos() + QPoint(x - frame.left(), y - frame.top()));
}

namespace {
// Set on a window whose remembered place was restored.
constexpr const char* PlacedProperty = "varnixPlaced";
} // namespace

void ShowCentredModal(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (window->property(PlacedProperty).toBool())
        KeepOnScreen(window);
    else if (screen != nullptr)
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->raise();
    window->activateWindow();
}

bool RestorePlace(QWidget* window, const TSettings& ini, QStringView key) {
    const QByteArray saved = LoadGeometry(ini, key);
    if (saved.isEmpty() || !window->restoreGeometry(saved))
        return false;
    window->setProperty(PlacedProperty, true);
    // A place remembered on a screen that is gone (or smaller now) is brought back onto this one.
    KeepOnScreen(window);
    return true;
}

TStatus SavePlace(const QWidget* window, TSettings& ini, QStringView key) {
    return SaveGeometry(ini, key, window->saveGeometry());
}

} // namespace varnix
