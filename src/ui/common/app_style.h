#pragma once
// The application style: the platform's own, with two changes.
// - Pop-up hints appear 50 ms after the cursor comes to rest on a control (Qt's default waits
//   700 ms).
// - The extension arrows of a menu bar or tool bar too narrow for its items are painted. The
//   style's own come from image files, and reading them loads every image format plugin (and
//   the libraries behind them) while the main window's menu bar is made, at each start.

#include <QProxyStyle>

namespace varnix {

inline constexpr int HintPauseMs = 50;
// The pixel size of the font every window is laid out for (the desktop's family is kept).
inline constexpr int FormFontPixels = 12;

class TAppStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

} // namespace varnix
